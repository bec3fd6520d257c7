/* The JSON report through the real DLL and the test double: the documented
 * example byte for byte, vendor texts, sizes, ids, driver versions, name
 * conversion and sanitising, the longest report, and what a failure leaves.
 * Every report is also logged for the strict JSON and UTF-8 check. */
#include "harness.h"
#include "name_cases.h"
#include "reports.h"
#include "vendor_cases.h"

static struct gpuinfo_api lib;
static struct fake_api fake;
static struct fake_scenario scenario;

#define MIB (1024ULL * 1024ULL)
#define GIB (1024ULL * MIB)

/* What one adapter's object must say, field by field, as literal text. */
struct want {
    const char *name;
    const char *vendor;
    const char *vendor_id, *device_id, *vram_mb, *shared_mb;
    const char *driver_version;
    int software;
};

/* Glues the expected fields into a report; the field texts themselves are
 * the test's literal expectations. */
static void expected_report(char *out, size_t size, const struct want *w, int n)
{
    size_t len = (size_t)snprintf(out, size, "{\"adapters\":[");
    for (int i = 0; i < n; ++i)
        len += (size_t)snprintf(out + len, size - len,
                                "%s{\"index\":%d,\"name\":\"%s\",\"vendor\":\"%s\",\"vendor_id\":%s,"
                                "\"device_id\":%s,\"dedicated_vram_mb\":%s,\"shared_memory_mb\":%s,"
                                "\"driver_version\":\"%s\",\"software\":%d}",
                                i ? "," : "", i, w[i].name, w[i].vendor, w[i].vendor_id, w[i].device_id,
                                w[i].vram_mb, w[i].shared_mb, w[i].driver_version, w[i].software);
    snprintf(out + len, size - len, "]}");
}

static const char *report_now(void)
{
    const char *report = lib.get_json();
    log_report(report);
    check_str(lib.last_error(), "");
    check_balanced(&fake);
    return report;
}

#define check_report(want, n) check_report_(__LINE__, (want), (n))
static void check_report_(int line, const struct want *w, int n)
{
    static char expected[8192];
    expected_report(expected, sizeof expected, w, n);
    const char *report = report_now();
    harness_report(line, report && !strcmp(report, expected), "report\n  is       %s\n  expected %s",
                   report ? report : "(null)", expected);
}

static struct fake_adapter *add(const char *name, UINT vendor, UINT device, SIZE_T vram, SIZE_T shared)
{
    struct fake_adapter *a = fake_add_adapter(&scenario, name, vendor, device, vram, shared);
    a->dedicated_system_memory = 77 * GIB; /* never reported */
    return a;
}

static void begin(const char *label)
{
    harness_row = label;
    memset(&scenario, 0, sizeof scenario);
}

static void run(void)
{
    fake.set_scenario(&scenario);
}

/* ---- Whole reports ----------------------------------------------------- */

static void test_example(void)
{
    begin("documented example");
    fake.preset("example", &scenario);
    run();
    const char *report = report_now();
    check_str(report, EXAMPLE_REPORT);
    check_int(report ? strlen(report) : 0, EXAMPLE_REPORT_BYTES);
}

static void test_shapes(void)
{
    begin("no adapters");
    run();
    check_str(report_now(), "{\"adapters\":[]}");

    begin("one adapter");
    fake_with_version(add("Solo", 0x10DE, 0x2684, 8 * GIB, MIB - 1), 0x0020000F00100D2ALL);
    run();
    static const struct want one[] = {
        {"Solo", "NVIDIA", "4318", "9860", "8192", "0", "32.15.16.3370", 0},
    };
    check_report(one, 1);

    begin("software and undescribable adapters");
    fake_with_version(add("First", 0x1002, 1, 4 * GIB, 0), 0);
    add("Unreadable", 0x10DE, 2, GIB, GIB)->desc_hr = E_FAIL;
    add("Rasterizer", 0x1414, 0x8C, 0, 4241260544ULL);
    add("Third", 0x8086, 3, 128 * MIB, 16 * GIB)->version_hr = E_NOINTERFACE;
    run();
    static const struct want several[] = {
        {"First", "AMD", "4098", "1", "4096", "0", "0.0.0.0", 0},
        {"Rasterizer", "Microsoft", "5140", "140", "0", "4044", "", 1},
        {"Third", "Intel", "32902", "3", "128", "16384", "", 0},
    };
    check_report(several, 3);
    check_int(lib.adapter_count(), 2);
    check_int(lib.vram_mb(1), 0);
    check_int(lib.vram_mb(2), 128);

    begin("vendor table");
    _Static_assert(VENDOR_CASE_COUNT <= 16, "one report holds every vendor case");
    struct want w[VENDOR_CASE_COUNT];
    for (int i = 0; i < VENDOR_CASE_COUNT; ++i) {
        const struct vendor_case *c = &VENDOR_CASES[i];
        add("v", (UINT)c->id, 0, 0, 0);
        struct want row = {"v", c->name, c->id_text, "0", "0", "0", "", c->software};
        w[i] = row;
    }
    run();
    check_report(w, VENDOR_CASE_COUNT);

    begin("sizes in whole MiB, ids in decimal, driver versions");
    fake_with_version(add("a", 0x10DE, 0xFFFFFFFF, MIB - 1, MIB), 0);
    fake_with_version(add("b", 0x10DE, 0x73BF, MIB, 34317172736ULL), -1);
    fake_with_version(add("c", 0x10DE, 0, 34317172736ULL, (SIZE_T)-1), 0x0001000200030004LL);
    run();
    static const struct want sizes[] = {
        {"a", "NVIDIA", "4318", "4294967295", "0", "1", "0.0.0.0", 0},
        {"b", "NVIDIA", "4318", "29631", "1", "32727", "65535.65535.65535.65535", 0},
        {"c", "NVIDIA", "4318", "0", "32727", "17592186044415", "1.2.3.4", 0},
    };
    check_report(sizes, 3);
    harness_row = NULL;
}

