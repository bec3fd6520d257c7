#!/usr/bin/env bash
# The release workflow's signing job: signs the tested binaries in <dir> in
# place through GPUINFO_SIGN_COMMAND (or osslsign.sh with the PKCS#12 file in
# GPUINFO_SIGN_PFX_BASE64), then checks each is the file it was, signed with
# an RFC 3161 time stamp. Runs no build: only the signing tool.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -eq 1 ] || { echo "usage: sign_job.sh <dir>" >&2; exit 2; }
dir="$1"
if [ -z "${GPUINFO_SIGN_COMMAND:-}" ] && [ -n "${GPUINFO_SIGN_PFX_BASE64:-}" ]; then
  command -v osslsigncode >/dev/null || sudo apt-get install -y -qq osslsigncode >/dev/null
  pfx="${RUNNER_TEMP:-/tmp}/sign.pfx"
  printf '%s' "$GPUINFO_SIGN_PFX_BASE64" | base64 -d >"$pfx"
  export GPUINFO_SIGN_PFX="$pfx"
  trap 'rm -f "$pfx"' EXIT
fi
unsigned="$(mktemp -d)"
cp "$dir"/quillmar-dxgi-gpu-info.dll "$dir"/gpuinfo.exe "$unsigned/"
(cd "$dir" && sha256sum --quiet --strict -c tested.sha256) || { echo "sign_job.sh: $dir is not what tested.sha256 lists" >&2; exit 1; }
"$root/scripts/release.sh" sign "$dir"
python3 "$root/scripts/release/authenticode.py" check --tested "$unsigned" --files "$dir"
