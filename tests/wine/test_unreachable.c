/* DXGI can't be reached: run with dxgi.dll unloadable, or with a dxgi.dll that
 * lacks CreateDXGIFactory. argv[1] is the reason every call must report. */
#include "harness.h"

int main(int argc, char **argv)
{
    if (argc != 2)
        harness_fatal("usage: test_unreachable <expected last error>");
    const char *want = argv[1];
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
    check_str(lib.version(), "1.0.0");

    /* The library loads and answers without DXGI: no load-time import. */
    ok(GetModuleHandleA(GPUINFO_DLL) != NULL, "library not loaded");
    return harness_finish();
}
