#include "checks.h"
#include "conversion_cases.h"
#include "enumeration_cases.h"
#include "fake_system.h"
#include "json_check.h"
#include "name_cases.h"
#include "product_access.h"
#include "reports.h"
#include "test_util.h"

#include "gpuinfo.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <memory>
#include <vector>

namespace {


fake::adapter make_adapter(const std::u16string &description, UINT vendor_id = 0x10DE)
{
    fake::adapter a;
    a.description = description;
    a.vendor_id = vendor_id;
    a.device_id = 0x2684;
    a.dedicated_video_memory = 8ull << 30;
    a.shared_system_memory = 16ull << 30;
    a.driver_version = 0x0020000F00100D2Aull;
    return a;
}

/* Every enumeration must give back each reference it took and make no call
 * the fake does not expect. */
void expect_clean_references()
{
    const fake::stats &st = fake::statistics();
    EXPECT_EQ(st.live_refs, 0) << "references not released";
    EXPECT_EQ(st.over_releases, 0) << "references released twice";
    EXPECT_EQ(st.unexpected_calls, 0);
}

int enumerate(const fake::scenario &s, std::vector<adapter_info> *out)
{
    fake::reset(s);
    int n = product::enum_adapters(out);
    expect_clean_references();
    return n;
}

std::string name_of(const adapter_info &r)
{
    const char *end = static_cast<const char *>(memchr(r.name, 0, sizeof r.name));
    EXPECT_NE(end, nullptr) << "name not terminated inside its 128 bytes";
    return end ? std::string(r.name, (size_t)(end - r.name)) : std::string();
}

std::u16string urep(size_t n, const std::u16string &s)
{
    std::u16string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

const std::u16string GRIN = u"\U0001F600"; /* a surrogate pair */

TEST(ConvertName, SharedNameCasesThroughConversionAndSanitising)
{
    for (const name_case &c : NAME_CASES) {
        SCOPED_TRACE(c.label);
        WCHAR units[NAME_CASE_UNITS];
        name_case_description(&c, units);
        fake::scenario s;
        s.adapters = {make_adapter(std::u16string(units, NAME_CASE_UNITS))};
        std::vector<adapter_info> got;
        ASSERT_EQ(enumerate(s, &got), 1);
        for (int n : fake::statistics().converted_units)
            EXPECT_LE(n, DESCRIPTION_UNITS);
        std::string name = name_of(got[0]);
        EXPECT_TRUE(json::valid_utf8(name));
        /* Sanitised into a heap block of exactly its size. */
        std::unique_ptr<char[]> sanitized(new char[NAME_BUF_SIZE]);
        size_t len = sanitize_name(got[0].name, sanitized.get());
        char want[NAME_CASE_NAME_SIZE];
        name_case_name(&c, want);
        EXPECT_EQ(hex(std::string(sanitized.get())), hex(want));
        EXPECT_EQ(len, strlen(want));
    }
}

TEST(ConvertName, ReadsAtMost128UnitsOfAnUnterminatedDescription)
{
    /* Exactly 128 units on the heap: ASan reports a read of a 129th. */
    const std::string GRIN8 = bytes({0xF0, 0x9F, 0x98, 0x80});
    const struct {
        std::u16string fill;
        std::string name;
    } cases[] = {
        {urep(128, u"a"), rep(127, 'a')},
        {urep(64, GRIN), rep(31, GRIN8)},
        {urep(128, u"\u20AC"), rep(42, bytes({0xE2, 0x82, 0xAC}))},
        {urep(127, u"a") + (char16_t)0xD83D, rep(127, 'a')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(hex(c.name.substr(0, 4)));
        std::unique_ptr<char16_t[]> text(new char16_t[DESCRIPTION_UNITS]);
        memcpy(text.get(), c.fill.data(), DESCRIPTION_UNITS * sizeof(char16_t));
        std::unique_ptr<char[]> name(new char[NAME_SIZE]());
        fake::reset(fake::scenario());
        convert_name(text.get(), name.get());
        EXPECT_EQ(hex(std::string(name.get())), hex(c.name));
    }
}

TEST(ConvertName, EmptyDescriptionStillEndsTheName)
{
    const std::u16string cases[] = {u"", std::u16string(1, u'\0') + u"after the NUL"};
    for (const auto &text : cases) {
        std::unique_ptr<char16_t[]> description(new char16_t[DESCRIPTION_UNITS]());
        memcpy(description.get(), text.data(), text.size() * sizeof(char16_t));
        std::unique_ptr<char[]> name(new char[NAME_SIZE]);
        memset(name.get(), 0x5A, NAME_SIZE); /* whatever the buffer held */
        fake::reset(fake::scenario());
        convert_name(description.get(), name.get());
        EXPECT_EQ(name[0], '\0');
        EXPECT_TRUE(fake::statistics().converted_units.empty()) << "nothing to convert";
    }
}

TEST(ConvertName, FailedConversionLeavesTheNameEmpty)
{
    fake::scenario s;
    s.adapters = {make_adapter(u"First"), make_adapter(u"Second")};
    s.failing_conversion = 1; /* fills the whole output with junk, then fails */
    std::vector<adapter_info> got;
    ASSERT_EQ(enumerate(s, &got), 2);
    for (char b : got[0].name)
        ASSERT_EQ(b, '\0') << "junk of the failed conversion kept";
    EXPECT_EQ(name_of(got[1]), "Second");
}

TEST(EnumAdapters, RecordsFollowTheDescriptions)
{
    fake::scenario s;
    fake::adapter amd = make_adapter(u"Example V7 Graphics", 0x1002);
    amd.device_id = 0x73BF;
    amd.dedicated_video_memory = 17163091968ull;
    amd.dedicated_system_memory = 12345;
    amd.shared_system_memory = 34317172736ull;
    amd.driver_version = 0x001F00005DE103EBull;
    fake::adapter no_version = make_adapter(u"No Version", 0x8086);
    no_version.version_hr = DXGI_ERROR_UNSUPPORTED;
    fake::adapter software = make_adapter(u"Software Rasterizer", 0x1414);
    software.dedicated_video_memory = 0;
    software.shared_system_memory = 4241260544ull;
    s.adapters = {amd, no_version, software};

    std::vector<adapter_info> got;
    ASSERT_EQ(enumerate(s, &got), 3);
    EXPECT_EQ(name_of(got[0]), "Example V7 Graphics");
    EXPECT_EQ(got[0].vendor_id, 0x1002u);
    EXPECT_EQ(got[0].device_id, 0x73BFu);
    EXPECT_EQ(got[0].dedicated_vram, 17163091968ull);
    EXPECT_EQ(got[0].shared_memory, 34317172736ull);
    EXPECT_STREQ(got[0].driver_version, "31.0.24033.1003");
    EXPECT_EQ(got[0].software, 0);
    EXPECT_STREQ(got[1].driver_version, "") << "a failed version query leaves the version empty";
    EXPECT_EQ(got[1].software, 0);
    EXPECT_EQ(got[2].software, 1);
    EXPECT_EQ(got[2].shared_memory, 4241260544ull);

    const fake::stats &st = fake::statistics();
    EXPECT_EQ(st.create_calls, 1);
    EXPECT_EQ(st.enum_calls, 4);
    EXPECT_EQ(st.desc_calls, 3);
    EXPECT_EQ(st.version_calls, 3);

    EXPECT_EQ(checks::report_problem(product::format_report(got.data(), 3), got.data(), 3, true), "");
}

/* The counting calls enumerate without the texts: the same DXGI calls and the
 * same numbers, but name and driver version left as zero bytes. */
TEST(EnumAdapters, WithoutTextsOnlyTheTextsDiffer)
{
    fake::scenario s;
    fake::adapter software = make_adapter(u"Software Rasterizer", 0x1414);
    software.version_hr = DXGI_ERROR_UNSUPPORTED;
    s.adapters = {make_adapter(u"Example V7 Graphics", 0x1002), software};

    std::vector<adapter_info> full, bare;
    ASSERT_EQ(enumerate(s, &full), 2);
    const fake::stats with_texts = fake::statistics();
    fake::reset(s);
    ASSERT_EQ(product::enum_adapters(&bare, false), 2);
    expect_clean_references();
    const fake::stats &without = fake::statistics();
    EXPECT_EQ(without.enum_calls, with_texts.enum_calls);
    EXPECT_EQ(without.desc_calls, with_texts.desc_calls);
    EXPECT_EQ(without.version_calls, with_texts.version_calls);
    EXPECT_TRUE(without.converted_units.empty()) << "names converted for a counting call";

    static const char zeros[128] = {};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(memcmp(bare[i].name, zeros, sizeof bare[i].name), 0);
        EXPECT_EQ(memcmp(bare[i].driver_version, zeros, sizeof bare[i].driver_version), 0);
        EXPECT_EQ(bare[i].vendor_id, full[i].vendor_id);
        EXPECT_EQ(bare[i].device_id, full[i].device_id);
        EXPECT_EQ(bare[i].dedicated_vram, full[i].dedicated_vram);
        EXPECT_EQ(bare[i].shared_memory, full[i].shared_memory);
        EXPECT_EQ(bare[i].software, full[i].software);
    }
    EXPECT_STRNE(full[0].name, "");
    EXPECT_STRNE(full[0].driver_version, "");
}

std::vector<fake::adapter> numbered(int count)
{
    std::vector<fake::adapter> out;
    for (int i = 0; i < count; ++i) {
        std::string label = "GPU " + std::to_string(i);
        out.push_back(make_adapter(std::u16string(label.begin(), label.end())));
    }
    return out;
}

/* A scenario of the shared tables, built as the Windows test builds it. */
fake::scenario from_table(void (*build)(::fake_scenario *))
{
    static ::fake_scenario given; /* some 14 KB: not on the stack */
    memset(&given, 0, sizeof given);
    build(&given);
    return fake::from_double(given);
}

/* The walk's shared cases (tests/data/enumeration_cases.h): the records of
 * one enumeration, then the exported counting calls over the same DXGI. */
TEST(EnumAdapters, SharedEnumerationCases)
{
    for (const enum_case &c : ENUM_CASES) {
        SCOPED_TRACE(c.label);
        const fake::scenario s = from_table(c.build);
        std::vector<adapter_info> got;
        ASSERT_EQ(enumerate(s, &got), c.records);
        EXPECT_EQ(fake::statistics().create_calls, 1);
        EXPECT_EQ(fake::statistics().enum_calls, c.enum_calls);
        EXPECT_EQ(fake::statistics().desc_calls, c.desc_calls);
        for (int i = 0; i < c.records; ++i)
            EXPECT_EQ(name_of(got[(size_t)i]), "Adapter " + std::to_string(c.listed[i]));

        fake::reset(s);
        EXPECT_EQ(gpuinfo_adapter_count(), c.adapter_count);
        expect_clean_references();
        for (int k = 0; c.vram[k] != ENUM_CASE_END; ++k) {
            SCOPED_TRACE(k);
            fake::reset(s);
            EXPECT_EQ(gpuinfo_vram_mb(k), c.vram[k]);
            EXPECT_EQ(fake::statistics().enum_calls, c.enum_calls);
            expect_clean_references();
        }
        /* A negative position is rejected after a whole enumeration. */
        fake::reset(s);
        EXPECT_EQ(gpuinfo_vram_mb(-1), -1);
        EXPECT_EQ(gpuinfo_vram_mb(INT32_MIN), -1);
        EXPECT_EQ(fake::statistics().create_calls, 2);
        expect_clean_references();
    }
}

/* DXGI out of reach fails every call with the reason, and no adapter is
 * asked for. */
void expect_unreachable(const fake::scenario &s, const char *error)
{
    std::vector<adapter_info> got;
    EXPECT_EQ(enumerate(s, &got), -1);
    EXPECT_STREQ(gpuinfo_last_error(), error);
    fake::reset(s);
    EXPECT_EQ(gpuinfo_adapter_count(), -1);
    EXPECT_EQ(gpuinfo_vram_mb(0), -1);
    EXPECT_EQ(gpuinfo_vram_mb(-1), -1);
    EXPECT_STREQ(gpuinfo_last_error(), error);
    EXPECT_EQ(fake::statistics().enum_calls, 0);
    expect_clean_references();
}

/* The factory failures the Windows test also runs. */
TEST(EnumAdapters, SharedFactoryFailures)
{
    for (const factory_failure &f : FACTORY_FAILURES) {
        SCOPED_TRACE(f.label);
        static ::fake_scenario given; /* some 14 KB: not on the stack */
        factory_failure_scenario(&f, &given);
        expect_unreachable(fake::from_double(given), FACTORY_FAILURE_ERROR);
    }
}

struct reach_case {
    const char *label;
    std::function<void(fake::scenario *)> set_up;
    const char *error;
};

/* What the double can't show: the system directory, the module and its
 * export, which the stand-in platform answers. */
TEST(EnumAdapters, UnreachableDxgiIsReported)
{
    const reach_case cases[] = {
        {"no system directory", [](fake::scenario *s) { s->system_directory_fails = true; }, "dxgi.dll not found"},
        {"system directory too long", [](fake::scenario *s) { s->system_directory = "C:\\" + rep(257, 'd'); },
         "dxgi.dll not found"},
        {"dxgi.dll missing", [](fake::scenario *s) { s->dxgi_loads = false; }, "dxgi.dll not found"},
        {"no CreateDXGIFactory", [](fake::scenario *s) { s->has_create_factory = false; },
         "CreateDXGIFactory not found"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        fake::scenario s;
        s.adapters = numbered(2);
        c.set_up(&s);
        expect_unreachable(s, c.error);
    }
}

struct load_case {
    const char *label;
    std::string system_directory;
    bool has_add_dll_directory;
    std::string path;
    DWORD flags;
};

TEST(EnumAdapters, LoadsDxgiByFullPathFromTheSystemDirectory)
{
    const std::string longest = "C:\\" + rep(256, 'd'); /* 259 characters, the most MAX_PATH allows */
    const load_case cases[] = {
        {"usual", "C:\\Windows\\system32", true, "C:\\Windows\\system32\\dxgi.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"directory ending in a backslash", "C:\\", true, "C:\\dxgi.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"loader without AddDllDirectory", "C:\\Windows\\system32", false, "C:\\Windows\\system32\\dxgi.dll",
         LOAD_WITH_ALTERED_SEARCH_PATH},
        {"longest directory", longest, true, longest + "\\dxgi.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        fake::scenario s;
        s.system_directory = c.system_directory;
        s.has_add_dll_directory = c.has_add_dll_directory;
        s.adapters = numbered(1);
        std::vector<adapter_info> got;
        EXPECT_EQ(enumerate(s, &got), 1);
        EXPECT_EQ(fake::statistics().load_calls, 1);
        EXPECT_EQ(fake::statistics().loaded_path, c.path);
        EXPECT_EQ(fake::statistics().load_flags, c.flags);
    }
}

/* ---- The exported calls over the same fake ----------------------------- */

fake::scenario two_gpus_and_software()
{
    fake::scenario s;
    s.adapters = {make_adapter(u"Discrete", 0x10DE), make_adapter(u"Integrated", 0x8086),
                  make_adapter(u"Basic Render", 0x1414)};
    s.adapters[0].dedicated_video_memory = 24ull << 30;
    s.adapters[1].dedicated_video_memory = (1ull << 20) - 1;
    s.adapters[2].dedicated_video_memory = 0;
    return s;
}

TEST(ExportedCalls, ReportAndErrorText)
{
    EXPECT_STREQ(gpuinfo_version(), GPUINFO_EXPECTED_VERSION);

    fake::reset(two_gpus_and_software());
    const char *json = gpuinfo_get_json();
    ASSERT_NE(json, nullptr);
    expect_clean_references();
    const char *error_text = gpuinfo_last_error();
    EXPECT_STREQ(error_text, "");
    json::value doc;
    std::string error;
    ASSERT_TRUE(json::parse(json, &doc, &error)) << error;
    EXPECT_EQ(doc.at("adapters").size(), 3u);
    std::string first(json);

    fake::scenario broken;
    broken.dxgi_loads = false;
    fake::reset(broken);
    EXPECT_EQ(gpuinfo_get_json(), nullptr);
    EXPECT_STREQ(gpuinfo_last_error(), "dxgi.dll not found");
    EXPECT_EQ(first, json) << "a failed call changed the last report";
    EXPECT_STREQ(error_text, "dxgi.dll not found") << "the error text is not rewritten in place";

    fake::reset(two_gpus_and_software());
    EXPECT_EQ(gpuinfo_get_json(), json);
    EXPECT_STREQ(gpuinfo_last_error(), "") << "a success empties the error text";
}

TEST(ExportedCalls, WorkedExampleFromDxgiToReport)
{
    fake::scenario s = fake::preset("example");
    ASSERT_EQ(s.adapters.size(), 2u);
    s.adapters[1].description = u"Software Rasterizer  "; /* the report trims these */
    fake::reset(s);
    const char *json = gpuinfo_get_json();
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(std::string(json), EXAMPLE_REPORT);
    expect_clean_references();
}

/* ---- The stand-in conversion itself ------------------------------------- */

/* The shared cases (tests/data/conversion_cases.h), which the Windows test
 * runs against the system's own WideCharToMultiByte. */
TEST(StandIn, WideCharToMultiByteAsWindowsDoes)
{
    for (const conversion_case &c : CONVERSION_CASES) {
        SCOPED_TRACE(c.label);
        fake::reset(fake::scenario());
        std::vector<char> out((size_t)c.room + 1, (char)0x5A);
        int got = WideCharToMultiByte(CP_UTF8, 0, c.text, c.units, c.room ? out.data() : nullptr, c.room,
                                      nullptr, nullptr);
        EXPECT_EQ(got, c.result);
        if (got > 0 && c.room > 0) {
            EXPECT_EQ(hex(std::string(out.data(), (size_t)got)), hex(std::string(c.written, (size_t)c.result)));
            EXPECT_EQ(out[(size_t)got], (char)0x5A) << "wrote past its result";
        }
    }
}

} // namespace

/* The "changing" preset of the bindings' concurrency tests: each
 * enumeration lists the next generation, and a reset starts again at 1. */
TEST(StandIn, ChangingPresetAdvancesEveryEnumeration)
{
    struct want {
        int count;
        const char *last_name;
        unsigned device_id;
    };
    const want generations[] = {
        {2, "Generation 1 adapter 1", 1},
        {3, "Generation 2 adapter 2", 2},
        {4, "Generation 3 adapter 3", 3},
        {1, "Generation 4 adapter 0", 4},
    };
    for (int round = 0; round < 2; ++round) {
        fake::reset(fake::preset("changing"));
        for (const want &w : generations) {
            SCOPED_TRACE(w.last_name);
            std::vector<adapter_info> table;
            ASSERT_EQ(product::enum_adapters(&table), w.count);
            EXPECT_STREQ(table.back().name, w.last_name);
            for (const adapter_info &a : table)
                EXPECT_EQ(a.device_id, w.device_id);
        }
    }
}
