#!/usr/bin/env bash
# The wheel from dist/ uploaded by twine to a PEP 503 simple index started
# here on 127.0.0.1 (pypi_index.py), then installed from it by pip for
# win_amd64 into a folder: the DLL, the typed package and the console script's
# entry point must arrive.
#
# usage: registry_pypi.sh <dist> <VERSION file> <work folder>
set -euo pipefail
dist="$1" version="$(head -n 1 "$2")" work="$3"
here="$(cd "$(dirname "$0")" && pwd)"
project=quillmar-gpuinfo
server=""
cleanup() { if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/index"
python3 "$here/pypi_index.py" "$work/index" "$work/port" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.log"; echo "FAIL: the index did not start"; exit 1; }
port="$(cat "$work/port")"
wheel="$(ls "$dist"/quillmar_gpuinfo-"$version"-*.whl)"

twine check --strict "$wheel"
echo "publish: twine upload --repository-url http://127.0.0.1:$port/ $(basename "$wheel")"
twine upload --non-interactive --disable-progress-bar -u local -p local \
  --repository-url "http://127.0.0.1:$port/" "$wheel"
echo "install: pip install --index-url http://127.0.0.1:$port/simple/ --platform win_amd64 --only-binary=:all: --target $work/target $project==$version"
# --isolated: no pip configuration (a find-links folder) may supply the wheel.
python3 -m pip install --isolated --disable-pip-version-check --no-cache-dir --index-url "http://127.0.0.1:$port/simple/" \
  --platform win_amd64 --only-binary=:all: --target "$work/target" "$project==$version"

cd "$work/target"
fail=0
for f in quillmar_gpuinfo/quillmar-dxgi-gpu-info.dll quillmar_gpuinfo/py.typed quillmar_gpuinfo/__init__.py; do
  if [ -f "$f" ]; then echo "installed: $f ($(stat -c %s "$f") bytes)"; else echo "FAIL: $f not installed"; fail=1; fi
done
unzip -p "$dist/quillmar-dxgi-gpu-info-$version-win64.zip" bin/quillmar-dxgi-gpu-info.dll >"$work/release.dll"
cmp -s quillmar_gpuinfo/quillmar-dxgi-gpu-info.dll "$work/release.dll" \
  || { echo "FAIL: the installed DLL is not the release's"; fail=1; }
entry="$(ls -d quillmar_gpuinfo-"$version".dist-info)/entry_points.txt"
if grep -A5 '^\[console_scripts\]' "$entry" | grep -q '= *quillmar_gpuinfo'; then
  echo "console script: $(grep -A5 '^\[console_scripts\]' "$entry" | grep '=')"
else
  echo "FAIL: no console script in $entry"; fail=1
fi
grep -q "^Version: $version\$" quillmar_gpuinfo-"$version".dist-info/METADATA || { echo "FAIL: not version $version"; fail=1; }
[ "$fail" = 0 ] && echo "pypi registry: PASS"
exit "$fail"
