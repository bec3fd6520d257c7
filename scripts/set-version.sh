#!/usr/bin/env bash
# scripts/set-version.sh X.Y.Z
# Writes the version into VERSION, which CMake reads, and into every file that
# carries its own copy: the DLL's version text and each binding's manifest.
# The release test (ctest -L release) compares what the packages then say.
set -euo pipefail
cd "$(dirname "$0")/.."
v="${1:-}"
if ! [[ "$v" =~ ^(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)\.(0|[1-9][0-9]*)$ ]]; then
  echo "usage: scripts/set-version.sh MAJOR.MINOR.PATCH (got '${v}')" >&2
  exit 2
fi

# file, then a Python regular expression whose group 1 is the text before the
# version and group 3 the text after it; exactly one match is expected.
edits=(
  VERSION '^()([0-9.]+)(\n)'
  src/gpuinfo.cpp '(static const char VERSION\[\] = ")([0-9.]+)(";)'
  bindings/python/src/quillmar_gpuinfo/__init__.py '(\n__version__ = ")([0-9.]+)(")'
  bindings/node/package.json '(\n  "version": ")([0-9.]+)(")'
  bindings/rust/Cargo.toml '(\[package\]\nname = "[^"]+"\nversion = ")([0-9.]+)(")'
  bindings/java/pom.xml '(<artifactId>quillmar-gpuinfo</artifactId>\n  <version>)([0-9.]+)(</version>)'
  bindings/dotnet/Quillmar.GpuInfo.csproj '(<Version>)([0-9.]+)(</Version>)'
)
python3 - "$v" "${edits[@]}" <<'PY'
import re, sys
version, edits = sys.argv[1], sys.argv[2:]
for path, pattern in zip(edits[::2], edits[1::2]):
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    new, count = re.subn(pattern, lambda m: m.group(1) + version + m.group(3), text)
    if count != 1:
        sys.exit(f"set-version: {path}: expected one version, found {count}")
    if new != text:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(new)
        print(f"{path}: {version}")
PY
