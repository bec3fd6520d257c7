#!/usr/bin/env bash
# scripts/release/in_debian.sh <script> [args]: runs a repository script in a
# Debian 12 container on the runner, the checkout mounted at /src, as the
# project's CI runs on Debian 12 itself. Passes the release's variables on.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -ge 1 ] || { echo "usage: in_debian.sh <script> [args]" >&2; exit 2; }
command -v docker >/dev/null || { echo "in_debian.sh: docker not found" >&2; exit 1; }
passed=()
for v in GITHUB_REF_NAME GPG_PRIVATE_KEY GPG_KEY_ID SOURCE_DATE_EPOCH; do passed+=(-e "$v"); done
exec docker run --rm -v "$root:/src" -w /src "${passed[@]}" debian:12 bash -c \
  'apt-get update -qq && apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null && git config --global --add safe.directory /src && exec "$@"' \
  in_debian "$@"
