/* Enumeration, the counting calls and the last-error text, against the
 * dxgi.dll test double. */
#include "harness.h"

static struct gpuinfo_api lib;
static struct fake_api fake;
static struct fake_scenario scenario;

#define MIB (1024ULL * 1024ULL)
#define GIB (1024ULL * MIB)

static struct fake_adapter *add(UINT vendor, SIZE_T vram)
{
    struct fake_adapter *a = &scenario.adapters[scenario.adapter_count];
    char name[32];
    snprintf(name, sizeof name, "Adapter %d", scenario.adapter_count);
    set_ascii(a->description, name);
    a->vendor_id = vendor;
    a->device_id = 0x1000u + (UINT)scenario.adapter_count;
    a->dedicated_video_memory = vram;
    a->dedicated_system_memory = 999 * GIB; /* must never be reported */
    a->shared_system_memory = 2 * GIB;
    a->version_hr = S_OK;
    a->driver_version = 0x0020000F00100D2ALL;
    ++scenario.adapter_count;
    return a;
}

/* ---- Scenarios -------------------------------------------------------- */

static void none(void) {}
static void hw_then_sw(void) { add(FAKE_VENDOR_NVIDIA, 8 * GIB); add(FAKE_VENDOR_SOFTWARE, 0); }
static void sw_then_hw(void) { add(FAKE_VENDOR_SOFTWARE, 0); add(FAKE_VENDOR_NVIDIA, 8 * GIB); }
static void rounding(void) { add(FAKE_VENDOR_AMD, MIB - 1); add(FAKE_VENDOR_AMD, MIB); add(FAKE_VENDOR_AMD, 24 * GIB); }
static void huge_sizes(void)
{
    add(FAKE_VENDOR_AMD, 2147483647ULL * MIB);          /* largest that fits */
    add(FAKE_VENDOR_AMD, 2147483648ULL * MIB);          /* 2^31 MiB */
    add(FAKE_VENDOR_AMD, 4294967295ULL * MIB);          /* low 32 bits read as -1 */
    add(FAKE_VENDOR_AMD, 4294967296ULL * MIB + 5 * MIB); /* low 32 bits read as 5 */
    add(FAKE_VENDOR_AMD, (SIZE_T)-1);
}
static void middle_undescribable(void)
{
    add(FAKE_VENDOR_AMD, 1 * GIB);
    add(FAKE_VENDOR_AMD, 2 * GIB)->desc_hr = E_FAIL;
    add(FAKE_VENDOR_AMD, 3 * GIB);
}
static void all_undescribable(void)
{
    for (int i = 0; i < 5; ++i)
        add(FAKE_VENDOR_AMD, GIB)->desc_hr = DXGI_ERROR_DEVICE_REMOVED;
}
static void twenty(void)
{
    for (int i = 0; i < 20; ++i)
        add(i == 3 ? FAKE_VENDOR_SOFTWARE : FAKE_VENDOR_INTEL, (SIZE_T)(i + 1) * MIB);
}
static void seventeen_one_skipped(void)
{
    for (int i = 0; i < 17; ++i)
        add(FAKE_VENDOR_INTEL, (SIZE_T)(i + 1) * MIB);
    scenario.adapters[5].desc_hr = E_OUTOFMEMORY;
}
static void positive_at_first(void) { add(FAKE_VENDOR_AMD, GIB)->enum_hr = S_FALSE; }
static void positive_at_third(void)
{
    add(FAKE_VENDOR_AMD, 1 * GIB);
    add(FAKE_VENDOR_AMD, 2 * GIB);
    add(FAKE_VENDOR_AMD, 3 * GIB)->enum_hr = 2;
    add(FAKE_VENDOR_AMD, 4 * GIB);
}
static void error_at_second(void)
{
    add(FAKE_VENDOR_AMD, 1 * GIB);
    add(FAKE_VENDOR_AMD, 2 * GIB)->enum_hr = E_FAIL;
    add(FAKE_VENDOR_AMD, 3 * GIB);
}
static void positive_end(void) { add(FAKE_VENDOR_AMD, GIB); scenario.end_hr = S_FALSE; }
static void success_without_adapter(void)
{
    add(FAKE_VENDOR_AMD, 1 * GIB);
    add(FAKE_VENDOR_AMD, 2 * GIB)->enum_gives_null = 1;
    add(FAKE_VENDOR_AMD, 3 * GIB);
}
static void software_by_vendor_only(void)
{
    add(FAKE_VENDOR_SOFTWARE, 4 * GIB)->device_id = 0x1234;
    add(FAKE_VENDOR_SOFTWARE, 0)->device_id = 0;
    add(FAKE_VENDOR_NVIDIA, 0);
    add(FAKE_VENDOR_INTEL, GIB);
    add(0x11414, GIB); /* not 0x1414 */
}
static void no_driver_version(void)
{
    add(FAKE_VENDOR_AMD, GIB)->version_hr = DXGI_ERROR_UNSUPPORTED;
    add(FAKE_VENDOR_AMD, 2 * GIB);
}
static void create_positive(void) { scenario.create_hr = S_FALSE; add(FAKE_VENDOR_AMD, GIB); }

