/* An in-memory Windows for the native tests: the platform functions declared
 * in winstub/windows.h and a small DXGI (factory and adapters over a list of
 * adapter descriptions, with reference counting) answer from a scenario the
 * test sets, and count how they were called. */
#ifndef QUILLMAR_NATIVE_FAKE_SYSTEM_H
#define QUILLMAR_NATIVE_FAKE_SYSTEM_H

#include <windows.h>
#include <dxgi.h>

#include <string>
#include <vector>

struct fake_scenario; /* the dxgi.dll test double's (tests/fake_dxgi/fake_dxgi.h) */

namespace fake {

struct adapter {
    /* Copied into Description; a NUL follows only if it is shorter than
     * the 128 units DXGI has room for. */
    std::u16string description;
    UINT vendor_id = 0, device_id = 0, subsys_id = 0, revision = 0;
    SIZE_T dedicated_video_memory = 0, dedicated_system_memory = 0, shared_system_memory = 0;
    HRESULT enum_hr = S_OK;       /* EnumAdapters at this index; only S_OK hands out an adapter */
    bool enum_gives_null = false; /* S_OK, but no adapter */
    HRESULT desc_hr = S_OK;       /* GetDesc; a failure leaves garbage in the description */
    HRESULT version_hr = S_OK;    /* CheckInterfaceSupport(IID_IDXGIDevice) */
    LONGLONG driver_version = 0;
};

struct scenario {
    std::string system_directory = "C:\\Windows\\system32";
    bool system_directory_fails = false;
    bool has_add_dll_directory = true; /* kernel32 of Windows 8 and later */
    bool dxgi_loads = true;
    bool has_create_factory = true;
    HRESULT create_hr = S_OK;
    bool create_gives_null = false;
    HRESULT end_hr = DXGI_ERROR_NOT_FOUND; /* EnumAdapters past the list */
    std::vector<adapter> adapters;
    /* 1-based number of the WideCharToMultiByte call that fails after filling
     * its whole output with junk, as a conversion cut short may; 0 for none. */
    int failing_conversion = 0;
    /* Each factory lists the next generation of the "changing" preset. */
    bool changes_every_call = false;
    /* This many factories fail with E_FAIL before create_hr applies. */
    int create_failures = 0;
};

struct stats {
    int load_calls = 0;
    std::string loaded_path;
    DWORD load_flags = 0;
    int create_calls = 0, enum_calls = 0, desc_calls = 0, version_calls = 0;
    std::vector<int> converted_units; /* source length of every conversion */
    int live_refs = 0;                /* handed out and not released yet */
    int over_releases = 0;            /* Release of an object with no reference left */
    int unexpected_calls = 0;         /* other methods, wrong ids, bad parameters, dead objects */
};

/* Sets *out to the named preset of the dxgi.dll test double
 * (tests/fake_dxgi/fake_presets.h) as a scenario here; false for an unknown
 * name. */
bool preset(const char *name, scenario *out);

/* A scenario of the test double, written with its builders, as a scenario
 * here. */
scenario from_double(const ::fake_scenario &given);

/* The named preset, which must exist. */
scenario preset(const char *name);

/* Replaces the scenario, drops every object of the previous one and zeroes
 * the statistics. */
void reset(const scenario &s);
const stats &statistics();

/* CP_UTF8 conversion as Windows does it without flags: a lone surrogate
 * becomes U+FFFD. */
std::string utf8_of(const char16_t *units, size_t n);

} // namespace fake

#endif
