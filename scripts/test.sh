#!/usr/bin/env bash
# Every test: installs what they need (scripts/setup.sh test); builds the DLL
# with each toolchain preset and runs the whole Wine suite against it, then
# the ARM64 presets (the library's suite under aarch64 Wine); the
# native sanitizer build with its fuzz corpus; every label of the first
# preset on its own, and the tests as a Windows host registers them against
# three machines' DXGI; a bounded fuzz session (FUZZ_SECONDS, default 60).
# PRESETS="mingw" scripts/test.sh runs one x64 toolchain only;
# ARM64_PRESETS="" leaves ARM64 out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
# Debian's Go and python3 (with the wheel tools) before any other on PATH.
export PATH="/usr/lib/go-1.19/bin:/usr/bin:$PATH"

for preset in ${PRESETS:-mingw mingw-clang msvc-clang}; do
  echo "=== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # A Wine program that could not even start (no output, 0.01 s) is run
  # once more; a test that fails twice fails the run.
  ctest --preset "$preset" --repeat until-pass:2
done

# 64-bit ARM: the arm64 chroot with aarch64 Wine (made once per machine,
# about three to six minutes, then reused), and the ARM64 presets: each
# builds the DLL and runs its binary checks; msvc-clang-arm64 also runs the
# library's Wine suite on ARM64 code. ARM64_PRESETS="" leaves them out.
arm64_presets=${ARM64_PRESETS-mingw-clang-arm64 msvc-clang-arm64}
if [ -n "$arm64_presets" ]; then
  echo "=== the arm64 chroot with aarch64 Wine"
  scripts/arm64_wine.sh setup
fi
for preset in $arm64_presets; do
  echo "=== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" --repeat until-pass:2
done

echo "=== native sanitizer build"
cmake -S tests/native --preset native-asan >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure

presets=(${PRESETS:-mingw mingw-clang msvc-clang})
echo "=== every label of ${presets[0]} alone"
scripts/labels_alone.sh "${presets[0]}"
echo "=== the tests as a Windows host registers them, against three machines"
scripts/windows_host.sh

# libFuzzer prints a line per new input; keep that in a file and show the
# end of it only when the session fails.
fuzz_log=build/native/fuzz.log
seconds=${FUZZ_SECONDS:-60}
echo "Fuzzing the report path and the report reader for ${seconds} s in all (log: $fuzz_log)"
if ! tests/native/fuzz.sh "$seconds" >"$fuzz_log" 2>&1; then
  tail -n 60 "$fuzz_log"
  echo "fuzz: 0 passed, 1 failed"
  exit 1
fi
grep -E "^=== fuzz_|^stat::number_of_executed_units|^Done " "$fuzz_log" || true
echo "fuzz: 1 passed, 0 failed"
