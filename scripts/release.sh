#!/usr/bin/env bash
# scripts/release.sh: every package of one release, in dist/ (emptied first;
# GPUINFO_DIST names another folder), around the DLL and gpuinfo.exe the
# suites tested: the files of the preset's own build tree (build/<preset>/bin),
# never linked again. Three stages, which the release workflow runs in jobs of
# their own (the signing job runs no build code); with no argument, all three:
#
#   scripts/release.sh binaries DIR  copies the tested DLL and gpuinfo.exe to DIR
#                                    and their SHA-256 to DIR/tested.sha256 (builds
#                                    the preset's tree first if it has no DLL)
#   scripts/release.sh sign DIR      signs them in place: GPUINFO_SIGN_COMMAND
#                                    with each file's path as its last argument
#   scripts/release.sh pack DIR      dist/ from DIR's binaries, once they prove
#                                    to be the tested files (signature removed)
#                                    and carry an RFC 3161 time stamp
#
#   GPUINFO_RELEASE_PRESET  the preset (default mingw-clang: clang and lld, the
#                           toolchain that hardens the DLL with Control Flow
#                           Guard, which GCC can't)
#   GPUINFO_SIGN_COMMAND    the signing command; default, when GPUINFO_SIGN_PFX
#                           is set, scripts/release/osslsign.sh (osslsigncode)
#   GPUINFO_RELEASE_DRY_RUN 1: nothing is signed, and dist/ says so; without it
#                           and without a signing command, the release fails
#   GPUINFO_GPG_KEY         a key in gpg's keyring: the Maven files get .asc
#                           signatures
#
# The same commit gives the same bytes in dist/ once the Authenticode
# signatures are taken out (their time stamps differ): every other time
# stamp is the last commit's time (SOURCE_DATE_EPOCH), every archive lists
# its files in one order.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
start=$(date +%s)

preset="${GPUINFO_RELEASE_PRESET:-mingw-clang}"
dist="${GPUINFO_DIST:-$root/dist}"
tree="$root/build/$preset"
build="$root/build/release"
stage="$build/stage"
version="$(head -n 1 VERSION)"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
dll_name=quillmar-dxgi-gpu-info.dll
binaries=("$dll_name" gpuinfo.exe)
tools="$root/scripts/release"
sbom_tool_version=4.1.13
say() { echo "release: $*" >&2; }
fail() { echo "release: $*" >&2; exit 1; }
dry_run() { [ "${GPUINFO_RELEASE_DRY_RUN:-}" = 1 ]; }

# The tested binaries, by SHA-256, copied out of the preset's tree.
stage_binaries() {
  local out="$1"
  if [ ! -f "$tree/bin/$dll_name" ] || [ ! -f "$tree/bin/gpuinfo.exe" ]; then
    say "$tree holds no DLL: configuring and building the $preset preset (its suites have not run on these files)"
    cmake --preset "$preset" >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
    cmake --build --preset "$preset" --target bundle >/dev/null
  fi
  mkdir -p "$out"
  for f in "${binaries[@]}"; do cp "$tree/bin/$f" "$out/$f"; done
  (cd "$tree/bin" && sha256sum "${binaries[@]}") >"$out/tested.sha256"
  say "the tested binaries of $tree, in $out:"
  sed 's/^/  /' "$out/tested.sha256" >&2
}

sign_binaries() {
  local dir="$1" command
  if dry_run; then
    say "dry run (GPUINFO_RELEASE_DRY_RUN=1): the DLL and gpuinfo.exe are NOT signed"
    return
  fi
  command="${GPUINFO_SIGN_COMMAND:-}"
  if [ -z "$command" ] && [ -n "${GPUINFO_SIGN_PFX:-}" ]; then command="$tools/osslsign.sh"; fi
  [ -n "$command" ] || fail "no GPUINFO_SIGN_COMMAND (nor GPUINFO_SIGN_PFX for scripts/release/osslsign.sh): a release is signed; GPUINFO_RELEASE_DRY_RUN=1 makes an unsigned one"
  local argv
  read -r -a argv <<<"$command"
  for f in "${binaries[@]}"; do
    "${argv[@]}" "$dir/$f" || fail "$command $dir/$f failed"
  done
  say "signed $dll_name and gpuinfo.exe with: $command"
}

