#!/usr/bin/env bash
# Installs what this project needs on Debian 12 (run as root): the one list of
# packages, in two parts.
#   scripts/setup.sh build   what building the DLL and gpuinfo.exe and running
#                            them under Wine takes (scripts/run.sh)
#   scripts/setup.sh test    that, and what every test takes (scripts/test.sh)
# Quiet and quick when all is there; says what it installs.
set -euo pipefail
cd "$(dirname "$0")/.."

build_packages=(
  cmake ninja-build python3 zip unzip
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 xvfb xauth libgl1-mesa-dri
)
test_packages=(
  # clang + lld for the windows-gnu target, clang-cl + lld-link for the MSVC
  # ABI, llvm-dlltool and the llvm readers for import libraries (LLVM 19);
  # Wine's own Windows headers for compiling the sources in MSVC mode
  clang-19 clang-tools-19 lld-19 llvm-19 libwine-dev
  # the native sanitizer build, its fuzzer, its report checker and the benchmarks
  libclang-rt-19-dev libgtest-dev nlohmann-json3-dev libbenchmark-dev valgrind
  # the Node.js binding's tests (Windows node.exe comes from the npm registry)
  nodejs npm
  # Python and Go bindings: wheel tools (and pip, which installs the wheel in its test), mypy, Go.
  # The .NET binding takes the .NET SDK (dotnet, 8 or later) the machine carries, and NuGet.
  python3-build python3-hatchling python3-wheel python3-pip mypy golang-go
  # the binary checks read the finished DLL with pefile
  python3-pefile
  # the workflow rules read the workflows as YAML
  python3-yaml
  # the Java binding: Java 17, and Maven offline against Debian's repository
  # of Java packages (/usr/share/maven-repo): the plugins it builds and tests
  # with, JNA and JUnit 5
  openjdk-17-jdk-headless maven libmaven-resources-plugin-java libmaven-compiler-plugin-java
  libmaven-jar-plugin-java libsurefire-java libjna-java junit5
  # the Maven release test deploys with the deploy plugin to a file:// repository
  libmaven-deploy-plugin-java
  # the Rust binding: Debian's Rust with its Windows standard library, the
  # crates it builds from (offline), clippy and rustfmt
  rustc cargo libstd-rust-dev-windows rust-clippy rustfmt
  librust-serde-dev librust-serde-derive-dev librust-serde-json-dev librust-libloading-dev librust-winapi-dev
  # a checkout as Windows makes it (tests/workflow)
  git
  # the ARM64 suite: an arm64 Debian chroot with aarch64 Wine, run through
  # qemu and binfmt_misc (scripts/arm64_wine.sh)
  debootstrap qemu-user-static binfmt-support
  # releasing (scripts/release.sh and its tests): Authenticode signing,
  # throwaway certificates, the PyPI checks, GPG signatures of the Maven
  # files and the Go module proxy's layout
  osslsigncode openssl twine gnupg golang-golang-x-mod-dev
)

case "${1:-}" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh build|test" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  # A nodejs from another source (nodesource) brings its own npm, which
  # Debian's npm package would conflict with.
  if [ "$p" = npm ] && command -v npm >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
