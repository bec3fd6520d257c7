#!/usr/bin/env bash
# scripts/verify_windows.sh <stage> <dist>: the release's dist/ checked on a
# Windows machine (the release workflow's verify-windows job, in Git Bash),
# before anything is published. Stages, in the order "all" runs them:
#   layout      dist/'s assets are exactly SHA256SUMS's, with those hashes; every
#               kind of asset is there once; the DLL and gpuinfo.exe are the zip's
#   signatures  Windows' own Authenticode check (Get-AuthenticodeSignature): a
#               valid signature with an RFC 3161 time stamp, on each PE file of
#               dist/ and of every package
#   consumers   each package published to a local copy of its registry made from
#               dist/ (as tests/release/ makes them), installed from there by its
#               own client, and run in the machine's real CPython, Node.js, .NET,
#               JVM, Go and Rust against real DXGI
#   host        the Windows-host tests (the windows-msvc preset: Visual Studio's
#               compilers on PATH) against real DXGI, and dist/'s gpuinfo.exe
# "layout" runs anywhere (the Debian tests run it); the others need Windows.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
usage() { echo "usage: scripts/verify_windows.sh layout|signatures|consumers|host|all <dist>" >&2; exit 2; }
fail() { echo "verify_windows.sh: failed: $*" >&2; exit 1; }
[ $# -eq 2 ] || usage
stage="$1"
[ -d "$2" ] || fail "no dist folder $2"
dist="$(cd "$2" && pwd)"
version="$(head -n 1 "$root/VERSION" | tr -d '\r')"
dll=quillmar-dxgi-gpu-info.dll
work="${RUNNER_TEMP:-${TMPDIR:-/tmp}}/verify-windows"
# One asset of each kind, by name.
assets=(
  "$dll" gpuinfo.exe SHA256SUMS
  "quillmar-dxgi-gpu-info-$version-win64.zip" "quillmar_gpuinfo-$version-py3-none-win_amd64.whl"
  "Quillmar.GpuInfo.$version.nupkg" "Quillmar.GpuInfo.$version.snupkg" "quillmar-dxgi-gpu-info-$version.tgz"
  "quillmar-gpuinfo-$version.crate" "quillmar-dxgi-gpu-info-$version-maven.zip"
  "quillmar-dxgi-gpu-info-$version-goproxy.zip" "quillmar-dxgi-gpu-info-$version.spdx.json"
  "quillmar-dxgi-gpu-info-$version-symbols.zip"
)

on_windows() {
  case "$(uname -s)" in MINGW*|MSYS*|CYGWIN*) return 0 ;; esac
  fail "the $stage stage needs Windows (it ran on $(uname -s))"
}

layout() {
  local listed present expected
  listed="$(awk '{ print $2 }' "$dist/SHA256SUMS" | LC_ALL=C sort)"
  present="$(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)"
  [ "$listed" = "$present" ] || fail "SHA256SUMS lists [$(echo $listed)], dist/ holds [$(echo $present)]"
  (cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS) || fail "a file of dist/ is not what SHA256SUMS says"
  expected="$(printf '%s\n' "${assets[@]}" | LC_ALL=C sort)"
  [ "$(printf '%s\nSHA256SUMS\n' "$present" | LC_ALL=C sort)" = "$expected" ] \
    || fail "dist/ holds [$(echo $present)], the release is [$(echo $expected)]"
  for f in "$dll" gpuinfo.exe; do
    unzip -p "$dist/quillmar-dxgi-gpu-info-$version-win64.zip" "bin/$f" | cmp -s - "$dist/$f" \
      || fail "dist/$f is not the zip's bin/$f"
  done
  echo "layout: ${#assets[@]} assets, exactly those of SHA256SUMS; the DLL and gpuinfo.exe are the zip's"
}

signatures() {
  on_windows
  local folder="$work/signatures"
  rm -rf "$folder" && mkdir -p "$folder"
  cp "$dist/$dll" "$dist/gpuinfo.exe" "$folder/"
  unzip -q -o "$dist/quillmar-dxgi-gpu-info-$version-win64.zip" 'bin/*' -d "$folder/zip"
  unzip -q -o "$dist/quillmar_gpuinfo-$version-py3-none-win_amd64.whl" "quillmar_gpuinfo/$dll" -d "$folder/wheel"
  unzip -q -o "$dist/Quillmar.GpuInfo.$version.nupkg" "runtimes/win-x64/native/$dll" -d "$folder/nupkg"
  mkdir -p "$folder/npm" && tar -xzf "$dist/quillmar-dxgi-gpu-info-$version.tgz" -C "$folder/npm" "package/$dll"
  powershell.exe -NoProfile -NonInteractive -Command "
    \$bad = 0
    Get-ChildItem -Recurse -Include *.dll,*.exe '$(cygpath -w "$folder")' | ForEach-Object {
      \$s = Get-AuthenticodeSignature \$_.FullName
      \$stamped = \$null -ne \$s.TimeStamperCertificate
      Write-Output (\"{0}: {1}, signer {2}, time stamp by {3}\" -f \$_.FullName, \$s.Status, \$s.SignerCertificate.Subject, \$s.TimeStamperCertificate.Subject)
      if (\$s.Status -ne 'Valid' -or -not \$stamped) { \$bad += 1 }
    }
    exit \$bad" || fail "a PE file without a valid, time-stamped signature"
}

consumers() {
  on_windows
  rm -rf "$work/consumers" && mkdir -p "$work/consumers"
  "$root/scripts/release/windows_consumers.sh" "$dist" "$version" "$work/consumers"
}

host() {
  on_windows
  "$root/scripts/windows_ci.sh" build windows-msvc
  "$root/scripts/windows_ci.sh" test windows-msvc
  "$dist/gpuinfo.exe" --json >"$work/gpuinfo.json" || fail "dist/gpuinfo.exe --json failed on this machine"
  grep -q '^{"adapters":\[' "$work/gpuinfo.json" || fail "dist/gpuinfo.exe printed no report"
  echo "host: dist/gpuinfo.exe on real DXGI: $(head -c 300 "$work/gpuinfo.json")"
}

mkdir -p "$work"
case "$stage" in
  layout) layout ;;
  signatures) signatures ;;
  consumers) consumers ;;
  host) host ;;
  all) layout; signatures; consumers; host ;;
  *) usage ;;
esac
