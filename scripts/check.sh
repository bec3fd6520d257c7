#!/usr/bin/env bash
# The inner loop for work on the library itself: one toolchain (mingw), the
# DLL's Wine suite (exports, report, enumeration, unreachable DXGI, planted
# dxgi.dll) and the checks of the finished binary, then the native build of
# the same source under ASan and UBSan with its unit tests. No bindings, no
# other toolchains, no fuzzing: scripts/test.sh runs everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

echo "=== the library with mingw: Wine suite and binary checks"
cmake --preset library >/dev/null
cmake --build --preset library
ctest --preset library

echo "=== native sanitizer build: the library's unit tests"
cmake -S tests/native --preset native-asan >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure -LE '^binding-'
