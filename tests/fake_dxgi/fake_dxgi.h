/* Control interface of the dxgi.dll test double (fake_dxgi.c).
 *
 * A test host loads the double from the system directory, the same module the
 * library under test loads, and drives it through these exports: it sets a
 * scenario (the adapters and the result of every DXGI call) and reads back
 * how often each call was made and how many references are still held.
 * Hosts that can't call these (node.exe, the tool) pick a preset by name in
 * the environment variable FAKE_DXGI_SCENARIO instead. */
#ifndef FAKE_DXGI_H
#define FAKE_DXGI_H

#include <windows.h>

#define FAKE_DXGI_MAX_ADAPTERS 40
#define FAKE_DXGI_DESCRIPTION_UNITS 128

struct fake_adapter {
    WCHAR description[FAKE_DXGI_DESCRIPTION_UNITS]; /* need not end with a NUL */
    UINT vendor_id, device_id, subsys_id, revision;
    SIZE_T dedicated_video_memory, dedicated_system_memory, shared_system_memory;
    HRESULT enum_hr;        /* EnumAdapters at this index; S_OK hands the adapter out */
    int enum_gives_null;    /* S_OK from EnumAdapters, but no adapter */
    HRESULT desc_hr;        /* GetDesc; the description is filled only if it succeeds */
    HRESULT version_hr;     /* CheckInterfaceSupport(IID_IDXGIDevice) */
    LONGLONG driver_version;
};

struct fake_scenario {
    HRESULT create_hr;      /* CreateDXGIFactory */
    int create_gives_null;  /* success without a factory */
    int adapter_count;      /* adapters listed; indexes past them give end_hr */
    HRESULT end_hr;         /* 0 stands for DXGI_ERROR_NOT_FOUND */
    int changes_every_call; /* each factory lists the next generation (fake_generation) */
    int create_failures;    /* this many CreateDXGIFactory calls fail with E_FAIL before create_hr */
    struct fake_adapter adapters[FAKE_DXGI_MAX_ADAPTERS];
};

struct fake_stats {
    int create_calls, enum_calls, desc_calls, version_calls;
    int live_refs;          /* references handed out and not released yet */
    int over_releases;      /* Release with no reference outstanding */
    int unexpected_calls;   /* any other method, or a wrong interface id */
};

/* Replaces the scenario and zeroes the statistics. */
typedef void (*fake_dxgi_set_scenario_fn)(const struct fake_scenario *scenario);
typedef void (*fake_dxgi_get_stats_fn)(struct fake_stats *stats);
/* Fills *out with the named preset; returns 0 for an unknown name. */
typedef int (*fake_dxgi_preset_fn)(const char *name, struct fake_scenario *out);

/* Vendor ids and results the scenarios use. */
#define FAKE_VENDOR_AMD 0x1002
#define FAKE_VENDOR_NVIDIA 0x10DE
#define FAKE_VENDOR_INTEL 0x8086
#define FAKE_VENDOR_SOFTWARE 0x1414
#define FAKE_DXGI_ERROR_NOT_FOUND ((HRESULT)0x887A0002L)
#define FAKE_DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887A0004L)

/* Adapters in the "max16" preset: as many as the library reports. */
#define FAKE_MAX16_ADAPTERS 16

#endif
