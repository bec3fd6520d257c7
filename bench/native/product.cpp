#include "product.h"

#include "gpuinfo.h"
#include "gpuinfo_internal.h"
#include <dxgi.h>

#include "stand_in.h"

static adapter_info max_table[MAX_ADAPTERS];
static char sanitized[NAME_BUF_SIZE];

int bench_fill_max16(void)
{
    bench_use_max16();
    int n = enum_adapters(max_table, true);
    bench_use_max16(); /* drops the objects the walk left with the stand-in */
    return n;
}

const char *bench_format_max16(void)
{
    return format_report(max_table, MAX_ADAPTERS);
}

const char *bench_sanitize_max(void)
{
    sanitize_name(max_table[0].name, sanitized);
    return sanitized;
}

const char *bench_get_json(void)
{
    return gpuinfo_get_json();
}

int bench_adapter_count(void)
{
    return gpuinfo_adapter_count();
}

/* Reading what the library reads, so the compiler cannot drop it. */
static volatile uint64_t consumed;

static void bench_consume(uint64_t value)
{
    consumed = consumed + value;
}

/* The system directory of the stand-in's scenario. */
static const char SYSTEM_DXGI[] = "C:\\Windows\\system32\\dxgi.dll";

typedef HRESULT(WINAPI *create_factory_fn)(REFIID, void **);

/* The same DXGI calls as the library makes, nothing formatted or kept. */
int bench_floor(void)
{
    HMODULE dxgi = LoadLibraryExA(SYSTEM_DXGI, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    create_factory_fn create = reinterpret_cast<create_factory_fn>(
        reinterpret_cast<void *>(GetProcAddress(dxgi, "CreateDXGIFactory")));
    IDXGIFactory *factory = NULL;
    if (!create || FAILED(create(IID_IDXGIFactory_, reinterpret_cast<void **>(&factory))) || !factory)
        return -1;
    int n = 0;
    IDXGIAdapter *adapter = NULL;
    for (UINT i = 0; n < MAX_ADAPTERS && factory->EnumAdapters(i, &adapter) == S_OK && adapter; ++i, ++n) {
        DXGI_ADAPTER_DESC desc;
        LARGE_INTEGER version;
        adapter->GetDesc(&desc);
        adapter->CheckInterfaceSupport(IID_IDXGIDevice_, &version);
        bench_consume(desc.VendorId + (uint64_t)version.QuadPart);
        adapter->Release();
    }
    factory->Release();
    return n;
}
