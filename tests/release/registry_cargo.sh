#!/usr/bin/env bash
# The .crate from dist/ laid out as a directory source (unpacked, with the
# .cargo-checksum.json cargo checks), beside Debian's crates, in place of
# crates.io: a fresh crate with quillmar-gpuinfo = "1.0" builds for
# x86_64-pc-windows-gnu with Debian's cargo and runs under Wine with no DLL
# beside it: the crate embeds its own. Then `cargo publish --dry-run` of the
# crate as released, against the same sources.
#
# usage: registry_cargo.sh <dist> <VERSION file> <work folder> <wine> <mingw gcc>
set -euo pipefail
dist="$1" version="$(head -n 1 "$2")" work="$3" wine="$4" linker="$5"
crate=quillmar-gpuinfo
debian=/usr/share/cargo/registry
target=x86_64-pc-windows-gnu
dll_name=quillmar-dxgi-gpu-info.dll
cleanup() { WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/registry" "$work/home"
export CARGO_HOME="$work/home" CARGO_TARGET_DIR="$work/target" WINAPI_NO_BUNDLED_LIBRARIES=1 \
  CARGO_PROFILE_DEV_DEBUG=false CARGO_TERM_COLOR=never PATH="/usr/bin:$PATH"

# Publish: Debian's crates linked in, ours unpacked with its checksums.
for d in "$debian"/*/; do ln -s "${d%/}" "$work/registry/"; done
echo "publish: unpack $dist/$crate-$version.crate into the directory source $work/registry with .cargo-checksum.json"
tar -xzf "$dist/$crate-$version.crate" -C "$work/registry"
python3 - "$work/registry/$crate-$version" "$dist/$crate-$version.crate" <<'PY'
import hashlib, json, os, sys
top, packed = sys.argv[1], sys.argv[2]
files = {}
for folder, _, names in os.walk(top):
    for name in names:
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            files[os.path.relpath(path, top)] = hashlib.sha256(f.read()).hexdigest()
with open(packed, "rb") as f:
    package = hashlib.sha256(f.read()).hexdigest()
with open(os.path.join(top, ".cargo-checksum.json"), "w") as f:
    json.dump({"files": files, "package": package}, f, sort_keys=True)
PY
cat >"$CARGO_HOME/config.toml" <<TOML
[source.crates-io]
replace-with = "local"

[source.local]
directory = "$work/registry"

[net]
offline = true

[target.$target]
linker = "$linker"
TOML

mkdir -p "$work/consumer/src"
cd "$work/consumer"
cat >Cargo.toml <<TOML
[package]
name = "consumer"
version = "0.1.0"
edition = "2021"

[dependencies]
$crate = "1.0"
TOML
cat >src/main.rs <<'RS'
fn main() {
    let version = quillmar_gpuinfo::version().expect("version");
    let report = quillmar_gpuinfo::report().expect("report");
    println!("library {version}\n{report}");
}
RS
echo "install: cargo build --target $target (Cargo.toml: $crate = \"1.0\")"
cargo build --quiet --target "$target"
exe="$CARGO_TARGET_DIR/$target/debug/consumer.exe"
[ ! -e "$(dirname "$exe")/$dll_name" ] || { echo "FAIL: a DLL beside $exe: the program must use the one the crate embeds"; exit 1; }
echo "consumer output:"
RUST_BACKTRACE=0 "$wine" "$exe" >"$work/output.txt" 2>&1 </dev/null || { cat "$work/output.txt"; echo "FAIL: the consumer failed"; exit 1; }
cat "$work/output.txt"
grep -q "^library $version\$" "$work/output.txt" || { echo "FAIL: no library $version"; exit 1; }
grep -q '^{"adapters":\[' "$work/output.txt" || { echo "FAIL: no report"; exit 1; }
# `cargo publish --dry-run` can't run offline: cargo refuses to publish to a
# directory source ("does not support API commands"), and crates.io's index
# is not reachable here. What it would upload is checked instead: the file
# list cargo packs from the released crate's own files.
copy="$work/crate"
cp -r "$work/registry/$crate-$version" "$copy"
rm -f "$copy/.cargo-checksum.json"
mv "$copy/Cargo.toml.orig" "$copy/Cargo.toml"
if (cd "$copy" && cargo publish --dry-run --allow-dirty >"$work/publish.txt" 2>&1); then
  echo "cargo publish --dry-run: passed"
else
  echo "cargo publish --dry-run (offline, refused): $(head -n 1 "$work/publish.txt")"
fi
(cd "$copy" && cargo package --list --allow-dirty) >"$work/list.txt"
echo "cargo package --list:"; cat "$work/list.txt"
for f in build.rs native/$dll_name src/lib.rs LICENSE; do
  grep -qx "$f" "$work/list.txt" || { echo "FAIL: cargo package leaves out $f"; exit 1; }
done
echo "cargo registry: PASS"
