/* Console output: see console.h. */
#define __USE_MINGW_ANSI_STDIO 1
#include "console.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

enum {
    WIDE_UNITS = 8192,    /* one slice of text on its way to a console */
    SLICE_BYTES = 4096,   /* UTF-8 bytes per slice: never more units than bytes */
    MESSAGE_BYTES = 1024,
    UTF8_PER_UNIT = 3,    /* UTF-8 bytes one UTF-16 unit can need */
};

static const char ELLIPSIS[] = "\xE2\x80\xA6"; /* U+2026 */

/* A console shows UTF-8 only when handed UTF-16; files and pipes get the
 * bytes as they are, so redirected output matches the library's report. */
void console_write(enum console_stream to, const char *text, size_t length)
{
    static WCHAR wide[WIDE_UNITS];
    HANDLE handle = GetStdHandle(to == CONSOLE_ERR ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode, done;
    if (handle == NULL || handle == INVALID_HANDLE_VALUE || length == 0)
        return;
    if (GetConsoleMode(handle, &mode)) {
        size_t start = 0;
        /* Converted in slices that end on a code point boundary where there
         * is one, so any text length fits the fixed buffer. */
        while (start < length) {
            size_t end = length - start > SLICE_BYTES ? start + SLICE_BYTES : length;
            size_t boundary = end;
            while (boundary < length && boundary > start && ((unsigned char)text[boundary] & 0xC0) == 0x80)
                --boundary;
            if (boundary > start)
                end = boundary;
            int units = MultiByteToWideChar(CP_UTF8, 0, text + start, (int)(end - start), wide, WIDE_UNITS);
            if (units > 0)
                WriteConsoleW(handle, wide, (DWORD)units, &done, NULL);
            start = end;
        }
        return;
    }
    while (length > 0) {
        if (!WriteFile(handle, text, (DWORD)length, &done, NULL) || done == 0)
            return;
        text += done;
        length -= done;
    }
}

void console_print(const char *text)
{
    console_write(CONSOLE_OUT, text, strlen(text));
}

void console_error(const char *format, ...)
{
    char message[MESSAGE_BYTES];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (length < 0)
        return;
    console_write(CONSOLE_ERR, message, (size_t)length < sizeof message ? (size_t)length : sizeof message - 1);
}

void console_utf8(const wchar_t *text, char *out, size_t size)
{
    size_t units = wcslen(text), fits = (size - sizeof ELLIPSIS) / UTF8_PER_UNIT;
    int cut = units > (size - 1) / UTF8_PER_UNIT;
    if (cut) {
        units = fits;
        if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
            --units;
    }
    int length = units ? WideCharToMultiByte(CP_UTF8, 0, text, (int)units, out, (int)size, NULL, NULL) : 0;
    out[length > 0 ? length : 0] = '\0';
    if (cut)
        memcpy(out + (length > 0 ? length : 0), ELLIPSIS, sizeof ELLIPSIS);
}
