#!/usr/bin/env bash
# scripts/release/go_tag.sh commit|push <repository> <dist> <vX.Y.Z>
#
# The Go module's release: the proxy zips the tagged tree, so the DLL the
# module embeds must be in it. The development branch never holds one
# (bindings/go/native/.gitignore): it goes in on a commit of its own on top
# of the checked-out one, tagged bindings/go/<version> and merged nowhere.
#   commit  makes that commit and the tag in <repository>
#   push    then pushes the tag to origin, the release's last step (it can't
#           be undone). A tag already there with the same module folder is
#           done; with another, a failure. Pushes with GITHUB_TOKEN (the
#           checkout keeps no credentials).
set -euo pipefail
fail() { echo "go_tag.sh: $*" >&2; exit 1; }
[ $# -eq 4 ] || fail "usage: go_tag.sh commit|push <repository> <dist> <vX.Y.Z>"
mode="$1" repo="$2" dist="$3" version="$4"
tag="bindings/go/$version"
dll="$dist/quillmar-dxgi-gpu-info.dll"
[ -f "$dll" ] || fail "no $dll"

cd "$repo"
cp "$dll" bindings/go/native/
git add -f bindings/go/native/quillmar-dxgi-gpu-info.dll
when="@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
GIT_AUTHOR_NAME="github-actions[bot]" GIT_AUTHOR_EMAIL="41898282+github-actions[bot]@users.noreply.github.com" \
  GIT_COMMITTER_NAME="github-actions[bot]" GIT_COMMITTER_EMAIL="41898282+github-actions[bot]@users.noreply.github.com" \
  GIT_AUTHOR_DATE="$when" GIT_COMMITTER_DATE="$when" \
  git commit -q -m "Go module $version: the signed DLL, embedded by the module"
git tag -f "$tag" >/dev/null
echo "go_tag.sh: $tag is $(git rev-parse HEAD) (bindings/go tree $(git rev-parse HEAD:bindings/go))"
[ "$mode" = commit ] && exit 0
[ "$mode" = push ] || fail "usage: go_tag.sh commit|push <repository> <dist> <vX.Y.Z>"

[ -n "${GITHUB_TOKEN:-}" ] || fail "no GITHUB_TOKEN: the tag can't be pushed"
auth=(-c "http.extraheader=AUTHORIZATION: basic $(printf 'x-access-token:%s' "$GITHUB_TOKEN" | base64 -w0)")
if git "${auth[@]}" ls-remote --exit-code --tags origin "refs/tags/$tag" >/dev/null; then
  git "${auth[@]}" fetch -q origin "refs/tags/$tag"
  if [ "$(git rev-parse FETCH_HEAD:bindings/go)" = "$(git rev-parse HEAD:bindings/go)" ]; then
    echo "go_tag.sh: $tag is already published with this module folder: done"
    exit 0
  fi
  fail "$tag is already published with another module folder: a published Go version can't change"
fi
git "${auth[@]}" push origin "refs/tags/$tag"
echo "go_tag.sh: pushed $tag"
