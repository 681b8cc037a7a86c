#!/usr/bin/env bash
# The lost-partition search of a 4 GiB disk whose partition table is gone: the sectors it reads
# beside the disk's sector count, and its time beside mmls reading the same disk.
#
#   bench/lost_partitions.sh [--generate-only]
#
# Two images, made once without root and kept in the cache folder ($XDG_CACHE_HOME/quorlan-bench
# if XDG_CACHE_HOME is set, else bench/.cache), both sparse:
#   lost-4g.img    a stick partitioned on 1 MiB boundaries, FAT32 at 2048 (2 GiB) and NTFS
#                  behind it to the end, whose master boot record is zeroed;
#   blank-4g.img   4 GiB of zeros, where the search finds nothing and so looks for backup boot
#                  sectors at every place: the most it reads.
# Each command runs once to warm the page cache, then three times timed. The script prints the
# sectors read, their share of the disk (the goal: below 1 in 256) and the mean times, and fails
# when a search reads 1 sector in 256 or more, or misses a volume of lost-4g.img.
# Needs: cmake, ninja, a C++20 compiler, sfdisk (fdisk), mkfs.fat (dosfstools), mkntfs
# (ntfs-3g), dd, mmls (sleuthkit), awk; hyperfine and jq are used when installed.
set -euo pipefail
shopt -s inherit_errexit

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cache=${XDG_CACHE_HOME:+$XDG_CACHE_HOME/quorlan-bench}
cache=${cache:-$here/.cache}
lost=$cache/lost-4g.img
blank=$cache/blank-4g.img
fat_start=2048
fat_sectors=4194304         # 2 GiB
ntfs_start=$((fat_start + fat_sectors))
runs=3
export PATH="$PATH:/usr/sbin:/sbin"

generate() {
    mkdir -p "$cache"
    rm -f "$lost" "$lost.done" "$blank"
    echo "making $lost and $blank (once) ..." >&2
    truncate -s 4G "$blank"
    truncate -s 4G "$lost"
    sfdisk --quiet --wipe never "$lost" <<TABLE
label: dos
label-id: 0x51a7be10
start=$fat_start, size=$fat_sectors, type=c
start=$ntfs_start, type=7
TABLE
    local ntfs_sectors part
    ntfs_sectors=$(($(stat -c %s "$lost") / 512 - ntfs_start))
    mkfs.fat -F 32 -S 512 -s 8 -h "$fat_start" -i 5e4c0010 -n LOSTFAT --invariant --offset "$fat_start" \
        "$lost" "$((fat_sectors / 2))" >/dev/null
    # mkntfs writes into a file of its own; dd copies it into place and keeps the holes.
    part=$(mktemp "$cache/ntfs.XXXXXX")
    truncate -s $((ntfs_sectors * 512)) "$part"
    mkntfs -F -Q -q -s 512 -c 4096 -p "$ntfs_start" -H 255 -S 63 -L LOSTNTFS "$part" 2>/dev/null
    dd if="$part" of="$lost" bs=1M seek=$((ntfs_start * 512)) oflag=seek_bytes conv=notrunc,sparse status=none
    rm -f "$part"
    # The damage: the master boot record is zeroed.
    dd if=/dev/zero of="$lost" bs=512 count=1 conv=notrunc status=none
    touch "$lost.done"
}

# shellcheck source=bench/timing.sh
source "$here/timing.sh"

[ -f "$lost.done" ] || generate
[ "${1:-}" = --generate-only ] && exit 0

build_cli

# search IMAGE: runs the search once; prints "READ SECTORS FOUND" from its summary and list.
search() {
    local err listing
    err=$(mktemp)
    listing=$("$cli" partitions "$1" --find-lost --json 2>"$err" || true)
    local read sectors
    read=$(sed -n 's/.*: read \([0-9]*\) of \([0-9]*\) sectors;.*/\1/p' "$err")
    sectors=$(sed -n 's/.*: read \([0-9]*\) of \([0-9]*\) sectors;.*/\2/p' "$err")
    rm -f "$err"
    echo "$read $sectors $(grep -o '"found":true' <<<"$listing" | wc -l)"
}

status=0
for image in "$lost" "$blank"; do
    name=$(basename "$image")
    read -r read sectors volumes < <(search "$image")
    quorlan="'$cli' partitions '$image' --find-lost > /dev/null 2>&1 || true"
    mmls="mmls '$image' > /dev/null 2>&1 || true"
    warm "$quorlan"
    warm "$mmls"
    q=$(mean_seconds "lost-$name" "$quorlan")
    m=$(mean_seconds "mmls-$name" "$mmls")
    awk -v name="$name" -v r="$read" -v s="$sectors" -v v="$volumes" -v q="$q" -v m="$m" -v n="$runs" 'BEGIN {
        printf "%s: read %d of %d sectors (1 in %.0f), %d volume(s) found\n", name, r, s, s / r, v
        printf "    quorlan-cli partitions --find-lost %8.3f s (mean of %d)\n", q, n
        printf "    mmls                               %8.3f s (mean of %d)\n", m, n
    }'
    if [ $((read * 256)) -ge "$sectors" ]; then
        echo "    FAIL: 1 sector in 256 or more" >&2
        status=1
    fi
    if [ "$image" = "$lost" ] && [ "$volumes" != 2 ]; then
        echo "    FAIL: the FAT32 and NTFS volumes were not both found" >&2
        status=1
    fi
done
exit $status