/* Sixteen adapters at the longest values that can stand together: the
 * longest vendor text ("Microsoft") only comes with a four-digit vendor id,
 * so "Unknown" with ten digits is the longest pair. */
static void test_longest_report(void)
{
    begin("sixteen maximal adapters");
    fake.preset("max16", &scenario);
    run();
    char name[192] = MAX16_NAME_HEAD;
    for (int i = 0; i < MAX16_NAME_PAIRS; ++i)
        strcat(name, "\\\"");
    static char expected[8192];
    size_t len = (size_t)snprintf(expected, sizeof expected, "{\"adapters\":[");
    for (int i = 0; i < FAKE_MAX16_ADAPTERS; ++i)
        len += (size_t)snprintf(expected + len, sizeof expected - len, "%s{\"index\":%d,\"name\":\"%s%s",
                                i ? "," : "", i, name, MAX16_OBJECT_END);
    snprintf(expected + len, sizeof expected - len, "]}");

    const char *report = report_now();
    check_str(report, expected);
    check_int(report ? strlen(report) : 0, MAX16_REPORT_BYTES);
    harness_row = NULL;
}

/* ---- Names: conversion from UTF-16 and sanitising ---------------------- */

static void check_one_name(const char *label, const WCHAR *description, const char *name)
{
    begin(label);
    struct fake_adapter *a = add("", 0x1002, 0x73BF, GIB, GIB);
    memcpy(a->description, description, sizeof a->description);
    run();
    struct want w = {name, "AMD", "4098", "29631", "1024", "1024", "", 0};
    check_report(&w, 1);
}

static void test_names(void)
{
    for (size_t i = 0; i < sizeof NAME_CASES / sizeof NAME_CASES[0]; ++i) {
        const struct name_case *c = &NAME_CASES[i];
        WCHAR description[NAME_CASE_UNITS];
        char name[NAME_CASE_NAME_SIZE];
        name_case_description(c, description);
        name_case_name(c, name);
        check_one_name(c->label, description, name);
    }
    harness_row = NULL;
}

/* ---- Failures and the report buffer ------------------------------------ */

static void test_failure_keeps_report(void)
{
    begin("failure after a report");
    fake.preset("example", &scenario);
    run();
    const char *first = report_now();
    static char copy[8192];
    strcpy(copy, first ? first : "");

    struct fake_scenario failing;
    fake.preset("create_fails", &failing);
    fake.set_scenario(&failing);
    ok(lib.get_json() == NULL, "get_json did not fail");
    check_str(lib.last_error(), "CreateDXGIFactory failed");
    check_str(first, copy);

    /* Two successes in a row: same address, the second call's text. */
    fake.preset("empty", &scenario);
    run();
    const char *second = report_now();
    ok(second == first, "report moved from %p to %p", (const void *)first, (const void *)second);
    check_str(second, "{\"adapters\":[]}");
    harness_row = NULL;
}

/* The "changing" preset the bindings' concurrency tests use: every
 * enumeration, whichever call makes it, lists the next generation. */
static void test_changing(void)
{
    begin("changing: generation 1");
    fake.preset("changing", &scenario);
    run();
    static const struct want first[] = {
        {"Generation 1 adapter 0", "NVIDIA", "4318", "1", "1", "1", "", 0},
        {"Generation 1 adapter 1", "NVIDIA", "4318", "1", "2", "1", "", 0},
    };
    check_report(first, 2);

    begin("changing: the counting calls enumerate too");
    fake.preset("changing", &scenario);
    run();
    check_int(lib.adapter_count(), 2); /* generation 1 */
    check_int(lib.adapter_count(), 3); /* generation 2 */
    check_int(lib.vram_mb(3), 4);      /* generation 3: four adapters */
    static const struct want fourth[] = {
        {"Generation 4 adapter 0", "NVIDIA", "4318", "4", "1", "1", "", 0},
    };
    check_report(fourth, 1);
    harness_row = NULL;
}

/* Outside names and "Red Hat", the report has no whitespace at all. */
static void test_no_whitespace(void)
{
    begin("no whitespace outside names");
    fake.preset("mixed", &scenario);
    run();
    const char *report = report_now();
    int in_string = 0, stray = 0;
    for (const char *p = report; p && *p; ++p) {
        if (*p == '\\' && in_string)
            ++p;
        else if (*p == '"')
            in_string = !in_string;
        else if (!in_string && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++stray;
    }
    check_int(stray, 0);
    harness_row = NULL;
}

int main(void)
{
    harness_use_seam(DXGI_SEAM_DOUBLE);
    load_fake(&fake);
    load_gpuinfo(&lib);
    test_example();
    test_shapes();
    test_longest_report();
    test_names();
    test_failure_keeps_report();
    test_changing();
    test_no_whitespace();
    return harness_finish();
}
