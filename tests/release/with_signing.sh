#!/usr/bin/env bash
# with_signing.sh <certificates folder> <command>...: runs the command with
# the signing set-up of make_certificates.sh's folder in its environment (the
# default signing command, osslsign.sh, with the folder's certificate and
# time-stamp authority; the Maven files' GPG key), then stops that keyring's
# agent, whatever the command's end.
set -uo pipefail
certs="$1"
shift
export GPUINFO_SIGN_PFX="$certs/sign.pfx" GPUINFO_SIGN_PASSWORD="$(cat "$certs/password.txt")" \
  GPUINFO_TSA_CERTS="$certs/tsa-chain.pem" GPUINFO_TSA_KEY="$certs/tsa.key" \
  GNUPGHOME="$certs/gnupg" GPUINFO_GPG_KEY="$(cat "$certs/gpg-key.txt")"
unset GPUINFO_SIGN_COMMAND GPUINFO_TIMESTAMP_URL GPUINFO_RELEASE_DRY_RUN
"$@"
status=$?
gpgconf --homedir "$certs/gnupg" --kill all
exit $status
