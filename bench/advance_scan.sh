#!/usr/bin/env bash
# Times the Advance Search's scan of the 4 GiB FAT32 and NTFS images with 30,000 files each
# against a minimal pread loop in the same chunk size, both from the page cache, and prints the
# ratios, the analysis and entry-building times; then the peak memory of a whole Advance Search
# of each image as quorlan-cli runs it.
#
#   bench/advance_scan.sh [--runs N]
#
# The images are the standard-search benchmarks' (made once by fat_standard_search.sh and
# ntfs_standard_search.sh, kept in $XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else
# bench/.cache). quorlan-advance-bench and quorlan-cli are built first with the release preset
# (QUORLAN_BENCH_PRESET names another). Needs: cmake, ninja, a C++20 compiler, GNU time
# (/usr/bin/time, Debian package time) for the peak memory; what the two scripts need to make
# the images.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
preset=${QUORLAN_BENCH_PRESET:-release}
[ -f "$cache/fat32-4g-30000.img.done" ] || bash "$here/fat_standard_search.sh" --generate-only
[ -f "$cache/ntfs-4g-30000.img.done" ] || bash "$here/ntfs_standard_search.sh" --generate-only
(cd "$root" && cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" --target quorlan-advance-bench quorlan-cli >/dev/null)
cli=$root/build/$preset/cli/quorlan-cli

for pair in "fat32-4g-30000.img FAT32" "ntfs-4g-30000.img NTFS"; do
    read -r name type <<<"$pair"
    image=$cache/$name
    echo "== $name"
    "$root/build/$preset/bench/quorlan-advance-bench" "$image" --type "$type" "$@"
    if [ -x /usr/bin/time ]; then
        kb=$(/usr/bin/time -f %M "$cli" search "$image" --advance --files --json 2>&1 >/dev/null | tail -n 1)
        awk -v kb="$kb" 'BEGIN { printf "peak memory of quorlan-cli search --advance --files --json: %.1f MB (at most 50)\n", kb / 1024 }'
    else
        echo "no /usr/bin/time: the peak memory of quorlan-cli is not measured" >&2
    fi
    echo
done
