#!/usr/bin/env bash
# The tests as a Windows host registers them, run under Wine against the
# DXGI of three kinds of machine. The preset mingw-windows-host configures
# the project as the windows-mingw preset does on Windows itself (compilers
# named, no toolchain file) with GPUINFO_TESTS_AS_WINDOWS_HOST: no private
# prefixes, the tests that need a double in the system directory disabled.
# Each machine is a prefix of its own:
#   wine          Wine's own DXGI without a 3D renderer
#   basic_render  a hosted CI runner: the Microsoft Basic Render Driver alone
#   workstation   two GPUs and the Basic Render Driver
# For the last two the prefix's system32\dxgi.dll is the test double playing
# the preset of that name (tests/fake_dxgi/fake_presets.h). As in
# scripts/test.sh, a failed test is run once more; twice fails the machine.
# usage: scripts/windows_host.sh
set -euo pipefail
cd "$(dirname "$0")/.."
preset=mingw-windows-host
build=$PWD/build/$preset
wineserver=$(command -v /usr/lib/wine/wineserver wineserver | head -n 1)

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# On Windows the host builds that tests make (a second build of the bundle,
# the embedding consumers) get the host's own compilers, the first on PATH;
# here they need the target system named and the C++ compiler a Windows PATH
# would give, and nothing else (no flags the first build lacks): a toolchain
# file in the environment gives them that.
target_only=$build/target-windows.cmake
printf '%s\n' 'set(CMAKE_SYSTEM_NAME Windows)' 'set(CMAKE_SYSTEM_PROCESSOR x86_64)' \
  'if(NOT CMAKE_CXX_COMPILER)' '  set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)' 'endif()' >"$target_only"
test_env=(CMAKE_TOOLCHAIN_FILE="$target_only")

failed=()
for machine in wine basic_render workstation; do
  prefix=$build/wine/$machine
  machine_env=(WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=)
  double=()
  if [ "$machine" = wine ]; then
    machine_env+=(WINEDLLOVERRIDES= WINE_D3D_CONFIG=renderer=no3d)
  else
    double=(-DDXGI="$build/bin/fake_dxgi.dll")
    machine_env+=(WINEDLLOVERRIDES=dxgi=n FAKE_DXGI_SCENARIO="$machine")
  fi
  log=$build/machine-$machine.log
  status=0
  {
    env "${machine_env[@]}" cmake -DPREFIX="$prefix" "${double[@]}" -P cmake/WinePrefix.cmake &&
      env "${machine_env[@]}" "${test_env[@]}" ctest --test-dir "$build" --output-on-failure --timeout 300 --repeat until-pass:2
  } >"$log" 2>&1 || status=$?
  WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true
  summary=$(grep -E 'tests passed' "$log" || echo "did not run")
  echo "Windows-host tests on $machine: $summary"
  if [ "$status" -ne 0 ]; then
    failed+=("$machine")
    tail -n 40 "$log"
  fi
done
echo "Windows-host machines: $((3 - ${#failed[@]})) passed, ${#failed[@]} failed${failed:+ (${failed[*]})}"
[ ${#failed[@]} -eq 0 ]