/* ---- The table -------------------------------------------------------- */

#define END_OF_VRAM (-2)

static const struct enum_case {
    const char *label;
    void (*build)(void);
    int count;          /* gpuinfo_adapter_count */
    int vram[22];       /* gpuinfo_vram_mb(0), (1), ... up to END_OF_VRAM */
    int enum_calls;     /* EnumAdapters calls in one enumeration */
    int desc_calls;     /* GetDesc calls in one enumeration */
} cases[] = {
    {"no adapters", none, 0, {-1, -1, END_OF_VRAM}, 1, 0},
    {"hardware then software", hw_then_sw, 1, {8192, 0, -1, END_OF_VRAM}, 3, 2},
    {"software then hardware", sw_then_hw, 1, {0, 8192, -1, END_OF_VRAM}, 3, 2},
    {"rounded down to whole MiB", rounding, 3, {0, 1, 24576, -1, END_OF_VRAM}, 4, 3},
    {"sizes past 31 bits saturate", huge_sizes, 5,
     {2147483647, 2147483647, 2147483647, 2147483647, 2147483647, -1, END_OF_VRAM}, 6, 5},
    {"undescribable adapter takes no position", middle_undescribable, 2, {1024, 3072, -1, END_OF_VRAM}, 4, 3},
    {"every adapter undescribable", all_undescribable, 0, {-1, END_OF_VRAM}, 6, 5},
    {"twenty adapters stop at sixteen", twenty, 15,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, -1, -1, END_OF_VRAM}, 16, 16},
    {"seventeen with one skipped", seventeen_one_skipped, 16,
     {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, -1, END_OF_VRAM}, 17, 17},
    {"positive result at index 0 ends the walk", positive_at_first, 0, {-1, END_OF_VRAM}, 1, 0},
    {"positive result at index 2 ends the walk", positive_at_third, 2, {1024, 2048, -1, END_OF_VRAM}, 3, 2},
    {"failure at index 1 ends the walk", error_at_second, 1, {1024, -1, END_OF_VRAM}, 2, 1},
    {"positive result past the end", positive_end, 1, {1024, -1, END_OF_VRAM}, 2, 1},
    {"S_OK without an adapter ends the walk", success_without_adapter, 1, {1024, -1, END_OF_VRAM}, 2, 1},
    {"software flag follows vendor 0x1414 alone", software_by_vendor_only, 3, {4096, 0, 0, 1024, 1024, -1, END_OF_VRAM}, 6, 5},
    {"adapter without driver version still counts", no_driver_version, 2, {1024, 2048, -1, END_OF_VRAM}, 3, 2},
    {"factory created with a positive result", create_positive, 1, {1024, -1, END_OF_VRAM}, 2, 1},
};

static void use(const struct enum_case *c)
{
    memset(&scenario, 0, sizeof scenario);
    c->build();
    fake.set_scenario(&scenario);
}

static void test_enumeration_table(void)
{
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const struct enum_case *c = &cases[i];
        struct fake_stats s;
        harness_row = c->label;
        use(c);

        check_int(lib.adapter_count(), c->count);
        fake.get_stats(&s);
        check_int(s.create_calls, 1);
        check_int(s.enum_calls, c->enum_calls);
        check_int(s.desc_calls, c->desc_calls);
        check_balanced(&fake);

        for (int k = 0; c->vram[k] != END_OF_VRAM; ++k) {
            use(c);
            int mb = lib.vram_mb(k);
            ok(mb == c->vram[k], "vram_mb(%d) is %d, expected %d", k, mb, c->vram[k]);
            fake.get_stats(&s);
            check_int(s.enum_calls, c->enum_calls);
            check_balanced(&fake);
        }
        /* A negative position is rejected after a whole enumeration. */
        use(c);
        check_int(lib.vram_mb(-1), -1);
        check_int(lib.vram_mb(-2147483647 - 1), -1);
        fake.get_stats(&s);
        check_int(s.create_calls, 2);
        check_balanced(&fake);
        check_str(lib.last_error(), "");
    }
    harness_row = NULL;
}

/* ---- Failures and the last-error text --------------------------------- */

