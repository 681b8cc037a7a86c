#!/usr/bin/env bash
# Installs what is missing, builds quorlan-cli and runs it on the bundled demo image.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorlan-cli

image=build/release/demo.img
[ "$image" -nt demo/demo.img.gz ] || gzip -dc demo/demo.img.gz >"$image"
cli=build/release/cli/quorlan-cli

echo
echo "== The demo stick: disk details"
"$cli" disk "$image"
echo
echo "== Its partitions"
"$cli" partitions "$image"
echo
echo "== Standard Search of partition 1 (FAT32): the recovered folders and their files"
"$cli" search "$image" --partition 1 --files
echo
echo "== Standard Search of partition 2 (NTFS)"
"$cli" search "$image" --partition 2 --files
echo
echo "== Everything on both partitions saved into build/release/demo-recovered/"
rm -rf build/release/demo-recovered
"$cli" save "$image" --partition 1 --to build/release/demo-recovered/partition-1 --all
"$cli" save "$image" --partition 2 --to build/release/demo-recovered/partition-2 --all
echo
echo "== Advance Search of a copy of the stick whose partition table and FAT32 boot sectors were wiped"
noboot=build/release/demo-noboot.img
[ "$noboot" -nt demo/demo-noboot.img.gz ] || gzip -dc demo/demo-noboot.img.gz >"$noboot"
"$cli" scan "$noboot"
"$cli" search "$noboot" --advance --fs 1 --files
