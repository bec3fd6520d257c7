/* The test double's named scenarios, and the builders every scenario is
 * written with. One definition, read by the double itself (fake_dxgi.c), by
 * the Windows tests that write scenarios of their own, and by the native
 * stand-in DXGI (tests/support/native/fake_system.cpp), which runs the same presets
 * on Linux. Plain C that also compiles as C++. */
#ifndef FAKE_PRESETS_H
#define FAKE_PRESETS_H

#include <stdio.h>
#include <string.h>

#include "fake_dxgi.h"

/* A description from ASCII text, cut to leave room for its NUL. */
static inline void fake_set_description(struct fake_adapter *a, const char *ascii)
{
    size_t i = 0;
    for (; ascii[i] && i + 1 < FAKE_DXGI_DESCRIPTION_UNITS; ++i)
        a->description[i] = (WCHAR)(unsigned char)ascii[i];
    a->description[i] = 0;
}

/* A UTF-16 literal of WCHARs: wchar_t on Windows, char16_t on the native
 * stand-in. */
#ifdef _WIN32
#define FAKE_WIDE(text) L##text
#else
#define FAKE_WIDE(text) u##text
#endif

/* A description from UTF-16 text, cut to leave room for its NUL. */
static inline void fake_set_wide_description(struct fake_adapter *a, const WCHAR *text)
{
    size_t i = 0;
    for (; text[i] && i + 1 < FAKE_DXGI_DESCRIPTION_UNITS; ++i)
        a->description[i] = text[i];
    a->description[i] = 0;
}

/* A driver version from its four words, most significant first. */
static inline LONGLONG fake_version_words(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (LONGLONG)((ULONGLONG)a << 48 | (ULONGLONG)b << 32 | (ULONGLONG)c << 16 | d);
}

/* Appends an adapter that answers every call, without a driver version. */
static inline struct fake_adapter *fake_add_adapter(struct fake_scenario *s, const char *name, UINT vendor,
                                                    UINT device, SIZE_T vram, SIZE_T shared)
{
    struct fake_adapter *a = &s->adapters[s->adapter_count++];
    fake_set_description(a, name);
    a->vendor_id = vendor;
    a->device_id = device;
    a->dedicated_video_memory = vram;
    a->shared_system_memory = shared;
    a->version_hr = FAKE_DXGI_ERROR_UNSUPPORTED;
    return a;
}

static inline void fake_with_version(struct fake_adapter *a, LONGLONG version)
{
    a->version_hr = S_OK;
    a->driver_version = version;
}

/* The two adapters of the documented example report (tests/data/reports.h). */
static inline void fake_preset_example(struct fake_scenario *s)
{
    fake_with_version(fake_add_adapter(s, "Example V7 Graphics", FAKE_VENDOR_AMD, 0x73BF, 17163091968ULL,
                                       34317172736ULL),
                      fake_version_words(31, 0, 24033, 1003));
    fake_add_adapter(s, "Software Rasterizer", FAKE_VENDOR_SOFTWARE, 0x008C, 0, 4241260544ULL);
}

/* Sixteen adapters at the longest values that can stand together: 'A' and
 * 126 quotes (127 units, the NUL in the last one DXGI has room for), whose
 * UTF-8 just fits the record and which sanitises to 191 bytes; the longest
 * ids (whose vendor text is "Unknown"); the largest sizes and the longest
 * driver version. */
static inline void fake_preset_max16(struct fake_scenario *s)
{
    for (int i = 0; i < FAKE_MAX16_ADAPTERS; ++i) {
        struct fake_adapter *a = fake_add_adapter(s, "A", 0xFFFFFFFFu, 0xFFFFFFFFu, (SIZE_T)-1, (SIZE_T)-1);
        for (int k = 1; k < FAKE_DXGI_DESCRIPTION_UNITS - 1; ++k)
            a->description[k] = '"';
        a->description[FAKE_DXGI_DESCRIPTION_UNITS - 1] = 0;
        fake_with_version(a, -1);
    }
}

/* What a tool shows people: long and non-ASCII names, a software adapter,
 * an adapter without a driver version. */
static inline void fake_preset_mixed(struct fake_scenario *s)
{
    static const WCHAR accented[] = {'R', 'a', 'd', 'e', 'o', 'n', ' ', 'P', 'r', 0xE9, 'c', 'i', 's',
                                     'i', 'o', 'n', ' ', 0x20AC, ' ', 0x6F22, 0x5B57, 0};
    struct fake_adapter *a = fake_add_adapter(s, "", FAKE_VENDOR_AMD, 0x73BF, 17163091968ULL, 34317172736ULL);
    memcpy(a->description, accented, sizeof accented);
    fake_with_version(a, fake_version_words(31, 0, 24033, 1003));
    fake_with_version(fake_add_adapter(s,
                                       "NVIDIA Example Ultra Long Adapter Name With Many Words That Keeps Going "
                                       "Past Any Sensible Column Width Of A Table",
                                       FAKE_VENDOR_NVIDIA, 0x2684, 25757220864ULL, 34317172736ULL),
                      fake_version_words(32, 15, 16, 3370));
    fake_add_adapter(s, "Intel Example Graphics", FAKE_VENDOR_INTEL, 0x9A49, 134217728ULL, 17158586368ULL);
    fake_add_adapter(s, "Software Rasterizer", FAKE_VENDOR_SOFTWARE, 0x008C, 0, 4241260544ULL);
}

/* Characters above U+FFFF, which reach DXGI as surrogate pairs (U+1F600,
 * U+20BB7). */