# The tested files as the preset's tree holds them now: still the ones in
# DIR/tested.sha256 (a tree built again must give the same bytes).
check_binaries() {
  local dir="$1" unsigned_ok=()
  [ -f "$dir/tested.sha256" ] || fail "$dir has no tested.sha256 (scripts/release.sh binaries makes it)"
  if [ ! -f "$tree/bin/$dll_name" ]; then
    say "$tree holds no DLL: building the $preset preset for the rest of the release"
    cmake --preset "$preset" >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
    cmake --build --preset "$preset" --target bundle >/dev/null
  fi
  (cd "$tree/bin" && sha256sum --quiet --strict -c "$dir/tested.sha256") \
    || fail "$tree/bin no longer holds the tested binaries of $dir/tested.sha256"
  if dry_run; then unsigned_ok=(--unsigned-ok); fi
  python3 "$tools/authenticode.py" check --tested "$tree/bin" --files "$dir" "${unsigned_ok[@]}" >&2 \
    || fail "the binaries in $dir are refused: nothing is packed"
}

mode="${1:-all}"
case "$mode" in
  binaries|sign|pack) [ $# -eq 2 ] || fail "usage: scripts/release.sh [binaries|sign|pack DIR]" ;;
  all) [ $# -le 1 ] || fail "usage: scripts/release.sh [binaries|sign|pack DIR]" ;;
  *) fail "usage: scripts/release.sh [binaries|sign|pack DIR]" ;;
esac
mkdir -p "$build"
case "$mode" in
  binaries) rm -rf "$2"; stage_binaries "$2"; exit 0 ;;
  sign) sign_binaries "$2"; exit 0 ;;
  pack) signed="$(cd "$2" && pwd)" ;;
  all)
    signed="$build/binaries"
    rm -rf "$signed"
    stage_binaries "$signed"
    sign_binaries "$signed"
    ;;
esac
check_binaries "$signed"

rm -rf "$dist" "$stage"
mkdir -p "$dist" "$stage"
dll="$stage/$dll_name"
cp "$signed/$dll_name" "$dll"
cp "$signed/gpuinfo.exe" "$stage/gpuinfo.exe"
# Assets of their own, beside every package that carries them.
cp "$signed/$dll_name" "$signed/gpuinfo.exe" "$dist/"

# Rewrites a zip (jar, wheel, nupkg) with its entries in name order, each
# dated SOURCE_DATE_EPOCH; a .psmdcp part gets a name from the content.
normalize_zip() { python3 "$tools/normalize.py" zip "$1"; }
normalize_tgz() { python3 "$tools/normalize.py" tgz "$1"; }

# 3. The zip: the install layout of the tested tree (as its bundle target
#    zips it), the signed binaries in place of the tree's.
cmake -DBUILD_DIR="$tree" -DCONFIG=Release -DSTAGE="$stage/bundle/quillmar-dxgi-gpu-info-$version-win64" \
  -DZIP_FILE="$dist/quillmar-dxgi-gpu-info-$version-win64.zip" -DZIP="$(command -v zip)" -DTOUCH="$(command -v touch)" \
  -DEPOCH="$SOURCE_DATE_EPOCH" -DREPLACE_BIN="$dll;$stage/gpuinfo.exe" -P packaging/MakeBundle.cmake

# The symbols: each image's PDB from the tested tree, in a symbol server's
# layout keyed by the CodeView entry the signed image carries (signing
# leaves it as it was).
symbols_zip="$dist/quillmar-dxgi-gpu-info-$version-symbols.zip"
python3 "$tools/symbols.py" "$symbols_zip" "$dll" "$tree/bin/${dll_name%.dll}.pdb" \
  "$stage/gpuinfo.exe" "$tree/bin/gpuinfo.pdb" >/dev/null
normalize_zip "$symbols_zip"

