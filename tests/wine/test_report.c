/* The JSON report through the real DLL and the test double: the documented
 * example byte for byte, vendor texts, sizes, ids, driver versions, name
 * conversion and sanitising, the longest report, and what a failure leaves.
 * Every report is also logged for the strict JSON and UTF-8 check. */
#include "harness.h"

static struct gpuinfo_api lib;
static struct fake_api fake;
static struct fake_scenario scenario;

#define MIB (1024ULL * 1024ULL)
#define GIB (1024ULL * MIB)

static const char EXAMPLE_REPORT[] =
    "{\"adapters\":[{\"index\":0,\"name\":\"Example V7 Graphics\",\"vendor\":\"AMD\",\"vendor_id\":4098,"
    "\"device_id\":29631,\"dedicated_vram_mb\":16368,\"shared_memory_mb\":32727,\"driver_version\":"
    "\"31.0.24033.1003\",\"software\":0},{\"index\":1,\"name\":\"Software Rasterizer\",\"vendor\":"
    "\"Microsoft\",\"vendor_id\":5140,\"device_id\":140,\"dedicated_vram_mb\":0,\"shared_memory_mb\":4044,"
    "\"driver_version\":\"\",\"software\":1}]}";

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
    struct fake_adapter *a = &scenario.adapters[scenario.adapter_count++];
    set_ascii(a->description, name);
    a->vendor_id = vendor;
    a->device_id = device;
    a->dedicated_video_memory = vram;
    a->shared_system_memory = shared;
    a->dedicated_system_memory = 77 * GIB; /* never reported */
    a->version_hr = DXGI_ERROR_UNSUPPORTED;
    return a;
}

static void with_version(struct fake_adapter *a, LONGLONG v)
{
    a->version_hr = S_OK;
    a->driver_version = v;
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
    check_int(report ? strlen(report) : 0, 378);
}

static void test_shapes(void)
{
    begin("no adapters");
    run();
    check_str(report_now(), "{\"adapters\":[]}");

    begin("one adapter");
    with_version(add("Solo", 0x10DE, 0x2684, 8 * GIB, MIB - 1), 0x0020000F00100D2ALL);
    run();
    static const struct want one[] = {
        {"Solo", "NVIDIA", "4318", "9860", "8192", "0", "32.15.16.3370", 0},
    };
    check_report(one, 1);

    begin("software and undescribable adapters");
    with_version(add("First", 0x1002, 1, 4 * GIB, 0), 0);
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
    static const struct {
        UINT id;
        struct want w;
    } vendors[] = {
        {0x1414, {"v", "Microsoft", "5140", "0", "0", "0", "", 1}},
        {0x10DE, {"v", "NVIDIA", "4318", "0", "0", "0", "", 0}},
        {0x8086, {"v", "Intel", "32902", "0", "0", "0", "", 0}},
        {0x1002, {"v", "AMD", "4098", "0", "0", "0", "", 0}},
        {0x1022, {"v", "AMD", "4130", "0", "0", "0", "", 0}},
        {0x15AD, {"v", "VMware", "5549", "0", "0", "0", "", 0}},
        {0x1AF4, {"v", "Red Hat", "6900", "0", "0", "0", "", 0}},
        {0x1234, {"v", "QEMU", "4660", "0", "0", "0", "", 0}},
        {0x1003, {"v", "Unknown", "4099", "0", "0", "0", "", 0}},
        {0x1042, {"v", "Unknown", "4162", "0", "0", "0", "", 0}},
        {0x11414, {"v", "Unknown", "70676", "0", "0", "0", "", 0}},
        {0, {"v", "Unknown", "0", "0", "0", "0", "", 0}},
        {0xFFFFFFFF, {"v", "Unknown", "4294967295", "0", "0", "0", "", 0}},
    };
    struct want w[16];
    int n = (int)(sizeof vendors / sizeof vendors[0]);
    for (int i = 0; i < n; ++i) {
        add("v", vendors[i].id, 0, 0, 0);
        w[i] = vendors[i].w;
    }
    run();
    check_report(w, n);

    begin("sizes in whole MiB, ids in decimal, driver versions");
    with_version(add("a", 0x10DE, 0xFFFFFFFF, MIB - 1, MIB), 0);
    with_version(add("b", 0x10DE, 0x73BF, MIB, 34317172736ULL), -1);
    with_version(add("c", 0x10DE, 0, 34317172736ULL, (SIZE_T)-1), 0x0001000200030004LL);
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
    char name[192] = "A";
    for (int i = 0; i < 95; ++i)
        strcat(name, "\\\"");
    check_int(strlen(name), 191);
    struct want w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = (struct want){name, "Unknown", "4294967295", "4294967295", "17592186044415", "17592186044415",
                             "65535.65535.65535.65535", 0};
    check_report(w, 16);

    /* 16 objects of 402 bytes plus one more digit for indexes 10 to 15, 15
     * separators, and the opening and closing texts. */
    const char *report = lib.get_json();
    check_int(report ? strlen(report) : 0, 13 + 16 * 402 + 6 + 15 + 2);
    ok(report && !strcmp(report + strlen(report) - 2, "]}"), "report does not end with ]}");
    harness_row = NULL;
}

/* ---- Names: conversion from UTF-16 and sanitising ---------------------- */

struct run { unsigned code_point; int count; }; /* above U+FFFF: a surrogate pair */
struct bytes_run { const char *bytes; int count; };

