/* The library source built as a Linux shared library on the in-memory
 * Windows of fake_system.cpp, so the Python and .NET bindings can be tested
 * with their own runtimes on this machine. Never shipped: the product is the
 * Windows DLL.
 *
 * Besides the library's five calls it exports one control call that picks
 * a scenario by name; FAKE_DXGI_SCENARIO picks one when the library is
 * loaded (default "example"), as it does for the dxgi.dll test double. The
 * scenarios hold the same adapters as that double's presets of the same name
 * (tests/fake_dxgi/fake_dxgi.c), so one table of expected reports
 * (bindings/testdata/cases.json) serves the Windows and the native runs. */
#include "fake_system.h"

#include <stdlib.h>
#include <string.h>

namespace {

const HRESULT FACTORY_FAILURE = E_FAIL;
const char DEFAULT_SCENARIO[] = "example";
const int MAX16_ADAPTERS = 16;
const size_t MAX16_DESCRIPTION_UNITS = 127; /* and a NUL in the last unit */

LONGLONG version_words(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (LONGLONG)((uint64_t)a << 48 | (uint64_t)b << 32 | (uint64_t)c << 16 | d);
}

fake::adapter make_adapter(const std::u16string &name, UINT vendor, UINT device, SIZE_T vram, SIZE_T shared)
{
    fake::adapter a;
    a.description = name;
    a.vendor_id = vendor;
    a.device_id = device;
    a.dedicated_video_memory = vram;
    a.shared_system_memory = shared;
    a.version_hr = DXGI_ERROR_UNSUPPORTED;
    return a;
}

fake::adapter with_version(fake::adapter a, LONGLONG version)
{
    a.version_hr = S_OK;
    a.driver_version = version;
    return a;
}

/* A function, not an object: the scenario is picked while the library loads,
 * before objects of this file would be constructed. */
fake::adapter software_rasterizer()
{
    return make_adapter(u"Software Rasterizer", 0x1414, 0x008C, 0, 4241260544ull);
}

bool preset(const char *name, fake::scenario *s)
{
    *s = fake::scenario();
    if (!strcmp(name, "empty"))
        return true;
    if (!strcmp(name, "example")) {
        s->adapters = {
            with_version(make_adapter(u"Example V7 Graphics", 0x1002, 0x73BF, 17163091968ull, 34317172736ull),
                         version_words(31, 0, 24033, 1003)),
            software_rasterizer(),
        };
        return true;
    }
    if (!strcmp(name, "mixed")) {
        s->adapters = {
            with_version(make_adapter(u"Radeon Pr\u00e9cision \u20ac \u6f22\u5b57", 0x1002, 0x73BF, 17163091968ull,
                                      34317172736ull),
                         version_words(31, 0, 24033, 1003)),
            with_version(make_adapter(u"NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going "
                                      u"Past Any Sensible Column Width Of A Table",
                                      0x10DE, 0x2684, 25757220864ull, 34317172736ull),
                         version_words(32, 15, 16, 3370)),
            make_adapter(u"Intel Example Graphics", 0x8086, 0x9A49, 134217728ull, 17158586368ull),
            software_rasterizer(),
        };
        return true;
    }
    if (!strcmp(name, "beyond_bmp")) {
        /* U+1F600 and U+20BB7 reach DXGI as surrogate pairs. */
        s->adapters = {with_version(make_adapter(u"Astra \U0001F600 \U00020BB7 GPU", 0x10DE, 0x2684, 8589934592ull,
                                                 17179869184ull),
                                    version_words(32, 0, 15, 6094))};
        return true;
    }
    if (!strcmp(name, "max16")) {
        std::u16string quotes = u"A" + std::u16string(MAX16_DESCRIPTION_UNITS - 1, u'"');
        for (int i = 0; i < MAX16_ADAPTERS; ++i)
            s->adapters.push_back(with_version(make_adapter(quotes, 0xFFFFFFFFu, 0xFFFFFFFFu, ~0ull, ~0ull), -1));
        return true;
    }
    if (!strcmp(name, "missing")) {
        s->dxgi_loads = false;
        return true;
    }
    if (!strcmp(name, "no_entry")) {
        s->has_create_factory = false;
        return true;
    }
    if (!strcmp(name, "create_fails")) {
        s->create_hr = FACTORY_FAILURE;
        return true;
    }
    return false;
}

/* An unknown name leaves the DXGI unreachable, so a misspelt scenario can't
 * pass for a working one. */
int pick(const char *name)
{
    fake::scenario s;
    int known = name && preset(name, &s);
    if (!known) {
        s = fake::scenario();
        s.create_hr = FACTORY_FAILURE;
    }
    fake::reset(s);
    return known;
}

__attribute__((constructor)) void pick_from_environment()
{
    const char *name = getenv("FAKE_DXGI_SCENARIO");
    pick(name ? name : DEFAULT_SCENARIO);
}

} // namespace

/* Replaces the in-memory DXGI with the named scenario; 0 for an unknown name. */
extern "C" int gpuinfo_stand_in_scenario(const char *name);
extern "C" int gpuinfo_stand_in_scenario(const char *name)
{
    return pick(name);
}
