/* WideCharToMultiByte(CP_UTF8, 0, ...) as Windows answers it, for the calls
 * the library makes and their edges: run by the Windows test
 * (tests/wine/test_conversion.c) against the system's own function and by the
 * native tests against the stand-in platform's, so the stand-in is held to
 * what the system does rather than to what its author believed. Plain C that
 * also compiles as C++. */
#ifndef CONVERSION_CASES_H
#define CONVERSION_CASES_H

#include <windows.h>

enum { CONVERSION_CASE_UNITS = 8, CONVERSION_CASE_ROOM_MAX = 16 };

struct conversion_case {
    const char *label;
    WCHAR text[CONVERSION_CASE_UNITS]; /* NUL-ended */
    int units;                         /* the length passed; -1: up to and with the NUL */
    int room;                          /* the output's size; 0 only measures */
    int result;
    const char *written; /* the first `result` bytes written when room > 0 */
};

static const struct conversion_case CONVERSION_CASES[] = {
    {"explicit length writes no NUL", {'a', 'b', 'c'}, 3, 8, 3, "abc"},
    {"-1 converts the NUL too", {'a', 'b', 'c'}, -1, 8, 4, "abc"},
    {"-1 without room for the NUL", {'a', 'b'}, -1, 2, 0, ""},
    {"NUL inside an explicit length", {'a', 0, 'b'}, 3, 8, 3, "a\0b"},
    {"measuring", {0x20AC}, 1, 0, 3, ""},
    {"measuring with -1", {'a', 0x20AC}, -1, 0, 5, ""},
    {"two bytes", {0xE9}, 1, 2, 2, "\xC3\xA9"},
    {"last two-byte character", {0x7FF}, 1, 2, 2, "\xDF\xBF"},
    {"exact fit", {0x20AC}, 1, 3, 3, "\xE2\x82\xAC"},
    {"does not fit", {0x20AC}, 1, 2, 0, ""},
    {"U+FFFF", {0xFFFF}, 1, 3, 3, "\xEF\xBF\xBF"},
    {"pair", {0xD83D, 0xDE00}, 2, 4, 4, "\xF0\x9F\x98\x80"},
    {"pair without room for its four bytes", {0xD83D, 0xDE00}, 2, 3, 0, ""},
    {"highest pair", {0xDBFF, 0xDFFF}, 2, 4, 4, "\xF4\x8F\xBF\xBF"},
    {"half a pair", {0xD83D, 0xDE00}, 1, 4, 3, "\xEF\xBF\xBD"},
    {"lone low surrogate", {0xDE00}, 1, 4, 3, "\xEF\xBF\xBD"},
    {"high surrogate before a letter", {0xD83D, 'A'}, 2, 8, 4, "\xEF\xBF\xBD" "A"},
    {"pair in the wrong order", {0xDE00, 0xD83D}, 2, 8, 6, "\xEF\xBF\xBD\xEF\xBF\xBD"},
};

enum { CONVERSION_CASE_COUNT = sizeof CONVERSION_CASES / sizeof CONVERSION_CASES[0] };

#endif
