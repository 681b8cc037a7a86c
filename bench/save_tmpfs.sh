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
# warm it, then --runs rounds (default 3) of both in turn, warm; the rate is the bytes it wrote
# (du --apparent-size) over the mean warm time. quorlan-cli's save includes its Standard Search of the volume, which
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

# compare IMAGE NAME COMMAND [NAME COMMAND]...: each COMMAND (a string, evaluated) once with the
# image dropped from the page cache, then all once to warm it, then $runs rounds of all in turn
# (so that a busy moment of the machine falls on every command alike), each into an emptied
# $dest. Prints a row per command: MB written, cold and mean warm seconds, MB/s warm, peak
# memory of the cold run; sets rate[i] and rss[i].
compare() {
    local image=$1 i line
    shift
    local -a names=() commands=() colds=() bytes=()
    while [ $# -gt 0 ]; do
        names+=("$1") commands+=("$2")
        shift 2
    done
    for i in "${!commands[@]}"; do
        clear_dest
        line=$(eval "$(q "$measure" --drop "$image" --) ${commands[$i]}")
        [ "$(field "$line" exit)" = 0 ] || { echo "failed: ${commands[$i]}" >&2; exit 1; }
        colds+=("$line") bytes+=("$(du -sb --apparent-size "$dest" | cut -f1)")
    done
    warm_rounds clear_dest "${commands[@]}"
    rate=() rss=()
    for i in "${!commands[@]}"; do
        local warm=${warm_s[$i]}
        rate[i]=$(awk -v b="${bytes[$i]}" -v w="$warm" 'BEGIN { printf "%.1f", b / w / 1e6 }')
        rss[i]=$(field "${colds[$i]}" maxrss_kib)
        printf '  %-28s %9.1f %8.2f %8.3f %9.1f %9d\n' "${names[$i]}" "$(awk -v b="${bytes[$i]}" 'BEGIN { print b / 1e6 }')" \
            "$(field "${colds[$i]}" seconds)" "$warm" "${rate[$i]}" "${rss[$i]}"
    done
}

header() {
    echo
    echo "$1"
    printf '  %-28s %9s %8s %8s %9s %9s\n' "" "MB out" "cold s" "warm s" "MB/s warm" "peak KiB"
}

# volume FILE TITLE PEER: quorlan-cli save beside the peer (mcopy or tsk_recover).
volume() {
    local file=$1 title=$2 peer=$3 image=$cache/$1
    header "$title ($file)"
    local quorlan
    quorlan=$(q "$cli" save "$image" --partition 1 --to "$dest" --all)
    if [ "$peer" = mcopy ]; then
        compare "$image" "quorlan-cli save --all" "$quorlan" \
            "mcopy -s" "$(q mcopy -s -n -m -i "$image@@$((2048 * 512))") '::/*' $(q "$dest/")"
    else
        compare "$image" "quorlan-cli save --all" "$quorlan" "tsk_recover -a" "$(q tsk_recover -a "$image" "$dest")"
    fi
    awk -v q="${rate[0]}" -v p="${rate[1]}" -v m="${rss[0]}" -v peer="$peer" -v want="$([ "$peer" = mcopy ] && echo 1.00 || echo 1.50)" 'BEGIN {
        printf "  quorlan/%s speed per byte: %.2f (target: at least %s); quorlan peak memory %.1f MB (target: at most 50)\n", peer, q / p, want, m / 1024 }'
}

volume fat32-4g-save.img "FAT32 4 GiB, 30,000 files, 2.45 GB, 60 % full" mcopy
volume fat32-4g-30000.img "FAT32 4 GiB, 30,000 small files, 4 % full" mcopy
volume ntfs-4g-30000.img "NTFS 4 GiB, 30,000 small files" tsk_recover
