#include "checks.h"
#include "product_access.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <set>
#include <vector>

namespace {

/* snprintf and the library's format_text share this signature, so one call
 * written once runs through both with the very same arguments. */
typedef int (*formatter)(char *out, size_t room, const char *format, ...);

struct format_case {
    const char *label;
    int (*call)(formatter f, char *out, size_t room);
};

const std::string long_name(191, 'n');

const format_case format_cases[] = {
    {"no conversion", [](formatter f, char *o, size_t r) { return f(o, r, "{\"adapters\":["); }},
    {"empty format", [](formatter f, char *o, size_t r) { return f(o, r, ""); }},
    {"%s empty", [](formatter f, char *o, size_t r) { return f(o, r, "%s", ""); }},
    {"%s comma", [](formatter f, char *o, size_t r) { return f(o, r, "%s", ","); }},
    {"%s 191 bytes", [](formatter f, char *o, size_t r) { return f(o, r, "<%s>", long_name.c_str()); }},
    {"%d zero", [](formatter f, char *o, size_t r) { return f(o, r, "%d", 0); }},
    {"%d 15", [](formatter f, char *o, size_t r) { return f(o, r, "i=%d;", 15); }},
    {"%d -1", [](formatter f, char *o, size_t r) { return f(o, r, "%d", -1); }},
    {"%d INT_MIN", [](formatter f, char *o, size_t r) { return f(o, r, "%d", INT_MIN); }},
    {"%d INT_MAX", [](formatter f, char *o, size_t r) { return f(o, r, "%d", INT_MAX); }},
    {"%u zero", [](formatter f, char *o, size_t r) { return f(o, r, "%u", 0u); }},
    {"%u UINT_MAX", [](formatter f, char *o, size_t r) { return f(o, r, "%u", UINT_MAX); }},
    {"%u 4098", [](formatter f, char *o, size_t r) { return f(o, r, "id:%u", 4098u); }},
    {"%llu zero", [](formatter f, char *o, size_t r) { return f(o, r, "%llu", 0ull); }},
    {"%llu 10^19", [](formatter f, char *o, size_t r) { return f(o, r, "%llu", 10000000000000000000ull); }},
    {"%llu ULLONG_MAX", [](formatter f, char *o, size_t r) { return f(o, r, "%llu", ULLONG_MAX); }},
    {"%llu UINT64_MAX >> 20",
     [](formatter f, char *o, size_t r) { return f(o, r, "%llu MiB", (unsigned long long)(UINT64_MAX >> 20)); }},
    {"driver version", [](formatter f, char *o, size_t r) {
         return f(o, r, product::driver_version_format(), 32u, 15u, 16u, 3370u);
     }},
    {"driver version maximum", [](formatter f, char *o, size_t r) {
         return f(o, r, product::driver_version_format(), 65535u, 65535u, 65535u, 65535u);
     }},
    {"report object", [](formatter f, char *o, size_t r) {
         return f(o, r, product::object_format(), ",", 3, "Example \\\"V7\\\"", "AMD", 4098u, 29631u, 16368ull,
                  32727ull, "31.0.24033.1003", 0);
     }},
    {"report object at its widest", [](formatter f, char *o, size_t r) {
         return f(o, r, product::object_format(), ",", INT_MIN, long_name.c_str(), "Unknown", UINT_MAX, UINT_MAX,
                  ULLONG_MAX, ULLONG_MAX, "65535.65535.65535.65535", INT_MIN);
     }},
};

TEST(FormatText, MatchesSnprintfAtEveryRoom)
{
    const size_t guard = 16;
    for (const auto &c : format_cases) {
        SCOPED_TRACE(c.label);
        char probe[1];
        int full = c.call(&snprintf, probe, 0);
        ASSERT_GE(full, 0);
        size_t len = (size_t)full;
        std::set<size_t> rooms = {0, 1, 2, 3, len + 1, len + 2, 8192};
        if (len >= 1)
            rooms.insert(len - 1);
        rooms.insert(len); /* one short of the NUL */
        for (size_t room : rooms) {
            SCOPED_TRACE(room);
            std::vector<char> want(room + guard, (char)0x5A), got(room + guard, (char)0x5A);
            int want_len = c.call(&snprintf, want.data(), room);
            int got_len = c.call(product::format_text, got.data(), room);
            EXPECT_EQ(got_len, want_len);
            EXPECT_EQ(std::string(got.begin(), got.end()), std::string(want.begin(), want.end()));
            for (size_t i = room; i < room + guard; ++i)
                ASSERT_EQ(got[i], (char)0x5A) << "byte " << i << " written past the room";
            if (room > 0)
                EXPECT_EQ(got[std::min(len, room - 1)], '\0');
        }
    }
}

TEST(FormatText, RoomZeroWritesNothingAtAll)
{
    /* snprintf(NULL, 0, ...) is how a caller measures; the library's must
     * not touch the pointer either. */
    EXPECT_EQ(product::format_text(nullptr, 0, "%s-%d-%u-%llu", "abc", -12, 7u, 99ull),
              snprintf(nullptr, 0, "%s-%d-%u-%llu", "abc", -12, 7u, 99ull));
}

struct driver_case {
    uint64_t v;
    const char *text;
};

TEST(FormatDriverVersion, WordsFromTheMostSignificant)
{
    const driver_case cases[] = {
        {0x0020000F00100D2Aull, "32.15.16.3370"},
        {0, "0.0.0.0"},
        {UINT64_MAX, "65535.65535.65535.65535"},
        {0x0001000200030004ull, "1.2.3.4"},
        {0xFFFF000000000000ull, "65535.0.0.0"},
        {0x000000000000FFFFull, "0.0.0.65535"},
        {0x8000000000000001ull, "32768.0.0.1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::unique_ptr<char[]> out(new char[product::DRIVER_VERSION_SIZE]);
        memset(out.get(), 0x5A, product::DRIVER_VERSION_SIZE);
        product::format_driver_version(out.get(), c.v);
        EXPECT_STREQ(out.get(), c.text);
    }
}

struct vendor_case {
    uint32_t id;
    const char *name;
};

TEST(VendorName, KnownIdsAndEverythingElse)
{
    const vendor_case cases[] = {
        {0x1414, "Microsoft"}, {0x10DE, "NVIDIA"},  {0x8086, "Intel"},   {0x1002, "AMD"},
        {0x1022, "AMD"},       {0x15AD, "VMware"},  {0x1AF4, "Red Hat"}, {0x1234, "QEMU"},
        {0x1003, "Unknown"},   {0x1042, "Unknown"}, {0x11414, "Unknown"}, {0, "Unknown"},
        {0xFFFFFFFF, "Unknown"}, {0x10DE0000, "Unknown"}, {0x8087, "Unknown"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        const char *got = product::vendor_name(c.id);
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got, c.name);
        EXPECT_STREQ(checks::expected_vendor(c.id), c.name) << "the checks' table disagrees";
    }
}

} // namespace
