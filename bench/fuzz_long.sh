#!/usr/bin/env bash
# The long fuzzing run: every libFuzzer target for 10 million executions or one hour, whichever
# comes first, starting from the committed seeds and regression inputs. Not part of CI (which
# runs each target for at most a minute).
#
#   bench/fuzz_long.sh [target ...]        all targets when none is named
#
# Environment: QUORLAN_FUZZ_RUNS (default 10000000) and QUORLAN_FUZZ_SECONDS (default 3600)
# bound each target; QUORLAN_FUZZ_JOBS (default 1) runs that many targets side by side.
# Each target's corpus grows in the cache folder ($XDG_CACHE_HOME/quorlan-fuzz, else
# bench/.cache/fuzz/<target>) and is kept between runs; a finding (crash, sanitizer report,
# leak, timeout, out of memory) is written there as crash-*, leak-*, timeout-* or oom-*, to be
# committed under tests/fuzz/regressions/<target>/ once its fault is fixed. The fuzzers are
# built so that any sanitizer report ends the run as a failure.
# Prints one line per target: executions, seconds, corpus size and findings; exits non-zero
# when any target found something.
# Needs: cmake, ninja, clang (the fuzz preset).
set -euo pipefail
shopt -s inherit_errexit

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cache=${XDG_CACHE_HOME:+$XDG_CACHE_HOME/quorlan-fuzz}
cache=${cache:-$here/.cache/fuzz}
runs=${QUORLAN_FUZZ_RUNS:-10000000}
seconds=${QUORLAN_FUZZ_SECONDS:-3600}
jobs=${QUORLAN_FUZZ_JOBS:-1}

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
bin=$root/build/fuzz/tests/fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$bin"/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] && targets+=("$(basename "$f")")
    done
fi

run_target() {
    local name=$1 work=$cache/$1
    mkdir -p "$work/corpus" "$work/findings"
    local seeds=()
    [ -d "$bin/${name}_seeds" ] && seeds+=("$bin/${name}_seeds")
    [ -d "$root/tests/fuzz/regressions/$name" ] && seeds+=("$root/tests/fuzz/regressions/$name")
    local log=$work/last-run.log stamp=$work/.started
    local status=0
    touch "$stamp"
    # The first folder is where libFuzzer adds what it finds new; the others are only read.
    "$bin/$name" -runs="$runs" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" "${seeds[@]}" >"$log" 2>&1 ||
        status=$?
    local execs secs
    execs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -n 1)
    secs=$(awk '/Done [0-9]+ runs in/ {print $(NF-1)}' "$log" | tail -n 1)
    local found
    found=$(find "$work/findings" -type f -newer "$stamp" | wc -l)
    [ "$status" -eq 0 ] || found=$((found > 0 ? found : 1))
    printf '%-22s executions %12s  seconds %6s  corpus %6s  findings %s  (exit %s, log %s)\n' \
        "$name" "${execs:-?}" "${secs:-?}" "$(find "$work/corpus" -type f | wc -l)" "$found" "$status" "$log"
    [ "$status" -eq 0 ]
}

failed=0
pids=()
for name in "${targets[@]}"; do
    if [ "$jobs" -le 1 ]; then
        run_target "$name" || failed=1
    else
        run_target "$name" &
        pids+=($!)
        if [ ${#pids[@]} -ge "$jobs" ]; then
            wait "${pids[0]}" || failed=1
            pids=("${pids[@]:1}")
        fi
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
