#!/usr/bin/env bash
# scripts/release/in_debian.sh <script> [args]: runs a repository script in a
# Debian 12 container on the runner, the checkout mounted at /src, as the
# project's CI runs on Debian 12 itself. Passes the release's variables on.
# Debian 12 has no .NET SDK, and its Node.js is older than the tests' (20):
# as on the project's own machine, they come from elsewhere, here the
# runner's own (portable builds), mounted read-only and first on PATH.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -ge 1 ] || { echo "usage: in_debian.sh <script> [args]" >&2; exit 2; }
command -v docker >/dev/null || { echo "in_debian.sh: docker not found" >&2; exit 1; }
passed=()
for v in GITHUB_REF_NAME GPG_PRIVATE_KEY GPG_KEY_ID SOURCE_DATE_EPOCH; do passed+=(-e "$v"); done
mounts=() path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
node_program="$(command -v node || true)"
if [ -n "$node_program" ]; then
  mounts+=(-v "$(dirname "$(dirname "$(readlink -f "$node_program")")"):/opt/node:ro"); path="/opt/node/bin:$path"
fi
dotnet_root="${DOTNET_ROOT:-$(dirname "$(readlink -f "$(command -v dotnet || echo /nonexistent/dotnet)")")}"
if [ -x "$dotnet_root/dotnet" ]; then
  mounts+=(-v "$dotnet_root:/opt/dotnet:ro" -e DOTNET_ROOT=/opt/dotnet); path="/opt/dotnet:$path"
fi
exec docker run --rm -v "$root:/src" -w /src "${passed[@]}" "${mounts[@]}" -e PATH="$path" debian:12 bash -c \
  'apt-get update -qq && apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null && git config --global --add safe.directory /src && exec "$@"' \
  in_debian "$@"
