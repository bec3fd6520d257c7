/* dxgi.dll test double: CreateDXGIFactory hands out real COM objects laid
 * out as the SDK's IDXGIFactory and IDXGIAdapter, driven by a scenario.
 *
 * The objects are static and never freed, so a double Release is counted
 * rather than crashing, and a missing one shows as a live reference. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <dxgi.h>
#include <stdlib.h>
#include <string.h>

#include "fake_dxgi.h"

static const GUID fake_IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID fake_IID_IDXGIFactory = {
    0x7b7166ec, 0x21c7, 0x44ae, {0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69}};
static const GUID fake_IID_IDXGIAdapter = {
    0x2411e7e1, 0x12ac, 0x4ccf, {0xbd, 0x14, 0x97, 0x98, 0xe8, 0x53, 0x4d, 0xc0}};
static const GUID fake_IID_IDXGIDevice = {
    0x54ec77fa, 0x1377, 0x44e6, {0x8c, 0x32, 0x88, 0xfd, 0x5f, 0x44, 0xc8, 0x4c}};

struct fake_factory {
    IDXGIFactory iface;
    LONG refs;
};

struct fake_adapter_object {
    IDXGIAdapter iface;
    LONG refs;
    int index;
};

static struct fake_scenario g_scenario;
static int g_scenario_set;
static struct fake_stats g_stats;
static struct fake_factory g_factory;
static struct fake_adapter_object g_adapters[FAKE_DXGI_MAX_ADAPTERS];

static ULONG take_ref(LONG *refs)
{
    ++g_stats.live_refs;
    return (ULONG)++*refs;
}

static ULONG drop_ref(LONG *refs)
{
    if (*refs == 0) {
        ++g_stats.over_releases;
        return 0;
    }
    --g_stats.live_refs;
    return (ULONG)--*refs;
}

static HRESULT unexpected(void)
{
    ++g_stats.unexpected_calls;
    return E_NOTIMPL;
}

/* ---- Presets ----------------------------------------------------------- */

static void set_description(struct fake_adapter *a, const char *ascii)
{
    size_t i = 0;
    for (; ascii[i] && i + 1 < FAKE_DXGI_DESCRIPTION_UNITS; ++i)
        a->description[i] = (WCHAR)(unsigned char)ascii[i];
    a->description[i] = 0;
}

static LONGLONG version_words(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (LONGLONG)((ULONGLONG)a << 48 | (ULONGLONG)b << 32 | (ULONGLONG)c << 16 | d);
}

static struct fake_adapter *add_adapter(struct fake_scenario *s, const char *name, UINT vendor,
                                        UINT device, SIZE_T vram, SIZE_T shared)
{
    struct fake_adapter *a = &s->adapters[s->adapter_count++];
    set_description(a, name);
    a->vendor_id = vendor;
    a->device_id = device;
    a->dedicated_video_memory = vram;
    a->shared_system_memory = shared;
    a->version_hr = DXGI_ERROR_UNSUPPORTED;
    return a;
}

static void with_version(struct fake_adapter *a, LONGLONG version)
{
    a->version_hr = S_OK;
    a->driver_version = version;
}

/* The two adapters of the documented example report. */
static void preset_example(struct fake_scenario *s)
{
    with_version(add_adapter(s, "Example V7 Graphics", 0x1002, 0x73BF, 17163091968ULL, 34317172736ULL),
                 version_words(31, 0, 24033, 1003));
    add_adapter(s, "Software Rasterizer", 0x1414, 0x008C, 0, 4241260544ULL);
}

/* Sixteen adapters at the longest values that can stand together: a name
 * that sanitises to 191 bytes, the longest ids (whose vendor text is
 * "Unknown"), the largest sizes and the longest driver version. */
static void preset_max16(struct fake_scenario *s)
{
    for (int i = 0; i < 16; ++i) {
        struct fake_adapter *a = add_adapter(s, "", 0xFFFFFFFFu, 0xFFFFFFFFu, (SIZE_T)-1, (SIZE_T)-1);
        a->description[0] = 'A';
        for (int k = 1; k < FAKE_DXGI_DESCRIPTION_UNITS - 1; ++k)
            a->description[k] = '"';
        a->description[FAKE_DXGI_DESCRIPTION_UNITS - 1] = 0;
        with_version(a, -1);
    }
}

