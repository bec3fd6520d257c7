/* A dxgi.dll planted beside the host and in the current directory, and even
 * already loaded into the host, must not be the one the library uses: it
 * loads dxgi.dll from the system directory only.
 *
 * This program runs from a folder of its own that holds a copy of the library
 * and a planted dxgi.dll lacking CreateDXGIFactory; the system directory holds
 * the test double. */
#include "harness.h"

int main(int argc, char **argv)
{
    /* With "impostor", the planted file is also loaded into this process
     * before the library ever looks for dxgi.dll. */
    int impostor_first = argc > 1 && !strcmp(argv[1], "impostor");
    char planted[MAX_PATH], cwd[MAX_PATH];
    harness_program_dir(planted, MAX_PATH - 16);
    strcat(planted, "dxgi.dll");
    GetCurrentDirectoryA(MAX_PATH, cwd);
    ok(GetFileAttributesA(planted) != INVALID_FILE_ATTRIBUTES, "no planted dxgi.dll at %s", planted);
    ok(GetFileAttributesA("dxgi.dll") != INVALID_FILE_ATTRIBUTES, "no planted dxgi.dll in %s", cwd);

    if (impostor_first) {
        /* A bare name finds the planted file first: the premise of the attack. */
        HMODULE impostor = LoadLibraryA("dxgi.dll");
        char path[MAX_PATH] = "";
        ok(impostor != NULL, "bare LoadLibrary(dxgi.dll) failed");
        GetModuleFileNameA(impostor, path, MAX_PATH);
        ok(!_stricmp(path, planted), "bare name loaded %s, not the planted file", path);
        ok(GetProcAddress(impostor, "CreateDXGIFactory") == NULL, "planted dxgi.dll has CreateDXGIFactory");
    }

    /* The library must look for dxgi.dll before this program loads the test
     * double itself, which would otherwise already sit in the process under
     * that base name. The double serves its default "example" preset. */
    struct gpuinfo_api lib;
    load_gpuinfo(&lib);
    check_int(lib.adapter_count(), 1);
    check_str(lib.last_error(), "");
    check_int(lib.vram_mb(0), 16368);
    const char *report = lib.get_json();
    ok(report && strstr(report, "\"Example V7 Graphics\""), "report: %s", report ? report : lib.last_error());

    struct fake_api fake;
    struct fake_stats s;
    load_fake(&fake);
    fake.get_stats(&s);
    check_int(s.create_calls, 3);
    check_balanced(&fake);
    return harness_finish();
}
