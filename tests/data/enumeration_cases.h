/* DXGI's adapter walk as the report and the counting calls show it: which
 * adapters make a record, where the walk ends, the 16-record cap, sizes in
 * whole MiB saturated at INT_MAX, and how a factory that can't be had fails.
 * One table, run by the Windows test through the DLL and the test double
 * (tests/wine/test_enumeration.c) and by the native tests through the
 * library's own walk and exports over the stand-in DXGI
 * (tests/native/test_enum.cpp). Scenarios are written with the double's
 * builders (fake_presets.h). Plain C that also compiles as C++. */
#ifndef ENUMERATION_CASES_H
#define ENUMERATION_CASES_H

#include <stdio.h>

#include "fake_presets.h"

enum {
    ENUM_CASE_RECORDS = 16,   /* the most a report holds */
    ENUM_CASE_POSITIONS = 20, /* vram_mb positions a row asks, its end marker included */
    ENUM_CASE_END = -2        /* ends a row's vram_mb answers */
};

#define ENUM_MIB ((SIZE_T)1 << 20)
#define ENUM_GIB ((SIZE_T)1 << 30)
#define ENUM_E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define ENUM_DXGI_ERROR_DEVICE_REMOVED ((HRESULT)0x887A0005L)

/* Adapter n of a scenario is named "Adapter <n>", so a record shows which
 * of the double's adapters it came from. Its dedicated system memory must
 * never reach a report. */
static inline struct fake_adapter *enum_add(struct fake_scenario *s, UINT vendor, SIZE_T vram)
{
    char name[32];
    snprintf(name, sizeof name, "Adapter %d", s->adapter_count);
    struct fake_adapter *a =
        fake_add_adapter(s, name, vendor, 0x1000u + (UINT)s->adapter_count, vram, 2 * ENUM_GIB);
    a->dedicated_system_memory = 999 * ENUM_GIB;
    fake_with_version(a, fake_version_words(32, 15, 16, 3370));
    return a;
}

