#!/usr/bin/env bash
# Times the engine's chunked scan loop against a minimal pread loop over the 4 GiB FAT32 image,
# both from the page cache, and prints the ratio and the throughput.
#
#   bench/scan_loop.sh [--runs N] [--work N] [--chunk-kib N]...
#
# The image is the FAT standard-search benchmark's (made once by fat_standard_search.sh, kept in
# $XDG_CACHE_HOME/quorlan-bench if XDG_CACHE_HOME is set, else bench/.cache). Both loops test
# every sector for 0x55 0xAA at 510 and a 4-byte magic at 0; the engine's loop runs in line, with
# its read-ahead thread, and with a 64 KiB look-ahead. Default chunk sizes: 256 KiB (the FAT
# directory-cluster scan), 512 KiB (the sector scans of an Advance Search) and 1 MiB (the
# parameter inference). --work N adds N passes over every byte of each chunk to both loops, to
# show when the read-ahead thread pays. quorlan-scan-bench is built first with the release preset.
# Needs: cmake, ninja, a C++20 compiler; what fat_standard_search.sh needs to make the image.
set -euo pipefail
shopt -s inherit_errexit

# shellcheck source=bench/timing.sh
source "$(dirname "$0")/timing.sh"  # sets here, root and cache
image=$cache/fat32-4g-30000.img

args=("$@")
has_chunk=0
for a in "${args[@]}"; do [ "$a" = --chunk-kib ] && has_chunk=1; done
[ "$has_chunk" = 1 ] || args+=(--chunk-kib 256 --chunk-kib 512 --chunk-kib 1024)

[ -f "$image.done" ] || bash "$here/fat_standard_search.sh" --generate-only
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target quorlan-scan-bench >/dev/null)
"$root/build/release/bench/quorlan-scan-bench" "$image" "${args[@]}"
