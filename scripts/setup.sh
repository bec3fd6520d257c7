#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (run as root), then
# configures and builds the Windows tree. Quiet and quick when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build python3 zip unzip
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 xvfb xauth libgl1-mesa-dri
  clang-14 llvm-14 libclang-rt-14-dev libgtest-dev libbenchmark-dev valgrind
  nodejs npm
  # Python, .NET and Go bindings: wheel tools, mono with its C# compiler and nuget, Go
  python3-build python3-hatchling python3-wheel mono-mcs mono-runtime libmono-system-runtime-serialization4.0-cil nuget golang-go
)
missing=()
for p in "${packages[@]}"; do
  # A nodejs from another source (nodesource) brings its own npm, which
  # Debian's npm package would conflict with.
  if [ "$p" = npm ] && command -v npm >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset mingw >/dev/null
cmake --build --preset mingw
