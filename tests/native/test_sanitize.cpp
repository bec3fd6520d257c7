#include "checks.h"
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
    EXPECT_LE(in.size(), (size_t)product::NAME_SIZE);
    std::unique_ptr<char[]> name(new char[product::NAME_SIZE]());
    memcpy(name.get(), in.data(), in.size());
    std::unique_ptr<char[]> out(new char[product::NAME_BUF_SIZE]);
    memset(out.get(), 0xEE, product::NAME_BUF_SIZE);
    product::sanitize_name(name.get(), out.get());
    const char *end = static_cast<const char *>(memchr(out.get(), 0, product::NAME_BUF_SIZE));
    EXPECT_NE(end, nullptr) << "no NUL inside the 192-byte buffer";
    if (!end)
        return std::string();
    EXPECT_EQ(checks::sanitized_name_problem(name.get(), out.get()), "");
    return std::string(out.get(), (size_t)(end - out.get()));
}

struct sanitize_case {
    const char *label;
    std::string in;
    std::string out;
};

const std::string Q = "\"", BS = "\\", QQ = "\\\"", BB = "\\\\";
const std::string EURO = bytes({0xE2, 0x82, 0xAC});

TEST(SanitizeName, CaseTable)
{
    std::string controls;
    for (int b = 0x01; b <= 0x1F; ++b)
        controls += (char)b;

    const sanitize_case cases[] = {
        {"empty", "", ""},
        {"all control bytes", controls, ""},
        {"space then control at the end", bytes({0x41, 0x20, 0x01}), "A"},
        {"control then space at the end", bytes({0x41, 0x01, 0x20}), "A"},
        {"control between words keeps the space", bytes({0x41, 0x20, 0x01, 0x42}), "A B"},
        {"leading and inner spaces stay, trailing go", "  A B  ", "  A B"},
        {"tab dropped", "A\tB", "AB"},
        {"CR LF at the end", "Adapter\r\n", "Adapter"},
        {"control bytes do not count toward the bound", controls + rep(96, 'A'), rep(96, 'A')},
        {"backslash at the end", "AB\\", "AB" + BB},
        {"backslash then trailing spaces", "AB\\  ", "AB" + BB},
        {"quote and backslash inside", "A\"B\\C", "A" + QQ + "B" + BB + "C"},
        {"127 letters", rep(127, 'A'), rep(127, 'A')},
        {"DEL and high bytes unchanged", bytes({0x7F, 0x80, 0xFF}), bytes({0x7F, 0x80, 0xFF})},
        {"two-byte character", bytes({0xC3, 0xA9}), bytes({0xC3, 0xA9})},
        {"trailing no-break space kept", "A" + bytes({0xC2, 0xA0}), "A" + bytes({0xC2, 0xA0})},
        {"127 quotes", rep(127, Q), rep(95, QQ)},
        {"127 backslashes", rep(127, BS), rep(95, BB)},
        {"A and 126 quotes", "A" + rep(126, Q), "A" + rep(95, QQ)},
        {"AA and 125 quotes", "AA" + rep(125, Q), "AA" + rep(94, QQ)},
        {"63 letters and 64 quotes", rep(63, 'A') + rep(64, Q), rep(63, 'A') + rep(64, QQ)},
        {"64 quotes and 63 letters", rep(64, Q) + rep(63, 'A'), rep(64, QQ) + rep(62, 'A')},
        {"A, 94 quotes, B, C", "A" + rep(94, Q) + "BC", "A" + rep(94, QQ) + "B"},
        {"A, 94 quotes, two spaces, B", "A" + rep(94, Q) + "  B", "A" + rep(94, QQ)},
        {"95 quotes and a euro sign", rep(95, Q) + EURO, rep(95, QQ)},
        {"94 quotes and a euro sign cut after its second byte", rep(94, Q) + EURO, rep(94, QQ)},
        {"A, 94 quotes and a two-byte character cut after its lead", "A" + rep(94, Q) + bytes({0xC3, 0xA9}),
         "A" + rep(94, QQ)},
        {"94 quotes and a four-byte character", rep(94, Q) + bytes({0xF0, 0x9F, 0x98, 0x80}), rep(94, QQ)},
        {"93 quotes, A and a four-byte character cut after three bytes",
         rep(93, Q) + "A" + bytes({0xF0, 0x9F, 0x98, 0x80}), rep(93, QQ) + "A"},
        {"space bared by the mend is trimmed", "A" + rep(93, Q) + " " + EURO, "A" + rep(93, QQ)},
        {"whole character before a cut at a letter stays", rep(93, Q) + "A" + bytes({0xC3, 0xA9}) + "BC",
         rep(93, QQ) + "A" + bytes({0xC3, 0xA9}) + "B"},
        {"whole characters before a cut at the next lead byte stay",
         rep(93, Q) + bytes({0xC3, 0xA9, 0xC3, 0xA9}) + EURO, rep(93, QQ) + bytes({0xC3, 0xA9, 0xC3, 0xA9})},
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
    /* Exactly 128 bytes, no NUL: ASan reports any read past them. */
    const std::string fills[] = {rep(128, 'A'), rep(128, Q), rep(64, bytes({0xC3, 0xA9}))};
    for (const auto &fill : fills) {
        SCOPED_TRACE(hex(fill.substr(0, 4)));
        std::unique_ptr<char[]> name(new char[product::NAME_SIZE]);
        memcpy(name.get(), fill.data(), product::NAME_SIZE);
        std::unique_ptr<char[]> out(new char[product::NAME_BUF_SIZE]);
        product::sanitize_name(name.get(), out.get());
        EXPECT_LE(strlen(out.get()), (size_t)product::NAME_BUF_SIZE - 1);
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
