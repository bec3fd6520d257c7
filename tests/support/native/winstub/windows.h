/* Native stand-in for the handful of Windows declarations gpuinfo.cpp uses,
 * so the library source builds on Linux for the sanitizer tests. Sizes follow
 * 64-bit Windows (LLP64), not the host: DWORD and LONG stay 32-bit, WCHAR is a
 * UTF-16 unit and SIZE_T is 64-bit. The functions are defined by the tests
 * (fake_system.cpp), which answer them from an in-memory system. */
#ifndef QUILLMAR_NATIVE_WINDOWS_H
#define QUILLMAR_NATIVE_WINDOWS_H

#include <stdint.h>

#ifndef __cplusplus
#error "the native stand-in headers are for the C++ test build only"
#endif

#define WINAPI
#define STDMETHODCALLTYPE
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define CP_UTF8 65001u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u

typedef int BOOL;
typedef BOOL *LPBOOL;
typedef unsigned char BYTE;
typedef unsigned short USHORT;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int64_t INT_PTR;
typedef unsigned long long SIZE_T;
typedef char16_t WCHAR;
typedef const WCHAR *LPCWCH;
typedef char CHAR;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef const CHAR *LPCCH;
typedef void *LPVOID;
typedef void *HANDLE;
typedef LONG HRESULT;

typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__ *HWND;
typedef INT_PTR(WINAPI *FARPROC)(void);

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "LLP64 widths");
static_assert(sizeof(WCHAR) == 2 && sizeof(SIZE_T) == 8, "LLP64 widths");

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef const IID &REFIID;
typedef const GUID &REFGUID;

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_FAIL ((HRESULT)0x80004005L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
    virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
HMODULE WINAPI LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide, int wide_units, LPSTR bytes,
                               int byte_room, LPCCH default_char, LPBOOL used_default_char);

#endif
