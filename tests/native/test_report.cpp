#include "checks.h"
#include "fake_dxgi.h"
#include "fake_system.h"
#include "json_check.h"
#include "product_access.h"
#include "reports.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

namespace {

using checks::make_record;

std::string report_of(const std::vector<adapter_info> &table)
{
    const char *json = product::format_report(table.data(), (int)table.size());
    size_t len = strnlen(json, JSON_BUFFER_SIZE);
    EXPECT_LT(len, (size_t)JSON_BUFFER_SIZE) << "report not terminated inside its buffer";
    return std::string(json, len);
}

const std::vector<adapter_info> worked_example = {
    make_record("Example V7 Graphics", 0x1002, 0x73BF, 17163091968ull, 34317172736ull, "31.0.24033.1003", 0),
    make_record("Software Rasterizer", 0x1414, 0x008C, 0, 4241260544ull, "", 1),
};

TEST(FormatReport, WorkedExampleByteForByte)
{
    const std::string want = EXAMPLE_REPORT;
    ASSERT_EQ(want.size(), (size_t)EXAMPLE_REPORT_BYTES);
    std::string got = report_of(worked_example);
    EXPECT_EQ(got, want);
    EXPECT_EQ(checks::report_problem(got, worked_example.data(), 2, true), "");
}

struct refusal_case {
    const char *label;
    const char *from; /* a piece of the worked example's report... */
    const char *to;   /* ...and what it becomes */
    const char *problem;
};

/* The judge of every report must itself be able to fail: each rule it
 * applies refuses the worked example changed in one place. */
TEST(ReportCheck, RefusesTheWorkedExampleChangedInOnePlace)
{
    const std::string example = EXAMPLE_REPORT;
    const refusal_case cases[] = {
        {"space after a colon", "\"index\":0", "\"index\": 0", "not in compact form"},
        {"space at the end", "]}", "]} ", "not in compact form"},
        {"needless escape", "V7 Graphics", "V7\\u0020Graphics", "not in compact form"},
        {"minus zero", "\"index\":0", "\"index\":-0", "not in compact form"},
        {"byte after the document", "]}", "]}x", "not strict JSON"},
        {"leading zero", "\"index\":0", "\"index\":00", "not strict JSON"},
        {"duplicate key", "\"index\":0,", "\"index\":0,\"index\":0,", "not strict JSON: duplicate key"},
        {"invalid UTF-8", "V7 Graphics", "V7 Graphic\xC3", "not strict JSON"},
        {"byte order mark", "{\"adapters\"", "\xEF\xBB\xBF{\"adapters\"", "not strict JSON"},
        {"member beside adapters", "]}", "],\"more\":1}", "not {\"adapters\":[...]}"},
        {"an object left out", "},{\"index\":1,", "}],\"x\":[{\"index\":1,", "not {\"adapters\":[...]}"},
        {"key order", "\"vendor_id\":4098,\"device_id\":29631", "\"device_id\":29631,\"vendor_id\":4098",
         "object 0: member 3 is \"device_id\""},
        {"key renamed", "\"software\":0", "\"Software\":0", "object 0: member 8 is \"Software\""},
        {"key missing", ",\"software\":0", "", "object 0: not an object of 9 members"},
        {"key added", "\"software\":0", "\"software\":0,\"bus\":1", "object 0: not an object of 9 members"},
        {"index out of place", "\"index\":1", "\"index\":2", "object 1: \"index\" is 2, expected 1"},
        {"number as text", "\"vendor_id\":4098", "\"vendor_id\":\"4098\"", "object 0: \"vendor_id\" is not an integer"},
        {"number with a fraction", "\"device_id\":29631", "\"device_id\":29631.0",
         "object 0: \"device_id\" is not an integer"},
        {"size off by one", "16368", "16369", "object 0: \"dedicated_vram_mb\" is 16369, expected 16368"},
        {"shared size", "32727", "32726", "object 0: \"shared_memory_mb\" is 32726, expected 32727"},
        {"device id", "29631", "29632", "object 0: \"device_id\" is 29632"},
        {"vendor text", "\"AMD\"", "\"Amd\"", "object 0: \"vendor\" is \"Amd\""},
        {"vendor as a number", "\"AMD\"", "4098", "object 0: \"vendor\" is not a string"},
        {"driver version", "31.0.24033.1003", "31.0.24033.1004", "object 0: \"driver_version\""},
        {"software", "\"software\":1", "\"software\":0", "object 1: \"software\" is 0, expected 1"},
        {"name as a number", "\"Example V7 Graphics\"", "7", "object 0: \"name\" is not a string"},
        {"name cut short", "V7 Graphics", "V7 Graphic", "object 0: \"name\" left out a character"},
        {"name changed", "V7 Graphics", "V7 Graphicz", "object 0: \"name\" not a prefix"},
        {"name with its trailing space", "V7 Graphics", "V7 Graphics ", "object 0: \"name\" trailing space kept"},
        {"name with a control character", "V7 Graphics", "V7 Graphics\\u0001", "object 0: \"name\" control byte"},
        {"name with a NUL", "V7 Graphics", "V7 Graphics\\u0000", "object 0: \"name\" control byte"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        size_t at = example.find(c.from);
        ASSERT_NE(at, std::string::npos);
        std::string changed = example;
        changed.replace(at, strlen(c.from), c.to);
        std::string problem = checks::report_problem(changed, worked_example.data(), 2, true);
        EXPECT_EQ(problem.compare(0, strlen(c.problem), c.problem), 0) << problem;
    }
    EXPECT_EQ(checks::report_problem(example, worked_example.data(), 2, true), "");
}

struct shape_case {
    const char *report;
    int records;
    const char *problem;
};

TEST(ReportCheck, RefusesOtherShapes)
{
    const shape_case cases[] = {
        {"{\"adapters\":[]}", 0, ""},
        {"{\"adapters\":{}}", 0, "not {\"adapters\":[...]}"},
        {"[]", 0, "not {\"adapters\":[...]}"},
        {"{\"adapter\":[]}", 0, "not {\"adapters\":[...]}"},
        {"{\"adapters\":[]}", 1, "0 objects for 1 records"},
        {"{\"adapters\":[1]}", 1, "object 0: not an object of 9 members"},
        {"{\"adapters\":[[]]}", 1, "object 0: not an object of 9 members"},
    };
    const adapter_info one = worked_example[0];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.report);
        EXPECT_EQ(checks::report_problem(c.report, &one, c.records, true), c.problem);
    }
    /* One object fewer or more than the records. */
    EXPECT_EQ(checks::report_problem(EXAMPLE_REPORT, worked_example.data(), 1, true), "2 objects for 1 records");
}

