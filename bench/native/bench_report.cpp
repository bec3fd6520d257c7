/* Native timings of the library's own work, with no DXGI behind it: the
 * report from sixteen maximal records, its parts, and the exported calls on
 * the in-memory stand-in DXGI of the native tests. */
#include <benchmark/benchmark.h>

#include <string.h>

#include "fake_dxgi.h"
#include "product.h"
#include "reports.h"
#include "stand_in.h"


/* The stand-in keeps every object it hands out until it is reset, 17 per
 * walk; resetting this often bounds its memory to a few megabytes. */
static const int CALLS_PER_RESET = 256;

/* Times `call` on the max16 scenario. The resets are left out of the timing:
 * they are the stand-in's bookkeeping, and the exported calls and the bare
 * walk pay for the same objects, so their ratios stay fair. */
template <typename Call>
static void time_on_max16(benchmark::State &state, Call call)
{
    bench_use_max16();
    int since_reset = 0;
    for (auto _ : state) {
        if (++since_reset == CALLS_PER_RESET) {
            state.PauseTiming();
            bench_use_max16();
            state.ResumeTiming();
            since_reset = 0;
        }
        benchmark::DoNotOptimize(call());
    }
}

static void report_max16(benchmark::State &state)
{
    if (bench_fill_max16() != FAKE_MAX16_ADAPTERS || strlen(bench_format_max16()) != MAX16_REPORT_BYTES) {
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
    bench_use_max16();
    const char *report = bench_get_json();
    if (!report || strlen(report) != MAX16_REPORT_BYTES) {
        state.SkipWithError("the report is not the expected length");
        return;
    }
    time_on_max16(state, bench_get_json);
}
BENCHMARK(get_json_max16);

static void adapter_count_max16(benchmark::State &state)
{
    bench_use_max16();
    if (bench_adapter_count() != FAKE_MAX16_ADAPTERS) {
        state.SkipWithError("wrong adapter count");
        return;
    }
    time_on_max16(state, bench_adapter_count);
}
BENCHMARK(adapter_count_max16);

static void bare_dxgi_max16(benchmark::State &state)
{
    /* A floor only if it makes the library's calls, and all of them. */
    bench_use_max16();
    bench_get_json();
    bench_calls library = bench_platform_calls();
    bench_use_max16();
    int n = bench_floor();
    bench_calls bare = bench_platform_calls();
    if (n != FAKE_MAX16_ADAPTERS || !bench_same_calls(library, bare) || bare.live_refs != 0 || bare.unexpected != 0) {
        state.SkipWithError("the bare walk does not make the library's DXGI calls");
        return;
    }
    time_on_max16(state, bench_floor);
}
BENCHMARK(bare_dxgi_max16);

BENCHMARK_MAIN();