static inline void enum_none(struct fake_scenario *s) { (void)s; }
static inline void enum_hw_then_sw(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_NVIDIA, 8 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_SOFTWARE, 0);
}
static inline void enum_sw_then_hw(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_SOFTWARE, 0);
    enum_add(s, FAKE_VENDOR_NVIDIA, 8 * ENUM_GIB);
}
static inline void enum_rounding(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, ENUM_MIB - 1);
    enum_add(s, FAKE_VENDOR_AMD, ENUM_MIB);
    enum_add(s, FAKE_VENDOR_AMD, 24 * ENUM_GIB);
}
static inline void enum_huge_sizes(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, 2147483647ULL * ENUM_MIB);          /* largest that fits */
    enum_add(s, FAKE_VENDOR_AMD, 2147483648ULL * ENUM_MIB);          /* 2^31 MiB */
    enum_add(s, FAKE_VENDOR_AMD, 4294967295ULL * ENUM_MIB);          /* low 32 bits read as -1 */
    enum_add(s, FAKE_VENDOR_AMD, 4294967296ULL * ENUM_MIB);          /* low 32 bits read as 0 */
    enum_add(s, FAKE_VENDOR_AMD, 4294967296ULL * ENUM_MIB + 5 * ENUM_MIB); /* low 32 bits read as 5 */
    enum_add(s, FAKE_VENDOR_AMD, (SIZE_T)-1);
}
static inline void enum_middle_undescribable(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, 1 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_AMD, 2 * ENUM_GIB)->desc_hr = E_FAIL;
    enum_add(s, FAKE_VENDOR_AMD, 3 * ENUM_GIB);
}
static inline void enum_all_undescribable(struct fake_scenario *s)
{
    for (int i = 0; i < 5; ++i)
        enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB)->desc_hr = ENUM_DXGI_ERROR_DEVICE_REMOVED;
}
static inline void enum_twenty(struct fake_scenario *s)
{
    for (int i = 0; i < 20; ++i)
        enum_add(s, i == 3 ? FAKE_VENDOR_SOFTWARE : FAKE_VENDOR_INTEL, (SIZE_T)(i + 1) * ENUM_MIB);
}
static inline void enum_seventeen_one_skipped(struct fake_scenario *s)
{
    for (int i = 0; i < 17; ++i)
        enum_add(s, FAKE_VENDOR_INTEL, (SIZE_T)(i + 1) * ENUM_MIB);
    s->adapters[5].desc_hr = ENUM_E_OUTOFMEMORY;
}
static inline void enum_thirty_five_skipped_first(struct fake_scenario *s)
{
    for (int i = 0; i < 30; ++i)
        enum_add(s, FAKE_VENDOR_INTEL, (SIZE_T)(i + 1) * ENUM_MIB);
    for (int i = 0; i < 5; ++i)
        s->adapters[i * 2].desc_hr = E_FAIL;
}
static inline void enum_positive_at_first(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB)->enum_hr = S_FALSE;
}
static inline void enum_positive_at_third(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, 1 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_AMD, 2 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_AMD, 3 * ENUM_GIB)->enum_hr = 2;
    enum_add(s, FAKE_VENDOR_AMD, 4 * ENUM_GIB);
}
static inline void enum_error_at_second(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, 1 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_AMD, 2 * ENUM_GIB)->enum_hr = E_FAIL;
    enum_add(s, FAKE_VENDOR_AMD, 3 * ENUM_GIB);
}
static inline void enum_positive_end(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB);
    s->end_hr = S_FALSE;
}
static inline void enum_error_end(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB);
    s->end_hr = E_FAIL;
}
static inline void enum_success_without_adapter(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, 1 * ENUM_GIB);
    enum_add(s, FAKE_VENDOR_AMD, 2 * ENUM_GIB)->enum_gives_null = 1;
    enum_add(s, FAKE_VENDOR_AMD, 3 * ENUM_GIB);
}
static inline void enum_software_by_vendor_only(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_SOFTWARE, 4 * ENUM_GIB)->device_id = 0x1234;
    enum_add(s, FAKE_VENDOR_SOFTWARE, 0)->device_id = 0;
    enum_add(s, FAKE_VENDOR_NVIDIA, 0);
    enum_add(s, FAKE_VENDOR_INTEL, ENUM_GIB);
    enum_add(s, 0x11414, ENUM_GIB); /* not 0x1414 */
}
static inline void enum_no_driver_version(struct fake_scenario *s)
{
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB)->version_hr = FAKE_DXGI_ERROR_UNSUPPORTED;
    enum_add(s, FAKE_VENDOR_AMD, 2 * ENUM_GIB);
}
static inline void enum_create_positive(struct fake_scenario *s)
{
    s->create_hr = S_FALSE;
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB);
}

struct enum_case {
    const char *label;
    void (*build)(struct fake_scenario *s);
    int records;                      /* adapters in the report */
    int listed[ENUM_CASE_RECORDS];    /* the double's index of each record, in order */
    int adapter_count;                /* gpuinfo_adapter_count: the records less software ones */
    int vram[ENUM_CASE_POSITIONS];    /* gpuinfo_vram_mb(0), (1), ... up to ENUM_CASE_END */
    int enum_calls, desc_calls;       /* EnumAdapters and GetDesc calls of one enumeration */
};

#define ENUM_INT_MAX 2147483647

