/* Loading the library: see library.h. Paths are UTF-16 throughout, so a
 * folder named in any script works, whatever the ANSI code page. */
#include "library.h"

#include "console.h"

#include <windows.h>
#include <string.h>

#define LIBRARY_FILE_WIDE L"quillmar-dxgi-gpu-info.dll"

enum {
    PATH_UNITS = 32768,   /* the longest path Windows accepts, in UTF-16 units */
    UTF8_PER_UNIT = 3,
};

static FARPROC find_export(HMODULE module, const char *name, int *missing)
{
    FARPROC proc = GetProcAddress(module, name);
    if (!proc) {
        console_error("gpuinfo: %s lacks the export %s\n", LIBRARY_FILE, name);
        *missing = 1;
    }
    return proc;
}

/* GetProcAddress hands back a generic function pointer, cast here to the
 * header's type of the function of that name. */
#define FIND(member, function) \
    lib->member = (function *)(void (*)(void))find_export(module, #function, &missing)

enum load_result library_load(struct library *lib)
{
    static WCHAR path[PATH_UNITS];
    static char shown[PATH_UNITS * UTF8_PER_UNIT];
    DWORD length = GetModuleFileNameW(NULL, path, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS) {
        console_error("gpuinfo: cannot tell which folder gpuinfo.exe is in\n");
        return LOAD_MISSING;
    }
    WCHAR *slash = wcsrchr(path, L'\\');
    size_t folder = slash ? (size_t)(slash - path) + 1 : 0;
    if (folder + sizeof LIBRARY_FILE_WIDE / sizeof(WCHAR) > PATH_UNITS) {
        console_error("gpuinfo: the path of gpuinfo.exe is too long\n");
        return LOAD_MISSING;
    }
    memcpy(path + folder, LIBRARY_FILE_WIDE, sizeof LIBRARY_FILE_WIDE);

    HMODULE module = LoadLibraryW(path);
    if (!module) {
        DWORD error = GetLastError();
        console_utf8(path, shown, sizeof shown);
        console_error("gpuinfo: cannot load ");
        console_write(CONSOLE_ERR, shown, strlen(shown));
        console_error(" (error %lu)\n", (unsigned long)error);
        return LOAD_MISSING;
    }
    /* All five are looked up, used or not: a DLL that lacks one is not the
     * library this tool was built for. */
    int missing = 0;
    FIND(version, gpuinfo_version);
    FIND(last_error, gpuinfo_last_error);
    FIND(get_json, gpuinfo_get_json);
    FIND(adapter_count, gpuinfo_adapter_count);
    FIND(vram_mb, gpuinfo_vram_mb);
    return missing ? LOAD_INCOMPLETE : LOAD_OK;
}
