#!/usr/bin/env bash
# The Windows workflow's steps (.github/workflows/windows.yml), one call each,
# with the presets' own commands:
#   scripts/windows_ci.sh tools                  the wheel tools, in the runner's Python
#   scripts/windows_ci.sh build <preset>         configure and build
#   scripts/windows_ci.sh test <preset>          every test but the bindings'
#   scripts/windows_ci.sh test <preset> <label>  one binding's tests (a label that must exist)
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: scripts/windows_ci.sh tools | build <preset> | test <preset> [label]" >&2; exit 2; }
case "${1:-}" in
  tools) [ $# -eq 1 ] || usage; python -m pip install build hatchling ;;
  build) [ $# -eq 2 ] || usage; cmake --preset "$2"; cmake --build --preset "$2" ;;
  test)
    case $# in
      2) ctest --preset "$2" -LE "^binding-" ;;
      3) ctest --preset "$2" -L "^$3\$" --no-tests=error ;;
      *) usage ;;
    esac
    ;;
  *) usage ;;
esac
