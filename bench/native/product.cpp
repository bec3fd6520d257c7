/* The library source itself, built on the stand-in platform, with a way in
 * to its internal report functions. */
#include "../../src/gpuinfo.cpp"

#include "platform.h"
#include "product.h"

static adapter_info max_table[BENCH_ADAPTERS];
static char sanitized[NAME_BUF_SIZE];

void bench_fill_max16(void)
{
    for (adapter_info &a : max_table) {
        memset(&a, 0, sizeof a);
        /* What convert_name makes of 'A' and 126 quotes. */
        a.name[0] = 'A';
        memset(a.name + 1, '"', NAME_SIZE - 2);
        a.vendor_id = UINT32_MAX;
        a.device_id = UINT32_MAX;
        a.dedicated_vram = UINT64_MAX;
        a.shared_memory = UINT64_MAX;
        format_driver_version(a.driver_version, UINT64_MAX);
    }
}

const char *bench_format_max16(void)
{
    format_report(max_table, BENCH_ADAPTERS);
    return g_json;
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

/* The same DXGI calls as the library makes, nothing formatted or kept. */
int bench_floor(void)
{
    static const char path[] = "C:\\windows\\system32\\dxgi.dll";
    HMODULE dxgi = LoadLibraryExA(path, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    create_factory_fn create = reinterpret_cast<create_factory_fn>(
        reinterpret_cast<void *>(GetProcAddress(dxgi, CREATE_FACTORY)));
    IDXGIFactory *factory = NULL;
    if (!create || FAILED(create(IID_IDXGIFactory_, reinterpret_cast<void **>(&factory))))
        return -1;
    int n = 0;
    IDXGIAdapter *adapter = NULL;
    for (UINT i = 0; factory->EnumAdapters(i, &adapter) == S_OK && adapter; ++i, ++n) {
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
