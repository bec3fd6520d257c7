#include "stand_in.h"

#include <stdint.h>

#include <string>

#include "fake_system.h"

enum { MAX16_ADAPTERS = 16, MAX16_NAME_UNITS = 127 };

static fake::scenario max16_scenario()
{
    fake::adapter a;
    /* 127 units: the NUL is the last unit DXGI has room for, and the name's
     * UTF-8 just fits the record; every quote doubles in the report. */
    a.description = u"A" + std::u16string(MAX16_NAME_UNITS - 1, u'"');
    a.vendor_id = UINT32_MAX;
    a.device_id = UINT32_MAX;
    a.dedicated_video_memory = SIZE_MAX;
    a.dedicated_system_memory = SIZE_MAX;
    a.shared_system_memory = SIZE_MAX;
    a.driver_version = -1; /* 65535.65535.65535.65535 */
    fake::scenario s;
    s.adapters.assign(MAX16_ADAPTERS, a);
    return s;
}

void bench_use_max16(void)
{
    /* Built once: copying the scenario is the cheap part of a reset. */
    static const fake::scenario s = max16_scenario();
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
