#!/usr/bin/env bash
# scripts/release/windows_consumers.sh <dist> <version> <work>: on Windows
# (Git Bash; the verify-windows job), each package of dist/ published to a
# local copy of its registry, as tests/release/ makes them, installed from
# there by its own client into a fresh project, and run in the machine's real
# runtime against real DXGI. Each consumer prints the library's version and
# its report; both are checked.
#   PyPI    twine to tests/release/pypi_index.py on 127.0.0.1, pip install
#   npm     verdaccio on 127.0.0.1 (tests/release/registry_npm.py's set-up), npm install
#   NuGet   a folder source holding the .nupkg, dotnet add package
#   Maven   dist/'s repository folder as a file:// repository, mvn
#   Go      dist/goproxy as GOPROXY=file://, go get
#   Cargo   the .crate's contents patched in for crates.io's, cargo run
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -eq 3 ] || { echo "usage: windows_consumers.sh <dist> <version> <work>" >&2; exit 2; }
dist="$1" version="$2" work="$3"
fail() { echo "windows_consumers.sh: FAIL: $*" >&2; exit 1; }
# The verdaccio the Debian tests use (tests/release/CMakeLists.txt).
verdaccio_version="$(sed -n 's/^set(GPUINFO_VERDACCIO_VERSION \([0-9.]*\) .*/\1/p' "$root/tests/release/CMakeLists.txt")"
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true' EXIT
judge() { # <name> <output file>
  cat "$2"
  grep -q "^library $version" "$2" || fail "$1: no library $version"
  grep -q '{"adapters":\[' "$2" || fail "$1: no report"
  echo "consumer $1: PASS"
}
wait_port() { for _ in $(seq 1 200); do [ -s "$1" ] && return 0; sleep 0.1; done; fail "no port in $1"; }

# PyPI
mkdir -p "$work/pypi/index"
python "$root/tests/release/pypi_index.py" "$work/pypi/index" "$work/pypi/port" >"$work/pypi/server.log" 2>&1 &
server=$!
wait_port "$work/pypi/port"
port="$(cat "$work/pypi/port")"
python -m pip install --disable-pip-version-check twine
python -m twine upload --non-interactive -u local -p local --repository-url "http://127.0.0.1:$port/" \
  "$dist"/quillmar_gpuinfo-"$version"-*.whl
python -m venv "$work/pypi/venv"
"$work/pypi/venv/Scripts/python" -m pip install --isolated --no-cache-dir --index-url "http://127.0.0.1:$port/simple/" \
  "quillmar-gpuinfo==$version"
kill "$server"; server=""
"$work/pypi/venv/Scripts/python" -c 'import quillmar_gpuinfo as g; print("library", g.version()); print(g.report())' \
  >"$work/pypi/out.txt"
judge python "$work/pypi/out.txt"

# npm
mkdir -p "$work/npm/consumer"
python "$root/tests/release/serve_npm_registry.py" "$work/npm" "$(command -v npm)" "$(command -v node)" "$verdaccio_version" \
  >"$work/npm/server.log" 2>&1 &
server=$!
wait_port "$work/npm/url"
registry="$(cat "$work/npm/url")"
printf '%s/:_authToken=%s\n' "${registry#http:}" "$(cat "$work/npm/token")" >"$work/npm/.npmrc"
NPM_CONFIG_USERCONFIG="$work/npm/.npmrc" npm publish "$dist/quillmar-dxgi-gpu-info-$version.tgz" --registry "$registry"
(cd "$work/npm/consumer" && npm init -y >/dev/null && npm install "quillmar-dxgi-gpu-info@$version" --registry "$registry")
kill "$server"; server=""
(cd "$work/npm/consumer" && node -e 'const g = require("quillmar-dxgi-gpu-info"); console.log(`library ${g.version()}`); console.log(g.report());') \
  >"$work/npm/out.txt"
judge node "$work/npm/out.txt"

