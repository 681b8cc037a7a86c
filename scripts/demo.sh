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
