/* Native stand-in for the part of <dxgi.h> gpuinfo.cpp uses. The interfaces
 * keep the SDK's method order so a fake written against them has the same
 * slots as the real COM objects; types of methods the library never calls are
 * only declared. */
#ifndef QUILLMAR_NATIVE_DXGI_H
#define QUILLMAR_NATIVE_DXGI_H

#include <windows.h>

#define DXGI_ERROR_NOT_FOUND ((HRESULT)0x887A0002L)
#define DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887A0004L)

typedef struct DXGI_ADAPTER_DESC {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
} DXGI_ADAPTER_DESC;

struct DXGI_SWAP_CHAIN_DESC;
struct IDXGISwapChain;
struct IDXGIOutput;

struct IDXGIObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID name, UINT size, const void *data) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID name, const IUnknown *object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID name, UINT *size, void *data) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) = 0;
};

struct IDXGIAdapter : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput **output) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC *desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID interface_name, LARGE_INTEGER *umd_version) = 0;
};

struct IDXGIFactory : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE EnumAdapters(UINT index, IDXGIAdapter **adapter) = 0;
    virtual HRESULT STDMETHODCALLTYPE MakeWindowAssociation(HWND window, UINT flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowAssociation(HWND *window) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSwapChain(IUnknown *device, DXGI_SWAP_CHAIN_DESC *desc,
                                                      IDXGISwapChain **swap_chain) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSoftwareAdapter(HMODULE module, IDXGIAdapter **adapter) = 0;
};

#endif
