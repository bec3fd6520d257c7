#!/usr/bin/env bash
# scripts/release/publish.sh pypi|npm|nuget|crates-io|maven-central <dist>
# Publishes one registry's package from dist/, the bytes SHA256SUMS lists.
# A version already published with the same bytes is done; with other bytes,
# a failure (a registry never replaces a version). A missing credential
# fails. npm, PyPI, NuGet and crates.io take a short-lived token from the
# workflow's OIDC identity (trusted publishing); Maven Central a portal token.
#   NPM_REGISTRY   another npm registry (the tests' verdaccio); NPM, the npm program
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
fail() { echo "publish.sh: $*" >&2; exit 1; }
[ $# -eq 2 ] || fail "usage: publish.sh pypi|npm|nuget|crates-io|maven-central <dist>"
registry="$1" dist="$(cd "$2" && pwd)"
version="$(awk '{ print $2 }' "$dist/SHA256SUMS" | sed -n 's/^quillmar-dxgi-gpu-info-\(.*\)-win64\.zip$/\1/p')"
[ -n "$version" ] || fail "no release zip in $dist/SHA256SUMS"
(cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) || fail "$dist does not match its SHA256SUMS"

# An OIDC token for <audience>, from the job's id-token permission.
oidc() {
  [ -n "${ACTIONS_ID_TOKEN_REQUEST_URL:-}" ] || fail "no OIDC identity: the job needs id-token: write"
  curl -sSf -H "Authorization: bearer $ACTIONS_ID_TOKEN_REQUEST_TOKEN" "$ACTIONS_ID_TOKEN_REQUEST_URL&audience=$1" \
    | python3 -c 'import json, sys; print(json.load(sys.stdin)["value"])'
}
json_field() { python3 -c "import json, sys; print(json.load(sys.stdin)$1)"; }
same_or_fail() { # <what> <ours> <theirs>
  [ "$2" = "$3" ] || fail "$1 is already published with other bytes ($3, ours $2)"
  echo "publish.sh: $1 is already published with these bytes: done"
  exit 0
}

case "$registry" in
  npm)
    tgz="$dist/quillmar-dxgi-gpu-info-$version.tgz"
    ours="sha512-$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)"
    args=(${NPM_REGISTRY:+--registry "$NPM_REGISTRY"})
    npm="${NPM:-npm}"
    theirs="$("$npm" view "quillmar-dxgi-gpu-info@$version" dist.integrity "${args[@]}" 2>/dev/null || true)"
    [ -z "$theirs" ] || same_or_fail "npm quillmar-dxgi-gpu-info@$version" "$ours" "$theirs"
    if [ -z "${NPM_REGISTRY:-}" ]; then
      [ -n "${ACTIONS_ID_TOKEN_REQUEST_URL:-}" ] || fail "no OIDC identity for npm's trusted publishing"
      args+=(--provenance)
    fi
    "$npm" publish "$tgz" --access public "${args[@]}"
    ;;
  pypi)
    wheel="$(ls "$dist"/quillmar_gpuinfo-"$version"-*.whl)"
    ours="$(sha256sum "$wheel" | cut -d' ' -f1)"
    theirs="$(curl -sSf "https://pypi.org/pypi/quillmar-gpuinfo/$version/json" 2>/dev/null \
      | json_field '["urls"][0]["digests"]["sha256"]' || true)"
    [ -z "$theirs" ] || same_or_fail "PyPI quillmar-gpuinfo $version" "$ours" "$theirs"
    token="$(curl -sSf -X POST -d "{\"token\": \"$(oidc pypi)\"}" https://pypi.org/_/oidc/mint-token | json_field '["token"]')"
    TWINE_USERNAME=__token__ TWINE_PASSWORD="$token" python3 -m twine upload --non-interactive "$wheel"
    ;;
  nuget)
    nupkg="$dist/Quillmar.GpuInfo.$version.nupkg"
    [ -n "${NUGET_USER:-}" ] || fail "no NUGET_USER (the nuget.org account of the trusted publishing policy)"
    there="$(mktemp -d)"
    if curl -sSf -o "$there/there.nupkg" "https://api.nuget.org/v3-flatcontainer/quillmar.gpuinfo/$version/quillmar.gpuinfo.$version.nupkg" 2>/dev/null; then
      # nuget.org adds its repository signature: compared without it.
      ours="$(python3 "$here/zip_digest.py" "$nupkg" .signature.p7s)"
      same_or_fail "NuGet Quillmar.GpuInfo $version" "$ours" "$(python3 "$here/zip_digest.py" "$there/there.nupkg" .signature.p7s)"
    fi
    key="$(curl -sSf -X POST -H "Authorization: Bearer $(oidc https://www.nuget.org)" -H "Content-Type: application/json" \
      -d "{\"username\": \"$NUGET_USER\", \"tokenType\": \"ApiKey\"}" https://www.nuget.org/api/v2/token | json_field '["apiKey"]')"
    dotnet nuget push "$nupkg" --api-key "$key" --source https://api.nuget.org/v3/index.json
    ;;
  crates-io)
    crate="$dist/quillmar-gpuinfo-$version.crate"
    status=0
    python3 "$here/publish_crate.py" --check "$crate" || status=$?
    [ "$status" -eq 0 ] && exit 0
    [ "$status" -eq 3 ] || fail "crates.io refuses this .crate"
    token="$(curl -sSf -X POST -H "Content-Type: application/json" -d "{\"jwt\": \"$(oidc crates.io)\"}" \
      https://crates.io/api/v1/trusted_publishing/tokens | json_field '["token"]')"
    CARGO_REGISTRY_TOKEN="$token" python3 "$here/publish_crate.py" "$crate"
    ;;
  maven-central)
    [ -n "${CENTRAL_USERNAME:-}" ] && [ -n "${CENTRAL_PASSWORD:-}" ] || fail "no CENTRAL_USERNAME and CENTRAL_PASSWORD"
    "$here/publish_maven.sh" "$dist" "$version"
    ;;
  *) fail "usage: publish.sh pypi|npm|nuget|crates-io|maven-central <dist>" ;;
esac
