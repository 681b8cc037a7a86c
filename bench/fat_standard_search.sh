#!/usr/bin/env bash
# Times the standard search of a large FAT32 stick against The Sleuth Kit's fls walking the same
# folders.
#
#   bench/fat_standard_search.sh [--generate-only]
#
# The stick is a 4 GiB disk image with one FAT32 partition (4 KiB clusters) holding 30,000 small
# files in 1,010 folders; it is made once, without root, and kept in the cache folder
# ($XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else bench/.cache). Both commands are
# run once to warm the page cache, then timed three times each; the script prints the mean times
# and the ratio quorlan/fls. quorlan-cli is built first with the release preset.
# Needs: cmake, ninja, a C++20 compiler, sfdisk (fdisk), mkfs.fat (dosfstools), mtools, fls
# (sleuthkit), awk; hyperfine and jq are used when installed.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
image=$cache/fat32-4g-30000.img
start=2048                 # partition 1, in sectors
runs=3
export MTOOLS_SKIP_CHECK=1 TZ=UTC LC_ALL=C.UTF-8 PATH="$PATH:/usr/sbin:/sbin"

generate() {
    local work
    mkdir -p "$cache"
    work=$(mktemp -d "$cache/tree.XXXXXX")
    trap 'rm -rf "$work"' RETURN
    rm -f "$image" "$image.done"
    echo "making $image (once) ..." >&2

    truncate -s 4G "$image"
    sfdisk --quiet --wipe never "$image" <<TABLE
label: dos
label-id: 0x51a7be4c
start=$start, type=c
TABLE
    local sectors
    sectors=$(( $(stat -c %s "$image") / 512 - start ))
    mkfs.fat -F 32 -S 512 -s 8 -h "$start" -i 5e4c0001 -n BENCH --invariant --offset "$start" "$image" "$((sectors / 2))" >/dev/null

    local tree=$work/tree
    mkdir -p "$tree"
    write_bench_tree "$tree"
    find "$tree" -exec touch -t 202405061230.00 {} +
    mcopy -i "$image@@$((start * 512))" -s -m -Q "$tree"/* ::/
    touch "$image.done"
}

[ -f "$image.done" ] || generate
[ "${1:-}" = --generate-only ] && exit 0

build_cli

quorlan="'$cli' search '$image' --partition 1 --files --json > /dev/null"
fls="fls -r -p -o $start '$image' > /dev/null"
warm "$quorlan"
warm "$fls"
q=$(mean_seconds quorlan "$quorlan")
f=$(mean_seconds fls "$fls")
awk -v q="$q" -v f="$f" -v n="$runs" -v s="$start" 'BEGIN {
    printf "quorlan-cli search  %8.3f s (mean of %d)\n", q, n
    printf "fls -r -p -o %-6d %8.3f s (mean of %d)\n", s, f, n
    printf "quorlan/fls         %8.2f\n", q / f
}'