/* What a tool shows people: long and non-ASCII names, a software adapter,
 * an adapter without a driver version. */
static void preset_mixed(struct fake_scenario *s)
{
    static const WCHAR accented[] = {'R', 'a', 'd', 'e', 'o', 'n', ' ', 'P', 'r', 0xE9, 'c', 'i', 's',
                                     'i', 'o', 'n', ' ', 0x20AC, ' ', 0x6F22, 0x5B57, 0};
    struct fake_adapter *a = add_adapter(s, "", 0x1002, 0x73BF, 17163091968ULL, 34317172736ULL);
    memcpy(a->description, accented, sizeof accented);
    with_version(a, version_words(31, 0, 24033, 1003));
    with_version(add_adapter(s,
                             "NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going "
                             "Past Any Sensible Column Width Of A Table",
                             0x10DE, 0x2684, 25757220864ULL, 34317172736ULL),
                 version_words(32, 15, 16, 3370));
    add_adapter(s, "Intel Example Graphics", 0x8086, 0x9A49, 134217728ULL, 17158586368ULL);
    add_adapter(s, "Software Rasterizer", 0x1414, 0x008C, 0, 4241260544ULL);
}

/* Characters above U+FFFF, which reach DXGI as surrogate pairs (U+1F600,
 * U+20BB7). */
static void preset_beyond_bmp(struct fake_scenario *s)
{
    static const WCHAR name[] = {'A', 's', 't', 'r', 'a', ' ', 0xD83D, 0xDE00, ' ', 0xD842, 0xDFB7,
                                 ' ', 'G', 'P', 'U', 0};
    struct fake_adapter *a = add_adapter(s, "", 0x10DE, 0x2684, 8589934592ULL, 17179869184ULL);
    memcpy(a->description, name, sizeof name);
    with_version(a, version_words(32, 0, 15, 6094));
}

/* Names a console draws in other widths than one column per code point:
 * twenty CJK characters fill a 40-column name exactly, twenty-five overflow
 * it with fewer than 40 code points, combining accents make a name longer
 * in code points than it is wide, and one falls right where a cut goes. */
static void preset_wide_names(struct fake_scenario *s)
{
    static const WCHAR *const names[] = {
        L"高性能图形处理器示例型号专业工作站用显卡",
        L"グラフィックス処理装置サンプル高性能計算加速カード",
        L"Carte graphique ge\u0301ne\u0301rique e\u0301le\u0301mentaire",
        L"Carte graphique de de\u0301monstration : mode\u0300le tre\u0300s long",
    };
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        struct fake_adapter *a = add_adapter(s, "", FAKE_VENDOR_AMD, 0x73BF, 17163091968ULL, 34317172736ULL);
        memcpy(a->description, names[i], (wcslen(names[i]) + 1) * sizeof(WCHAR));
    }
}

static int preset(const char *name, struct fake_scenario *out)
{
    memset(out, 0, sizeof *out);
    if (!strcmp(name, "empty"))
        return 1;
    if (!strcmp(name, "example"))
        return preset_example(out), 1;
    if (!strcmp(name, "max16"))
        return preset_max16(out), 1;
    if (!strcmp(name, "mixed"))
        return preset_mixed(out), 1;
    if (!strcmp(name, "beyond_bmp"))
        return preset_beyond_bmp(out), 1;
    if (!strcmp(name, "wide_names"))
        return preset_wide_names(out), 1;
    if (!strcmp(name, "create_fails")) {
        out->create_hr = E_FAIL;
        return 1;
    }
    return 0;
}

/* ---- IDXGIAdapter ------------------------------------------------------ */

static struct fake_adapter_object *adapter_from(IDXGIAdapter *iface)
{
    return (struct fake_adapter_object *)iface;
}

