#!/usr/bin/env bash
# A build tree configured before the test tools were installed, and
# configured again once they are, must be the tree that a machine which had
# them from the start gets: the probes must not keep their first answers.
#
# "Before" is the state of a fresh machine of this project's kind after
# scripts/run.sh: rustup's cargo first on PATH, and neither Debian's cargo nor
# its crate folder yet. Debian's are hidden in a private mount namespace
# (root), rustup's is a stand-in first on PATH.
#   check_stale_probes.sh <source dir> <work dir> <toolchain file>
# Exit 77: this machine can't hide them (not root, no unshare).
set -euo pipefail
src=$1 work=$2 toolchain=$3
debian_cargo=/usr/bin/cargo debian_crates=/usr/share/cargo/registry

if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || [ ! -x "$debian_cargo" ] || [ ! -d "$debian_crates" ]; then
  echo "SKIP: needs root, unshare, $debian_cargo and $debian_crates"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work/hidden/share-cargo" "$work/rustup"
: >"$work/hidden/cargo" # not a program: find_program passes it by
printf '#!/bin/sh\necho "rustup cargo stand-in: no Windows target here" >&2\nexit 1\n' >"$work/rustup/cargo"
chmod +x "$work/rustup/cargo"
export PATH="$work/rustup:$PATH"

configure() { # <tree>
  cmake -S "$src" -B "$work/$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DGPUINFO_CARGO_DIR="$work/$1-cargo" -DGPUINFO_GO_CACHE="$work/go" -DGPUINFO_NPM_CACHE="$work/npm" \
    >"$work/$1.log" 2>&1 || { cat "$work/$1.log"; echo "FAIL: configure of $1"; exit 1; }
}
export -f configure
export src work toolchain
unshare -m bash -c "mount --bind '$work/hidden/cargo' $debian_cargo &&
                    mount --bind '$work/hidden/share-cargo' $(dirname $debian_crates) && configure late"
echo "before the install: $(grep -E '^GPUINFO_CARGO(_REGISTRY)?:' "$work/late/CMakeCache.txt" | tr '\n' ' ')"
configure late
# Configured twice as well: CMake's first configure writes a few lines differently.
configure fresh
configure fresh

# What the configure answered, and what it generated, with the trees' own names taken out.
answers() { grep -E '^[A-Za-z_0-9]+:(FILEPATH|PATH|BOOL|STRING)=' "$work/$1/CMakeCache.txt" | grep -v -E '^CMAKE_' | sort; }
generated() { sed -e "s|$work/$1|TREE|g" "$work/$1/build.ninja"; }
status=0
if ! diff <(answers late) <(answers fresh | sed -e "s|$work/fresh|$work/late|g"); then
  echo "FAIL: the re-configured tree's cache differs from a fresh tree's (above: < re-configured, > fresh)"
  status=1
fi
if ! diff <(generated late) <(generated fresh) >"$work/build.ninja.diff"; then
  head -n 40 "$work/build.ninja.diff"
  echo "FAIL: the re-configured tree's build.ninja differs from a fresh tree's"
  status=1
fi
if ! diff -r "$work/late-cargo/home" "$work/fresh-cargo/home"; then
  echo "FAIL: cargo's configuration differs"
  status=1
fi
if [ $status -eq 0 ]; then
  # And the Rust binding builds in it, rustup's stand-in still first on PATH.
  if ! cmake --build "$work/late" --target rust_binding_crate >"$work/crate.log" 2>&1; then
    tail -n 20 "$work/crate.log"
    echo "FAIL: the Rust crate does not build in the re-configured tree"
    status=1
  fi
fi
[ $status -eq 0 ] && echo "after the install: $(grep -E '^GPUINFO_CARGO(_REGISTRY)?:' "$work/late/CMakeCache.txt" | tr '\n' ' ')"
[ $status -eq 0 ] && echo "PASS: a tree configured before the install equals a fresh one, and its Rust crate builds"
exit $status
