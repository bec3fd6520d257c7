#!/usr/bin/env bash
# The release workflow's job scripts, run here as its jobs run them, so a
# runner runs nothing untried: the build job's last step (release.sh
# binaries), the signing job (sign_job.sh, with the fixture's throwaway
# certificate and time stamp authority), the packing job (ci_pack.sh, with the
# fixture's GPG key handed over as the workflow's secret is) and the GitHub
# release's check (github_release.sh check). What needs a runner alone (docker
# in in_debian.sh, the registries, gh) is left out; the rest of ci_build.sh is
# the preset's own build and suite, which CI runs anyway.
# usage: check_workflow_scripts.sh <source> <certificates> <work>
set -euo pipefail
root="$1" certs="$2" work="$3"
rm -rf "$work"
mkdir -p "$work/gnupg"
chmod 700 "$work/gnupg"
step() { echo "== $*"; "$@"; }

step "$root/scripts/release.sh" binaries "$work/binaries"
step "$root/tests/release/with_signing.sh" "$certs" "$root/scripts/release/sign_job.sh" "$work/binaries"
key_id="$(cat "$certs/gpg-key.txt")"
secret_key="$(gpg --homedir "$certs/gnupg" --batch --armor --export-secret-keys "$key_id")"
gpgconf --homedir "$certs/gnupg" --kill all
# The packing job's secrets, and a keyring of its own as a runner has.
status=0
GNUPGHOME="$work/gnupg" GPG_PRIVATE_KEY="$secret_key" GPG_KEY_ID="$key_id" GPUINFO_DIST="$work/dist" \
  step "$root/scripts/release/ci_pack.sh" "$work/binaries" >"$work/pack.log" 2>&1 || status=$?
gpgconf --homedir "$work/gnupg" --kill all
[ $status -eq 0 ] || { cat "$work/pack.log"; echo "ci_pack.sh failed ($status)"; echo "0 passed, 1 failed"; exit 1; }
tail -n 1 "$work/pack.log"
step "$root/scripts/release/github_release.sh" check "$work/dist"
cmp "$work/binaries/quillmar-dxgi-gpu-info.dll" "$work/dist/quillmar-dxgi-gpu-info.dll"
echo "the signing job's DLL is the one dist/ ships"
echo "1 passed, 0 failed"
