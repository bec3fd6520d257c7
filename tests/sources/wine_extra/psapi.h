/* What tests/soak/soak.c reads and Wine 8's psapi.h and winbase.h lack,
 * declared as the Windows SDK declares it. Only for the MSVC-mode check. */
#include_next <psapi.h>

typedef struct _PROCESS_MEMORY_COUNTERS_EX {
    DWORD cb;
    DWORD PageFaultCount;
    SIZE_T PeakWorkingSetSize;
    SIZE_T WorkingSetSize;
    SIZE_T QuotaPeakPagedPoolUsage;
    SIZE_T QuotaPagedPoolUsage;
    SIZE_T QuotaPeakNonPagedPoolUsage;
    SIZE_T QuotaNonPagedPoolUsage;
    SIZE_T PagefileUsage;
    SIZE_T PeakPagefileUsage;
    SIZE_T PrivateUsage;
} PROCESS_MEMORY_COUNTERS_EX;

WINBASEAPI BOOL WINAPI GetProcessHandleCount(HANDLE process, PDWORD count);
