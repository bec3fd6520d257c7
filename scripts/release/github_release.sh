#!/usr/bin/env bash
# scripts/release/github_release.sh check|publish <dist>
#   check    dist/'s assets (its top-level files) are exactly those SHA256SUMS
#            lists, with those hashes
#   publish  the GitHub release of GITHUB_REF_NAME with those assets; a
#            release already holding the same assets is done, other ones fail
set -euo pipefail
fail() { echo "github_release.sh: $*" >&2; exit 1; }
[ $# -eq 2 ] || fail "usage: github_release.sh check|publish <dist>"
mode="$1" dist="$2"
cd "$dist"
listed="$(awk '{ print $2 }' SHA256SUMS | LC_ALL=C sort)"
present="$(find . -maxdepth 1 -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)"
[ "$listed" = "$present" ] || fail "SHA256SUMS lists $(echo $listed), dist/ holds $(echo $present)"
sha256sum --quiet --strict -c SHA256SUMS || fail "SHA256SUMS does not match dist/"
echo "github_release.sh: $(echo "$present" | wc -l) assets, each in SHA256SUMS"
[ "$mode" = check ] && exit 0
[ "$mode" = publish ] || fail "usage: github_release.sh check|publish <dist>"
[ -n "${GH_TOKEN:-}" ] || fail "no GH_TOKEN"
tag="${GITHUB_REF_NAME:?}"
if gh release view "$tag" --repo "$GITHUB_REPOSITORY" >/dev/null 2>&1; then
  there="$(mktemp -d)"
  gh release download "$tag" --repo "$GITHUB_REPOSITORY" --pattern SHA256SUMS --dir "$there"
  cmp -s "$there/SHA256SUMS" SHA256SUMS || fail "release $tag already exists with other assets"
  echo "github_release.sh: release $tag already holds these assets: done"
  exit 0
fi
# shellcheck disable=SC2086
gh release create "$tag" --repo "$GITHUB_REPOSITORY" --verify-tag --title "$tag" --notes "See CHANGELOG.md." \
  $present SHA256SUMS
