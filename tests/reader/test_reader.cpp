/* gpuinfo_read_report, table by table: every report of the shared test data
 * in the forms JSON allows, texts cut at their field's bound, the capacity,
 * and what is refused with the byte it is refused at. Each case runs through
 * the header compiled as C++ and as C, which must agree. */
#include "gpuinfo_report.h"
#include "oracle.h"
#include "reports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern "C" int read_report_in_c(const char *json, gpuinfo_adapter *out, int capacity, size_t *error_offset);

namespace {

using nlohmann::json;

struct reading {
    int count;
    size_t at; /* when count is -1 */
    std::vector<gpuinfo_adapter> records;
};

/* Every text of every record has its NUL within its field. */
void expect_terminated(const std::vector<gpuinfo_adapter> &records, const char *build)
{
    for (size_t i = 0; i < records.size(); ++i) {
        const gpuinfo_adapter &a = records[i];
        EXPECT_NE(std::memchr(a.name, 0, sizeof a.name), nullptr) << build << " record " << i << ": name";
        EXPECT_NE(std::memchr(a.vendor, 0, sizeof a.vendor), nullptr) << build << " record " << i << ": vendor";
        EXPECT_NE(std::memchr(a.driver_version, 0, sizeof a.driver_version), nullptr)
            << build << " record " << i << ": driver_version";
    }
}

/* Both builds of the reader on `text` (NULL: no text), `capacity` records
 * of room, which start out as junk without a NUL anywhere. */
reading read_text(const char *text, int capacity = 16)
{
    std::vector<gpuinfo_adapter> cpp(static_cast<size_t>(capacity)), c(static_cast<size_t>(capacity));
    std::memset(static_cast<void *>(cpp.data()), 0xA5, cpp.size() * sizeof cpp[0]);
    std::memset(static_cast<void *>(c.data()), 0xA5, c.size() * sizeof c[0]);
    size_t cpp_at = 12345, c_at = 12345;
    int count = gpuinfo_read_report(text, cpp.data(), capacity, &cpp_at);
    EXPECT_EQ(read_report_in_c(text, c.data(), capacity, &c_at), count) << "C and C++ builds differ";
    expect_terminated(cpp, "C++");
    expect_terminated(c, "C");
    if (count < 0) {
        EXPECT_EQ(c_at, cpp_at) << "C and C++ builds differ";
        return {count, cpp_at, {}};
    }
    cpp.resize(static_cast<size_t>(std::min(count, capacity)));
    c.resize(cpp.size());
    EXPECT_EQ(std::memcmp(cpp.data(), c.data(), cpp.size() * sizeof cpp[0]), 0) << "C and C++ builds differ";
    return {count, 0, cpp};
}

reading read(const std::string &text, int capacity = 16)
{
    return read_text(text.c_str(), capacity);
}

void expect_records(const std::string &text, const json &adapters)
{
    reading r = read(text);
    ASSERT_EQ(r.count, static_cast<int>(adapters.size())) << "refused at byte " << r.at;
    for (size_t i = 0; i < adapters.size(); ++i)
        EXPECT_EQ(oracle::mismatch(oracle::from_json(adapters[i]), r.records[i]), "") << "record " << i;
}

json shared_cases()
{
    std::ifstream file(CASES_JSON);
    return json::parse(file).at("cases");
}

/* A case's adapters as the library writes them: the bindings' data gives
 * software as a truth value, the report as 0 or 1. */
json as_reported(json adapters)
{
    for (auto &a : adapters)
        a["software"] = a["software"].get<bool>() ? 1 : 0;
    return adapters;
}

/* The report of `adapters` with the keys of every object in reverse order
 * and keys the record does not have, of every JSON type, at both levels. */
std::string reordered_with_added_keys(const json &adapters)
{
    std::string out = R"({"schema":2,"host":{"os":"x","values":[1,-2.5e+30,0.125,true,false,null,"a\"\\b",[],{}]},)"
                      R"("adapters":[)";
    for (size_t i = 0; i < adapters.size(); ++i) {
        nlohmann::ordered_json object;
        object["pci_bus"] = 3;
        const auto items = adapters[i].items();
        std::vector<std::pair<std::string, json>> members;
        for (const auto &item : items)
            members.emplace_back(item.key(), item.value());
        for (auto m = members.rbegin(); m != members.rend(); ++m)
            object[m->first] = m->second;
        object["features"] = json::array({"a", json::object({{"b", nullptr}})});
        out += (i ? "," : "") + object.dump();
    }
    return out + R"(],"note":""})";
}