TEST(ReportCheck, NamesThatAreNotUtf8AreReadByteForByte)
{
    /* Only records no DXGI text makes carry such names, the fuzz target's. */
    const std::vector<adapter_info> table = {make_record("A\xFF\xC3 \xE2\x82", 0x10DE, 1, 0, 0, "", 0)};
    std::string got = report_of(table);
    EXPECT_NE(got.find("\"name\":\"A\xFF\xC3 \xE2\x82\""), std::string::npos) << got;
    EXPECT_EQ(checks::report_problem(got, table.data(), 1, false), "");
    EXPECT_EQ(checks::report_problem(got, table.data(), 1, true).compare(0, 15, "not strict JSON"), 0);
    std::string changed = got;
    changed.replace(changed.find('\xFF'), 1, "\xFE");
    EXPECT_NE(checks::report_problem(changed, table.data(), 1, false), "");
}

TEST(FormatReport, NoAdapters)
{
    EXPECT_EQ(report_of({}), "{\"adapters\":[]}");
}

TEST(FormatReport, OneAdapter)
{
    std::vector<adapter_info> one = {make_record("GPU \"X\" \\ 1", 0x10DE, 0x2684, 25757220864ull, 0, "32.0.15.6094", 0)};
    std::string got = report_of(one);
    EXPECT_EQ(got, "{\"adapters\":[{\"index\":0,\"name\":\"GPU \\\"X\\\" \\\\ 1\",\"vendor\":\"NVIDIA\","
                   "\"vendor_id\":4318,\"device_id\":9860,\"dedicated_vram_mb\":24564,\"shared_memory_mb\":0,"
                   "\"driver_version\":\"32.0.15.6094\",\"software\":0}]}");
    EXPECT_EQ(checks::report_problem(got, one.data(), 1, true), "");
}

TEST(FormatReport, SeveralAdaptersKeepOrderAndFields)
{
    const std::vector<adapter_info> table = {
        make_record("Intel(R) UHD Graphics 770", 0x8086, 0x4680, 134217728ull, 17044185088ull, "31.0.101.4502", 0),
        make_record("Caf\xC3\xA9 \xE2\x82\xAC Adapter \xF0\x9F\x98\x80", 0x1AF4, 0x1050, 0, 1ull << 30, "", 0),
        make_record("\tTabbed\r\n  ", 0x15AD, 0x0405, 1048575, 1048576, "0.0.0.0", 0),
        make_record("", 0x1234, 0x1111, 0, 0, "65535.65535.65535.65535", 0),
        make_record("Microsoft Basic Render Driver", 0x1414, 0x008C, 0, 4241260544ull, "10.0.22621.1", 1),
    };
    std::string got = report_of(table);
    EXPECT_EQ(checks::report_problem(got, table.data(), (int)table.size(), true), "");
    /* A few fields written out, so the check above is not the only judge. */
    EXPECT_NE(got.find("\"name\":\"Caf\xC3\xA9 \xE2\x82\xAC Adapter \xF0\x9F\x98\x80\""), std::string::npos);
    EXPECT_NE(got.find("{\"index\":2,\"name\":\"Tabbed\",\"vendor\":\"VMware\""), std::string::npos);
    EXPECT_NE(got.find("{\"index\":3,\"name\":\"\",\"vendor\":\"QEMU\""), std::string::npos);
    EXPECT_EQ(got.compare(got.size() - 2, 2, "]}"), 0);
}

