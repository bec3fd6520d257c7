#!/bin/sh
# Runs the Windows benchmark under Wine against both back ends (Wine's own
# DXGI, then the test double with sixteen maximal adapters) and the soak run
# (tests/soak, also a CTest test).
# Builds what is missing first. Figures land in build/mingw/bench/*.txt and
# are printed; BENCHMARKS.md says what they mean.
#
#   bench/run.sh            everything
#   bench/run.sh wine|fake|soak   one part
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/mingw
# The test suite's prefix; BENCH_PREFIX picks another one, for a run beside
# a test suite that stops and restarts that prefix's wineserver.
prefix=${BENCH_PREFIX:-$build/wine/prefix}
out=$build/bench

cd "$root"
[ -f "$build/build.ninja" ] || cmake --preset mingw >/dev/null
cmake --build "$build" --target bench_gpuinfo soak fake_dxgi gpuinfo >/dev/null
# Creates the test prefix if the test suite has not yet, and puts the test
# double in its system32 (the Wine back end still uses Wine's own DXGI:
# WINEDLLOVERRIDES=dxgi=b).
cmake -DPREFIX="$prefix" -DDXGI="$build/bin/fake_dxgi.dll" -P cmake/WinePrefix.cmake >/dev/null
mkdir -p "$out"

export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
unset FAKE_DXGI_SCENARIO WINE_D3D_CONFIG 2>/dev/null || true

# Wine programs write to files: their output through a pipe can get lost.
show() {
    cat "$1"
    if ! grep -q "$2" "$1"; then
        echo "** $1 is incomplete: the program stopped early (another run stopping this prefix's"
        echo "** wineserver, e.g. a ctest run's wine_stop, does that); run bench/run.sh again."
        status=1
    fi
    echo
}

status=0
part=${1:-all}
if [ "$part" = all ] || [ "$part" = wine ]; then
    echo "=== Wine's own DXGI (renderer=no3d) ==="
    WINEDLLOVERRIDES=dxgi=b WINE_D3D_CONFIG=renderer=no3d \
        wine "$build/bin/bench_gpuinfo.exe" bench "wine dxgi, renderer=no3d" "$out/wine.txt" || status=1
    show "$out/wine.txt" '^checksum'
fi
if [ "$part" = all ] || [ "$part" = fake ]; then
    echo "=== dxgi.dll test double, preset max16 ==="
    WINEDLLOVERRIDES=dxgi=n FAKE_DXGI_SCENARIO=max16 \
        wine "$build/bin/bench_gpuinfo.exe" bench "test double, max16" "$out/fake-max16.txt" || status=1
    show "$out/fake-max16.txt" '^checksum'
fi
if [ "$part" = all ] || [ "$part" = soak ]; then
    echo "=== soak: 100000 calls of each export, test double max16 ==="
    WINEDLLOVERRIDES=dxgi=n wine "$build/bin/soak.exe" >"$out/soak.txt" 2>&1 || status=1
    show "$out/soak.txt" ' passed, '
fi
exit $status
