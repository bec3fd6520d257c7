/* dxgi.dll test double: CreateDXGIFactory hands out real COM objects laid
 * out as the SDK's IDXGIFactory and IDXGIAdapter, driven by a scenario.
 * Interface ids are the SDK's own (dxguid), not copies.
 *
 * The objects are static and never freed, so a double Release is counted
 * rather than crashing, a missing one shows as a live reference, and a call
 * on an object whose last reference is gone counts as unexpected. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <dxgi.h>
#include <stdlib.h>
#include <string.h>

#include "fake_presets.h"

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
static unsigned g_generation; /* enumerations so far of a changing scenario */
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

/* Every call on an object must come with a reference held. */
static void touch(LONG refs)
{
    if (refs == 0)
        ++g_stats.unexpected_calls;
}

/* ---- IDXGIAdapter ------------------------------------------------------ */

static struct fake_adapter_object *adapter_from(IDXGIAdapter *iface)
{
    return (struct fake_adapter_object *)iface;
}

static HRESULT STDMETHODCALLTYPE fake_adapter_QueryInterface(IDXGIAdapter *iface, REFIID riid, void **out)
{
    touch(adapter_from(iface)->refs);
    if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDXGIAdapter)) {
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
    touch(adapter_from(iface)->refs);
    ++g_stats.desc_calls;
    if (!desc)
        return unexpected();
    if (FAILED(a->desc_hr)) {
        /* Whatever a failing driver leaves must not reach a record. */
        memset(desc, 0x5A, sizeof *desc);
        return a->desc_hr;
    }
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
    touch(adapter_from(iface)->refs);
    ++g_stats.version_calls;
    if (!IsEqualGUID(guid, &IID_IDXGIDevice) || !version)
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
    touch(g_factory.refs);
    if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDXGIFactory)) {
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
    touch(g_factory.refs);
    ++g_stats.enum_calls;
    if (!adapter)
        return unexpected();
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
    g_generation = 0;
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
    return fake_preset(name, out);
}

HRESULT WINAPI CreateDXGIFactory(REFIID riid, void **factory)
{
    if (!g_scenario_set) {
        /* A host that can't reach the control exports names a preset. */
        const char *name = getenv("FAKE_DXGI_SCENARIO");
        if (!fake_preset(name ? name : "example", &g_scenario)) {
            g_scenario.create_hr = E_INVALIDARG;
            ++g_stats.unexpected_calls;
        }
        g_scenario_set = 1;
    }
    ++g_stats.create_calls;
    *factory = NULL;
    if (!IsEqualGUID(riid, &IID_IDXGIFactory))
        return unexpected();
    if (g_scenario.create_failures > 0) {
        --g_scenario.create_failures;
        return E_FAIL;
    }
    if (FAILED(g_scenario.create_hr) || g_scenario.create_gives_null)
        return g_scenario.create_hr;
    if (g_scenario.changes_every_call)
        fake_generation(&g_scenario, ++g_generation);
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
