/* Linked the MSVC way (clang for the msvc target, lld-link, the bundle's
 * .lib), without a C runtime: only the library and three KERNEL32 calls,
 * whose import library the test makes from kernel32.def. */
#include "gpuinfo.h"

typedef void *HANDLE;
#define STD_OUTPUT_HANDLE ((unsigned long)-11)
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void *data, unsigned long size,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

static void put(const char *text)
{
    unsigned long length = 0, written;
    while (text[length])
        ++length;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, 0);
}

void start(void)
{
    const char *report = gpuinfo_get_json();
    put(report ? report : gpuinfo_last_error());
    put("\n");
    put(gpuinfo_version());
    put("\n");
    ExitProcess(report ? 0 : 1);
}
