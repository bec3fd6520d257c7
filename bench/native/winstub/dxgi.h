/* The part of DXGI the library source calls, as C++ interfaces. */
#ifndef BENCH_WINSTUB_DXGI_H
#define BENCH_WINSTUB_DXGI_H

#include <windows.h>

typedef struct {
    WCHAR Description[128];
    UINT VendorId, DeviceId, SubSysId, Revision;
    SIZE_T DedicatedVideoMemory, DedicatedSystemMemory, SharedSystemMemory;
    struct {
        DWORD LowPart;
        int32_t HighPart;
    } AdapterLuid;
} DXGI_ADAPTER_DESC;

struct IDXGIAdapter {
    virtual HRESULT GetDesc(DXGI_ADAPTER_DESC *desc) = 0;
    virtual HRESULT CheckInterfaceSupport(REFGUID guid, LARGE_INTEGER *version) = 0;
    virtual unsigned long Release() = 0;
};

struct IDXGIFactory {
    virtual HRESULT EnumAdapters(UINT index, IDXGIAdapter **adapter) = 0;
    virtual unsigned long Release() = 0;
};

#endif