struct size_case {
    uint64_t bytes;
    const char *mib;
};

TEST(FormatReport, SizesInWholeMiBRoundedDown)
{
    const size_case cases[] = {
        {0, "0"},
        {1048575, "0"},
        {1048576, "1"},
        {2097151, "1"},
        {34317172736ull, "32727"},
        {UINT64_MAX, "17592186044415"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        std::vector<adapter_info> one = {make_record("A", 0x1002, 1, c.bytes, c.bytes, "", 0)};
        json::value doc;
        std::string error;
        ASSERT_TRUE(json::parse(report_of(one), &doc, &error)) << error;
        const json::value &obj = doc.at("adapters").at(0);
        EXPECT_EQ(obj.at("dedicated_vram_mb").dump(), c.mib);
        EXPECT_EQ(obj.at("shared_memory_mb").dump(), c.mib);
    }
}

TEST(FormatReport, NumbersAtEveryDigitCount)
{
    /* Both sides of every power of ten: the digits are written two at a
     * time, so odd and even lengths and the first and last pair all show. */
    for (uint64_t ten = 1; ten <= 1000000000000000000ull; ten *= 10) {
        for (uint64_t v : {ten - 1, ten, ten + 1}) {
            SCOPED_TRACE(v);
            uint32_t id = v > UINT32_MAX ? UINT32_MAX : (uint32_t)v;
            std::vector<adapter_info> one = {make_record("A", id, id, v << 20, v, "", 0)};
            std::string got = report_of(one);
            EXPECT_NE(got.find("\"vendor_id\":" + std::to_string(id) + ",\"device_id\":" + std::to_string(id) +
                               ",\"dedicated_vram_mb\":" + std::to_string((v << 20) >> 20) +
                               ",\"shared_memory_mb\":" + std::to_string(v >> 20) + ","),
                      std::string::npos)
                << got;
        }
    }
}

/* The test double's "max16" preset through the library's own enumeration:
 * sixteen of the largest record there is. */
std::vector<adapter_info> max16_records()
{
    fake::reset(fake::preset("max16"));
    std::vector<adapter_info> table;
    EXPECT_EQ(product::enum_adapters(&table), FAKE_MAX16_ADAPTERS);
    return table;
}

adapter_info widest_record()
{
    return max16_records().at(0);
}

TEST(FormatReport, SixteenWidestRecordsFitWhole)
{
    std::string want = "{\"adapters\":[";
    for (int i = 0; i < FAKE_MAX16_ADAPTERS; ++i)
        want += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i) + ",\"name\":\"" MAX16_NAME_HEAD +
                rep(MAX16_NAME_PAIRS, "\\\"") + MAX16_OBJECT_END;
    want += "]}";
    ASSERT_EQ(want.size(), (size_t)MAX16_REPORT_BYTES);

    std::vector<adapter_info> table = max16_records();
    ASSERT_EQ(table.size(), (size_t)MAX_ADAPTERS);
    std::string got = report_of(table);
    EXPECT_EQ(got, want);
    EXPECT_EQ(checks::report_problem(got, table.data(), (int)table.size(), true), "");
}

TEST(FormatReport, ShorterReportLeavesNothingOfTheLongerBehind)
{
    report_of(std::vector<adapter_info>(MAX_ADAPTERS, widest_record()));
    EXPECT_EQ(report_of(worked_example).size(), (size_t)EXAMPLE_REPORT_BYTES);
    EXPECT_EQ(report_of({}), "{\"adapters\":[]}");
}

TEST(FormatReport, NoMoreObjectsThanAnEnumerationGives)
{
    /* Not reachable through enumeration (at most 16 records): the report
     * holds the first sixteen, whole, and the buffer is proven to fit that
     * many at their longest. */
    for (size_t quotes : {0, 63, 126}) {
        SCOPED_TRACE(quotes);
        std::vector<adapter_info> table(40, widest_record());
        for (size_t i = 0; i < table.size(); i += 2)
            table[i] = make_record(rep(quotes, '"'), 0x10DE, 7, 1ull << 40, 1ull << 33, "1.2.3.4", 0);
        std::string got = report_of(table);
        EXPECT_EQ(checks::report_problem(got, table.data(), MAX_ADAPTERS, true), "");
    }
}

} // namespace
