#include "stand_in.h"

#include <string>

#include "fake_system.h"

void bench_use_max16(void)
{
    /* Built once: copying the scenario is the cheap part of a reset. */
    static const fake::scenario s = fake::preset("max16");
    fake::reset(s);
}

bench_calls bench_platform_calls(void)
{
    const fake::stats &st = fake::statistics();
    bench_calls c;
    c.loads = st.load_calls;
    c.creates = st.create_calls;
    c.enums = st.enum_calls;
    c.descs = st.desc_calls;
    c.versions = st.version_calls;
    c.live_refs = st.live_refs;
    c.unexpected = st.unexpected_calls + st.over_releases;
    c.loaded_system_dxgi = st.loaded_path == fake::scenario().system_directory + "\\dxgi.dll";
    return c;
}

bool bench_same_calls(const bench_calls &a, const bench_calls &b)
{
    return a.loads == b.loads && a.creates == b.creates && a.enums == b.enums && a.descs == b.descs &&
           a.versions == b.versions && a.live_refs == b.live_refs && a.unexpected == b.unexpected &&
           a.loaded_system_dxgi == b.loaded_system_dxgi;
}