static inline void fake_preset_beyond_bmp(struct fake_scenario *s)
{
    static const WCHAR name[] = {'A', 's', 't', 'r', 'a', ' ', 0xD83D, 0xDE00, ' ', 0xD842, 0xDFB7,
                                 ' ', 'G', 'P', 'U', 0};
    struct fake_adapter *a = fake_add_adapter(s, "", FAKE_VENDOR_NVIDIA, 0x2684, 8589934592ULL, 17179869184ULL);
    memcpy(a->description, name, sizeof name);
    fake_with_version(a, fake_version_words(32, 0, 15, 6094));
}

/* Names a console draws in other widths than one column per code point:
 * twenty CJK characters fill a 40-column name exactly, twenty-five overflow
 * it with fewer than 40 code points, combining accents make a name longer
 * in code points than it is wide, and one falls right where a cut goes. */
static inline void fake_preset_wide_names(struct fake_scenario *s)
{
    static const WCHAR *const names[] = {
        FAKE_WIDE("高性能图形处理器示例型号专业工作站用显卡"),
        FAKE_WIDE("グラフィックス処理装置サンプル高性能計算加速カード"),
        FAKE_WIDE("Carte graphique ge\u0301ne\u0301rique e\u0301le\u0301mentaire"),
        FAKE_WIDE("Carte graphique de de\u0301monstration : mode\u0300le tre\u0300s long"),
    };
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        fake_set_wide_description(
            fake_add_adapter(s, "", FAKE_VENDOR_AMD, 0x73BF, 17163091968ULL, 34317172736ULL), names[i]);
}

/* The adapter every Windows machine lists: Microsoft's software renderer,
 * no dedicated memory, half the machine's memory shared (a hosted runner's
 * 16 GiB), and a driver version as Windows Server 2022 gives it. */
static inline void fake_add_basic_render_driver(struct fake_scenario *s)
{
    fake_with_version(fake_add_adapter(s, "Microsoft Basic Render Driver", FAKE_VENDOR_SOFTWARE, 0x008C, 0,
                                       8589934592ULL),
                      fake_version_words(10, 0, 20348, 1));
}

/* A hosted CI runner: no GPU, only the Basic Render Driver. */
static inline void fake_preset_basic_render(struct fake_scenario *s)
{
    fake_add_basic_render_driver(s);
}

/* A workstation: a discrete and an integrated GPU, then the Basic Render
 * Driver, in the order DXGI lists them. */
static inline void fake_preset_workstation(struct fake_scenario *s)
{
    fake_with_version(fake_add_adapter(s, "NVIDIA Example Workstation GPU", FAKE_VENDOR_NVIDIA, 0x2230,
                                       51539607552ULL, 68719476736ULL),
                      fake_version_words(32, 0, 15, 6094));
    fake_with_version(fake_add_adapter(s, "Intel Example UHD Graphics", FAKE_VENDOR_INTEL, 0x4680, 134217728ULL,
                                       68719476736ULL),
                      fake_version_words(31, 0, 101, 4255));
    fake_add_basic_render_driver(s);
}

/* Generation g of the "changing" preset, what the g-th enumeration lists:
 * 1 + g % 4 adapters named "Generation <g> adapter <i>" with device id
 * g % 65536, so a report that mixes two enumerations shows it in every
 * adapter. The bindings' concurrency tests read only the names and the count
 * (the "changing" case of bindings/testdata/cases.json): a whole report
 * carries one g in every name and lists 1 + g % 4 adapters. */
enum { FAKE_GENERATION_SIZES = 4 };

static inline void fake_generation(struct fake_scenario *s, unsigned g)
{
    char name[48];
    s->adapter_count = 0;
    for (unsigned i = 0; i < 1 + g % FAKE_GENERATION_SIZES; ++i) {
        snprintf(name, sizeof name, "Generation %u adapter %u", g, i);
        fake_add_adapter(s, name, FAKE_VENDOR_NVIDIA, g % 65536, (SIZE_T)(i + 1) << 20, (SIZE_T)1 << 20);
    }
}

/* Fills *out with the named preset; returns 0 for an unknown name. */
static inline int fake_preset(const char *name, struct fake_scenario *out)
{
    memset(out, 0, sizeof *out);
    if (!strcmp(name, "empty"))
        return 1;
    if (!strcmp(name, "example"))
        return fake_preset_example(out), 1;
    if (!strcmp(name, "max16"))
        return fake_preset_max16(out), 1;
    if (!strcmp(name, "mixed"))
        return fake_preset_mixed(out), 1;
    if (!strcmp(name, "beyond_bmp"))
        return fake_preset_beyond_bmp(out), 1;
    if (!strcmp(name, "wide_names"))
        return fake_preset_wide_names(out), 1;
    if (!strcmp(name, "basic_render"))
        return fake_preset_basic_render(out), 1;
    if (!strcmp(name, "workstation"))
        return fake_preset_workstation(out), 1;
    if (!strcmp(name, "changing")) {
        out->changes_every_call = 1;
        return 1;
    }
    if (!strcmp(name, "create_fails")) {
        out->create_hr = E_FAIL;
        return 1;
    }
    /* A DXGI that fails once and then answers, as while a driver is being
     * replaced: the first factory fails, every later one lists the example.
     * A host that asks again after the failure meets the recovered one. */
    if (!strcmp(name, "recovering")) {
        fake_preset_example(out);
        out->create_failures = 1;
        return 1;
    }
    return 0;
}

#endif
