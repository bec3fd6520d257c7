#!/usr/bin/env bash
# The release workflow's build job (in Debian 12): the tag is VERSION; the
# packages the tests take; the mingw-clang build and its whole suite; then the
# tested DLL and gpuinfo.exe, with their SHA-256, in build/release/unsigned.
set -euo pipefail
cd "$(dirname "$0")/../.."
version="$(head -n 1 VERSION)"
if [ -n "${GITHUB_REF_NAME:-}" ] && [ "$GITHUB_REF_NAME" != "v$version" ]; then
  echo "ci_build.sh: tag $GITHUB_REF_NAME but VERSION says $version" >&2; exit 1
fi
scripts/setup.sh test
# Debian's Go (the Go module tools are its packages).
export PATH="/usr/lib/go-1.19/bin:$PATH"
cmake --preset mingw-clang >/dev/null
cmake --build --preset mingw-clang
ctest --preset mingw-clang --repeat until-pass:2
scripts/release.sh binaries build/release/unsigned
