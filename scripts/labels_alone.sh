#!/usr/bin/env bash
# Runs every CTest label of a built preset on its own, as a developer picks a
# part of the suite (`ctest --preset mingw -L binding-go`), and prints each
# run's time. As in scripts/test.sh, a test that fails is run once more and
# one that fails twice fails its label; a test that hangs is ended by its own
# CTest limit (the presets' 300 s), shows its output and gets that second run.
# A whole run must finish within LABEL_RUN_TIMEOUT seconds (900 by default:
# room for one such limit and the retry beside the slowest label's minute): a
# test whose output pipe something outlives (a Wine process left running by
# the first program of a prefix) makes CTest wait until the run is killed.
# usage: scripts/labels_alone.sh <preset> [label...]   (every label by default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: scripts/labels_alone.sh <preset> [label...]}
shift
limit=${LABEL_RUN_TIMEOUT:-900}

if [ $# -gt 0 ]; then
  labels=("$@")
else
  mapfile -t labels < <(ctest --preset "$preset" --print-labels | sed -n 's/^  //p')
fi
if [ ${#labels[@]} -eq 0 ]; then
  echo "no labels in preset $preset"
  echo "labels alone: 0 passed, 1 failed"
  exit 1
fi

passed=0
failed=()
for label in "${labels[@]}"; do
  start=$(date +%s%N)
  status=0
  timeout --kill-after=10 "$limit" ctest --preset "$preset" -L "^${label}\$" --no-tests=error --repeat until-pass:2 \
    >"build/$preset/label-$label.log" 2>&1 || status=$?
  tenths=$((($(date +%s%N) - start) / 100000000))
  seconds="$((tenths / 10)).$((tenths % 10))"
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "label $label alone: $(grep -E 'tests passed' "build/$preset/label-$label.log"), ${seconds} s"
  else
    failed+=("$label")
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
      echo "label $label alone: did not finish within ${limit} s"
      # The killed run's cleanup fixture never ran: end its Wine servers.
      ctest --preset "$preset" -R '^wine_stop$' >/dev/null 2>&1 || true
    else
      echo "label $label alone: failed after ${seconds} s (exit $status)"
    fi
    tail -n 30 "build/$preset/label-$label.log"
  fi
done
echo "labels alone: $passed passed, ${#failed[@]} failed${failed:+ (${failed[*]})}"
[ ${#failed[@]} -eq 0 ]
