#!/usr/bin/env bash
# Times saving everything of a well-filled FAT32 stick against The Sleuth Kit's tsk_recover
# saving the same files, and against cp -r of the folder the stick was filled from.
#
#   bench/save_all.sh [--generate-only]
#
# The stick is a 4 GiB disk image with one FAT32 partition (4 KiB clusters) holding 30,000 files,
# about 2.4 GB of random data, in nested folders: many small documents, phone pictures, camera
# photos of some MiB and a few videos of tens of MiB. The folder it is filled from (the staging
# tree, cp's source) is kept next to it in the cache folder ($XDG_CACHE_HOME/quorlan-bench if
# XDG_CACHE_HOME is set, else bench/.cache); both are made once, without root. Each command is
# run once to warm the page cache, then timed three times, each run into a fresh destination
# folder in the cache folder (cleared and synced before each run, not timed); the script prints
# the mean times, the MB/s (data bytes / seconds) and the ratios quorlan/tsk_recover and
# quorlan/cp. It checks once, untimed, that quorlan's output equals the staging tree.
# Needs about 9.5 GB free in the cache folder the first time (image 4 GiB + staging 2.4 GB +
# destination 2.4 GB), 2.7 GB after. quorlan-cli is built first with the release preset.
# Needs: cmake, ninja, a C++20 compiler, sfdisk (fdisk), mkfs.fat (dosfstools), mtools,
# tsk_recover (sleuthkit), diff, awk; hyperfine and jq are used when installed.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
image=$cache/fat32-4g-save.img
staging=$cache/fat32-4g-save.tree
dest=$cache/save-destination
label=BENCH
start=2048                 # partition 1, in sectors
runs=3
# TZ=UTC only where the tree is made: quorlan reads the FAT's local times in the caller's zone.
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 PATH="$PATH:/usr/sbin:/sbin"