TEST(Reader, ReadsEveryReportOfTheSharedCasesInEveryFormJsonAllows)
{
    for (const auto &c : shared_cases()) {
        if (!c.contains("adapters"))
            continue;
        const json adapters = as_reported(c["adapters"]);
        const json doc = {{"adapters", adapters}};
        const struct {
            const char *form;
            std::string text;
        } forms[] = {
            {"compact", doc.dump()},
            {"indented, with line breaks and tabs", doc.dump(1, '\t')},
            {"every character past ASCII as \\u escapes", doc.dump(-1, ' ', true)},
            {"keys reversed, keys added at both levels", reordered_with_added_keys(adapters)},
        };
        for (const auto &f : forms) {
            SCOPED_TRACE(c["name"].get<std::string>() + ", " + f.form);
            expect_records(f.text, adapters);
        }
    }
}

/* One adapter whose name (as JSON string content) is `name`. */
std::string with_name(const std::string &name)
{
    return R"({"adapters":[{"index":0,"name":")" + name +
           R"(","vendor":"AMD","vendor_id":4098,"device_id":29631,"dedicated_vram_mb":16368,)"
           R"("shared_memory_mb":32727,"driver_version":"31.0.24033.1003","software":0}]})";
}

std::string changed(std::string text, const std::string &old, const std::string &replacement)
{
    size_t at = text.find(old);
    EXPECT_NE(at, std::string::npos) << old;
    return at == std::string::npos ? text : text.replace(at, old.size(), replacement);
}

