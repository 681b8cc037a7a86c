# Paths and timing helpers shared by the bench scripts; sourced, not run, first thing after the
# shell options. It sets $here (bench/), $root (the repository) and $cache, the folder of the
# benchmark images and of hyperfine's results: $XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME
# is set, else bench/.cache. The caller sets $runs (how many timed runs).

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
cache=${XDG_CACHE_HOME:+$XDG_CACHE_HOME/quorlan-bench}
cache=${cache:-$here/.cache}

# warm COMMAND: one untimed run, which also fills the page cache with the image.
warm() {
    bash -c "$1" || { echo "failed: $1" >&2; exit 1; }
}

# build_cli: builds quorlan-cli with the release preset and sets $cli to it.
build_cli() {
    build_targets quorlan-cli
}

# build_targets TARGET...: builds the targets with the release preset and sets $cli to quorlan-cli.
build_targets() {
    (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target "$@" >/dev/null)
    cli=$root/build/release/cli/quorlan-cli
}

# mean_seconds NAME COMMAND [PREPARE]: runs COMMAND $runs times, prints the mean in seconds.
# PREPARE, when given, runs before each run and is not timed (clearing a destination folder).
mean_seconds() {
    local name=$1 command=$2 prepare=${3:-}
    if command -v hyperfine >/dev/null && command -v jq >/dev/null; then
        hyperfine --style none --runs "$runs" ${prepare:+--prepare "$prepare"} \
            --export-json "$cache/$name.json" "$command" >&2
        jq -r '.results[0].mean' "$cache/$name.json"
        return
    fi
    local total=0 t0 t1 i
    for ((i = 0; i < runs; i++)); do
        [ -z "$prepare" ] || bash -c "$prepare"
        t0=$(date +%s.%N)
        bash -c "$command"
        t1=$(date +%s.%N)
        total=$(awk -v a="$total" -v b="$t0" -v c="$t1" 'BEGIN { printf "%.6f", a + c - b }')
    done
    awk -v t="$total" -v n="$runs" 'BEGIN { printf "%.6f\n", t / n }'
}

# q WORD...: the words quoted for eval.
q() { printf '%q ' "$@"; }

# field LINE NAME: a value of a quorlan-io-measure line (NAME=VALUE pairs).
field() { awk -v l="$1" -v k="$2" 'BEGIN { n = split(l, f, /[ =]/); for (i = 1; i < n; i += 2) if (f[i] == k) print f[i + 1] }'; }

# warm_rounds PREPARE COMMAND...: under $measure (quorlan-io-measure), each COMMAND (a string,
# evaluated) once to warm the page cache, then $runs rounds of all in turn, so that a busy moment
# of the machine falls on every command alike. PREPARE (a command; `:` for none) runs untimed
# before each run. Sets warm_s[i], the mean seconds of command i over the rounds.
warm_rounds() {
    local prepare=$1 i r line
    shift
    local -a commands=("$@") totals=()
    for i in "${!commands[@]}"; do
        $prepare
        eval "$(q "$measure" --) ${commands[$i]}" >/dev/null
        totals+=(0)
    done
    for ((r = 0; r < runs; r++)); do
        for i in "${!commands[@]}"; do
            $prepare
            line=$(eval "$(q "$measure" --) ${commands[$i]}")
            totals[i]=$(awk -v t="${totals[$i]}" -v s="$(field "$line" seconds)" 'BEGIN { print t + s }')
        done
    done
    warm_s=()
    for i in "${!commands[@]}"; do
        warm_s[i]=$(awk -v t="${totals[$i]}" -v n="$runs" 'BEGIN { printf "%.3f", t / n }')
    done
}

# write_bench_tree DIR: the tree of the search benchmarks, 10 top folders of 100 folders each and
# 30 files of 1-8 KiB in each of the 1,000 inner ones, with long names as cameras and office
# programs write them. One awk process writes them all.
write_bench_tree() {
    awk -v tree="$1" 'BEGIN {
        line = sprintf("%063d\n", 0)
        for (t = 0; t < 10; t++) {
            top = sprintf("%s/Folder %02d", tree, t)
            system("mkdir -p \"" top "\"")
            for (s = 0; s < 100; s++) {
                dir = sprintf("%s/Album %02d-%03d", top, t, s)
                system("mkdir \"" dir "\"")
                for (f = 0; f < 30; f++) {
                    n = (t * 100 + s) * 30 + f
                    name = sprintf("%s/%s_%05d.%s", dir, (f % 3 ? "Holiday photo" : "document"), n, (f % 3 ? "jpg" : "txt"))
                    kib = 1 + n % 8
                    for (i = 0; i < kib * 16; i++) printf "%s", line > name
                    close(name)
                }
            }
        }
    }'
}
