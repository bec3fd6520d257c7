#!/usr/bin/env bash
# The Go module the proxy makes from the release tag is dist/'s: a scratch
# clone of this commit gets the release commit the workflow makes (dist/'s
# signed DLL added to bindings/go/native/, scripts/release/go_tag.sh), and the
# module hash of its bindings/go, zipped as the go command zips a tagged
# folder, must equal that of dist/goproxy's zip. The folder's LICENSE is the
# project's (the proxy takes the repository's only when the folder has none).
#
# usage: go_module_hash.sh <source> <dist> <VERSION file> <work folder>
set -euo pipefail
source_dir="$1" dist="$(cd "$2" && pwd)" version="v$(head -n 1 "$3")" work="$(mkdir -p "$4" && cd "$4" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
module_zip="$dist/goproxy/github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go/@v/$version.zip"
if ! git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "SKIP: $source_dir is not a git work tree"; exit 77
fi
cmp -s "$source_dir/LICENSE" "$source_dir/bindings/go/LICENSE" \
  || { echo "FAIL: bindings/go/LICENSE is not the project's LICENSE"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
git clone --quiet --no-hardlinks "$source_dir" "$work/clone"
"$source_dir/scripts/release/go_tag.sh" commit "$work/clone" "$dist" "$version"
GO111MODULE=off GOPATH="${GPUINFO_GOPATH:-/usr/share/gocode}" GOCACHE="$work/go-cache" GOFLAGS= \
  go build -o "$work/gomodhash" "$here/gomodhash/main.go"
"$work/gomodhash" "$work/clone" HEAD bindings/go "$version" "$module_zip"
