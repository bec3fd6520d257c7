#include "product_access.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <string.h>

#include <memory>

namespace {

/* Runs sanitize_name on a copy of `in` in a 128-byte heap block (NUL-padded
 * when shorter) into a 192-byte heap block, so a read or write past either
 * is an ASan error rather than a silent pass. */
std::string sanitize(const std::string &in)
{
    EXPECT_LE(in.size(), (size_t)NAME_SIZE);
    std::unique_ptr<char[]> name(new char[NAME_SIZE]());
    memcpy(name.get(), in.data(), in.size());
    std::unique_ptr<char[]> out(new char[NAME_BUF_SIZE]);
    memset(out.get(), 0xEE, NAME_BUF_SIZE);
    size_t len = sanitize_name(name.get(), out.get());
    const char *end = static_cast<const char *>(memchr(out.get(), 0, NAME_BUF_SIZE));
    EXPECT_NE(end, nullptr) << "no NUL inside the 192-byte buffer";
    if (!end)
        return std::string();
    EXPECT_EQ(len, (size_t)(end - out.get())) << "length returned";
    return std::string(out.get(), (size_t)(end - out.get()));
}

struct sanitize_case {
    const char *label;
    std::string in;
    std::string out;
};

const std::string Q = "\"", QQ = "\\\"";

/* Name bytes that no UTF-16 description converts to: invalid UTF-8, a NUL
 * inside, every control byte at once. Names DXGI can describe are the shared
 * table's (tests/data/name_cases.h, run in test_enum.cpp). */
TEST(SanitizeName, CaseTable)
{
    std::string controls;
    for (int b = 0x01; b <= 0x1F; ++b)
        controls += (char)b;

    const sanitize_case cases[] = {
        {"all control bytes", controls, ""},
        {"control bytes do not count toward the bound", controls + rep(96, 'A'), rep(96, 'A')},
        {"DEL and high bytes unchanged", bytes({0x7F, 0x80, 0xFF}), bytes({0x7F, 0x80, 0xFF})},
        {"stray continuation bytes at the bound lose at most three", rep(92, Q) + rep(7, (char)0x80),
         rep(92, QQ) + rep(3, (char)0x80)},
        {"cut sequence not at the bound is left alone", "A" + bytes({0xE2, 0x82}), "A" + bytes({0xE2, 0x82})},
        {"NUL ends the name", std::string("A\0B", 3), "A"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        std::string got = sanitize(c.in);
        EXPECT_EQ(hex(got), hex(c.out));
    }
}

TEST(SanitizeName, OnlySpacesBecomeEmpty)
{
    for (size_t n = 1; n <= 127; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(sanitize(rep(n, ' ')), "");
    }
}

TEST(SanitizeName, EveryByteBetweenLetters)
{
    for (int b = 1; b <= 0xFF; ++b) {
        SCOPED_TRACE(b);
        std::string in = "A" + bytes({b}) + "B";
        std::string want = b < 0x20 ? "AB" : b == '"' || b == '\\' ? "A\\" + bytes({b}) + "B" : in;
        EXPECT_EQ(hex(sanitize(in)), hex(want));
    }
}

TEST(SanitizeName, ReadsNoMoreThan128BytesOfAnUnterminatedName)
{
    /* Exactly 128 bytes, no NUL (sanitize() copies them into a block of
     * 128): ASan reports any read past them, and the result is exact. */
    const struct {
        std::string fill, out;
    } cases[] = {
        {rep(128, 'A'), rep(128, 'A')},
        {rep(128, Q), rep(95, QQ)},
        {rep(64, bytes({0xC3, 0xA9})), rep(64, bytes({0xC3, 0xA9}))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(hex(c.fill.substr(0, 4)));
        ASSERT_EQ(c.fill.size(), (size_t)NAME_SIZE);
        EXPECT_EQ(hex(sanitize(c.fill)), hex(c.out));
    }
}

TEST(SanitizeName, LetterRunThenQuotesFillsToTheBound)
{
    /* Moving the letter/quote border by one byte at a time puts the bound
     * on both sides of a pair; the result must always be whole pairs, as
     * many as fit. */
    for (size_t letters = 0; letters <= 127; ++letters) {
        SCOPED_TRACE(letters);
        std::string in = rep(letters, 'A') + rep(127 - letters, Q);
        std::string got = sanitize(in);
        size_t want_pairs = std::min(127 - letters, (191 - letters) / 2);
        EXPECT_EQ(got, rep(letters, 'A') + rep(want_pairs, QQ));
    }
}

} // namespace
