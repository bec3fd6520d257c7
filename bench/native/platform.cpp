/* A stand-in platform for the library source: one dxgi.dll that lists the
 * sixteen maximal adapters of the "max16" preset through in-process objects
 * that cost next to nothing, and a plain UTF-16 to UTF-8 conversion. What the
 * benchmarks then time is the library's own work. */
#include <windows.h>
#include <dxgi.h>

#include <string.h>

#include "platform.h"
#include "product.h"

static volatile uint64_t consumed;

void bench_consume(uint64_t value)
{
    consumed = consumed + value;
}

static const char SYSTEM_DIR[] = "C:\\windows\\system32";
static const uint64_t MAX_DRIVER_VERSION = UINT64_MAX;
static const UINT DXGI_ERROR_NOT_FOUND_ = 0x887A0002u;

struct max_adapter : IDXGIAdapter {
    HRESULT GetDesc(DXGI_ADAPTER_DESC *desc) override
    {
        memset(desc, 0, sizeof *desc);
        desc->Description[0] = u'A';
        for (int k = 1; k < 127; ++k)
            desc->Description[k] = u'"';
        desc->VendorId = UINT32_MAX;
        desc->DeviceId = UINT32_MAX;
        desc->DedicatedVideoMemory = SIZE_MAX;
        desc->SharedSystemMemory = SIZE_MAX;
        return S_OK;
    }
    HRESULT CheckInterfaceSupport(REFGUID, LARGE_INTEGER *version) override
    {
        version->QuadPart = (LONGLONG)MAX_DRIVER_VERSION;
        return S_OK;
    }
    unsigned long Release() override { return 0; }
};

struct max_factory : IDXGIFactory {
    max_adapter adapter;
    HRESULT EnumAdapters(UINT index, IDXGIAdapter **out) override
    {
        if (index >= BENCH_ADAPTERS) {
            *out = NULL;
            return (HRESULT)DXGI_ERROR_NOT_FOUND_;
        }
        *out = &adapter;
        return S_OK;
    }
    unsigned long Release() override { return 0; }
};

static max_factory factory;

static HRESULT create_factory(REFIID, void **out)
{
    *out = &factory;
    return S_OK;
}

static intptr_t add_dll_directory(void)
{
    return 0;
}

static struct bench_module {
    int unused;
} kernel32_module, dxgi_module;

UINT GetSystemDirectoryA(char *buffer, UINT size)
{
    if (size < sizeof SYSTEM_DIR)
        return sizeof SYSTEM_DIR;
    memcpy(buffer, SYSTEM_DIR, sizeof SYSTEM_DIR);
    return sizeof SYSTEM_DIR - 1;
}

HMODULE GetModuleHandleA(const char *name)
{
    return strcmp(name, "kernel32.dll") == 0 ? &kernel32_module : NULL;
}

FARPROC GetProcAddress(HMODULE module, const char *name)
{
    if (module == &kernel32_module && strcmp(name, "AddDllDirectory") == 0)
        return add_dll_directory;
    if (module == &dxgi_module && strcmp(name, "CreateDXGIFactory") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(create_factory));
    return NULL;
}

HMODULE LoadLibraryExA(const char *path, void *, DWORD)
{
    return path ? &dxgi_module : NULL;
}

/* UTF-16 to UTF-8, a lone surrogate as U+FFFD; 0 when `room` is too small. */
int WideCharToMultiByte(UINT, DWORD, const WCHAR *text, int units, char *out, int room, const char *, BOOL *)
{
    int len = 0;
    for (int i = 0; i < units; ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            if (len >= room)
                return 0;
            out[len++] = (char)c;
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        char bytes[4];
        int n;
        if (c < 0x80) {
            bytes[0] = (char)c;
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = (char)(0xC0 | c >> 6);
            bytes[1] = (char)(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = (char)(0xE0 | c >> 12);
            bytes[1] = (char)(0x80 | (c >> 6 & 0x3F));
            bytes[2] = (char)(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = (char)(0xF0 | c >> 18);
            bytes[1] = (char)(0x80 | (c >> 12 & 0x3F));
            bytes[2] = (char)(0x80 | (c >> 6 & 0x3F));
            bytes[3] = (char)(0x80 | (c & 0x3F));
            n = 4;
        }
        if (len + n > room)
            return 0;
        memcpy(out + len, bytes, (size_t)n);
        len += n;
    }
    return len;
}
