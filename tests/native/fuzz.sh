#!/bin/sh
# Builds the libFuzzer targets of the native sanitizer build and fuzzes each
# for its share of a bounded time (default 60 seconds in all): the report
# path (fuzz_report, seeds in tests/native/corpus) and the report reader
# (fuzz_reader, seeds in tests/reader/corpus). Each runs on a scratch copy of
# its seeds, so the committed corpora only change by hand. Exits non-zero on
# the first crash, sanitizer report or failed check; the crashing input is
# left in build/native/fuzz-artifacts/<target>/.
#   tests/native/fuzz.sh [seconds] [report|reader ...]
# The long session before a release: a number of runs per target instead of
# the time, and what it found kept in the committed corpora (minimised by
# libFuzzer's -merge=1, so later sessions start from it):
#   FUZZ_RUNS=10000000 FUZZ_KEEP=1 tests/native/fuzz.sh 0 reader
set -eu

seconds=${1:-60}
case $seconds in
  '' | *[!0-9]*) echo "usage: $0 [seconds] [report|reader ...]" >&2; exit 2 ;;
esac
[ $# -gt 0 ] && shift
targets=${*:-report reader}

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build/native

count=0
for target in $targets; do
  case $target in
    report | reader) count=$((count + 1)) ;;
    *) echo "$0: unknown target '$target'" >&2; exit 2 ;;
  esac
done
share=$((seconds / count))
[ "$share" -gt 0 ] || share=1

if [ -z "${FUZZ_BUILT:-}" ]; then
  (cd "$here" && cmake --preset native-asan >/dev/null)
  for target in $targets; do
    cmake --build "$build" --target "fuzz_$target"
  done
fi

# Leaks are checked too; a slow input counts as a failure after 10 seconds.
# A long session keeps four frames of each allocation's stack and a smaller
# quarantine: the same checks, and half again as many inputs a second (the
# build's fuzz_runner and fuzz_reader_runner replay a finding with full stacks).
if [ -n "${FUZZ_RUNS:-}" ]; then
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:malloc_context_size=4:quarantine_size_mb=16}
fi
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS UBSAN_OPTIONS

for target in $targets; do
  case $target in
    report) seeds=$here/corpus max_len=4096 ;;
    reader) seeds=$root/tests/reader/corpus max_len=8192 ;; # the max16 report and more
  esac
  scratch=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts/$target
  rm -rf "$scratch"
  mkdir -p "$scratch" "$artifacts"
  cp "$seeds"/* "$scratch"/
  if [ -n "${FUZZ_RUNS:-}" ]; then
    limit=-runs=$FUZZ_RUNS
    echo "=== fuzz_$target for $FUZZ_RUNS runs"
  else
    limit=-max_total_time=$share
    echo "=== fuzz_$target for $share s"
  fi
  "$build/fuzz_$target" \
    "$limit" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -max_len="$max_len" \
    -print_final_stats=1 \
    -artifact_prefix="$artifacts/" \
    "$scratch"
  if [ -n "${FUZZ_KEEP:-}" ]; then
    before=$(ls "$seeds" | wc -l)
    "$build/fuzz_$target" -merge=1 -max_len="$max_len" -timeout=10 "$seeds" "$scratch" 2>"$build/fuzz-merge-$target.log"
    echo "=== fuzz_$target corpus: $before inputs before, $(ls "$seeds" | wc -l) after"
  fi
done
