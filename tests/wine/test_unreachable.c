/* DXGI can't be reached. argv[1] says how: "missing" or "no_entry" through
 * the test seam (no dxgi.dll, or one without CreateDXGIFactory), or "system"
 * when the prefix it runs in makes the system's own dxgi.dll so. argv[2] is
 * the reason every call must report. */
#include "harness.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        harness_fatal("usage: test_unreachable missing|no_entry|system <expected last error>");
    if (!strcmp(argv[1], "missing"))
        harness_use_seam(DXGI_SEAM_MISSING);
    else if (!strcmp(argv[1], "no_entry"))
        harness_use_seam(DXGI_SEAM_NO_ENTRY);
    else if (strcmp(argv[1], "system") != 0)
        harness_fatal("unknown way to make DXGI unreachable");
    const char *want = argv[2];
    struct gpuinfo_api lib;
    load_gpuinfo(&lib);

    check_str(lib.last_error(), "");
    check_int(lib.adapter_count(), -1);
    check_str(lib.last_error(), want);

    /* A report that was never made stays NULL; the text is set again. */
    ok(lib.get_json() == NULL, "get_json succeeded without DXGI");
    check_str(lib.last_error(), want);

    static const int positions[] = {0, 1, 15, 16, -1, 2147483647, -2147483647 - 1};
    for (size_t i = 0; i < sizeof positions / sizeof positions[0]; ++i) {
        check_int(lib.vram_mb(positions[i]), -1);
        check_str(lib.last_error(), want);
    }
    check_str(lib.version(), GPUINFO_EXPECTED_VERSION);

    /* The library loads and answers without DXGI: no load-time import. */
    ok(GetModuleHandleA(GPUINFO_DLL) != NULL, "library not loaded");
    return harness_finish();
}
