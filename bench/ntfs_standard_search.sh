#!/usr/bin/env bash
# Times the standard search of a large NTFS stick against The Sleuth Kit's fls walking the same
# folders, and shows ntfsls (ntfs-3g) listing them too.
#
#   bench/ntfs_standard_search.sh [--generate-only]
#
# The stick is a 4 GiB NTFS volume without a partition table (4 KiB clusters) holding 30,000
# small files in 1,010 folders, the same tree as the FAT benchmark. It is made once through an
# ntfs-3g mount of the image, which needs root and /dev/fuse, and kept in the cache folder
# ($XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else bench/.cache); timing it needs
# neither. Each command is run once to warm the page cache, then timed three times; the script
# prints the mean times and the ratio quorlan/fls. quorlan-cli is built first with the release
# preset.
# Needs: cmake, ninja, a C++20 compiler, mkntfs and ntfs-3g (ntfs-3g), fls (sleuthkit), awk;
# hyperfine and jq are used when installed.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
image=$cache/ntfs-4g-30000.img
runs=3
export TZ=UTC LC_ALL=C.UTF-8 PATH="$PATH:/usr/sbin:/sbin"

# The mount and the prepared tree of a generation, undone however the script ends; the unmount
# waits for ntfs-3g to finish writing the image.
mnt= ntfs3g_pid= work=
cleanup() {
    if [ -n "$ntfs3g_pid" ]; then
        umount "$mnt" || true
        wait "$ntfs3g_pid" || true
    fi
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT

generate() {
    if [ "$(id -u)" != 0 ] || [ ! -c /dev/fuse ] || ! command -v ntfs-3g >/dev/null; then
        echo "making $image takes an ntfs-3g mount: run this once as root, with /dev/fuse and ntfs-3g" >&2
        exit 1
    fi
    mkdir -p "$cache"
    work=$(mktemp -d "$cache/tree.XXXXXX")
    mnt=$work/mnt
    rm -f "$image" "$image.done"
    echo "making $image (once) ..." >&2

    truncate -s 4G "$image"
    mkntfs -F -Q -q -s 512 -c 4096 -p 0 -H 255 -S 63 -L BENCH "$image" 2>/dev/null

    local tree=$work/tree
    mkdir -p "$tree"
    write_bench_tree "$tree"

    # ntfs-3g stays in the foreground (no_detach), a child of this script, so that the unmount
    # can wait for it to exit.
    mkdir -p "$mnt"
    ntfs-3g -o no_detach,big_writes "$image" "$mnt" >/dev/null 2>&1 &
    ntfs3g_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        mountpoint -q "$mnt" && break
        sleep 0.1
    done
    mountpoint -q "$mnt" || { echo "ntfs-3g could not mount $image" >&2; exit 1; }
    cp -r "$tree"/* "$mnt"/
    umount "$mnt"
    wait "$ntfs3g_pid"
    ntfs3g_pid=
    rm -rf "$work"
    work=
    touch "$image.done"
}

[ -f "$image.done" ] || generate
[ "${1:-}" = --generate-only ] && exit 0

build_cli

quorlan="'$cli' search '$image' --partition 1 --files --json > /dev/null"
fls="fls -r -p '$image' > /dev/null"
ntfsls="ntfsls -R -a -s '$image' > /dev/null 2>&1"  # it complains about $Extend's records
warm "$quorlan"
warm "$fls"
q=$(mean_seconds ntfs-quorlan "$quorlan")
f=$(mean_seconds ntfs-fls "$fls")
n=
if command -v ntfsls >/dev/null; then
    warm "$ntfsls"
    n=$(mean_seconds ntfs-ntfsls "$ntfsls")
fi
awk -v q="$q" -v f="$f" -v l="$n" -v n="$runs" 'BEGIN {
    printf "quorlan-cli search  %8.3f s (mean of %d)\n", q, n
    printf "fls -r -p           %8.3f s (mean of %d)\n", f, n
    if (l != "") printf "ntfsls -R -a -s     %8.3f s (mean of %d)\n", l, n
    printf "quorlan/fls         %8.2f\n", q / f
}'