# The destination, and the half-made tree of a generation, go however the script ends.
work=
cleanup() {
    rm -rf "$dest"
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT

gb() { awk -v b="$1" 'BEGIN { printf "%.1f GB", b / 1e9 }'; }

# Room for what is still to be made, and for one destination (the data, plus a block's slack
# per file and the folders).
check_space() {
    local data=2500000000 need=0 parts=() free
    [ -f "$image.done" ] || { need=$((need + (4 << 30))); parts+=("image 4 GiB"); }
    [ -f "$image.done" ] || { need=$((need + data)); parts+=("staging $(gb "$data")"); }
    if [ "${1:-}" != --generate-only ]; then
        need=$((need + data + 200000000))
        parts+=("destination $(gb "$data")")
    fi
    free=$(df -B1 --output=avail "$cache" | tail -1 | tr -d ' ')
    local what
    what=$(printf ' + %s' "${parts[@]}")
    echo "save_all needs about $(gb "$need") free in $cache (${what:3}); $(gb "$free") free" >&2
    if ((free < need)); then
        echo "not enough room: set XDG_CACHE_HOME to a file system with more free space" >&2
        exit 1
    fi
}

generate() {
    mkdir -p "$cache"
    work=$(mktemp -d "$cache/save-tree.XXXXXX")
    rm -rf "$staging"
    rm -f "$image" "$image.done"
    echo "making $staging and $image (once, a few minutes) ..." >&2

    # The tree, as lines "D folder" and "F size file"; sizes from a fixed seed. Long names, as
    # cameras, phones and office programs write them; at most 461 files a folder.
    #   Documents: 40 projects x 5 folders (down to depth 4) x 130 files of 1-32 KiB   26,000
    #   Pictures:  8 month folders x 461 phone pictures of 64-256 KiB                   3,688
    #   DCIM:      3 camera folders x 100 photos of 2-5 MiB                                300
    #   Videos:    2 folders x 6 videos of 10-40 MiB                                        12
    awk 'function size(lo, hi) { return lo + int(rand() * (hi - lo + 1)) }
    BEGIN {
        srand(20240506)
        KiB = 1024; MiB = 1024 * 1024
        split("Reports|Meeting notes|Data/Raw measurements|Data/Processed|Drafts/Old versions", sub_, "|")
        split("Quarterly report|Minutes of the meeting|measurements_run|summary_table|Draft chapter", stem, "|")
        split("docx|txt|csv|xlsx|odt", ext, "|")
        split("Northwind|Contoso|Fabrikam|Tailspin|Litware|Adventure Works|Wingtip|Proseware", client, "|")
        n = 0
        for (p = 0; p < 40; p++) {
            for (s = 1; s <= 5; s++) {
                dir = sprintf("Documents/Project %02d - %s/%s", p, client[p % 8 + 1], sub_[s])
                print "D\t" dir
                for (f = 0; f < 130; f++) {
                    n++
                    printf "F\t%d\t%s/%s %05d.%s\n", size(KiB, 32 * KiB), dir, stem[s], n, ext[s]
                }
            }
        }
        for (m = 1; m <= 8; m++) {
            dir = sprintf("Pictures/Phone backup/2024-%02d", m)
            print "D\t" dir
            for (f = 1; f <= 461; f++) {
                printf "F\t%d\t%s/IMG-2024%02d%02d-WA%04d.jpg\n", size(64 * KiB, 256 * KiB), dir, m, f % 28 + 1, f
            }
        }
        for (c = 0; c < 3; c++) {
            dir = sprintf("DCIM/%dCANON", 100 + c)
            print "D\t" dir
            for (f = 1; f <= 100; f++) printf "F\t%d\t%s/IMG_%04d.JPG\n", size(2 * MiB, 5 * MiB), dir, c * 100 + f
        }
        split("Summer holiday 2023|Birthday party", event, "|")
        for (e = 1; e <= 2; e++) {
            dir = "Videos/" event[e]
            print "D\t" dir
            for (f = 1; f <= 6; f++) {
                printf "F\t%d\t%s/VID_2023%02d%02d_%06d.mp4\n", size(10 * MiB, 40 * MiB), dir, 6 + e, 10 + f, 143000 + f * 17
            }
        }
    }' > "$work/list"

    # Random bytes, so that neither compression nor deduplication makes any copy cheaper.
    local tree=$work/tree kind a b
    mkdir -p "$tree"
    while IFS=$'\t' read -r kind a b; do
        if [ "$kind" = D ]; then
            mkdir -p "$tree/$a"
        else
            head -c "$a" /dev/urandom > "$tree/$b"
        fi
    done < "$work/list"
    TZ=UTC find "$tree" -exec touch -t 202405061230.00 {} +

    truncate -s 4G "$image"
    sfdisk --quiet --wipe never "$image" <<TABLE
label: dos
label-id: 0x51a7be4d
start=$start, type=c
TABLE
    local sectors
    sectors=$(( $(stat -c %s "$image") / 512 - start ))
    mkfs.fat -F 32 -S 512 -s 8 -h "$start" -i 5e4c0002 -n "$label" --invariant --offset "$start" "$image" "$((sectors / 2))" >/dev/null
    TZ=UTC mcopy -i "$image@@$((start * 512))" -s -m -Q "$tree"/* ::/

    mv "$tree" "$staging"
    rm -rf "$work"
    work=
    touch "$image.done"
}

mkdir -p "$cache"
rm -rf "$dest"
check_space "${1:-}"

[ -f "$image.done" ] || generate
[ "${1:-}" = --generate-only ] && exit 0

build_cli

if ! "$cli" partitions "$image" --json | grep -q "\"index\":1,\"type\":\"FAT32\",\"start\":$start,"; then
    echo "quorlan-cli partitions does not list partition 1 of $image as FAT32 at sector $start" >&2
    exit 1
fi
read -r files bytes < <(find "$staging" -type f -printf '%s\n' | awk '{ n++; s += $1 } END { print n, s }')

clear="rm -rf '$dest' && sync"
quorlan="'$cli' save '$image' --partition 1 --to '$dest' --all > /dev/null 2>&1"
tsk="tsk_recover -a -o $start '$image' '$dest' > /dev/null"
copy="cp -r '$staging' '$dest'"

# Warm-up runs; the first one's output is checked against the staging tree (not timed). Two
# things quorlan adds are not counted as differences but named: mkfs.fat writes the volume label
# as an entry of the root folder, which quorlan lists as an empty file and so saves (fls marks it
# "(Volume Label Entry)"), and the result always has the folder QLN_Miscellaneous, saved even when
# it is empty.
bash -c "$clear"
"$cli" save "$image" --partition 1 --to "$dest" --all > "$cache/save-quorlan.txt" 2>&1 ||
    { cat "$cache/save-quorlan.txt" >&2; echo "failed: quorlan-cli save" >&2; exit 1; }
echo "checking quorlan's output against the staging tree ..." >&2
diff -r -q "$staging" "$dest" > "$cache/save-diff.txt" 2>&1 || true
extras=
if [ -f "$dest/$label" ] && [ ! -s "$dest/$label" ]; then
    extras+=", $label (empty file: the volume label entry)"
    grep -v -x -F "Only in $dest: $label" "$cache/save-diff.txt" > "$cache/save-diff.tmp" || true
    mv "$cache/save-diff.tmp" "$cache/save-diff.txt"
fi
if [ -d "$dest/QLN_Miscellaneous" ] && [ -z "$(ls -A "$dest/QLN_Miscellaneous")" ]; then
    extras+=", QLN_Miscellaneous/ (empty folder)"
    grep -v -x -F "Only in $dest: QLN_Miscellaneous" "$cache/save-diff.txt" > "$cache/save-diff.tmp" || true
    mv "$cache/save-diff.tmp" "$cache/save-diff.txt"
fi
differences=$(wc -l < "$cache/save-diff.txt")
bash -c "$clear"
warm "$tsk"
tsk_files=$(find "$dest" -type f | wc -l)
bash -c "$clear"
warm "$copy"

q=$(mean_seconds save-quorlan "$quorlan" "$clear")
t=$(mean_seconds save-tsk_recover "$tsk" "$clear")
c=$(mean_seconds save-cp "$copy" "$clear")
rm -rf "$dest"

awk -v q="$q" -v t="$t" -v c="$c" -v n="$runs" -v s="$start" -v files="$files" -v bytes="$bytes" \
    -v tf="$tsk_files" -v d="$differences" -v list="$cache/save-diff.txt" -v extras="${extras:2}" 'BEGIN {
    printf "%d files, %.2f GB of data; warm cache: every command ran once before timing and nothing\n", files, bytes / 1e9
    printf "was dropped from the page cache; destination cleared and synced before each run\n"
    printf "quorlan-cli save --all  %8.3f s  %7.1f MB/s (mean of %d)\n", q, bytes / q / 1e6, n
    printf "tsk_recover -a -o %-5d %8.3f s  %7.1f MB/s (mean of %d)\n", s, t, bytes / t / 1e6, n
    printf "cp -r staging           %8.3f s  %7.1f MB/s (mean of %d)\n", c, bytes / c / 1e6, n
    printf "quorlan/tsk_recover     %8.2f    target: at most 1.00 (at least as fast as tsk_recover)\n", q / t
    printf "quorlan/cp              %8.2f    target: close to 1.00 (approaching cp -r)\n", q / c
    if (d == 0) printf "quorlan output          identical to the staging tree (diff -r)\n"
    else printf "quorlan output          DIFFERS from the staging tree: %d difference(s), in %s\n", d, list
    if (extras != "") printf "quorlan also wrote      %s\n", extras
    if (tf != files) printf "tsk_recover wrote %d files, the staging tree has %d\n", tf, files
}'
[ "$differences" -eq 0 ]
