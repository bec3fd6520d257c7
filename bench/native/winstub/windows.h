/* Just enough of <windows.h> for the library source to build natively in the
 * benchmarks. The platform calls are declared here and defined by the
 * benchmark programs (platform.cpp). */
#ifndef BENCH_WINSTUB_WINDOWS_H
#define BENCH_WINSTUB_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define MAX_PATH 260
#define CP_UTF8 65001u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define TRUE 1
#define S_OK ((HRESULT)0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)

typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t HRESULT;
typedef int64_t LONGLONG;
typedef size_t SIZE_T;
typedef char16_t WCHAR;
typedef void *LPVOID;
typedef struct bench_module *HMODULE;
typedef HMODULE HINSTANCE;
typedef intptr_t (*FARPROC)(void);

typedef union {
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef struct {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
} GUID;
typedef const GUID &REFIID;
typedef const GUID &REFGUID;

UINT GetSystemDirectoryA(char *buffer, UINT size);
HMODULE GetModuleHandleA(const char *name);
FARPROC GetProcAddress(HMODULE module, const char *name);
HMODULE LoadLibraryExA(const char *path, void *reserved, DWORD flags);
int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR *text, int units, char *out, int room,
                        const char *default_char, BOOL *used_default);

#endif
