#!/usr/bin/env bash
# Every test: the Windows build under Wine, then the native sanitizer build
# with its fuzz corpus and a bounded fuzz session (FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

ctest --preset mingw

cmake -S tests/native --preset native-asan >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure
tests/native/fuzz.sh "${FUZZ_SECONDS:-60}"
