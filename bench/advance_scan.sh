#!/usr/bin/env bash
# Times the Advance Search's scan of the 4 GiB FAT32 image with 30,000 files against a minimal
# pread loop in the same chunk size, both from the page cache, and prints the ratio; then the
# peak memory of a whole Advance Search of the image as quorlan-cli runs it.
#
#   bench/advance_scan.sh [--runs N]
#
# The image is the FAT standard-search benchmark's (made once by fat_standard_search.sh, kept in
# $XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else bench/.cache). quorlan-advance-bench
# and quorlan-cli are built first with the release preset. Needs: cmake, ninja, a C++20 compiler,
# GNU time (/usr/bin/time, Debian package time) for the peak memory; what fat_standard_search.sh
# needs to make the image.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
image=$cache/fat32-4g-30000.img

[ -f "$image.done" ] || bash "$here/fat_standard_search.sh" --generate-only
(cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target quorlan-advance-bench quorlan-cli >/dev/null)
"$root/build/release/bench/quorlan-advance-bench" "$image" "$@"

cli=$root/build/release/cli/quorlan-cli
if [ -x /usr/bin/time ]; then
    kb=$(/usr/bin/time -f %M "$cli" search "$image" --advance --files --json 2>&1 >/dev/null | tail -n 1)
    awk -v kb="$kb" 'BEGIN { printf "peak memory of quorlan-cli search --advance --files --json: %.1f MB (at most 50)\n", kb / 1024 }'
else
    echo "no /usr/bin/time: the peak memory of quorlan-cli is not measured" >&2
fi
