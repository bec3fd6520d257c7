#!/usr/bin/env bash
# The release workflow's pack job (in Debian 12): the GPG key for the Maven
# files, when given; the mingw-clang tree built again (release.sh refuses it
# unless its DLL and gpuinfo.exe are the tested bytes); dist/ from the signed
# binaries in <dir>.
set -euo pipefail
cd "$(dirname "$0")/../.."
[ $# -eq 1 ] || { echo "usage: ci_pack.sh <signed binaries>" >&2; exit 2; }
scripts/setup.sh test
# Debian's Go (the Go module tools are its packages).
export PATH="/usr/lib/go-1.19/bin:$PATH"
[ -n "${GPG_PRIVATE_KEY:-}" ] && [ -n "${GPG_KEY_ID:-}" ] \
  || { echo "ci_pack.sh: no GPG_PRIVATE_KEY and GPG_KEY_ID: Maven Central takes signed files only" >&2; exit 1; }
printf '%s' "$GPG_PRIVATE_KEY" | gpg --batch --import
export GPUINFO_GPG_KEY="$GPG_KEY_ID"
scripts/release.sh pack "$1"
