#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a short run of each fuzzer, the
# warnings-as-errors build and the check of its Debian package, and the AddressSanitizer +
# UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/check-layers.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in build/fuzz/tests/fuzz/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
    echo "== $(basename "$fuzzer")"
    # A fuzzer with a <name>_seeds folder, or regression inputs in tests/fuzz/regressions/<name>,
    # starts from them; what it finds goes to a scratch folder (libFuzzer writes into the first
    # folder it is given).
    corpus=()
    for seeds in "${fuzzer}_seeds" "tests/fuzz/regressions/$(basename "$fuzzer")"; do
        [ -d "$seeds" ] || continue
        [ ${#corpus[@]} -gt 0 ] || corpus=("$(mktemp -d)")
        corpus+=("$seeds")
    done
    # The log fuzzer rebuilds a whole tree per input (a few hundred a second), the Advance Search
    # fuzzers scan a disk and build every file system on it, the lost-partition fuzzer probes a
    # disk of up to 2048 reads per input, and the live-tree fuzzer scans a volume twice per input:
    # each gets 40 seconds, as does any fuzzer whose runs take longer (the bad-area fuzzer reads
    # megabytes per input). bench/fuzz_long.sh is the long run.
    limit=(-runs=200000 -max_total_time=40)
    case $(basename "$fuzzer") in
        fuzz_recovery_log | fuzz_advance_scan | fuzz_ntfs_advance | fuzz_lost_partitions | fuzz_fat_live_tree | \
            fuzz_sector_reader)
            limit=(-max_total_time=40) ;;
    esac
    "$fuzzer" "${limit[@]}" -max_len=4096 -seed=1 "${corpus[@]}" 2>&1 | tail -n 1
    [ ${#corpus[@]} -eq 0 ] || rm -rf "${corpus[0]}"
done

cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci
bash scripts/check-package.sh build/ci

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
