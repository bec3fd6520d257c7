/* Adapter names from DXGI's UTF-16 description to the report's "name"
 * value: conversion to UTF-8 (whole characters up to 127 bytes) and
 * sanitising (escapes, dropped control characters, the 191-byte bound,
 * trimmed spaces). One table, run by the Windows test through the DLL and the
 * test double (tests/wine/test_report.c) and by the native tests through the
 * library's own steps (tests/native/test_enum.cpp). Name bytes that no UTF-16
 * text converts to (invalid UTF-8, a NUL inside) are the native sanitiser
 * table's own. Plain C that also compiles as C++. */
#ifndef NAME_CASES_H
#define NAME_CASES_H

#include <string.h>

#include <windows.h>

enum { NAME_CASE_UNITS = 128, NAME_CASE_RUNS = 8, NAME_CASE_NAME_RUNS = 4, NAME_CASE_NAME_SIZE = 256 };

struct name_run { unsigned code_point; int count; }; /* above U+FFFF: a surrogate pair */
struct name_bytes_run { const char *bytes; int count; };

struct name_case {
    const char *label;
    struct name_run description[NAME_CASE_RUNS]; /* 128 UTF-16 units leave no NUL */
    struct name_bytes_run name[NAME_CASE_NAME_RUNS];
};

