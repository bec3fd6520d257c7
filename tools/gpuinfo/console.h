/* Console output of gpuinfo.exe: UTF-8 text to a console as UTF-16 through
 * WriteConsoleW, to files and pipes as the bytes it is. */
#ifndef GPUINFO_TOOL_CONSOLE_H
#define GPUINFO_TOOL_CONSOLE_H

#include <stddef.h>
#include <wchar.h>

/* A printf-like function, checked where the compiler can check it. */
#if defined(__MINGW_PRINTF_FORMAT)
#define CONSOLE_PRINTF_LIKE(string, first) __attribute__((format(__MINGW_PRINTF_FORMAT, string, first)))
#elif defined(__GNUC__)
#define CONSOLE_PRINTF_LIKE(string, first) __attribute__((format(printf, string, first)))
#else
#define CONSOLE_PRINTF_LIKE(string, first)
#endif

enum console_stream { CONSOLE_OUT, CONSOLE_ERR };

/* Writes `length` bytes of UTF-8 to standard output or standard error. */
void console_write(enum console_stream to, const char *text, size_t length);

/* Writes a NUL-terminated text to standard output. */
void console_print(const char *text);

/* Formats a message of at most 1023 bytes to standard error. */
void console_error(const char *format, ...) CONSOLE_PRINTF_LIKE(1, 2);

/* UTF-16 to UTF-8 into `size` bytes; a text too long keeps what fits, never
 * half a character, and ends in an ellipsis. */
void console_utf8(const wchar_t *text, char *out, size_t size);

#endif
