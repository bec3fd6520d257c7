#!/usr/bin/env bash
# scripts/release/osslsign.sh <file>: signs a PE file in place with
# osslsigncode (Authenticode, SHA-256) and an RFC 3161 time stamp: the
# project's default GPUINFO_SIGN_COMMAND. A signing service's or an HSM's
# own tool takes its place by naming it in GPUINFO_SIGN_COMMAND.
#
#   GPUINFO_SIGN_PFX        the PKCS#12 file (certificate chain and key)
#   GPUINFO_SIGN_PASSWORD   its password
#   GPUINFO_TIMESTAMP_URL   the RFC 3161 time-stamp authority
# or, in place of the URL, a local authority (the tests' throwaway one):
#   GPUINFO_TSA_CERTS, GPUINFO_TSA_KEY  its certificate chain and key (PEM)
#   GPUINFO_TSA_TIME                    the time it stamps (default: now)
# The signing time is SOURCE_DATE_EPOCH when set.
set -euo pipefail
fail() { echo "osslsign.sh: $*" >&2; exit 1; }
[ $# -eq 1 ] || fail "usage: osslsign.sh <file>"
file="$1"
[ -f "$file" ] || fail "no file $file"
command -v osslsigncode >/dev/null || fail "osslsigncode not found (scripts/setup.sh test installs it)"
[ -n "${GPUINFO_SIGN_PFX:-}" ] || fail "GPUINFO_SIGN_PFX names no PKCS#12 file"
[ -f "$GPUINFO_SIGN_PFX" ] || fail "GPUINFO_SIGN_PFX: no file $GPUINFO_SIGN_PFX"
[ -n "${GPUINFO_SIGN_PASSWORD:-}" ] || fail "GPUINFO_SIGN_PASSWORD is empty"

stamp=()
if [ -n "${GPUINFO_TIMESTAMP_URL:-}" ]; then
  stamp=(-ts "$GPUINFO_TIMESTAMP_URL")
elif [ -n "${GPUINFO_TSA_CERTS:-}" ] && [ -n "${GPUINFO_TSA_KEY:-}" ]; then
  stamp=(-TSA-certs "$GPUINFO_TSA_CERTS" -TSA-key "$GPUINFO_TSA_KEY" -TSA-time "${GPUINFO_TSA_TIME:-$(date +%s)}")
else
  fail "no time-stamp authority: set GPUINFO_TIMESTAMP_URL (a signature without an RFC 3161 time stamp stops verifying when its certificate expires)"
fi
signing_time=()
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then signing_time=(-time "$SOURCE_DATE_EPOCH"); fi

out="$file.signing"
trap 'rm -f "$out"' EXIT
osslsigncode sign -pkcs12 "$GPUINFO_SIGN_PFX" -readpass <(printf '%s' "$GPUINFO_SIGN_PASSWORD") -h sha256 \
  -n "quillmar-dxgi-gpu-info" -i "https://github.com/quillmar/quillmar-dxgi-gpu-info" \
  "${signing_time[@]}" "${stamp[@]}" -in "$file" -out "$out" >"$out.log" 2>&1 \
  || { cat "$out.log" >&2; rm -f "$out.log"; fail "osslsigncode could not sign $file"; }
rm -f "$out.log"
mv "$out" "$file"
