/* A stand-in for the library that hands gpuinfo.exe a report of the test's
 * choosing: gpuinfo_get_json returns the bytes of report.json in this DLL's
 * own folder, exactly as they are, so a test can feed the tool's reader any
 * text, broken UTF-8 included. Without that file it fails like the library
 * does when DXGI can't be reached. The counting calls are never used by the
 * tool and answer -1. */
#include <windows.h>

enum {
    REPORT_BYTES = 65536, /* far more than any report the library can write */
    PATH_UNITS = 32768,
};

static char g_report[REPORT_BYTES];
static char g_error[64];

const char *gpuinfo_version(void);
const char *gpuinfo_last_error(void);
const char *gpuinfo_get_json(void);
int gpuinfo_adapter_count(void);
int gpuinfo_vram_mb(int index);

const char *gpuinfo_version(void)
{
    return GPUINFO_EXPECTED_VERSION;
}

const char *gpuinfo_last_error(void)
{
    return g_error;
}

static const char *failed(const char *reason)
{
    lstrcpynA(g_error, reason, (int)sizeof g_error);
    return NULL;
}

const char *gpuinfo_get_json(void)
{
    static const WCHAR file[] = L"report.json";
    static WCHAR path[PATH_UNITS];
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void *)g_report, &self);
    DWORD length = GetModuleFileNameW(self, path, PATH_UNITS);
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    if (length == 0 || length + sizeof file / sizeof file[0] > PATH_UNITS)
        return failed("no folder");
    memcpy(path + length, file, sizeof file);

    HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return failed("no report.json");
    DWORD read = 0;
    BOOL ok = ReadFile(handle, g_report, REPORT_BYTES - 1, &read, NULL);
    CloseHandle(handle);
    if (!ok)
        return failed("report.json unreadable");
    g_report[read] = '\0';
    g_error[0] = '\0';
    return g_report;
}

int gpuinfo_adapter_count(void)
{
    return -1;
}

int gpuinfo_vram_mb(int index)
{
    (void)index;
    return -1;
}
