#!/usr/bin/env bash
# What the Standard Searches read, beside the peer tools on the same volumes: megabytes read, and
# the time with the image dropped from the page cache and warm.
#
#   bench/search_reads.sh [--runs N]
#
# Volumes (made once when missing, by the scripts named, and kept in the cache folder
# $XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else bench/.cache):
#   fat32-4g-save.img    4 GiB FAT32, 30,000 files, 60 % full (save_all.sh; 4.9 GB on disk)
#   fat32-4g-30000.img   4 GiB FAT32, 30,000 small files, 4 % full (fat_standard_search.sh)
#   ntfs-4g-30000.img    4 GiB NTFS, the same 30,000 small files (ntfs_standard_search.sh; making
#                        it needs root and /dev/fuse)
# Commands: quorlan-cli search IMAGE --partition 1 --files --json; fls -r -p; mdir -/ (FAT) or
# ntfsls -R -a (NTFS). Each is run under quorlan-io-measure: once with the image dropped from the
# page cache (posix_fadvise DONTNEED on the image alone), then once to warm it and --runs times
# (default 3) warm. Then quorlan-search-reads counts, under the engine, the bytes and requests of
# the search itself and of the directory-cluster scan in its variants. quorlan-cli and the two
# programs are built first with the release preset.
# Needs: cmake, ninja, a C++20 compiler, fls (sleuthkit), mdir (mtools), ntfsls (ntfs-3g), awk,
# and what the scripts that make the images need.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
runs=3
[ "${1:-}" = --runs ] && runs=$2
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1

[ -f "$cache/fat32-4g-save.img.done" ] || bash "$here/save_all.sh" --generate-only
[ -f "$cache/fat32-4g-30000.img.done" ] || bash "$here/fat_standard_search.sh" --generate-only
[ -f "$cache/ntfs-4g-30000.img.done" ] || bash "$here/ntfs_standard_search.sh" --generate-only

build_targets quorlan-cli quorlan-io-measure quorlan-search-reads
measure=$root/build/release/bench/quorlan-io-measure
reads=$root/build/release/bench/quorlan-search-reads

# run NAME IMAGE COMMAND...: one row: MB read (rchar), MB from the device, cold and warm seconds.
# Sets $mb and $warm to this row's figures.
run() {
    local name=$1 image=$2 cold line i total=0
    shift 2
    cold=$("$measure" --drop "$image" -- "$@")
    "$measure" -- "$@" >/dev/null
    for ((i = 0; i < runs; i++)); do
        line=$("$measure" -- "$@")
        total=$(awk -v t="$total" -v l="$line" 'BEGIN { split(l, f, /[ =]/); print t + f[2] }')
    done
    read -r mb device seconds exitcode < <(awk -v l="$cold" 'BEGIN {
        n = split(l, f, /[ =]/); for (i = 1; i < n; i += 2) v[f[i]] = f[i + 1]
        print v["rchar"] / 1e6, v["read_bytes"] / 1e6, v["seconds"], v["exit"] }')
    [ "$exitcode" = 0 ] || { echo "failed ($exitcode): $*" >&2; exit 1; }
    warm=$(awk -v t="$total" -v n="$runs" 'BEGIN { printf "%.3f", t / n }')
    printf '  %-34s %9.1f %10.1f %8.2f %8.3f\n' "$name" "$mb" "$device" "$seconds" "$warm"
}

header() {
    echo
    echo "$1"
    printf '  %-34s %9s %10s %8s %8s\n' "" "MB read" "device MB" "cold s" "warm s"
}

fat() {
    local image=$cache/$1 title=$2 qmb qwarm fmb fwarm
    header "$title ($1)"
    run "quorlan-cli search --files --json" "$image" "$cli" search "$image" --partition 1 --files --json
    qmb=$mb qwarm=$warm
    run "fls -r -p" "$image" fls -r -p -o 2048 "$image"
    fmb=$mb fwarm=$warm
    run "mdir -/" "$image" mdir -/ -i "$image@@$((2048 * 512))" ::
    awk -v q="$qmb" -v qw="$qwarm" -v f="$fmb" -v fw="$fwarm" 'BEGIN {
        printf "  quorlan/fls: %.2f of the bytes, %.2f of the warm time (target: at most 0.50)\n", q / f, qw / fw }'
    # The runs above dropped the image once more; one pass of every variant brings back what
    # they read (the scan of every cluster reads the files' clusters too).
    "$reads" "$image" --partition 1 --gap-kib 0 >/dev/null
    echo "  under the engine (warm):"
    "$reads" "$image" --partition 1 --gap-kib 0 --gap-kib 64 --gap-kib 1024 | sed 's/^/    /'
}

fat fat32-4g-save.img "FAT32 4 GiB, 30,000 files, 60 % full (target: at most 2,000 MB read)"
fat fat32-4g-30000.img "FAT32 4 GiB, 30,000 small files, 4 % full"

image=$cache/ntfs-4g-30000.img
header "NTFS 4 GiB, 30,000 small files (ntfs-4g-30000.img)"
run "quorlan-cli search --files --json" "$image" "$cli" search "$image" --partition 1 --files --json
qmb=$mb
run "fls -r -p" "$image" fls -r -p "$image"
run "ntfsls -R -a" "$image" ntfsls -R -a "$image"
nmb=$mb
run "ntfsls -R -a -l (sizes and times)" "$image" ntfsls -R -a -l "$image"
awk -v q="$qmb" -v n="$nmb" -v l="$mb" 'BEGIN {
    printf "  quorlan/ntfsls -R -a: %.2f of the bytes (target: at most 1.25); quorlan/ntfsls -R -a -l: %.2f\n", q / n, q / l }'
"$reads" "$image" --partition 1 >/dev/null
echo "  under the engine (warm):"
"$reads" "$image" --partition 1 | sed 's/^/    /'