# 4. The wheel, by a python3 with build and hatchling (Debian's, where the
#    first on PATH lacks them).
wheel_python=python3
python3 -c "import build, hatchling" 2>/dev/null || wheel_python=/usr/bin/python3
py="$stage/python"
mkdir -p "$py/src/quillmar_gpuinfo"
cp bindings/python/pyproject.toml bindings/python/hatch_build.py bindings/python/README.md LICENSE "$py/"
cp bindings/python/src/quillmar_gpuinfo/*.py bindings/python/src/quillmar_gpuinfo/py.typed "$dll" \
  "$py/src/quillmar_gpuinfo/"
"$wheel_python" -m build --wheel --no-isolation --skip-dependency-check --outdir "$py/dist" "$py" >/dev/null
cp "$py"/dist/*.whl "$dist/"
twine check --strict "$dist"/*.whl >/dev/null

# 5. The npm tarball, packed as `npm pack` packs the package's own folder.
npm_dir="$stage/npm"
mkdir -p "$npm_dir/package"
cp bindings/node/package.json bindings/node/prepack.js bindings/node/index.js bindings/node/index.d.ts \
  bindings/node/README.md LICENSE "$dll" "$npm_dir/package/"
(cd "$npm_dir" && npm pack ./package --offline --loglevel=error --pack-destination "$dist" >/dev/null)
normalize_tgz "$dist/quillmar-dxgi-gpu-info-$version.tgz"

# 6. The .nupkg and its symbols, .snupkg.
nuget="$stage/nuget"
dotnet pack bindings/dotnet/Quillmar.GpuInfo.csproj -c Release --disable-build-servers -nologo -v:q -tl:off \
  --artifacts-path "$nuget/artifacts" -o "$nuget/out" -p:Version="$version" -p:NativeLibraryPath="$dll" \
  -p:IncludeSymbols=true -p:SymbolPackageFormat=snupkg -p:ContinuousIntegrationBuild=true >/dev/null
for pkg in "$nuget/out/Quillmar.GpuInfo.$version.nupkg" "$nuget/out/Quillmar.GpuInfo.$version.snupkg"; do
  cp "$pkg" "$dist/"
  normalize_zip "$dist/$(basename "$pkg")"
done

# 7. The .crate, packed from a copy of the binding: the hook where the crate
#    takes the DLL is native/ in that copy, filled when the binding has one.
rust="$stage/rust"
cp -rL bindings/rust "$rust"
rm -rf "$rust/target"
if [ -d "$rust/native" ]; then cp "$dll" "$rust/native/"; fi
# Debian's crates (offline) go with Debian's cargo, which need not be the
# first on PATH; elsewhere, the cargo on PATH (or CARGO) and crates.io.
cargo_program="${CARGO:-}"
if [ -z "$cargo_program" ] && [ -d /usr/share/cargo/registry ] && [ -x /usr/bin/cargo ]; then cargo_program=/usr/bin/cargo; fi
if [ -z "$cargo_program" ]; then cargo_program="$(command -v cargo || true)"; fi
[ -n "$cargo_program" ] || fail "cargo not found (scripts/setup.sh test installs Debian's; CARGO names another)"
cargo_home="$build/cargo-home"
mkdir -p "$cargo_home"
if [ -d /usr/share/cargo/registry ]; then
  printf '[source.crates-io]\nreplace-with = "local"\n\n[source.local]\ndirectory = "/usr/share/cargo/registry"\n\n[net]\noffline = true\n' \
    >"$cargo_home/config.toml"
fi
(cd "$rust" && CARGO_HOME="$cargo_home" CARGO_TARGET_DIR="$rust/target" "$cargo_program" package --no-verify --allow-dirty --quiet)
cp "$rust/target/package/quillmar-gpuinfo-$version.crate" "$dist/"
normalize_tgz "$dist/quillmar-gpuinfo-$version.crate"

# 8. The Maven files: the jar (Maven, offline from Debian's repository where it
#    is there), the pom, the sources and the javadoc.
maven_dir="$dist/maven/com/quillmar/quillmar-gpuinfo/$version"
base="$maven_dir/quillmar-gpuinfo-$version"
mkdir -p "$maven_dir" "$stage/java"
maven_repository=()
if [ -d /usr/share/maven-repo ]; then maven_repository=(--offline --settings bindings/java/debian-settings.xml); fi
mvn "${maven_repository[@]}" --batch-mode --quiet -Dstyle.color=never --file bindings/java/pom.xml \
  -Dgpuinfo.build.dir="$stage/java/target" -Dgpuinfo.dll.dir="$stage" -Dmaven.test.skip=true package >/dev/null
cp "$stage/java/target/quillmar-gpuinfo-$version.jar" "$base.jar"
cp bindings/java/pom.xml "$base.pom"
jar_date="$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)"
(cd bindings/java/src/main/java && jar --create --date="$jar_date" --file "$base-sources.jar" $(find . -name '*.java' | sort))
# The binding's one dependency as a jar, for javadoc to resolve its types.
java_jars="${GPUINFO_JAVA_JARS:-/usr/share/java}"
[ -f "$java_jars/jna.jar" ] \
  || fail "javadoc needs jna.jar in $java_jars (scripts/setup.sh test installs Debian's; GPUINFO_JAVA_JARS names another folder)"
classpath="$java_jars/jna.jar"
javadoc -quiet -notimestamp -Xdoclint:none -encoding UTF-8 -d "$stage/java/javadoc" -classpath "$classpath" \
  $(find bindings/java/src/main/java -name '*.java' | sort) >/dev/null
(cd "$stage/java/javadoc" && jar --create --date="$jar_date" --file "$base-javadoc.jar" $(find . -type f | sort))
for f in "$base.jar" "$base-sources.jar" "$base-javadoc.jar"; do normalize_zip "$f"; done
if [ -n "${GPUINFO_GPG_KEY:-}" ]; then
  # Signed at the commit's time, or at the key's birth if the key is younger
  # (gpg refuses a signature older than its key): with a deterministic key
  # type (EdDSA, as the tests make) two runs give the same .asc, and so the
  # same bill of materials and SHA256SUMS.
  key_created="$(gpg --batch --with-colons --list-keys "$GPUINFO_GPG_KEY" | awk -F: '$1 == "pub" { print $6; exit }')"
  sign_time=$SOURCE_DATE_EPOCH
  if [ -n "$key_created" ] && [ "$key_created" -gt "$sign_time" ]; then sign_time=$key_created; fi
  for f in "$base.pom" "$base.jar" "$base-sources.jar" "$base-javadoc.jar"; do
    # gpg warns on every run with a faked time; its words are shown only on failure.
    gpg --batch --yes --faked-system-time "$sign_time!" --local-user "$GPUINFO_GPG_KEY" --armor --detach-sign \
      --output "$f.asc" "$f" 2>"$stage/gpg.log" || { cat "$stage/gpg.log" >&2; exit 1; }
  done
  say "signed the Maven files with GPG key $GPUINFO_GPG_KEY"
fi

# 9. The Go module as its proxy serves it, from a copy of the binding (the
#    same hook as the crate's: native/ in that copy).
#    The copy holds the files git tracks, as the tag the proxy zips does.
go_dir="$stage/go"
tracked="$(git ls-files -z bindings/go | tr '\0' '\n' | wc -l)"
[ "$tracked" -gt 0 ] || fail "git tracks no files in bindings/go (the Go module is packed from a git checkout)"
git ls-files -z bindings/go | tar --null -T - -cf - | tar -xf - -C "$stage"
mv "$stage/bindings/go" "$go_dir"
rmdir "$stage/bindings"
cp "$dll" "$go_dir/native/"
# golang.org/x/mod in GOPATH form: Debian's golang-golang-x-mod-dev, or
# GPUINFO_GOPATH naming another.
go_path="${GPUINFO_GOPATH:-/usr/share/gocode}"
[ -d "$go_path/src/golang.org/x/mod" ] \
  || fail "golang.org/x/mod not found in $go_path/src (scripts/setup.sh test installs golang-golang-x-mod-dev; GPUINFO_GOPATH names another GOPATH)"
(cd "$tools" && GO111MODULE=off GOPATH="$go_path" GOCACHE="$build/go-cache" GOFLAGS= \
  go build -trimpath -o "$stage/goproxy" goproxy.go)
"$stage/goproxy" "$go_dir" "v$version" "$SOURCE_DATE_EPOCH" "$dist/goproxy"

# The two folders as release assets of their own.
for folder in maven goproxy; do
  zip_name="quillmar-dxgi-gpu-info-$version-$folder.zip"
  (cd "$dist" && find "$folder" -type f | LC_ALL=C sort | zip -X -D -q -9 "$zip_name" -@)
  normalize_zip "$dist/$zip_name"
done

# 10. The bill of materials (SPDX, Microsoft's sbom-tool) of everything above.
sbom_tools="$build/tools"
if [ ! -x "$sbom_tools/sbom-tool" ]; then
  dotnet tool install --tool-path "$sbom_tools" Microsoft.Sbom.DotNetTool --version "$sbom_tool_version" >/dev/null
fi
sbom_drop="$stage/sbom-drop"
sbom_components="$stage/sbom-components"
mkdir -p "$sbom_components"
cp bindings/node/package.json bindings/rust/Cargo.toml bindings/java/pom.xml bindings/go/go.mod \
  bindings/python/pyproject.toml "$sbom_components/"
cp -r "$dist" "$sbom_drop"
DOTNET_ROLL_FORWARD=Major "$sbom_tools/sbom-tool" generate -b "$sbom_drop" -bc "$sbom_components" -pn quillmar-dxgi-gpu-info -pv "$version" \
  -ps quillmar -nsb https://github.com/quillmar/quillmar-dxgi-gpu-info -V Error >/dev/null
python3 "$tools/normalize.py" spdx "$sbom_drop/_manifest/spdx_2.2/manifest.spdx.json" \
  "$dist/quillmar-dxgi-gpu-info-$version.spdx.json"

# 11. SHA256SUMS of the release's assets, the files at the top of dist/
#     (the folders beside them are in their zips), and one line per file.
(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
(cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
  printf '%-100s %9s  %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done)
say "dist/ made in $(( $(date +%s) - start )) s from the $preset build"