static HRESULT STDMETHODCALLTYPE fake_adapter_QueryInterface(IDXGIAdapter *iface, REFIID riid, void **out)
{
    if (IsEqualGUID(riid, &fake_IID_IUnknown) || IsEqualGUID(riid, &fake_IID_IDXGIAdapter)) {
        take_ref(&adapter_from(iface)->refs);
        *out = iface;
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE fake_adapter_AddRef(IDXGIAdapter *iface)
{
    return take_ref(&adapter_from(iface)->refs);
}

static ULONG STDMETHODCALLTYPE fake_adapter_Release(IDXGIAdapter *iface)
{
    return drop_ref(&adapter_from(iface)->refs);
}

static HRESULT STDMETHODCALLTYPE fake_adapter_SetPrivateData(IDXGIAdapter *iface, REFGUID guid, UINT size,
                                                             const void *data)
{
    (void)iface, (void)guid, (void)size, (void)data;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_adapter_SetPrivateDataInterface(IDXGIAdapter *iface, REFGUID guid,
                                                                      const IUnknown *object)
{
    (void)iface, (void)guid, (void)object;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_adapter_GetPrivateData(IDXGIAdapter *iface, REFGUID guid, UINT *size,
                                                             void *data)
{
    (void)iface, (void)guid, (void)size, (void)data;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_adapter_GetParent(IDXGIAdapter *iface, REFIID riid, void **parent)
{
    (void)iface, (void)riid;
    *parent = NULL;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_adapter_EnumOutputs(IDXGIAdapter *iface, UINT index, IDXGIOutput **output)
{
    (void)iface, (void)index;
    *output = NULL;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_adapter_GetDesc(IDXGIAdapter *iface, DXGI_ADAPTER_DESC *desc)
{
    const struct fake_adapter *a = &g_scenario.adapters[adapter_from(iface)->index];
    ++g_stats.desc_calls;
    if (FAILED(a->desc_hr))
        return a->desc_hr;
    memset(desc, 0, sizeof *desc);
    memcpy(desc->Description, a->description, sizeof desc->Description);
    desc->VendorId = a->vendor_id;
    desc->DeviceId = a->device_id;
    desc->SubSysId = a->subsys_id;
    desc->Revision = a->revision;
    desc->DedicatedVideoMemory = a->dedicated_video_memory;
    desc->DedicatedSystemMemory = a->dedicated_system_memory;
    desc->SharedSystemMemory = a->shared_system_memory;
    desc->AdapterLuid.LowPart = 0x1000u + (DWORD)adapter_from(iface)->index;
    return a->desc_hr;
}

static HRESULT STDMETHODCALLTYPE fake_adapter_CheckInterfaceSupport(IDXGIAdapter *iface, REFGUID guid,
                                                                    LARGE_INTEGER *version)
{
    const struct fake_adapter *a = &g_scenario.adapters[adapter_from(iface)->index];
    ++g_stats.version_calls;
    if (!IsEqualGUID(guid, &fake_IID_IDXGIDevice))
        return unexpected();
    if (SUCCEEDED(a->version_hr))
        version->QuadPart = a->driver_version;
    return a->version_hr;
}

static IDXGIAdapterVtbl fake_adapter_vtbl = {
    fake_adapter_QueryInterface,
    fake_adapter_AddRef,
    fake_adapter_Release,
    fake_adapter_SetPrivateData,
    fake_adapter_SetPrivateDataInterface,
    fake_adapter_GetPrivateData,
    fake_adapter_GetParent,
    fake_adapter_EnumOutputs,
    fake_adapter_GetDesc,
    fake_adapter_CheckInterfaceSupport,
};

/* ---- IDXGIFactory ------------------------------------------------------ */

static HRESULT STDMETHODCALLTYPE fake_factory_QueryInterface(IDXGIFactory *iface, REFIID riid, void **out)
{
    if (IsEqualGUID(riid, &fake_IID_IUnknown) || IsEqualGUID(riid, &fake_IID_IDXGIFactory)) {
        take_ref(&g_factory.refs);
        *out = iface;
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE fake_factory_AddRef(IDXGIFactory *iface)
{
    (void)iface;
    return take_ref(&g_factory.refs);
}

static ULONG STDMETHODCALLTYPE fake_factory_Release(IDXGIFactory *iface)
{
    (void)iface;
    return drop_ref(&g_factory.refs);
}

static HRESULT STDMETHODCALLTYPE fake_factory_SetPrivateData(IDXGIFactory *iface, REFGUID guid, UINT size,
                                                             const void *data)
{
    (void)iface, (void)guid, (void)size, (void)data;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_SetPrivateDataInterface(IDXGIFactory *iface, REFGUID guid,
                                                                      const IUnknown *object)
{
    (void)iface, (void)guid, (void)object;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_GetPrivateData(IDXGIFactory *iface, REFGUID guid, UINT *size,
                                                             void *data)
{
    (void)iface, (void)guid, (void)size, (void)data;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_GetParent(IDXGIFactory *iface, REFIID riid, void **parent)
{
    (void)iface, (void)riid;
    *parent = NULL;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_EnumAdapters(IDXGIFactory *iface, UINT index,
                                                           IDXGIAdapter **adapter)
{
    (void)iface;
    ++g_stats.enum_calls;
    if (index >= (UINT)g_scenario.adapter_count)
        return g_scenario.end_hr ? g_scenario.end_hr : FAKE_DXGI_ERROR_NOT_FOUND;
    const struct fake_adapter *a = &g_scenario.adapters[index];
    if (a->enum_hr != S_OK || a->enum_gives_null) {
        *adapter = NULL;
        return a->enum_hr;
    }
    g_adapters[index].index = (int)index;
    take_ref(&g_adapters[index].refs);
    *adapter = &g_adapters[index].iface;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE fake_factory_MakeWindowAssociation(IDXGIFactory *iface, HWND window, UINT flags)
{
    (void)iface, (void)window, (void)flags;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_GetWindowAssociation(IDXGIFactory *iface, HWND *window)
{
    (void)iface;
    *window = NULL;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_CreateSwapChain(IDXGIFactory *iface, IUnknown *device,
                                                              DXGI_SWAP_CHAIN_DESC *desc, IDXGISwapChain **chain)
{
    (void)iface, (void)device, (void)desc;
    *chain = NULL;
    return unexpected();
}

static HRESULT STDMETHODCALLTYPE fake_factory_CreateSoftwareAdapter(IDXGIFactory *iface, HMODULE module,
                                                                    IDXGIAdapter **adapter)
{
    (void)iface, (void)module;
    *adapter = NULL;
    return unexpected();
}

static IDXGIFactoryVtbl fake_factory_vtbl = {
    fake_factory_QueryInterface,
    fake_factory_AddRef,
    fake_factory_Release,
    fake_factory_SetPrivateData,
    fake_factory_SetPrivateDataInterface,
    fake_factory_GetPrivateData,
    fake_factory_GetParent,
    fake_factory_EnumAdapters,
    fake_factory_MakeWindowAssociation,
    fake_factory_GetWindowAssociation,
    fake_factory_CreateSwapChain,
    fake_factory_CreateSoftwareAdapter,
};

/* ---- Exports ----------------------------------------------------------- */

HRESULT WINAPI CreateDXGIFactory(REFIID riid, void **factory);
void fake_dxgi_set_scenario(const struct fake_scenario *scenario);
void fake_dxgi_get_stats(struct fake_stats *stats);
int fake_dxgi_preset(const char *name, struct fake_scenario *out);

void fake_dxgi_set_scenario(const struct fake_scenario *scenario)
{
    g_scenario = *scenario;
    g_scenario_set = 1;
    memset(&g_stats, 0, sizeof g_stats);
    for (int i = 0; i < FAKE_DXGI_MAX_ADAPTERS; ++i)
        g_stats.live_refs += (int)g_adapters[i].refs;
    g_stats.live_refs += (int)g_factory.refs;
}

void fake_dxgi_get_stats(struct fake_stats *stats)
{
    *stats = g_stats;
}

int fake_dxgi_preset(const char *name, struct fake_scenario *out)
{
    return preset(name, out);
}

HRESULT WINAPI CreateDXGIFactory(REFIID riid, void **factory)
{
    if (!g_scenario_set) {
        /* A host that can't reach the control exports names a preset. */
        const char *name = getenv("FAKE_DXGI_SCENARIO");
        if (!preset(name ? name : "example", &g_scenario)) {
            g_scenario.create_hr = E_INVALIDARG;
            ++g_stats.unexpected_calls;
        }
        g_scenario_set = 1;
    }
    ++g_stats.create_calls;
    *factory = NULL;
    if (!IsEqualGUID(riid, &fake_IID_IDXGIFactory))
        return unexpected();
    if (FAILED(g_scenario.create_hr) || g_scenario.create_gives_null)
        return g_scenario.create_hr;
    g_factory.iface.lpVtbl = &fake_factory_vtbl;
    take_ref(&g_factory.refs);
    *factory = &g_factory.iface;
    return g_scenario.create_hr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance, (void)reason, (void)reserved;
    for (int i = 0; i < FAKE_DXGI_MAX_ADAPTERS; ++i)
        g_adapters[i].iface.lpVtbl = &fake_adapter_vtbl;
    return TRUE;
}
