#!/bin/sh
# Native figures of the library's report code (no Wine, no DXGI): Google
# Benchmark timings, then instructions per report counted by callgrind.
#
#   bench/native/run.sh          (CXX=clang++-19 bench/native/run.sh to compare with clang)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$root/build/bench-native
out=$build/results
reports=1000

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
mkdir -p "$out"

echo "=== Google Benchmark (5 repetitions; CPU time is the figure: wall time includes other work on the machine) ==="
"$build/bench_report" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/bench.json" --benchmark_out_format=json >"$out/bench.txt" 2>&1
cat "$out/bench.txt"
python3 - "$out/bench.json" <<'PY'
import json, sys
runs = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
us = lambda name: runs[name]["cpu_time"] / 1000.0  # reported in ns
print("\nmedian CPU time per call (microseconds)")
for name in ("report_max16", "sanitize_max_name", "get_json_max16", "adapter_count_max16", "bare_dxgi_max16"):
    print(f"  {name:22s} {us(name):9.3f}")
print(f"  report from 16 maximal records: {us('report_max16'):.2f} us (target: under 20 us)")
print(f"  get_json / bare DXGI   {us('get_json_max16') / us('bare_dxgi_max16'):7.2f}")
print(f"  adapter_count / bare   {us('adapter_count_max16') / us('bare_dxgi_max16'):7.2f}")
PY

echo
echo "=== callgrind: instructions per report of 16 maximal records ==="
count() {
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.$1" "$build/report_driver" "$1" \
        >"$out/driver.$1.txt" 2>&1
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$out/driver.$1.txt"
}
base=$(count 0)
total=$(count $reports)
echo "  baseline run (0 reports):   $base instructions"
echo "  $reports reports:              $total instructions"
echo "  per report:                 $(( (total - base) / reports )) instructions (target: at most 25,000)"
echo
echo "  where they go ($reports reports, by function, exclusive):"
callgrind_annotate "$out/callgrind.$reports" 2>/dev/null |
    awk '/file:function/ {on = 1; getline; next} on && NF == 0 {exit} on {print "   ", $0}' |
    sed 's| \[[^]]*\]$||; s|[^ ]*/\([^/ ]*:\)|\1|' | head -8
