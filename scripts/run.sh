#!/usr/bin/env bash
# The main job: installs the build tools and Wine (scripts/setup.sh build),
# builds the DLL and gpuinfo.exe with the mingw toolchain (preset main, its
# own tree build/main: nothing for the tests is configured, so no test tool
# is looked for), then lists this machine's graphics adapters with
# gpuinfo.exe under Wine's own DXGI.
# Arguments go to gpuinfo.exe, e.g. scripts/run.sh --json.
#
# With xvfb-run, Wine gets a virtual X display and Mesa, so DXGI describes an
# OpenGL-backed adapter; without it, or if that enumeration fails, Wine's
# DXGI runs without a 3D renderer. Only gpuinfo's output goes to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh build >&2
cmake --preset main >/dev/null
cmake --build --preset main >&2

exe="$PWD/build/main/bin/gpuinfo.exe"
export WINEPREFIX="$PWD/build/wine-run"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=$(command -v /usr/lib/wine/wineserver wineserver | head -n 1)

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating a Wine prefix for the first run (about 10 s)..." >&2
  wineboot -i >/dev/null 2>&1 || true
  "$wineserver" -w
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run.sh: could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  fi
fi

out=$(mktemp)
err=$(mktemp)
trap '"$wineserver" -k 2>/dev/null || true; rm -f "$out" "$err"' EXIT

# gpuinfo's exit codes: 1 = enumeration failed, 2 = usage, 3 = library missing.
enumeration_failed() { [ "$1" -ne 0 ] && [ "$1" -ne 2 ] && [ "$1" -ne 3 ]; }

run_tool() {
  local status=1
  if command -v xvfb-run >/dev/null; then
    # The prefix's server goes down with the virtual display it was started on.
    status=0
    xvfb-run -a sh -c '"$@"; rc=$?; "$0" -k; exit $rc' \
      "$wineserver" wine "$exe" "$@" >"$out" 2>"$err" || status=$?
    if enumeration_failed "$status"; then
      echo "(no usable adapter on the virtual display; asking Wine's DXGI without a 3D renderer)" >&2
    fi
  fi
  if enumeration_failed "$status"; then
    status=0
    DISPLAY= WINE_D3D_CONFIG=renderer=no3d wine "$exe" "$@" >"$out" 2>"$err" || status=$?
  fi
  cat "$out"
  cat "$err" >&2
  return "$status"
}

if [ $# -eq 0 ]; then
  # The table for people, then the library's report as hosts get it.
  run_tool
  echo
  run_tool --json
else
  run_tool "$@"
fi