static const struct name_case {
    const char *label;
    struct run description[5];   /* runs of characters; 128 UTF-16 units leave no NUL */
    struct bytes_run name[4];    /* the expected "name" value in the report */
} name_cases[] = {
    {"empty", {{0, 0}}, {{"", 0}}},
    {"spaces only", {{' ', 127}}, {{"", 0}}},
    {"one space", {{' ', 1}}, {{"", 0}}},
    {"A, space, 0x01", {{'A', 1}, {' ', 1}, {1, 1}}, {{"A", 1}}},
    {"A, 0x01, space", {{'A', 1}, {1, 1}, {' ', 1}}, {{"A", 1}}},
    {"inner control byte dropped", {{'A', 1}, {' ', 1}, {1, 1}, {'B', 1}}, {{"A B", 1}}},
    {"leading and inner spaces stay", {{' ', 2}, {'A', 1}, {' ', 1}, {'B', 1}, {' ', 2}}, {{"  A B", 1}}},
    {"tab dropped", {{'A', 1}, {'\t', 1}, {'B', 1}}, {{"AB", 1}}},
    {"CR LF at the end dropped", {{'A', 1}, {'B', 1}, {'\r', 1}, {'\n', 1}}, {{"AB", 1}}},
    {"trailing backslash", {{'A', 1}, {'B', 1}, {'\\', 1}}, {{"AB\\\\", 1}}},
    {"trailing backslash, spaces", {{'A', 1}, {'B', 1}, {'\\', 1}, {' ', 2}}, {{"AB\\\\", 1}}},
    {"slash stays bare", {{'a', 1}, {'/', 1}, {'b', 1}}, {{"a/b", 1}}},
    {"127 plain bytes", {{'A', 127}}, {{"A", 127}}},
    {"DEL and e-acute", {{0x7F, 1}, {0xE9, 1}}, {{"\x7F\xC3\xA9", 1}}},
    {"trailing no-break space kept", {{'A', 1}, {0xA0, 1}}, {{"A\xC2\xA0", 1}}},
    {"127 quotes", {{'"', 127}}, {{"\\\"", 95}}},
    {"127 backslashes", {{'\\', 127}}, {{"\\\\", 95}}},
    {"A and 126 quotes: 191 bytes", {{'A', 1}, {'"', 126}}, {{"A", 1}, {"\\\"", 95}}},
    {"AA and 125 quotes: 190 bytes", {{'A', 2}, {'"', 125}}, {{"AA", 1}, {"\\\"", 94}}},
    {"63 A and 64 quotes", {{'A', 63}, {'"', 64}}, {{"A", 63}, {"\\\"", 64}}},
    {"64 quotes and 63 A", {{'"', 64}, {'A', 63}}, {{"\\\"", 64}, {"A", 62}}},
    {"bound stops before C", {{'A', 1}, {'"', 94}, {'B', 1}, {'C', 1}}, {{"A", 1}, {"\\\"", 94}, {"B", 1}}},
    {"bound then trim", {{'A', 1}, {'"', 94}, {' ', 2}, {'B', 1}}, {{"A", 1}, {"\\\"", 94}}},
    {"95 quotes, euro left out", {{'"', 95}, {0x20AC, 1}}, {{"\\\"", 95}}},
    {"94 quotes, euro not split", {{'"', 94}, {0x20AC, 1}}, {{"\\\"", 94}}},
    {"93 quotes, euro fits", {{'"', 93}, {0x20AC, 1}}, {{"\\\"", 93}, {"\xE2\x82\xAC", 1}}},
    /* UTF-16 to UTF-8: whole characters up to 127 bytes, always a NUL. */
    {"64 e-acute", {{0xE9, 64}}, {{"\xC3\xA9", 63}}},
    {"127 euro signs", {{0x20AC, 127}}, {{"\xE2\x82\xAC", 42}}},
    {"128 units, no NUL", {{'B', 128}}, {{"B", 127}}},
    {"128 units of e-acute, no NUL", {{0xE9, 128}}, {{"\xC3\xA9", 63}}},
    /* 1 + 31 x 4 bytes fit in 127; the 32nd U+1F600 would need 4 more. */
    {"surrogate pairs never split", {{'A', 1}, {0x1F600, 63}}, {{"A", 1}, {"\xF0\x9F\x98\x80", 31}}},
    {"lone surrogate", {{0xD800, 1}, {'A', 1}}, {{"\xEF\xBF\xBD" "A", 1}}},
};

static void fill_description(WCHAR *d, const struct run *runs)
{
    int at = 0;
    for (int r = 0; r < 5 && runs[r].count; ++r)
        for (int k = 0; k < runs[r].count && at < FAKE_DXGI_DESCRIPTION_UNITS; ++k) {
            unsigned c = runs[r].code_point;
            if (c > 0xFFFF && at + 1 < FAKE_DXGI_DESCRIPTION_UNITS) {
                d[at++] = (WCHAR)(0xD800 + ((c - 0x10000) >> 10));
                d[at++] = (WCHAR)(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                d[at++] = (WCHAR)c;
            }
        }
    if (at < FAKE_DXGI_DESCRIPTION_UNITS)
        d[at] = 0;
}

static void expected_name(char *out, const struct bytes_run *runs)
{
    out[0] = '\0';
    for (int r = 0; r < 4 && runs[r].count; ++r)
        for (int k = 0; k < runs[r].count; ++k)
            strcat(out, runs[r].bytes);
}

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
    for (size_t i = 0; i < sizeof name_cases / sizeof name_cases[0]; ++i) {
        const struct name_case *c = &name_cases[i];
        WCHAR description[FAKE_DXGI_DESCRIPTION_UNITS];
        char name[256];
        fill_description(description, c->description);
        expected_name(name, c->name);
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
    test_no_whitespace();
    return harness_finish();
}
