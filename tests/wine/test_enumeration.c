/* Enumeration, the counting calls and the last-error text, against the
 * dxgi.dll test double: the walk's cases from the table the native tests
 * share, then what only the real DLL shows (its texts across calls, a
 * reload, the path it loads DXGI from). */
#include "enumeration_cases.h"
#include "harness.h"

#include "gpuinfo_report.h"

static struct gpuinfo_api lib;
static struct fake_api fake;
static struct fake_scenario scenario;

/* ---- The shared table (tests/data/enumeration_cases.h) ----------------- */

static void use(const struct enum_case *c)
{
    memset(&scenario, 0, sizeof scenario);
    c->build(&scenario);
    fake.set_scenario(&scenario);
}

/* The report's records, by the public reader: each the double's adapter
 * the row lists, in order. */
static void check_records(const struct enum_case *c)
{
    gpuinfo_adapter got[ENUM_CASE_RECORDS];
    struct fake_stats s;
    size_t at = 0;
    use(c);
    int n = gpuinfo_read_report(lib.get_json(), got, ENUM_CASE_RECORDS, &at);
    check_int(n, c->records);
    for (int i = 0; i < n && i < c->records; ++i) {
        char want[32];
        snprintf(want, sizeof want, "Adapter %d", c->listed[i]);
        check_str(got[i].name, want);
    }
    fake.get_stats(&s);
    check_int(s.enum_calls, c->enum_calls);
    check_int(s.desc_calls, c->desc_calls);
    check_balanced(&fake);
}

static void test_enumeration_table(void)
{
    for (size_t i = 0; i < sizeof ENUM_CASES / sizeof ENUM_CASES[0]; ++i) {
        const struct enum_case *c = &ENUM_CASES[i];
        struct fake_stats s;
        harness_row = c->label;
        check_records(c);

        use(c);
        check_int(lib.adapter_count(), c->adapter_count);
        fake.get_stats(&s);
        check_int(s.create_calls, 1);
        check_int(s.enum_calls, c->enum_calls);
        check_int(s.desc_calls, c->desc_calls);
        check_balanced(&fake);

        for (int k = 0; c->vram[k] != ENUM_CASE_END; ++k) {
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
    for (size_t i = 0; i < sizeof FACTORY_FAILURES / sizeof FACTORY_FAILURES[0]; ++i) {
        harness_row = FACTORY_FAILURES[i].label;
        factory_failure_scenario(&FACTORY_FAILURES[i], &scenario);
        fake.set_scenario(&scenario);

        check_int(lib.adapter_count(), -1);
        check_str(lib.last_error(), FACTORY_FAILURE_ERROR);
        lib.get_json(); /* empties the text first, then fails again */
        check_str(lib.last_error(), FACTORY_FAILURE_ERROR);
        check_int(lib.vram_mb(0), -1);
        check_int(lib.vram_mb(-1), -1);
        check_str(lib.last_error(), FACTORY_FAILURE_ERROR);

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
    enum_hw_then_sw(&scenario);

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
    check_str(version, GPUINFO_EXPECTED_VERSION);
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
    check_str(lib.version(), GPUINFO_EXPECTED_VERSION);
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
