#!/bin/sh
# Builds the libFuzzer target of the native sanitizer build and fuzzes the
# report path for a bounded time (default 60 seconds) on a scratch copy of the
# seed corpus, so the committed corpus only changes by hand. Exits non-zero on
# any crash, sanitizer report or failed check; the crashing input is left in
# build/native/fuzz-artifacts/.
#   tests/native/fuzz.sh [seconds]
set -eu

seconds=${1:-60}
case $seconds in
  '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/../.." && pwd)/build/native

if [ -z "${FUZZ_BINARY:-}" ]; then
  (cd "$here" && cmake --preset native-asan >/dev/null)
  cmake --build "$build" --target fuzz_report
  FUZZ_BINARY=$build/fuzz_report
fi

scratch=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
rm -rf "$scratch"
mkdir -p "$scratch" "$artifacts"
cp "$here"/corpus/* "$scratch"/

# Leaks are checked too; a slow input counts as a failure after 10 seconds.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS UBSAN_OPTIONS

exec "$FUZZ_BINARY" \
  -max_total_time="$seconds" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -max_len=4096 \
  -print_final_stats=1 \
  -artifact_prefix="$artifacts/" \
  "$scratch"
