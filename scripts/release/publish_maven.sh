#!/usr/bin/env bash
# scripts/release/publish_maven.sh <dist> <version>: the Maven files of
# dist/'s Maven zip to Maven Central through the Central portal: a version
# already on Maven Central with the same jar is done, with another jar a
# failure; otherwise the bundle (the repository layout with .md5 and .sha1 of
# each file) is uploaded for automatic publishing, and the deployment's
# status polled until PUBLISHED (done) or FAILED (a failure), or the wait
# runs out (a failure). CENTRAL_USERNAME and CENTRAL_PASSWORD: a portal token.
set -euo pipefail
fail() { echo "publish_maven.sh: $*" >&2; exit 1; }
[ $# -eq 2 ] || fail "usage: publish_maven.sh <dist> <version>"
dist="$1" version="$2"
[ -n "${CENTRAL_USERNAME:-}" ] && [ -n "${CENTRAL_PASSWORD:-}" ] || fail "no CENTRAL_USERNAME and CENTRAL_PASSWORD"
portal="${CENTRAL_PORTAL:-https://central.sonatype.com}"
central="${MAVEN_CENTRAL:-https://repo1.maven.org/maven2}"
path="com/quillmar/quillmar-gpuinfo/$version"
poll_seconds=20
polls=90
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unzip -q "$dist/quillmar-dxgi-gpu-info-$version-maven.zip" -d "$work"
jar="$work/maven/$path/quillmar-gpuinfo-$version.jar"
ls "$work/maven/$path"/*.asc >/dev/null 2>&1 || fail "Maven Central takes signed files only: the Maven zip has no .asc"

status="$(curl -sS -o "$work/there.jar" -w '%{http_code}' "$central/$path/quillmar-gpuinfo-$version.jar")"
if [ "$status" = 200 ]; then
  cmp -s "$work/there.jar" "$jar" || fail "Maven Central already has $version with another jar"
  echo "publish_maven.sh: Maven Central already has $version with this jar: done"
  exit 0
fi
[ "$status" = 404 ] || fail "Maven Central answered $status for $central/$path"

(cd "$work/maven" && find . -type f | while read -r f; do
  md5sum "$f" | cut -d' ' -f1 >"$f.md5"
  sha1sum "$f" | cut -d' ' -f1 >"$f.sha1"
done && zip -q -r -X ../bundle.zip com)
token="$(printf '%s:%s' "$CENTRAL_USERNAME" "$CENTRAL_PASSWORD" | base64 -w0)"
deployment="$(curl -sS --fail-with-body -H "Authorization: Bearer $token" --form bundle=@"$work/bundle.zip" \
  "$portal/api/v1/publisher/upload?publishingType=AUTOMATIC&name=quillmar-gpuinfo-$version")"
echo "publish_maven.sh: deployment $deployment uploaded"
for _ in $(seq 1 "$polls"); do
  state="$(curl -sS --fail-with-body -X POST -H "Authorization: Bearer $token" \
    "$portal/api/v1/publisher/status?id=$deployment" | python3 -c 'import json, sys; print(json.load(sys.stdin)["deploymentState"])')"
  echo "publish_maven.sh: deployment $deployment: $state"
  case "$state" in
    PUBLISHED) exit 0 ;;
    FAILED) fail "Maven Central refused deployment $deployment" ;;
  esac
  sleep "$poll_seconds"
done
fail "deployment $deployment not PUBLISHED after $((poll_seconds * polls)) s"
