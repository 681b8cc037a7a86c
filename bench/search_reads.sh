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
# page cache (posix_fadvise DONTNEED on the image alone), then once to warm it, then --runs rounds
# (default 3) of all the commands of a volume in turn, warm. Then quorlan-search-reads counts, under the engine, the bytes and requests of
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

# compare IMAGE NAME COMMAND [NAME COMMAND]...: each COMMAND (a string, evaluated) once with the
# image dropped from the page cache, then all once to warm it, then $runs rounds of all in turn,
# so that a busy moment of the machine falls on every command alike. Prints a row per command:
# MB read (rchar), MB from the device, cold and mean warm seconds; sets mb[i] and warm_s[i].
compare() {
    local image=$1 i line
    shift
    local -a names=() commands=() colds=()
    while [ $# -gt 0 ]; do
        names+=("$1") commands+=("$2")
        shift 2
    done
    for i in "${!commands[@]}"; do
        line=$(eval "$(q "$measure" --drop "$image" --) ${commands[$i]}")
        [ "$(field "$line" exit)" = 0 ] || { echo "failed: ${commands[$i]}" >&2; exit 1; }
        colds+=("$line")
    done
    warm_rounds : "${commands[@]}"
    mb=()
    for i in "${!commands[@]}"; do
        mb[i]=$(awk -v b="$(field "${colds[$i]}" rchar)" 'BEGIN { printf "%.1f", b / 1e6 }')
        printf '  %-34s %9.1f %10.1f %8.2f %8.3f\n' "${names[$i]}" "${mb[$i]}" \
            "$(awk -v b="$(field "${colds[$i]}" read_bytes)" 'BEGIN { print b / 1e6 }')" \
            "$(field "${colds[$i]}" seconds)" "${warm_s[$i]}"
    done
}

header() {
    echo
    echo "$1"
    printf '  %-34s %9s %10s %8s %8s\n' "" "MB read" "device MB" "cold s" "warm s"
}

fat() {
    local image=$cache/$1 title=$2
    header "$title ($1)"
    compare "$image" \
        "quorlan-cli search --files --json" "$(q "$cli" search "$image" --partition 1 --files --json)" \
        "fls -r -p" "$(q fls -r -p -o 2048 "$image")" \
        "mdir -/" "$(q mdir -/ -i "$image@@$((2048 * 512))" ::)"
    awk -v q="${mb[0]}" -v qw="${warm_s[0]}" -v f="${mb[1]}" -v fw="${warm_s[1]}" 'BEGIN {
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
compare "$image" \
    "quorlan-cli search --files --json" "$(q "$cli" search "$image" --partition 1 --files --json)" \
    "fls -r -p" "$(q fls -r -p "$image")" \
    "ntfsls -R -a" "$(q ntfsls -R -a "$image")" \
    "ntfsls -R -a -l (sizes and times)" "$(q ntfsls -R -a -l "$image")"
awk -v q="${mb[0]}" -v n="${mb[2]}" -v l="${mb[3]}" 'BEGIN {
    printf "  quorlan/ntfsls -R -a: %.2f of the bytes (target: at most 1.25); quorlan/ntfsls -R -a -l: %.2f\n", q / n, q / l }'
"$reads" "$image" --partition 1 >/dev/null
echo "  under the engine (warm):"
"$reads" "$image" --partition 1 | sed 's/^/    /'
