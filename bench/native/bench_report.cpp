/* Native timings of the library's own work, with no DXGI behind it: the
 * report from sixteen maximal records, its parts, and the exported calls on
 * a stand-in DXGI whose calls cost next to nothing. */
#include <benchmark/benchmark.h>

#include <string.h>

#include "product.h"

/* The report of sixteen maximal adapters, as the test double's "max16"
 * preset gives it under Wine. */
static const size_t MAX16_REPORT_BYTES = 6468;

static void report_max16(benchmark::State &state)
{
    bench_fill_max16();
    const char *report = bench_format_max16();
    if (strlen(report) != MAX16_REPORT_BYTES) {
        state.SkipWithError("the report is not the expected length");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_format_max16());
    state.SetBytesProcessed((int64_t)(state.iterations() * MAX16_REPORT_BYTES));
}
BENCHMARK(report_max16);

static void sanitize_max_name(benchmark::State &state)
{
    bench_fill_max16();
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_sanitize_max());
}
BENCHMARK(sanitize_max_name);

static void get_json_max16(benchmark::State &state)
{
    const char *report = bench_get_json();
    if (!report || strlen(report) != MAX16_REPORT_BYTES) {
        state.SkipWithError("the report is not the expected length");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_get_json());
}
BENCHMARK(get_json_max16);

static void adapter_count_max16(benchmark::State &state)
{
    if (bench_adapter_count() != BENCH_ADAPTERS) {
        state.SkipWithError("wrong adapter count");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_adapter_count());
}
BENCHMARK(adapter_count_max16);

static void bare_dxgi_max16(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bench_floor());
}
BENCHMARK(bare_dxgi_max16);

BENCHMARK_MAIN();
