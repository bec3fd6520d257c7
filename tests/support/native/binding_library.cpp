/* The library source built as a Linux shared library on the in-memory
 * Windows of fake_system.cpp, so the Python and .NET bindings can be tested
 * with their own runtimes on this machine. Never shipped: the product is the
 * Windows DLL.
 *
 * Besides the library's five calls it exports one control call that picks
 * a scenario by name; FAKE_DXGI_SCENARIO picks one when the library is
 * loaded (default "example"), as it does for the dxgi.dll test double. The
 * scenarios are that double's presets themselves (tests/fake_dxgi/
 * fake_presets.h), so one table of expected reports
 * (bindings/testdata/cases.json) serves the Windows and the native runs. */
#include "fake_system.h"

#include <stdlib.h>
#include <string.h>

namespace {

const HRESULT FACTORY_FAILURE = E_FAIL;
const char DEFAULT_SCENARIO[] = "example";

/* The double's presets, and the two failures the double shows by which
 * dxgi.dll is installed rather than by a preset. */
bool scenario_named(const char *name, fake::scenario *s)
{
    *s = fake::scenario();
    if (!strcmp(name, "missing")) {
        s->dxgi_loads = false;
        return true;
    }
    if (!strcmp(name, "no_entry")) {
        s->has_create_factory = false;
        return true;
    }
    return fake::preset(name, s);
}

/* An unknown name leaves the DXGI unreachable, so a misspelt scenario can't
 * pass for a working one. */
int pick(const char *name)
{
    fake::scenario s;
    int known = name && scenario_named(name, &s);
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
