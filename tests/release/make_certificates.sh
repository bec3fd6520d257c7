#!/usr/bin/env bash
# make_certificates.sh <folder>: a throwaway certificate authority; a
# code-signing certificate it issued, as sign.pfx (password in password.txt),
# valid for SIGNER_DAYS only, so a check can stand after its expiry
# (signer-expiry.txt, in seconds since 1970); a time-stamp authority it
# issued, tsa.pem (with the authority's, tsa-chain.pem) and tsa.key, valid
# for years, as a real one is; and a second authority that issued nothing,
# for the verification that must fail. And a throwaway GPG signing key in its
# own keyring, gnupg/ (fingerprint in gpg-key.txt), for the Maven files'
# signatures; no passphrase, and its agent stopped again here.
set -euo pipefail
out="$1"
if [ -d "$out/gnupg" ]; then gpgconf --homedir "$out/gnupg" --kill all 2>/dev/null || true; fi
rm -rf "$out" && mkdir -p "$out" && cd "$out"
openssl_quiet() { openssl "$@" 2>/dev/null; }
SIGNER_DAYS=1
AUTHORITY_DAYS=3650
for ca in ca other-ca; do
  openssl_quiet req -x509 -newkey rsa:2048 -nodes -keyout "$ca.key" -out "$ca.pem" -days "$AUTHORITY_DAYS" \
    -subj "/CN=gpuinfo release test $ca" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
done
openssl_quiet req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj "/CN=gpuinfo release test signer"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >sign.ext
openssl_quiet x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out sign.pem -days "$SIGNER_DAYS" \
  -extfile sign.ext
date -d "$(openssl x509 -in sign.pem -noout -enddate | cut -d= -f2)" +%s >signer-expiry.txt
openssl_quiet req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=gpuinfo release test time stamps"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >tsa.ext
openssl_quiet x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out tsa.pem -days "$AUTHORITY_DAYS" \
  -extfile tsa.ext
cat tsa.pem ca.pem >tsa-chain.pem
openssl rand -hex 16 >password.txt
openssl_quiet pkcs12 -export -out sign.pfx -inkey sign.key -in sign.pem -certfile ca.pem \
  -passout "file:password.txt"
mkdir -m 700 gnupg
gpg_quiet() { gpg --homedir gnupg --batch --quiet "$@" 2>/dev/null; }
gpg_quiet --passphrase '' --quick-generate-key "gpuinfo release test <release-test@invalid>" ed25519 sign 2d
gpg_quiet --list-secret-keys --with-colons | awk -F: '$1 == "fpr" { print $10; exit }' >gpg-key.txt
gpgconf --homedir gnupg --kill all
