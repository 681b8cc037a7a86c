#!/usr/bin/env bash
# Saving everything of each benchmark volume into tmpfs, beside the peer that copies the same
# volume out: mcopy -s for FAT, tsk_recover -a for NTFS; the speed per byte written, and
# quorlan's peak memory.
#
#   bench/save_tmpfs.sh [--runs N] [--to DIR]
#
# DIR is a folder on tmpfs (default /dev/shm/quorlan-save-bench), emptied before every run (not
# timed) and removed at the end; it needs room for the largest output, 2.5 GB. Volumes, made once
# when missing by the scripts named and kept in $XDG_CACHE_HOME/quorlan-bench (else
# bench/.cache): fat32-4g-save.img (save_all.sh), fat32-4g-30000.img (fat_standard_search.sh),
# ntfs-4g-30000.img (ntfs_standard_search.sh). Commands:
#   quorlan-cli save IMAGE --partition 1 --to DIR --all
#   mcopy -s -n -m -i IMAGE@@OFFSET '::/*' DIR/          (FAT)
#   tsk_recover -a IMAGE DIR                              (NTFS)
# Each runs under quorlan-io-measure once with the image dropped from the page cache, then once to
# warm it and --runs times (default 3) warm; the rate is the bytes it wrote (du --apparent-size)
# over the mean warm time. quorlan-cli's save includes its Standard Search of the volume, which
# the peers do not make. quorlan-cli and quorlan-io-measure are built with the release preset.
# Needs: cmake, ninja, a C++20 compiler, mcopy (mtools), tsk_recover (sleuthkit), awk, du, and
# what the scripts that make the images need.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
runs=3
dest=/dev/shm/quorlan-save-bench
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --to) dest=$2; shift 2 ;;
    *) echo "usage: bench/save_tmpfs.sh [--runs N] [--to DIR]" >&2; exit 2 ;;
    esac
done
export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
trap 'rm -rf "$dest"' EXIT

[ -f "$cache/fat32-4g-save.img.done" ] || bash "$here/save_all.sh" --generate-only
[ -f "$cache/fat32-4g-30000.img.done" ] || bash "$here/fat_standard_search.sh" --generate-only
[ -f "$cache/ntfs-4g-30000.img.done" ] || bash "$here/ntfs_standard_search.sh" --generate-only
mkdir -p "$dest"
[ "$(stat -f -c %T "$dest")" = tmpfs ] || echo "note: $dest is not on tmpfs" >&2
free=$(df -B1 --output=avail "$dest" | tail -1 | tr -d ' ')
((free > 2700000000)) || { echo "$dest has $free bytes free; 2.7 GB are needed" >&2; exit 1; }

build_targets quorlan-cli quorlan-io-measure
measure=$root/build/release/bench/quorlan-io-measure

clear_dest() { rm -rf "$dest" && mkdir -p "$dest"; }

# field LINE NAME: a value of a quorlan-io-measure line.
field() { awk -v l="$1" -v k="$2" 'BEGIN { n = split(l, f, /[ =]/); for (i = 1; i < n; i += 2) if (f[i] == k) print f[i + 1] }'; }

# run NAME IMAGE COMMAND...: one row; sets $rate (MB/s warm) and $rss (peak KiB of the cold run).
run() {
    local name=$1 image=$2 cold line i total=0 bytes warm
    shift 2
    clear_dest
    cold=$("$measure" --drop "$image" -- "$@")
    [ "$(field "$cold" exit)" = 0 ] || { echo "failed: $*" >&2; exit 1; }
    bytes=$(du -sb --apparent-size "$dest" | cut -f1)
    clear_dest
    "$measure" -- "$@" >/dev/null
    for ((i = 0; i < runs; i++)); do
        clear_dest
        line=$("$measure" -- "$@")
        total=$(awk -v t="$total" -v s="$(field "$line" seconds)" 'BEGIN { print t + s }')
    done
    warm=$(awk -v t="$total" -v n="$runs" 'BEGIN { printf "%.3f", t / n }')
    rate=$(awk -v b="$bytes" -v w="$warm" 'BEGIN { printf "%.1f", b / w / 1e6 }')
    rss=$(field "$cold" maxrss_kib)
    printf '  %-28s %9.1f %8.2f %8.3f %9.1f %9d\n' "$name" "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" \
        "$(field "$cold" seconds)" "$warm" "$rate" "$rss"
}

header() {
    echo
    echo "$1"
    printf '  %-28s %9s %8s %8s %9s %9s\n' "" "MB out" "cold s" "warm s" "MB/s warm" "peak KiB"
}

# volume FILE TITLE PEER: quorlan-cli save beside the peer (mcopy or tsk_recover).
volume() {
    local file=$1 title=$2 peer=$3 image=$cache/$1 qrate qrss
    header "$title ($file)"
    run "quorlan-cli save --all" "$image" "$cli" save "$image" --partition 1 --to "$dest" --all
    qrate=$rate qrss=$rss
    if [ "$peer" = mcopy ]; then
        run "mcopy -s" "$image" mcopy -s -n -m -i "$image@@$((2048 * 512))" '::/*' "$dest/"
        awk -v q="$qrate" -v p="$rate" -v m="$qrss" 'BEGIN {
            printf "  quorlan/mcopy speed per byte: %.2f (target: at least 1.00); quorlan peak memory %.1f MB (target: at most 50)\n", q / p, m / 1024 }'
    else
        run "tsk_recover -a" "$image" tsk_recover -a "$image" "$dest"
        awk -v q="$qrate" -v p="$rate" -v m="$qrss" 'BEGIN {
            printf "  quorlan/tsk_recover speed per byte: %.2f (target: at least 1.50); quorlan peak memory %.1f MB (target: at most 50)\n", q / p, m / 1024 }'
    fi
}

volume fat32-4g-save.img "FAT32 4 GiB, 30,000 files, 2.45 GB, 60 % full" mcopy
volume fat32-4g-30000.img "FAT32 4 GiB, 30,000 small files, 4 % full" mcopy
volume ntfs-4g-30000.img "NTFS 4 GiB, 30,000 small files" tsk_recover
