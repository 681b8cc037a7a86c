#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a short run of each fuzzer, the
# warnings-as-errors build, and the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in build/fuzz/tests/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    echo "== $(basename "$fuzzer")"
    "$fuzzer" -runs=200000 -max_len=4096 -seed=1 2>&1 | tail -n 1
done

cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
