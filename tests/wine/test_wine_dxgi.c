/* Smoke test against the system's own DXGI, through the real system
 * directory. The counting calls must agree with the report. Under Wine with
 * its no3d renderer DXGI lists one adapter, "WineD3D DirectDraw Emulation",
 * vendor 0, 128 MiB, no driver version; on Windows the adapters are the
 * machine's own (a hosted runner has the "Microsoft Basic Render Driver"). */
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

int main(void)
{
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
        hardware += field(report, i, "software") == 0;
        check_int(lib.vram_mb(i), field(report, i, "dedicated_vram_mb"));
    }
    ok(adapters >= 1, "no adapters listed");
    check_int(lib.adapter_count(), hardware);
    check_int(lib.vram_mb(adapters), -1);

    if (!harness_under_wine())
        return harness_finish();
    ok(strstr(report, "{\"index\":0,\"name\":\"WineD3D DirectDraw Emulation\",\"vendor\":\"Unknown\","
                      "\"vendor_id\":0,") != NULL,
       "first adapter is not the no3d one");
    check_int(field(report, 0, "dedicated_vram_mb"), 128);
    check_str(lib.last_error(), "");
    return harness_finish();
}