# NuGet
mkdir -p "$work/nuget/source"
cp "$dist/Quillmar.GpuInfo.$version.nupkg" "$work/nuget/source/"
(cd "$work/nuget" && dotnet new console -o consumer --force >/dev/null)
(cd "$work/nuget/consumer" && dotnet new nugetconfig --force >/dev/null &&
  dotnet nuget add source "$(cygpath -w "$work/nuget/source")" -n release --configfile nuget.config &&
  dotnet add package Quillmar.GpuInfo --version "$version" &&
  printf 'System.Console.WriteLine("library " + Quillmar.Graphics.GpuInfo.Version);\nSystem.Console.WriteLine(Quillmar.Graphics.GpuInfo.Report());\n' >Program.cs &&
  dotnet run) >"$work/nuget/out.txt"
judge dotnet "$work/nuget/out.txt"

# Maven
mkdir -p "$work/maven/repository" "$work/maven/consumer/src/main/java"
unzip -q -o "$dist/quillmar-dxgi-gpu-info-$version-maven.zip" -d "$work/maven/unpacked"
repository="file:///$(cygpath -m "$work/maven/unpacked/maven")"
cat >"$work/maven/consumer/pom.xml" <<POM
<project xmlns="http://maven.apache.org/POM/4.0.0">
  <modelVersion>4.0.0</modelVersion>
  <groupId>example</groupId><artifactId>consumer</artifactId><version>1</version>
  <properties><maven.compiler.release>17</maven.compiler.release></properties>
  <repositories><repository><id>release</id><url>$repository</url></repository></repositories>
  <dependencies><dependency><groupId>com.quillmar</groupId><artifactId>quillmar-gpuinfo</artifactId><version>$version</version></dependency></dependencies>
</project>
POM
cat >"$work/maven/consumer/src/main/java/Main.java" <<'JAVA'
public class Main {
    public static void main(String[] args) {
        System.out.println("library " + com.quillmar.gpuinfo.GpuInfo.version());
        System.out.println(com.quillmar.gpuinfo.GpuInfo.report());
    }
}
JAVA
(cd "$work/maven/consumer" && mvn -B -q dependency:build-classpath -Dmdep.outputFile=cp.txt compile &&
  java -cp "target/classes;$(cat cp.txt)" Main) >"$work/maven/out.txt"
judge java "$work/maven/out.txt"

# Go
mkdir -p "$work/go/consumer"
cat >"$work/go/consumer/main.go" <<'GO'
package main

import (
	"fmt"

	gpuinfo "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"
)

func main() {
	version, err := gpuinfo.Version()
	if err != nil {
		panic(err)
	}
	report, err := gpuinfo.Report()
	if err != nil {
		panic(err)
	}
	fmt.Printf("library %s\n%s\n", version, report)
}
GO
mkdir -p "$work/go/proxy" && unzip -q -o "$dist/quillmar-dxgi-gpu-info-$version-goproxy.zip" -d "$work/go/proxy"
(cd "$work/go/consumer" && export GOPROXY="file:///$(cygpath -m "$work/go/proxy/goproxy")" GOSUMDB=off GOFLAGS=-mod=mod &&
  go mod init example.com/consumer && go get "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go@v$version" &&
  go run .) >"$work/go/out.txt"
judge go "$work/go/out.txt"

# Cargo
mkdir -p "$work/cargo/crate" "$work/cargo/consumer/src"
tar -xzf "$dist/quillmar-gpuinfo-$version.crate" -C "$work/cargo/crate"
cat >"$work/cargo/consumer/Cargo.toml" <<TOML
[package]
name = "consumer"
version = "0.1.0"
edition = "2021"

[dependencies]
quillmar-gpuinfo = "=$version"

[patch.crates-io]
quillmar-gpuinfo = { path = "$(cygpath -m "$work/cargo/crate/quillmar-gpuinfo-$version")" }
TOML
cat >"$work/cargo/consumer/src/main.rs" <<'RS'
fn main() {
    println!("library {}", quillmar_gpuinfo::version().expect("version"));
    println!("{}", quillmar_gpuinfo::report().expect("report"));
}
RS
(cd "$work/cargo/consumer" && cargo run --quiet) >"$work/cargo/out.txt"
judge rust "$work/cargo/out.txt"
echo "consumers: python, node, dotnet, java, go, rust passed"
