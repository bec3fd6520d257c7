/* Smoke test against the machine's own DXGI, through the real system
 * directory. What holds on any machine: a report, the counting calls agree
 * with it, and the software flag is exactly vendor 0x1414 (a hosted runner
 * lists only the "Microsoft Basic Render Driver", a workstation its GPUs and
 * that one). With the argument "wine-no3d" the machine is Wine's DXGI with
 * its no3d renderer, which lists one adapter, "WineD3D DirectDraw
 * Emulation", vendor 0, 128 MiB, no driver version. */
#include "harness.h"

#include "gpuinfo_report.h"

enum { SOFTWARE_VENDOR = 0x1414, MAX_LISTED = 16 };

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

    /* The report read by the public reader, as a C host reads it. */
    gpuinfo_adapter records[MAX_LISTED];
    size_t at = 0;
    int adapters = gpuinfo_read_report(report, records, MAX_LISTED, &at);
    ok(adapters >= 0, "the report is unreadable at byte %u", (unsigned)at);
    ok(adapters <= MAX_LISTED, "%d adapters listed, more than the library lists", adapters);
    if (adapters < 0 || adapters > MAX_LISTED)
        return harness_finish();
    int hardware = 0;
    for (int i = 0; i < adapters; ++i) {
        const gpuinfo_adapter *a = &records[i];
        int microsoft = a->vendor_id == SOFTWARE_VENDOR;
        check_int(a->index, i);
        hardware += a->software == 0;
        check_int(a->software, microsoft);
        if (microsoft)
            check_str(a->vendor, "Microsoft");
        check_int(lib.vram_mb(i), a->dedicated_vram_mb);
    }
    ok(adapters >= 1, "no adapters listed");
    check_int(lib.adapter_count(), hardware);
    check_int(lib.vram_mb(adapters), -1);
    check_str(lib.last_error(), "");

    if (wine_no3d) {
        ok(harness_under_wine(), "wine-no3d asked for outside Wine");
        check_int(adapters, 1);
        check_str(records[0].name, "WineD3D DirectDraw Emulation");
        check_str(records[0].vendor, "Unknown");
        check_int(records[0].vendor_id, 0);
        check_int(records[0].dedicated_vram_mb, 128);
        check_str(records[0].driver_version, "");
    }
    return harness_finish();
}
