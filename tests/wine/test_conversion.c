/* The system's own WideCharToMultiByte on the conversion cases the native
 * tests hold the stand-in platform to (tests/data/conversion_cases.h): the
 * stand-in answers as this does, or one of the two tests fails. */
#include "harness.h"
#include "conversion_cases.h"

int main(void)
{
    for (int i = 0; i < CONVERSION_CASE_COUNT; ++i) {
        const struct conversion_case *c = &CONVERSION_CASES[i];
        harness_row = c->label;
        char out[CONVERSION_CASE_ROOM_MAX + 1];
        memset(out, 0x5A, sizeof out);
        int got = WideCharToMultiByte(CP_UTF8, 0, c->text, c->units, c->room ? out : NULL, c->room, NULL, NULL);
        check_int(got, c->result);
        if (got > 0 && c->room > 0) {
            ok(memcmp(out, c->written, (size_t)got) == 0, "wrote other bytes");
            ok(out[got] == 0x5A, "wrote past its result");
        }
    }
    harness_row = NULL;
    return harness_finish();
}