static const struct enum_case ENUM_CASES[] = {
    {"no adapters", enum_none, 0, {0}, 0, {-1, ENUM_CASE_END}, 1, 0},
    {"hardware then software", enum_hw_then_sw, 2, {0, 1}, 1, {8192, 0, -1, ENUM_CASE_END}, 3, 2},
    {"software then hardware", enum_sw_then_hw, 2, {0, 1}, 1, {0, 8192, -1, ENUM_CASE_END}, 3, 2},
    {"rounded down to whole MiB", enum_rounding, 3, {0, 1, 2}, 3, {0, 1, 24576, -1, ENUM_CASE_END}, 4, 3},
    {"sizes past 31 bits saturate", enum_huge_sizes, 6, {0, 1, 2, 3, 4, 5}, 6,
     {ENUM_INT_MAX, ENUM_INT_MAX, ENUM_INT_MAX, ENUM_INT_MAX, ENUM_INT_MAX, ENUM_INT_MAX, -1, ENUM_CASE_END}, 7, 6},
    {"undescribable adapter takes no position", enum_middle_undescribable, 2, {0, 2}, 2,
     {1024, 3072, -1, ENUM_CASE_END}, 4, 3},
    {"every adapter undescribable", enum_all_undescribable, 0, {0}, 0, {-1, ENUM_CASE_END}, 6, 5},
    {"twenty adapters stop at sixteen", enum_twenty, 16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 15,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, -1, -1, ENUM_CASE_END}, 16, 16},
    {"seventeen with one skipped", enum_seventeen_one_skipped, 16,
     {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16,
     {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, -1, ENUM_CASE_END}, 17, 17},
    {"skipped ones first do not count toward sixteen", enum_thirty_five_skipped_first, 16,
     {1, 3, 5, 7, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 16,
     {2, 4, 6, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, -1, ENUM_CASE_END}, 21, 21},
    {"positive result at index 0 ends the walk", enum_positive_at_first, 0, {0}, 0, {-1, ENUM_CASE_END}, 1, 0},
    {"positive result at index 2 ends the walk", enum_positive_at_third, 2, {0, 1}, 2,
     {1024, 2048, -1, ENUM_CASE_END}, 3, 2},
    {"failure at index 1 ends the walk", enum_error_at_second, 1, {0}, 1, {1024, -1, ENUM_CASE_END}, 2, 1},
    {"positive result past the end", enum_positive_end, 1, {0}, 1, {1024, -1, ENUM_CASE_END}, 2, 1},
    {"failure past the end", enum_error_end, 1, {0}, 1, {1024, -1, ENUM_CASE_END}, 2, 1},
    {"S_OK without an adapter ends the walk", enum_success_without_adapter, 1, {0}, 1,
     {1024, -1, ENUM_CASE_END}, 2, 1},
    {"software flag follows vendor 0x1414 alone", enum_software_by_vendor_only, 5, {0, 1, 2, 3, 4}, 3,
     {4096, 0, 0, 1024, 1024, -1, ENUM_CASE_END}, 6, 5},
    {"adapter without driver version still counts", enum_no_driver_version, 2, {0, 1}, 2,
     {1024, 2048, -1, ENUM_CASE_END}, 3, 2},
    {"factory created with a positive result", enum_create_positive, 1, {0}, 1, {1024, -1, ENUM_CASE_END}, 2, 1},
};

/* A factory that can't be had fails every call, whatever adapters DXGI
 * would have listed; no adapter is asked for. */
#define FACTORY_FAILURE_ERROR "CreateDXGIFactory failed"

static const struct factory_failure {
    const char *label;
    HRESULT create_hr;
    int gives_null; /* the result comes without a factory */
} FACTORY_FAILURES[] = {
    {"E_FAIL", E_FAIL, 0},
    {"DXGI_ERROR_UNSUPPORTED", FAKE_DXGI_ERROR_UNSUPPORTED, 0},
    {"S_OK without a factory", S_OK, 1},
    {"S_FALSE without a factory", S_FALSE, 1},
};

/* A factory failure as a scenario: one adapter DXGI never gets to list. */
static inline void factory_failure_scenario(const struct factory_failure *f, struct fake_scenario *s)
{
    memset(s, 0, sizeof *s);
    enum_add(s, FAKE_VENDOR_AMD, ENUM_GIB);
    s->create_hr = f->create_hr;
    s->create_gives_null = f->gives_null;
}

#endif
