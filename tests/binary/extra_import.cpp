/* Negative fixture for the binary check: a copy of the library that also
 * imports a KERNEL32 function outside its list. The build keeps the function
 * below although nothing calls it. */
#include <windows.h>

extern "C" DWORD gpuinfo_extra_import(void);
extern "C" DWORD gpuinfo_extra_import(void)
{
    return GetTickCount();
}
