#include "product_access.h"
#include "vendor_cases.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>

namespace {

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
        {0x0009000A00630064ull, "9.10.99.100"},
        {0x03E703E8270F2710ull, "999.1000.9999.10000"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::unique_ptr<char[]> out(new char[DRIVER_VERSION_SIZE]);
        memset(out.get(), 0x5A, DRIVER_VERSION_SIZE);
        format_driver_version(out.get(), c.v);
        EXPECT_STREQ(out.get(), c.text);
    }
}

/* The shared vendor rows (tests/data/vendor_cases.h): the text and its
 * length, which the report copies without measuring it again. */
TEST(VendorName, SharedVendorCases)
{
    for (const vendor_case &c : VENDOR_CASES) {
        SCOPED_TRACE(c.id_text);
        const vendor *got = find_vendor((uint32_t)c.id);
        EXPECT_STREQ(got->name, c.name);
        EXPECT_EQ(got->length, strlen(c.name));
    }
}

} // namespace
