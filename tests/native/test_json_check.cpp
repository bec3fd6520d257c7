/* The strict JSON reader is the judge of every report, so it is tested on
 * its own: it must take what RFC 8259 allows and refuse the rest, whether
 * nlohmann's reader refuses it or the strictness added around it. */
#include "json_check.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace {

struct doc_case {
    const char *label;
    std::string text;
    bool valid;
};

TEST(JsonCheck, AcceptsAndRefuses)
{
    const doc_case cases[] = {
        {"empty object", "{}", true},
        {"report shape", "{\"adapters\":[{\"index\":0,\"name\":\"A\\\"B\\\\\"}]}", true},
        {"whitespace around", " \t\r\n{ \"a\" : [ 1 , -2.5e+3 , true , false , null ] }\n", true},
        {"zero", "0", true},
        {"negative zero with fraction", "-0.0", true},
        {"escapes", "\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u00e9 \\uD83D\\uDE00\"", true},
        {"raw UTF-8 in string", "\"caf\xC3\xA9\"", true},
        {"DEL in string", "\"\x7F\"", true},
        {"nothing", "", false},
        {"only whitespace", "  ", false},
        {"two documents", "{}{}", false},
        {"trailing comma in array", "[1,]", false},
        {"trailing comma in object", "{\"a\":1,}", false},
        {"missing comma", "[1 2]", false},
        {"unquoted key", "{a:1}", false},
        {"single quotes", "['a']", false},
        {"leading zero", "[01]", false},
        {"plus sign", "[+1]", false},
        {"bare dot", "[1.]", false},
        {"bare exponent", "[1e]", false},
        {"hex number", "[0x10]", false},
        {"NaN", "[NaN]", false},
        {"raw tab in string", "\"a\tb\"", false},
        {"raw newline in string", "\"a\nb\"", false},
        {"raw 0x01 in string", std::string("\"a\x01\"", 4), false},
        {"NUL in string", std::string("\"a\0\"", 4), false},
        {"unknown escape", "\"\\x41\"", false},
        {"short unicode escape", "\"\\u12\"", false},
        {"lone high surrogate escape", "\"\\uD83D\"", false},
        {"lone low surrogate escape", "\"\\uDE00\"", false},
        {"high surrogate then other escape", "\"\\uD83D\\u0041\"", false},
        {"unterminated string", "\"abc", false},
        {"unterminated array", "[1", false},
        {"duplicate key", "{\"a\":1,\"a\":2}", false},
        {"misspelt literal", "[tru]", false},
        {"duplicate key in a nested object", "[{\"b\":{\"a\":1,\"a\":1}}]", false},
        {"same key in two objects", "[{\"a\":1},{\"a\":1,\"b\":{\"a\":2}}]", true},
        {"NUL escape", "\"\\u0000\"", true},
        {"byte order mark", "\xEF\xBB\xBF{}", false},
        {"comment", "{} // none", false},
        {"65 arrays deep", rep(65, '[') + rep(65, ']'), true},
        {"66 arrays deep", rep(66, '[') + rep(66, ']'), false},
        {"number 64 arrays deep", rep(64, '[') + "1" + rep(64, ']'), true},
        {"number 65 arrays deep", rep(65, '[') + "1" + rep(65, ']'), false},
        {"member 64 objects deep", rep(64, "{\"a\":") + "{}" + rep(64, '}'), true},
        {"member 65 objects deep", rep(65, "{\"a\":") + "{}" + rep(65, '}'), false},
        {"too deep", rep(100, '[') + rep(100, ']'), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        json::value v;
        std::string error;
        EXPECT_EQ(json::parse(c.text, &v, &error), c.valid) << error;
    }
}

TEST(JsonCheck, DecodesStringsAndKeepsNumbersExact)
{
    json::value v;
    std::string error;
    ASSERT_TRUE(json::parse("{\"n\":\"A\\\"\\\\\\u00e9\\uD83D\\uDE00\",\"big\":17592186044415,\"neg\":-7,"
                            "\"top\":18446744073709551615}",
                            &v, &error))
        << error;
    EXPECT_EQ(hex(v.at("n").get<std::string>()), hex("A\"\\\xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_EQ(v.at("big").dump(), "17592186044415");
    EXPECT_EQ(v.at("neg").dump(), "-7");
    EXPECT_TRUE(v.at("top").is_number_integer());
    EXPECT_EQ(v.at("top").dump(), "18446744073709551615");
    EXPECT_FALSE(v.contains("missing"));
}

struct utf8_case {
    const char *label;
    std::string bytes;
    bool valid;
};

TEST(JsonCheck, Utf8Validity)
{
    const utf8_case cases[] = {
        {"ASCII", "abc", true},
        {"two bytes", bytes({0xC3, 0xA9}), true},
        {"three bytes", bytes({0xE2, 0x82, 0xAC}), true},
        {"four bytes", bytes({0xF0, 0x9F, 0x98, 0x80}), true},
        {"largest code point", bytes({0xF4, 0x8F, 0xBF, 0xBF}), true},
        {"lone continuation", bytes({0x80}), false},
        {"cut two-byte", bytes({0xC3}), false},
        {"cut three-byte", bytes({0xE2, 0x82}), false},
        {"overlong two-byte", bytes({0xC0, 0xAF}), false},
        {"overlong C1", bytes({0xC1, 0xBF}), false},
        {"overlong three-byte", bytes({0xE0, 0x80, 0xAF}), false},
        {"overlong four-byte", bytes({0xF0, 0x80, 0x80, 0xAF}), false},
        {"surrogate", bytes({0xED, 0xA0, 0x80}), false},
        {"past U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80}), false},
        {"F5 lead", bytes({0xF5, 0x80, 0x80, 0x80}), false},
        {"FF", bytes({0xFF}), false},
        {"bad third byte", bytes({0xE2, 0x82, 0x41}), false},
        {"bad fourth byte", bytes({0xF0, 0x9F, 0x98, 0x41}), false},
        {"cut four-byte", bytes({0xF0, 0x9F, 0x98}), false},
        {"first three-byte character", bytes({0xE0, 0xA0, 0x80}), true},
        {"last before the surrogates", bytes({0xED, 0x9F, 0xBF}), true},
        {"first after the surrogates", bytes({0xEE, 0x80, 0x80}), true},
        {"first four-byte character", bytes({0xF0, 0x90, 0x80, 0x80}), true},
        {"continuation after ASCII", bytes({0x41, 0xBF}), false},
        {"NUL inside", std::string("a\0b", 3), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(json::valid_utf8(c.bytes), c.valid);
    }
}

} // namespace

namespace {

TEST(JsonCheck, CompactFormIsPythonsCompactDump)
{
    const doc_case cases[] = {
        {" { \"b\" : [ 1 , -25 , true , false , null ], \"a\" : {} }\n", "{\"b\":[1,-25,true,false,null],\"a\":{}}",
         true},
        {"\"\\u0022 \\/ \\u005c \\b\\f\\n\\r\\t \\u0001 \\u00e9\"", "\"\\\" / \\\\ \\b\\f\\n\\r\\t \\u0001 \xC3\xA9\"", true},
        {"{\"adapters\":[]}", "{\"adapters\":[]}", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        json::value v;
        std::string error;
        ASSERT_TRUE(json::parse(c.label, &v, &error)) << error;
        EXPECT_EQ(json::compact(v), c.text);
    }
}

} // namespace
