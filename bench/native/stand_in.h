/* The platform under the benchmarks: the native tests' in-memory Windows and
 * DXGI (tests/support/native/fake_system.cpp), running the dxgi.dll test double's
 * "max16" preset: sixteen maximal adapters. */
#ifndef BENCH_STAND_IN_H
#define BENCH_STAND_IN_H

/* Starts the max16 scenario afresh. The stand-in keeps every object it hands
 * out until this is called again, so a long run calls it now and then. */
void bench_use_max16(void);

/* What the platform saw since the last bench_use_max16: two runs that make
 * the same calls compare equal. */
struct bench_calls {
    int loads, creates, enums, descs, versions;
    int live_refs, unexpected;
    bool loaded_system_dxgi;
};
bench_calls bench_platform_calls(void);
bool bench_same_calls(const bench_calls &a, const bench_calls &b);

#endif