static const struct name_case NAME_CASES[] = {
    {"empty", {{0, 0}}, {{"", 0}}},
    {"spaces only", {{' ', 127}}, {{"", 0}}},
    {"one space", {{' ', 1}}, {{"", 0}}},
    {"A, space, 0x01", {{'A', 1}, {' ', 1}, {1, 1}}, {{"A", 1}}},
    {"A, 0x01, space", {{'A', 1}, {1, 1}, {' ', 1}}, {{"A", 1}}},
    {"inner control byte dropped", {{'A', 1}, {' ', 1}, {1, 1}, {'B', 1}}, {{"A B", 1}}},
    {"leading and inner spaces stay", {{' ', 2}, {'A', 1}, {' ', 1}, {'B', 1}, {' ', 2}}, {{"  A B", 1}}},
    {"tab dropped", {{'A', 1}, {'\t', 1}, {'B', 1}}, {{"AB", 1}}},
    {"CR LF at the end dropped", {{'A', 1}, {'B', 1}, {'\r', 1}, {'\n', 1}}, {{"AB", 1}}},
    {"NUL ends the description", {{'A', 1}, {'B', 1}, {0, 1}, {'C', 1}, {'D', 1}}, {{"AB", 1}}},
    {"trailing backslash", {{'A', 1}, {'B', 1}, {'\\', 1}}, {{"AB\\\\", 1}}},
    {"trailing backslash, spaces", {{'A', 1}, {'B', 1}, {'\\', 1}, {' ', 2}}, {{"AB\\\\", 1}}},
    {"quote and backslash inside", {{'A', 1}, {'"', 1}, {'B', 1}, {'\\', 1}, {'C', 1}}, {{"A\\\"B\\\\C", 1}}},
    {"slash stays bare", {{'a', 1}, {'/', 1}, {'b', 1}}, {{"a/b", 1}}},
    {"127 plain bytes", {{'A', 127}}, {{"A", 127}}},
    {"DEL and e-acute", {{0x7F, 1}, {0xE9, 1}}, {{"\x7F\xC3\xA9", 1}}},
    {"trailing no-break space kept", {{'A', 1}, {0xA0, 1}}, {{"A\xC2\xA0", 1}}},
    /* The 191-byte bound: never half an escape pair, never half a character. */
    {"127 quotes", {{'"', 127}}, {{"\\\"", 95}}},
    {"127 backslashes", {{'\\', 127}}, {{"\\\\", 95}}},
    {"A and 126 quotes: 191 bytes", {{'A', 1}, {'"', 126}}, {{"A", 1}, {"\\\"", 95}}},
    {"AA and 125 quotes: 190 bytes", {{'A', 2}, {'"', 125}}, {{"AA", 1}, {"\\\"", 94}}},
    {"63 A and 64 quotes", {{'A', 63}, {'"', 64}}, {{"A", 63}, {"\\\"", 64}}},
    {"64 quotes and 63 A", {{'"', 64}, {'A', 63}}, {{"\\\"", 64}, {"A", 62}}},
    {"bound stops before C", {{'A', 1}, {'"', 94}, {'B', 1}, {'C', 1}}, {{"A", 1}, {"\\\"", 94}, {"B", 1}}},
    {"bound then trim", {{'A', 1}, {'"', 94}, {' ', 2}, {'B', 1}}, {{"A", 1}, {"\\\"", 94}}},
    {"95 quotes, euro left out", {{'"', 95}, {0x20AC, 1}}, {{"\\\"", 95}}},
    {"94 quotes, euro not split", {{'"', 94}, {0x20AC, 1}}, {{"\\\"", 94}}},
    {"93 quotes, euro fits", {{'"', 93}, {0x20AC, 1}}, {{"\\\"", 93}, {"\xE2\x82\xAC", 1}}},
    {"A, 94 quotes, e-acute cut after its lead", {{'A', 1}, {'"', 94}, {0xE9, 1}}, {{"A", 1}, {"\\\"", 94}}},
    {"94 quotes, four-byte character left out", {{'"', 94}, {0x1F600, 1}}, {{"\\\"", 94}}},
    {"93 quotes, A, four-byte character cut after three bytes", {{'"', 93}, {'A', 1}, {0x1F600, 1}},
     {{"\\\"", 93}, {"A", 1}}},
    {"space bared by taking back a character is trimmed", {{'A', 1}, {'"', 93}, {' ', 1}, {0x20AC, 1}},
     {{"A", 1}, {"\\\"", 93}}},
    {"whole character before a cut at a letter stays", {{'"', 93}, {'A', 1}, {0xE9, 1}, {'B', 1}, {'C', 1}},
     {{"\\\"", 93}, {"A\xC3\xA9" "B", 1}}},
    {"whole characters before a cut at the next lead byte stay", {{'"', 93}, {0xE9, 2}, {0x20AC, 1}},
     {{"\\\"", 93}, {"\xC3\xA9", 2}}},
    /* UTF-16 to UTF-8: whole characters up to 127 bytes, always a NUL. */
    {"64 e-acute", {{0xE9, 64}}, {{"\xC3\xA9", 63}}},
    {"64 U+0080, the first two-byte character", {{0x80, 64}}, {{"\xC2\x80", 63}}},
    {"64 Cyrillic Zhe", {{0x416, 64}}, {{"\xD0\x96", 63}}},
    {"64 U+07FF, the last two-byte character", {{0x7FF, 64}}, {{"\xDF\xBF", 63}}},
    {"127 U+0800, the first three-byte character", {{0x800, 127}}, {{"\xE0\xA0\x80", 42}}},
    {"127 euro signs", {{0x20AC, 127}}, {{"\xE2\x82\xAC", 42}}},
    {"127 U+FFFF", {{0xFFFF, 127}}, {{"\xEF\xBF\xBF", 42}}},
    {"128 units, no NUL", {{'B', 128}}, {{"B", 127}}},
    {"128 units of e-acute, no NUL", {{0xE9, 128}}, {{"\xC3\xA9", 63}}},
    {"125 ASCII and e-acute fit exactly", {{'a', 125}, {0xE9, 1}}, {{"a", 125}, {"\xC3\xA9", 1}}},
    {"126 ASCII and e-acute", {{'a', 126}, {0xE9, 1}}, {{"a", 126}}},
    {"123 ASCII and a pair fit exactly", {{'a', 123}, {0x1F600, 1}}, {{"a", 123}, {"\xF0\x9F\x98\x80", 1}}},
    {"124 ASCII and a pair", {{'a', 124}, {0x1F600, 1}}, {{"a", 124}}},
    /* 1 + 31 x 4 bytes fit in 127; the 32nd U+1F600 would need 4 more. */
    /* The ends of each range, at the cut: a mistaken bound turns a pair into
     * two replacement characters that no longer fit, or a lone surrogate
     * into half a pair. */
    {"123 ASCII and U+10000 (D800 DC00) fit exactly", {{'a', 123}, {0x10000, 1}}, {{"a", 123}, {"\xF0\x90\x80\x80", 1}}},
    {"123 ASCII and U+103FF (D800 DFFF) fit exactly", {{'a', 123}, {0x103FF, 1}}, {{"a", 123}, {"\xF0\x90\x8F\xBF", 1}}},
    {"123 ASCII and U+10FC00 (DBFF DC00) fit exactly", {{'a', 123}, {0x10FC00, 1}}, {{"a", 123}, {"\xF4\x8F\xB0\x80", 1}}},
    {"123 ASCII and U+10FFFF (DBFF DFFF) fit exactly", {{'a', 123}, {0x10FFFF, 1}}, {{"a", 123}, {"\xF4\x8F\xBF\xBF", 1}}},
    {"124 ASCII and U+10FFFF left out", {{'a', 124}, {0x10FFFF, 1}}, {{"a", 124}}},
    {"124 ASCII and U+D7FF, the last before the surrogates", {{'a', 124}, {0xD7FF, 1}}, {{"a", 124}, {"\xED\x9F\xBF", 1}}},
    {"124 ASCII and U+E000, the first after them", {{'a', 124}, {0xE000, 1}}, {{"a", 124}, {"\xEE\x80\x80", 1}}},
    {"124 ASCII and a lone U+D800", {{'a', 124}, {0xD800, 1}}, {{"a", 124}, {"\xEF\xBF\xBD", 1}}},
    {"124 ASCII and a lone U+DBFF", {{'a', 124}, {0xDBFF, 1}}, {{"a", 124}, {"\xEF\xBF\xBD", 1}}},
    {"124 ASCII and a lone U+DC00", {{'a', 124}, {0xDC00, 1}}, {{"a", 124}, {"\xEF\xBF\xBD", 1}}},
    {"124 ASCII and a lone U+DFFF", {{'a', 124}, {0xDFFF, 1}}, {{"a", 124}, {"\xEF\xBF\xBD", 1}}},
    {"123 ASCII, U+DBFF and B", {{'a', 123}, {0xDBFF, 1}, {'B', 1}}, {{"a", 123}, {"\xEF\xBF\xBD" "B", 1}}},
    {"surrogate pairs never split", {{'A', 1}, {0x1F600, 63}}, {{"A", 1}, {"\xF0\x9F\x98\x80", 31}}},
    {"31 pairs then ASCII", {{0x1F600, 31}, {'a', 4}}, {{"\xF0\x9F\x98\x80", 31}, {"aaa", 1}}},
    {"32 pairs", {{0x1F600, 32}}, {{"\xF0\x9F\x98\x80", 31}}},
    {"lone high surrogate first", {{0xD800, 1}, {'A', 1}}, {{"\xEF\xBF\xBD" "A", 1}}},
    {"lone high surrogate inside", {{'A', 1}, {0xD83D, 1}, {'B', 1}}, {{"A\xEF\xBF\xBD" "B", 1}}},
    {"lone low surrogate", {{'A', 1}, {0xDE00, 1}}, {{"A\xEF\xBF\xBD", 1}}},
    {"high surrogate last", {{'A', 1}, {'B', 1}, {0xD83D, 1}}, {{"AB\xEF\xBF\xBD", 1}}},
    {"swapped pair", {{0xDE00, 1}, {0xD83D, 1}}, {{"\xEF\xBF\xBD", 2}}},
    {"mixed widths", {{'C', 1}, {'a', 1}, {'f', 1}, {0xE9, 1}, {' ', 1}, {0x20AC, 1}, {' ', 1}, {0x1F600, 1}},
     {{"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 1}}},
};

/* The description of a case: its runs in UTF-16, a NUL after them when
 * they leave room, zeros in the rest. */
static inline void name_case_description(const struct name_case *c, WCHAR *d)
{
    int at = 0;
    memset(d, 0, NAME_CASE_UNITS * sizeof *d);
    for (int r = 0; r < NAME_CASE_RUNS && c->description[r].count; ++r)
        for (int k = 0; k < c->description[r].count && at < NAME_CASE_UNITS; ++k) {
            unsigned cp = c->description[r].code_point;
            if (cp > 0xFFFF && at + 1 < NAME_CASE_UNITS) {
                d[at++] = (WCHAR)(0xD800 + ((cp - 0x10000) >> 10));
                d[at++] = (WCHAR)(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                d[at++] = (WCHAR)cp;
            }
        }
}

/* The expected "name" value of a case, as it stands between the quotes. */
static inline void name_case_name(const struct name_case *c, char *out)
{
    out[0] = '\0';
    for (int r = 0; r < NAME_CASE_NAME_RUNS && c->name[r].count; ++r)
        for (int k = 0; k < c->name[r].count; ++k)
            strcat(out, c->name[r].bytes);
}

#endif