TEST(Reader, DecodesEscapesAndCutsTextsAtAWholeCharacter)
{
    const std::string a191(191, 'a'), a190(190, 'a'), a189(189, 'a'), a188(188, 'a');
    const struct {
        const char *label;
        std::string name; /* as it stands in the JSON text */
        std::string want; /* the NUL-terminated field */
    } cases[] = {
        {"the simple escapes", R"(q\" b\\ s\/ \b\f\n\r\t)", "q\" b\\ s/ \b\f\n\r\t"},
        {"\\u escapes of one, two and three bytes", R"(\u0041\u00e9\u20AC)", "A\xC3\xA9\xE2\x82\xAC"},
        {"a surrogate pair", R"(\ud83d\ude00 \uD842\uDFB7)", "\xF0\x9F\x98\x80 \xF0\xA0\xAE\xB7"},
        {"UTF-8 as it stands", "Pr\xC3\xA9" "cision \xE2\x82\xAC \xF0\x9F\x98\x80", "Pr\xC3\xA9" "cision \xE2\x82\xAC \xF0\x9F\x98\x80"},
        /* The ends of every range, escaped and as they stand. */
        {"\\u at the ends of the one-, two- and three-byte ranges", R"(\u0001\u007f\u0080\u07FF\u0800\uD7FF\uE000\uFFFF)",
         "\x01\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
        {"pairs of the first and last high and low surrogates", R"(\uD800\uDC00 \uD800\uDFFF \uDBFF\uDC00 \uDBFF\uDFFF)",
         "\xF0\x90\x80\x80 \xF0\x90\x8F\xBF \xF4\x8F\xB0\x80 \xF4\x8F\xBF\xBF"},
        {"UTF-8 at the ends of every range", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"U+10000 escaped across the bound", a189 + R"(\uD800\uDC00)", a189},
        {"U+10FFFF just fitting", a188.substr(1) + R"(\uDBFF\uDFFF)", a188.substr(1) + "\xF4\x8F\xBF\xBF"},
        {"191 bytes: all of it", a191, a191},
        {"192 bytes: the last one cut", a191 + "b", a191},
        {"a two-byte character across the bound", a190 + "\xC3\xA9", a190},
        {"a three-byte character across the bound", a189 + "\xE2\x82\xAC", a189},
        {"a four-byte character across the bound", a188 + "\xF0\x9F\x98\x80", a188},
        {"a four-byte character just fitting", a188.substr(1) + "\xF0\x9F\x98\x80", a188.substr(1) + "\xF0\x9F\x98\x80"},
        {"an escaped pair across the bound", a189 + R"(\ud83d\ude00)", a189},
        {"an escape across the bound", a190 + R"(\u20ac)", a190},
        {"after a cut, nothing shorter that would fit", a190 + "\xC3\xA9" "b", a190},
        {"an empty name", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        reading r = read(with_name(c.name));
        ASSERT_EQ(r.count, 1) << "refused at byte " << r.at;
        EXPECT_EQ(std::string(r.records[0].name), c.want);
    }

    /* The other two texts at their own bounds. */
    std::string vendor(32, 'v'), driver(64, 'd');
    reading r = read(changed(changed(with_name("x"), R"("AMD")", '"' + vendor + '"'), R"("31.0.24033.1003")",
                             '"' + driver + '"'));
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(std::string(r.records[0].vendor), vendor.substr(0, 31));
    EXPECT_EQ(std::string(r.records[0].driver_version), driver.substr(0, 63));
}

TEST(Reader, ReadsTheWidestValuesAndLastOfAKeyGivenTwice)
{
    std::string text = changed(changed(changed(changed(with_name("x"), R"("index":0)", R"("index":2147483647)"),
                                               R"("vendor_id":4098)", R"("vendor_id":4294967295)"),
                                       R"("dedicated_vram_mb":16368)", R"("dedicated_vram_mb":18446744073709551615)"),
                               R"("software":0)", R"("software":0,"software":1,"x":1,"x":"2")");
    reading r = read(text);
    ASSERT_EQ(r.count, 1) << "refused at byte " << r.at;
    EXPECT_EQ(r.records[0].index, 2147483647);
    EXPECT_EQ(r.records[0].vendor_id, 4294967295u);
    EXPECT_EQ(r.records[0].dedicated_vram_mb, UINT64_MAX);
    EXPECT_EQ(r.records[0].software, 1);
}

TEST(Reader, ReturnsTheCountWhateverTheRoom)
{
    const std::string example = EXAMPLE_REPORT;
    EXPECT_EQ(gpuinfo_read_report(example.c_str(), nullptr, 0, nullptr), 2);
    EXPECT_EQ(gpuinfo_read_report(example.c_str(), nullptr, 5, nullptr), 2) << "no room without an array";
    EXPECT_EQ(gpuinfo_read_report(R"({"adapters":[]})", nullptr, 0, nullptr), 0);

    /* Room for one: the first kept, the slot past it untouched. */
    gpuinfo_adapter out[2];
    std::memset(out, 0x5A, sizeof out);
    gpuinfo_adapter untouched;
    std::memcpy(&untouched, &out[1], sizeof untouched);
    EXPECT_EQ(gpuinfo_read_report(example.c_str(), out, 1, nullptr), 2);
    EXPECT_EQ(std::string(out[0].name), "Example V7 Graphics");
    EXPECT_EQ(std::memcmp(&out[1], &untouched, sizeof untouched), 0);
    EXPECT_EQ(gpuinfo_read_report(example.c_str(), out, -3, nullptr), 2) << "a negative capacity is none";

    /* A report longer than any this library writes is still counted. */
    std::string many = R"({"adapters":[)";
    for (int i = 0; i < 40; ++i)
        many += (i ? "," : "") + with_name("n").substr(13, with_name("n").size() - 13 - 2);
    many += "]}";
    EXPECT_EQ(read(many, 16).count, 40);
}

/* Refused texts: '@' marks the byte the refusal must point at (and is taken
 * out before reading); without one, the end of the text. */
struct refusal {
    const char *label;
    std::string text;
};

std::string nested(int depth)
{
    return R"({"x":)" + std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']') +
           R"(,"adapters":[]})";
}

TEST(Reader, RefusesWhatIsNotAReportAndSaysWhere)
{
    const std::string example = EXAMPLE_REPORT;
    auto in_example = [&](const std::string &old, const std::string &replacement) {
        return changed(example, old, replacement);
    };
    const std::string name = R"("name":"Example V7 Graphics")";
    const refusal cases[] = {
        /* Not JSON. */
        {"an empty text", "@"},
        {"only whitespace", " \n\t@"},
        {"an array at the top", "@[]"},
        {"a byte order mark", "@\xEF\xBB\xBF{\"adapters\":[]}"},
        {"cut short", example.substr(0, 100) + "@"},
        {"text after the end", example + "@{}"},
        {"a trailing comma in the list", in_example(R"("software":1}]})", R"("software":1},@]})")},
        {"a trailing comma in an object", in_example(R"("software":1})", R"("software":1,@})")},
        {"a missing colon", in_example(R"("software":1)", R"("software"@1)")},
        {"a missing comma", in_example(R"(,"software":1)", R"(@"software":1)")},
        {"a key that is not a text", in_example(R"("software":1)", R"(@software:1)")},
        {"an unknown bare word", in_example(R"("software":0)", R"("software":0,"x":@tru)")},
        {"an unknown number with a leading zero", in_example(R"("software":0)", R"("software":0,"x":0@1)")},
        {"an unknown number without digits after the point", in_example(R"("software":0)", R"("software":0,"x":1.@)")},
        {"an unknown number without exponent digits", in_example(R"("software":0)", R"("software":0,"x":1e+@)")},
        {"an unknown value cut short", R"({"x":[1,2@)"},
        {"an unknown object's key not a text", R"({"x":{@1:2},"adapters":[]})"},
        {"an unknown array closed as an object", R"({"x":[1@},"adapters":[]})"},
        {"nested 65 deep", nested(64).insert(68, "@")}, /* the 64th '[' after {"x": */
        {"an unknown escape", in_example(name, R"("name":"Example@\x")")},
        {"\\u with a letter past F", in_example(name, R"("name":"Example@\u12G4")")},
        {"\\u0000", in_example(name, R"("name":"Example@\u0000")")},
        {"\\u0000 in an unknown text", R"({"x":"@\u0000","adapters":[]})"},
        {"a high surrogate alone", in_example(name, R"("name":"Example@\ud83d x")")},
        {"a high surrogate before another high one", in_example(name, R"("name":"Example@\ud83d\ud83d")")},
        {"a low surrogate alone", in_example(name, R"("name":"Example@\ude00")")},
        {"the last low surrogate alone", in_example(name, R"("name":"Example@\uDFFF")")},
        {"the first low surrogate alone", in_example(name, R"("name":"Example@\uDC00")")},
        {"the last high surrogate alone", in_example(name, R"("name":"Example@\uDBFF")")},
        {"the first high surrogate before U+E000", in_example(name, R"("name":"Example@\uD800\uE000")")},
        {"the last high surrogate before U+D7FF", in_example(name, R"("name":"Example@\uDBFF\uD7FF")")},
        {"UTF-8: U+FFFF overlong in four bytes", in_example(name, "\"name\":\"Example @\xF0\x8F\xBF\xBF\"")},
        {"UTF-8: U+07FF overlong in three bytes", in_example(name, "\"name\":\"Example @\xE0\x9F\xBF\"")},
        {"UTF-8: U+007F overlong in two bytes", in_example(name, "\"name\":\"Example @\xC1\xBF\"")},
        {"UTF-8: the last surrogate", in_example(name, "\"name\":\"Example @\xED\xBF\xBF\"")},
        {"UTF-8: U+110000", in_example(name, "\"name\":\"Example @\xF4\x90\x80\x80\"")},
        {"UTF-8: a lead byte past F4", in_example(name, "\"name\":\"Example @\xF5\x80\x80\x80\"")},
        {"a control byte", in_example(name, "\"name\":\"Example@\tV7\"")},
        {"a text not closed", R"({"adapters":[],"x":"abc@)"},
        {"UTF-8: overlong", in_example(name, "\"name\":\"Example @\xC0\xAF\"")},
        {"UTF-8: a surrogate", in_example(name, "\"name\":\"Example @\xED\xA0\x80\"")},
        {"UTF-8: a lone continuation byte", in_example(name, "\"name\":\"Example @\x80\"")},
        {"UTF-8: a sequence cut short", in_example(name, "\"name\":\"Example @\xE6\xBC\"")},
        {"UTF-8: past U+10FFFF", in_example(name, "\"name\":\"Example @\xF4\x90\x80\x80\"")},
        {"UTF-8 outside a text", in_example(R"("software":0)", "\"software\":0,\"x\":@\xC3\xA9")},
        /* JSON, but not a report. */
        {"no adapters key", R"({"adapter":[]@})"},
        {"an empty object", R"({@})"},
        {"adapters not an array", R"({"adapters":@{}})"},
        {"adapters null", R"({"adapters":@null})"},
        {"an adapter not an object", R"({"adapters":[@0]})"},
        {"an adapter without keys", R"({"adapters":[{@}]})"},
        {"a key missing", changed(in_example(R"(,"vendor":"Microsoft")", ""), R"("software":1})", R"("software":1@})")},
        {"a number as text", in_example(R"("vendor_id":4098)", R"("vendor_id":@"4098")")},
        {"a text as number", in_example(name, R"("name":@7)")},
        {"a text as null", in_example(R"("driver_version":"")", R"("driver_version":@null)")},
        {"software as a truth value", in_example(R"("software":0)", R"("software":@false)")},
        {"a negative size", in_example(R"("dedicated_vram_mb":0)", R"("dedicated_vram_mb":@-1)")},
        {"a fraction", in_example(R"("shared_memory_mb":4044)", R"("shared_memory_mb":@4044.5)")},
        {"an exponent", in_example(R"("shared_memory_mb":4044)", R"("shared_memory_mb":@4e3)")},
        {"a leading zero", in_example(R"("device_id":140)", R"("device_id":0@140)")},
        {"an id past 32 bits", in_example(R"("vendor_id":4098)", R"("vendor_id":@4294967296)")},
        {"a size past 64 bits", in_example(R"("shared_memory_mb":4044)", R"("shared_memory_mb":@18446744073709551616)")},
        {"an index past int", in_example(R"("index":1)", R"("index":@2147483648)")},
        {"software 2", in_example(R"("software":1)", R"("software":@2)")},
        {"the first of a key given twice mistyped", in_example(R"("software":1)", R"("software":@"1","software":1)")},
        {"adapters mistyped, then right", R"({"adapters":@1,"adapters":[]})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        size_t marker = c.text.find('@');
        std::string text = c.text;
        if (marker != std::string::npos)
            text.erase(marker, 1);
        size_t want = marker != std::string::npos ? marker : text.size();
        reading r = read(text);
        EXPECT_EQ(r.count, -1);
        if (r.count == -1)
            EXPECT_EQ(r.at, want) << "text: " << text;
        EXPECT_NE(oracle::read(text).what, oracle::verdict::report) << "the oracle takes it";
    }
}

/* What gpuinfo_get_json() gives when DXGI can't be reached: refused at byte
 * 0, not followed. */
TEST(Reader, RefusesNoTextAtAll)
{
    reading r = read_text(nullptr);
    EXPECT_EQ(r.count, -1);
    EXPECT_EQ(r.at, 0u);
}

TEST(Reader, TakesWhatJsonAllowsAroundTheRecord)
{
    const std::string example = EXAMPLE_REPORT;
    const struct {
        const char *label;
        std::string text;
    } cases[] = {
        {"whitespace around every token", changed(changed(example, "{", " \r\n\t{ "), "]}", " ] \n}\n")},
        {"an unknown value nested 64 deep with the report", nested(63)},
        {"an unknown value of every kind before adapters",
         R"({"n":-0.5e-3,"t":true,"f":false,"z":null,"s":"\u00e9\ud83d\ude00\/","o":{"":{}},"a":[[],{}],"adapters":[]})"},
        {"\\u0000-free escapes in an unknown key", changed(example, R"("software":0)", R"("software":0,"\u00e9\n":1)")},
        {"a known key spelled with escapes", changed(example, R"("software":0)", R"("softw\u0061re":0)")},
        {"a key longer than any of the record", changed(example, R"("software":0)",
                                                        R"("software":0,")" + std::string(300, 'k') + R"(":1)")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        reading r = read(c.text);
        oracle::result want = oracle::read(c.text);
        ASSERT_EQ(want.what, oracle::verdict::report) << "the oracle refuses it";
        ASSERT_EQ(r.count, static_cast<int>(want.records.size())) << "refused at byte " << r.at;
        for (size_t i = 0; i < want.records.size(); ++i)
            EXPECT_EQ(oracle::mismatch(want.records[i], r.records[i]), "") << "record " << i;
    }
}

} // namespace
