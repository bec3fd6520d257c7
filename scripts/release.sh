#!/usr/bin/env bash
# scripts/release.sh: every package of one release, in dist/ (emptied first;
# GPUINFO_DIST names another folder), around one build of the DLL and
# gpuinfo.exe.
#
#   GPUINFO_RELEASE_PRESET  the preset that builds them (default mingw-clang:
#                           clang and lld, the toolchain that hardens the DLL
#                           with Control Flow Guard, which GCC can't)
#   GPUINFO_SIGN_PFX        a PKCS#12 file; with GPUINFO_SIGN_PASSWORD, the DLL
#                           and gpuinfo.exe are Authenticode-signed before
#                           anything packs them (no time stamp server: the
#                           signing time is SOURCE_DATE_EPOCH)
#   GPUINFO_GPG_KEY         a key in gpg's keyring: the Maven files get .asc
#                           signatures
#
# The same commit gives the same bytes in dist/: every time stamp is the last
# commit's time (SOURCE_DATE_EPOCH), every archive lists its files in one
# order. Authenticode and GPG signatures are made at SOURCE_DATE_EPOCH (GPG's
# no earlier than its key) and compare equal too.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
start=$(date +%s)

preset="${GPUINFO_RELEASE_PRESET:-mingw-clang}"
dist="${GPUINFO_DIST:-$root/dist}"
build="$root/build/release"
stage="$build/stage"
version="$(head -n 1 VERSION)"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
dll_name=quillmar-dxgi-gpu-info.dll
tools="$root/scripts/release"
sbom_tool_version=4.1.13
say() { echo "release: $*" >&2; }

rm -rf "$dist" "$stage"
mkdir -p "$dist" "$stage"

# 1. The DLL and gpuinfo.exe, linked afresh so an earlier signature is never
#    signed over.
say "building the DLL and gpuinfo.exe with the $preset preset"
cmake --preset "$preset" -B "$build" -DGPUINFO_BUILD_TESTS=OFF -DGPUINFO_BUILD_BINDINGS=OFF \
  -DGPUINFO_BUILD_BENCHMARKS=OFF >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
rm -f "$build/bin/$dll_name" "$build/bin/gpuinfo.exe"
cmake --build "$build" --target gpuinfo gpuinfo_tool >/dev/null

# 2. Signed in place, before anything packs them.
if [ -n "${GPUINFO_SIGN_PFX:-}" ] && [ -n "${GPUINFO_SIGN_PASSWORD:-}" ]; then
  for exe in "$build/bin/$dll_name" "$build/bin/gpuinfo.exe"; do
    osslsigncode sign -pkcs12 "$GPUINFO_SIGN_PFX" -readpass <(printf '%s' "$GPUINFO_SIGN_PASSWORD") \
      -h sha256 -n "quillmar-dxgi-gpu-info" -i "https://github.com/quillmar/quillmar-dxgi-gpu-info" \
      -time "$SOURCE_DATE_EPOCH" -in "$exe" -out "$exe.signed" >/dev/null
    mv "$exe.signed" "$exe"
  done
  say "signed $dll_name and gpuinfo.exe"
else
  say "no GPUINFO_SIGN_PFX and GPUINFO_SIGN_PASSWORD: the DLL and gpuinfo.exe are not signed"
fi
dll="$stage/$dll_name"
cp "$build/bin/$dll_name" "$dll"
cp "$build/bin/gpuinfo.exe" "$stage/gpuinfo.exe"

# Rewrites a zip (jar, wheel, nupkg) with its entries in name order, each
# dated SOURCE_DATE_EPOCH; a .psmdcp part gets a name from the content.
normalize_zip() { python3 "$tools/normalize.py" zip "$1"; }
normalize_tgz() { python3 "$tools/normalize.py" tgz "$1"; }

# 3. The zip: the install layout of that build (the bundle target zips it).
cmake --build "$build" --target bundle >/dev/null
cp "$build/quillmar-dxgi-gpu-info-$version-win64.zip" "$dist/"

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
cargo_home="$build/cargo-home"
mkdir -p "$cargo_home"
if [ -d /usr/share/cargo/registry ]; then
  printf '[source.crates-io]\nreplace-with = "local"\n\n[source.local]\ndirectory = "/usr/share/cargo/registry"\n\n[net]\noffline = true\n' \
    >"$cargo_home/config.toml"
fi
(cd "$rust" && CARGO_HOME="$cargo_home" CARGO_TARGET_DIR="$rust/target" /usr/bin/cargo package --no-verify --allow-dirty --quiet)
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
classpath="$(ls /usr/share/java/jna.jar 2>/dev/null | paste -sd:)"
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
go_dir="$stage/go"
cp -r bindings/go "$go_dir"
if [ -d "$go_dir/native" ]; then cp "$dll" "$go_dir/native/"; fi
(cd "$tools" && GO111MODULE=off GOPATH=/usr/share/gocode GOCACHE="$build/go-cache" GOFLAGS= \
  go build -trimpath -o "$stage/goproxy" goproxy.go)
"$stage/goproxy" "$go_dir" "v$version" "$SOURCE_DATE_EPOCH" "$dist/goproxy"

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

# 11. SHA256SUMS of every file, and one line per file.
(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
(cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
  printf '%-100s %9s  %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
done)
say "dist/ made in $(( $(date +%s) - start )) s from the $preset build"
