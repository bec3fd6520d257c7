/* Smoke test against the machine's own DXGI, through the real system
 * directory. What holds on any machine: a report, the counting calls agree
 * with it, and the software flag is exactly vendor 0x1414 (a hosted runner
 * lists only the "Microsoft Basic Render Driver", a workstation its GPUs and
 * that one). With the argument "wine-no3d" the machine is Wine's DXGI with
 * its no3d renderer, which lists one adapter, "WineD3D DirectDraw
 * Emulation", vendor 0, 128 MiB, no driver version. */
#include "harness.h"

/* The numeric value of "key": in the index-th object, or -1. */
static long long field(const char *report, int index, const char *key)
{
    char pattern[64];
    const char *p = report;
    for (int i = 0; i <= index; ++i) {
        p = strstr(p, "{\"index\":");
        if (!p)
            return -1;
        ++p;
    }
    snprintf(pattern, sizeof pattern, "\"%s\":", key);
    p = strstr(p, pattern);
    return p ? strtoll(p + strlen(pattern), NULL, 10) : -1;
}

/* The text value of "key" in the index-th object, copied into out. */
static const char *text_field(const char *report, int index, const char *key, char *out, size_t size)
{
    char pattern[64];
    const char *p = report;
    for (int i = 0; i <= index; ++i) {
        p = strstr(p, "{\"index\":");
        if (!p)
            return "";
        ++p;
    }
    snprintf(pattern, sizeof pattern, "\"%s\":\"", key);
    p = strstr(p, pattern);
    if (!p)
        return "";
    p += strlen(pattern);
    size_t n = strcspn(p, "\"");
    snprintf(out, size, "%.*s", (int)(n < size ? n : size - 1), p);
    return out;
}

enum { SOFTWARE_VENDOR = 0x1414 };

int main(int argc, char **argv)
{
    int wine_no3d = argc > 1 && !strcmp(argv[1], "wine-no3d");
    struct gpuinfo_api lib;
    load_gpuinfo(&lib);

    const char *report = lib.get_json();
    log_report(report);
    ok(report != NULL, "no report: %s", lib.last_error());
    check_str(lib.last_error(), "");
    if (!report)
        return harness_finish();
    printf("%s\n", report);

    int adapters = 0, hardware = 0;
    while (field(report, adapters, "index") == adapters)
        ++adapters;
    for (int i = 0; i < adapters; ++i) {
        char vendor[32];
        long long software = field(report, i, "software");
        int microsoft = field(report, i, "vendor_id") == SOFTWARE_VENDOR;
        hardware += software == 0;
        check_int(software, microsoft);
        if (microsoft)
            check_str(text_field(report, i, "vendor", vendor, sizeof vendor), "Microsoft");
        check_int(lib.vram_mb(i), field(report, i, "dedicated_vram_mb"));
    }
    ok(adapters >= 1, "no adapters listed");
    check_int(lib.adapter_count(), hardware);
    check_int(lib.vram_mb(adapters), -1);
    check_str(lib.last_error(), "");

    if (wine_no3d) {
        ok(harness_under_wine(), "wine-no3d asked for outside Wine");
        ok(strstr(report, "{\"index\":0,\"name\":\"WineD3D DirectDraw Emulation\",\"vendor\":\"Unknown\","
                          "\"vendor_id\":0,") != NULL,
           "first adapter is not the no3d one");
        check_int(adapters, 1);
        check_int(field(report, 0, "dedicated_vram_mb"), 128);
    }
    return harness_finish();
}
