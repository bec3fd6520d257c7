/* A dxgi.dll without CreateDXGIFactory: the library must report the missing
 * entry rather than fall back to another one. */
#include <windows.h>

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void **factory);

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void **factory)
{
    (void)riid;
    if (factory)
        *factory = NULL;
    return E_NOTIMPL;
}