static void test_factory_failures(void)
{
    static const struct {
        const char *label;
        HRESULT hr;
        int gives_null;
    } rows[] = {
        {"E_FAIL", E_FAIL, 0},
        {"DXGI_ERROR_UNSUPPORTED", DXGI_ERROR_UNSUPPORTED, 0},
        {"S_OK without a factory", S_OK, 1},
        {"S_FALSE without a factory", S_FALSE, 1},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        harness_row = rows[i].label;
        memset(&scenario, 0, sizeof scenario);
        add(FAKE_VENDOR_AMD, GIB);
        scenario.create_hr = rows[i].hr;
        scenario.create_gives_null = rows[i].gives_null;
        fake.set_scenario(&scenario);

        check_int(lib.adapter_count(), -1);
        check_str(lib.last_error(), "CreateDXGIFactory failed");
        lib.get_json(); /* empties the text first, then fails again */
        check_str(lib.last_error(), "CreateDXGIFactory failed");
        check_int(lib.vram_mb(0), -1);
        check_int(lib.vram_mb(-1), -1);
        check_str(lib.last_error(), "CreateDXGIFactory failed");

        struct fake_stats s;
        fake.get_stats(&s);
        check_int(s.create_calls, 4);
        check_int(s.enum_calls, 0);
        check_balanced(&fake);
    }
    harness_row = NULL;
}

static void test_last_error_life_cycle(void)
{
    const char *err = lib.last_error();
    struct fake_scenario failing;
    memset(&failing, 0, sizeof failing);
    failing.create_hr = E_FAIL;

    memset(&scenario, 0, sizeof scenario);
    hw_then_sw();

    fake.set_scenario(&failing);
    check_int(lib.adapter_count(), -1);
    check_str(err, "CreateDXGIFactory failed");

    /* Successful counting calls leave the stale text alone. */
    fake.set_scenario(&scenario);
    check_int(lib.adapter_count(), 1);
    check_str(lib.last_error(), "CreateDXGIFactory failed");
    check_int(lib.vram_mb(0), 8192);
    check_str(lib.last_error(), "CreateDXGIFactory failed");
    /* So does a position out of range after a successful enumeration. */
    check_int(lib.vram_mb(2), -1);
    check_int(lib.vram_mb(-1), -1);
    check_str(lib.last_error(), "CreateDXGIFactory failed");

    /* The report empties it. */
    ok(lib.get_json() != NULL, "report after recovery");
    check_str(lib.last_error(), "");

    /* A failure of vram_mb for a negative position still enumerates and
     * so still records the reason. */
    fake.set_scenario(&failing);
    check_int(lib.vram_mb(-5), -1);
    check_str(lib.last_error(), "CreateDXGIFactory failed");

    ok(lib.last_error() == err, "last_error moved from %p to %p", (const void *)err, (const void *)lib.last_error());
    check_balanced(&fake);
}

/* ---- A freshly loaded library ------------------------------------------ */

static void test_fresh_library(void)
{
    const char *err = lib.last_error();
    const char *version = lib.version();
    ok(err != NULL, "last_error of a fresh library is NULL");
    check_str(err, "");
    check_str(version, "1.0.0");
    ok(lib.version() == version, "version moved");
    ok(lib.last_error() == err, "last_error moved");
}

/* Unloading and loading again starts with empty texts. */
static void test_reload_starts_empty(void)
{
    struct fake_scenario failing;
    memset(&failing, 0, sizeof failing);
    failing.create_hr = E_FAIL;
    fake.set_scenario(&failing);
    check_int(lib.adapter_count(), -1);
    check_str(lib.last_error(), "CreateDXGIFactory failed");

    ok(FreeLibrary(lib.module), "FreeLibrary");
    ok(GetModuleHandleA(GPUINFO_DLL) == NULL, "library still loaded after FreeLibrary");
    load_gpuinfo(&lib);
    check_str(lib.last_error(), "");
    check_str(lib.version(), "1.0.0");
}

/* The seam sees exactly what the library asks the loader for: dxgi.dll by its
 * full path in the system directory, searched for nowhere else. */
static void test_asks_for_system_dxgi(void)
{
    char want[MAX_PATH];
    UINT len = GetSystemDirectoryA(want, MAX_PATH - 16);
    ok(len > 0, "GetSystemDirectory");
    strcat(want, "\\dxgi.dll");
    memset(&scenario, 0, sizeof scenario);
    fake.set_scenario(&scenario);
    check_int(lib.adapter_count(), 0);

    struct dxgi_seam_stats seen;
    dxgi_seam_get_stats(&seen);
    ok(seen.dxgi_requests > 0, "the library never asked for dxgi.dll");
    ok(!_stricmp(seen.last_path, want), "asked for %s, not %s", seen.last_path, want);
    check_int(seen.last_flags, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int main(void)
{
    harness_use_seam(DXGI_SEAM_DOUBLE);
    load_fake(&fake);
    load_gpuinfo(&lib);
    test_fresh_library();
    test_asks_for_system_dxgi();
    test_enumeration_table();
    test_factory_failures();
    test_last_error_life_cycle();
    test_reload_starts_empty();
    return harness_finish();
}
