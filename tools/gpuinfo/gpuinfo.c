/*
 * gpuinfo.exe: lists the machine's graphics adapters as a table, or prints
 * the library's JSON report.
 *
 * The library is reached the way hosts reach it: loaded at run time from the
 * folder of this program, never through a link-time import, so a missing or
 * incomplete DLL is a message and an exit code rather than a loader dialog.
 * Paths and arguments are UTF-16 throughout: a folder named in any script
 * works, whatever the system's ANSI code page.
 */
#define __USE_MINGW_ANSI_STDIO 1
#include <windows.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#ifndef GPUINFO_TOOL_VERSION
#define GPUINFO_TOOL_VERSION "0.0.0"
#endif

#define LIBRARY_FILE "quillmar-dxgi-gpu-info.dll"
#define LIBRARY_FILE_WIDE L"quillmar-dxgi-gpu-info.dll"

enum exit_code {
    EXIT_OK = 0,
    EXIT_ENUMERATION_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_LIBRARY_UNUSABLE = 3,
    EXIT_REPORT_UNREADABLE = 4,
};

enum {
    MAX_ADAPTERS = 16,      /* the library never reports more */
    NAME_BYTES = 192,       /* a report name unescapes to at most 191 bytes */
    VENDOR_BYTES = 32,      /* the longest vendor text is "Microsoft" */
    DRIVER_BYTES = 64,      /* "65535.65535.65535.65535" and room to spare */
    DRIVER_WORDS = 4,
    DRIVER_WORD_MAX = 65535,
    NAME_COLUMN_MAX = 40,   /* console columns; longer names end in an ellipsis */
    ELLIPSIS_COLUMNS = 1,
    CELL_BYTES = 256,       /* one formatted cell, UTF-8 */
    OUTPUT_BYTES = 16384,   /* the whole table: 17 lines of at most ~400 bytes */
    MESSAGE_BYTES = 1024,
    PROBLEM_BYTES = 128,    /* what the reader expected, as a text */
    ARGUMENT_BYTES = 256,   /* an argument echoed in a complaint, UTF-8 */
    PATH_UNITS = 32768,     /* the longest path Windows accepts, in UTF-16 units */
    UTF8_PER_UNIT = 3,      /* UTF-8 bytes one UTF-16 unit can need */
    COLUMN_GAP = 2,
    MAX_KEYS = 32,          /* keys in one object of the report */
    MAX_DEPTH = 16,         /* nesting inside a value this tool does not know */
};

static const char ELLIPSIS[] = "\xE2\x80\xA6"; /* U+2026, one column */

/* ---- Output ------------------------------------------------------------ */

/* A console shows UTF-8 only when handed UTF-16; files and pipes get the
 * bytes as they are, so redirected output matches the library's report. */
static void write_text(DWORD which, const char *text, size_t length)
{
    static WCHAR wide[OUTPUT_BYTES];
    HANDLE handle = GetStdHandle(which);
    DWORD mode, done;
    if (handle == NULL || handle == INVALID_HANDLE_VALUE || length == 0)
        return;
    if (GetConsoleMode(handle, &mode)) {
        enum { SLICE_BYTES = OUTPUT_BYTES / 2 };
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
            int units = MultiByteToWideChar(CP_UTF8, 0, text + start, (int)(end - start), wide, OUTPUT_BYTES);
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

static void print_out(const char *text)
{
    write_text(STD_OUTPUT_HANDLE, text, strlen(text));
}

static void print_err(const char *format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

static void print_err(const char *format, ...)
{
    char message[MESSAGE_BYTES];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (length < 0)
        return;
    write_text(STD_ERROR_HANDLE, message, (size_t)length < sizeof message ? (size_t)length : sizeof message - 1);
}

/* UTF-16 to UTF-8 into `size` bytes; a text too long for them keeps what
 * fits, never half a surrogate pair, and ends in an ellipsis. */
static void to_utf8(const WCHAR *text, char *out, size_t size)
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

/* ---- The library ------------------------------------------------------- */

struct library {
    const char *(*version)(void);
    const char *(*last_error)(void);
    const char *(*get_json)(void);
    int (*adapter_count)(void);
    int (*vram_mb)(int);
};

enum load_result { LOAD_OK, LOAD_MISSING, LOAD_INCOMPLETE };

/* GetProcAddress hands back a generic function pointer; each is cast to the
 * signature the public header declares. */
static FARPROC find_export(HMODULE module, const char *name, int *missing)
{
    FARPROC proc = GetProcAddress(module, name);
    if (!proc) {
        print_err("gpuinfo: %s lacks the export %s\n", LIBRARY_FILE, name);
        *missing = 1;
    }
    return proc;
}

static enum load_result load_library(struct library *lib)
{
    static WCHAR path[PATH_UNITS];
    static char shown[PATH_UNITS * UTF8_PER_UNIT];
    DWORD length = GetModuleFileNameW(NULL, path, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS) {
        print_err("gpuinfo: cannot tell which folder gpuinfo.exe is in\n");
        return LOAD_MISSING;
    }
    WCHAR *slash = wcsrchr(path, L'\\');
    size_t folder = slash ? (size_t)(slash - path) + 1 : 0;
    if (folder + sizeof LIBRARY_FILE_WIDE / sizeof(WCHAR) > PATH_UNITS) {
        print_err("gpuinfo: the path of gpuinfo.exe is too long\n");
        return LOAD_MISSING;
    }
    memcpy(path + folder, LIBRARY_FILE_WIDE, sizeof LIBRARY_FILE_WIDE);

    HMODULE module = LoadLibraryW(path);
    if (!module) {
        DWORD error = GetLastError();
        to_utf8(path, shown, sizeof shown);
        print_err("gpuinfo: cannot load ");
        write_text(STD_ERROR_HANDLE, shown, strlen(shown));
        print_err(" (error %lu)\n", (unsigned long)error);
        return LOAD_MISSING;
    }
    /* All five are looked up, used or not: a DLL that lacks one is not the
     * library this tool was built for. */
    int missing = 0;
    lib->version = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_version", &missing);
    lib->last_error = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_last_error", &missing);
    lib->get_json = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_get_json", &missing);
    lib->adapter_count = (int (*)(void))(void (*)(void))find_export(module, "gpuinfo_adapter_count", &missing);
    lib->vram_mb = (int (*)(int))(void (*)(void))find_export(module, "gpuinfo_vram_mb", &missing);
    return missing ? LOAD_INCOMPLETE : LOAD_OK;
}

/* ---- Reading the report ------------------------------------------------ */

/* The report is read by key, so a later library may add keys, anywhere and
 * holding any JSON value, without breaking the table. Everything else is
 * held to what the library writes: valid UTF-8, JSON without whitespace,
 * texts whose only escapes are \" and \\, whole numbers without sign or
 * leading zero, no key twice, every key of this version present with its
 * type and range. Anything else is refused with its position. These are
 * rules R1, R2, R4 and R5 of docs/report.md, which the test readers share. */

/* The largest values the library can write: 32-bit ids, and 64-bit byte
 * counts in whole MiB. */
static const unsigned long long MAX_ID = 0xFFFFFFFFull;
static const unsigned long long MAX_MIB = ~0ull >> 20;

struct adapter {
    unsigned long long index;
    char name[NAME_BYTES];
    char vendor[VENDOR_BYTES];
    unsigned long long vendor_id, device_id;
    unsigned long long dedicated_mb, shared_mb;
    char driver[DRIVER_BYTES];
    unsigned long long software;
};

struct report {
    struct adapter adapters[MAX_ADAPTERS];
    int count;
};

struct reader {
    const char *at;
    const char *start;
    const char *problem;
    char problem_text[PROBLEM_BYTES];
};

static int fail(struct reader *r, const char *problem)
{
    if (!r->problem)
        r->problem = problem;
    return 0;
}

static int expect(struct reader *r, char c, const char *problem)
{
    if (*r->at != c)
        return fail(r, problem);
    ++r->at;
    return 1;
}

/* Offset of the first byte that does not belong to a well-formed UTF-8
 * sequence (overlong forms, surrogates and code points past U+10FFFF are
 * not), or -1 when there is none. */
static long long utf8_problem(const char *text)
{
    const unsigned char *s = (const unsigned char *)text;
    for (size_t i = 0; s[i];) {
        unsigned char c = s[i];
        size_t more;
        unsigned char low = 0x80, high = 0xBF; /* range of the second byte */
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return (long long)i;
        for (size_t k = 1; k <= more; ++k) {
            unsigned char next = s[i + k];
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
                return (long long)(i + k);
        }
        i += more + 1;
    }
    return -1;
}

/* A quoted text whose only escapes are \" and \\ and which holds no control
 * byte. With `out`, the unescaped bytes must fit `size` with their NUL. */
static int read_text(struct reader *r, char *out, size_t size)
{
    size_t length = 0;
    if (!expect(r, '"', "a text"))
        return 0;
    for (;;) {
        unsigned char c = (unsigned char)*r->at;
        if (c == '"')
            break;
        if (c < 0x20)
            return fail(r, "a closed text without control bytes");
        if (c == '\\') {
            c = (unsigned char)r->at[1];
            if (c != '"' && c != '\\')
                return fail(r, "\\\" or \\\\");
            ++r->at;
        }
        if (out) {
            if (length + 1 >= size)
                return fail(r, "a shorter text");
            out[length] = (char)c;
        }
        ++length;
        ++r->at;
    }
    if (out)
        out[length] = '\0';
    ++r->at;
    return 1;
}

static int is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/* Plain decimal as the library writes it: no sign, no leading zero, no
 * fraction or exponent, at most `max`. */
static int read_number(struct reader *r, unsigned long long max, unsigned long long *out)
{
    const char *p = r->at;
    unsigned long long value = 0;
    if (!is_digit(*p))
        return fail(r, "a whole number without sign");
    if (*p == '0' && is_digit(p[1]))
        return fail(r, "a number without a leading zero");
    for (; is_digit(*p); ++p) {
        unsigned digit = (unsigned)(*p - '0');
        if (digit > max || value > (max - digit) / 10)
            return fail(r, "a number in range");
        value = value * 10 + digit;
    }
    r->at = p;
    if (*p == '.' || *p == 'e' || *p == 'E')
        return fail(r, "a whole number");
    *out = value;
    return 1;
}

/* Any JSON number, for the values of keys this tool does not know. */
static int skip_number(struct reader *r)
{
    const char *p = r->at;
    if (*p == '-')
        ++p;
    if (*p == '0')
        ++p;
    else if (is_digit(*p))
        while (is_digit(*p))
            ++p;
    else
        return fail(r, "a value");
    if (*p == '.') {
        if (!is_digit(*++p))
            return r->at = p, fail(r, "a digit after the decimal point");
        while (is_digit(*p))
            ++p;
    }
    if (*p == 'e' || *p == 'E') {
        if (*++p == '+' || *p == '-')
            ++p;
        if (!is_digit(*p))
            return r->at = p, fail(r, "a digit in the exponent");
        while (is_digit(*p))
            ++p;
    }
    r->at = p;
    return 1;
}

struct field;
static int read_object(struct reader *r, const struct field *fields, size_t count, void *record, int depth);
static int skip_value(struct reader *r, int depth);

/* The elements of an array this tool does not know, from its '[' on. */
static int skip_array(struct reader *r, int depth)
{
    ++r->at;
    if (*r->at == ']')
        return ++r->at, 1;
    for (;;) {
        if (!skip_value(r, depth + 1))
            return 0;
        if (*r->at == ',') {
            ++r->at;
            continue;
        }
        return expect(r, ']', "',' or ']'");
    }
}

/* Any JSON value, for the keys this tool does not know. */
static int skip_value(struct reader *r, int depth)
{
    static const char *const words[] = {"true", "false", "null"};
    if ((*r->at == '{' || *r->at == '[') && depth >= MAX_DEPTH)
        return fail(r, "a value nested less deeply");
    switch (*r->at) {
    case '"':
        return read_text(r, NULL, 0);
    case '{':
        return read_object(r, NULL, 0, NULL, depth + 1);
    case '[':
        return skip_array(r, depth);
    default:
        break;
    }
    for (size_t i = 0; i < sizeof words / sizeof words[0]; ++i) {
        size_t length = strlen(words[i]);
        if (!strncmp(r->at, words[i], length)) {
            r->at += length;
            return 1;
        }
    }
    return skip_number(r);
}

/* The driver version as the library writes it: empty, or four numbers of
 * 16 bits joined by dots. */
static int driver_version_ok(const char *text)
{
    if (!*text)
        return 1;
    for (int word = 0; word < DRIVER_WORDS; ++word) {
        unsigned long value = 0;
        const char *first = text;
        for (; is_digit(*text) && value <= DRIVER_WORD_MAX; ++text)
            value = value * 10 + (unsigned long)(*text - '0');
        if (text == first || value > DRIVER_WORD_MAX || (*first == '0' && text - first > 1))
            return 0;
        if (*text != (word + 1 < DRIVER_WORDS ? '.' : '\0'))
            return 0;
        if (*text)
            ++text;
    }
    return 1;
}

enum field_kind { FIELD_NUMBER, FIELD_TEXT, FIELD_ADAPTERS };

struct field {
    const char *key;
    enum field_kind kind;
    unsigned long long max; /* numbers */
    size_t offset;          /* into the record the object fills */
    size_t size;            /* texts, with their NUL */
};

#define NUMBER_FIELD(key, max, member) {key, FIELD_NUMBER, max, offsetof(struct adapter, member), 0}
#define TEXT_FIELD(key, member)                                                                      \
    {key, FIELD_TEXT, 0, offsetof(struct adapter, member), sizeof((struct adapter *)0)->member}

static const struct field report_fields[] = {
    {"adapters", FIELD_ADAPTERS, 0, 0, 0},
};

static const struct field adapter_fields[] = {
    NUMBER_FIELD("index", MAX_ADAPTERS - 1, index),
    TEXT_FIELD("name", name),
    TEXT_FIELD("vendor", vendor),
    NUMBER_FIELD("vendor_id", MAX_ID, vendor_id),
    NUMBER_FIELD("device_id", MAX_ID, device_id),
    NUMBER_FIELD("dedicated_vram_mb", MAX_MIB, dedicated_mb),
    NUMBER_FIELD("shared_memory_mb", MAX_MIB, shared_mb),
    TEXT_FIELD("driver_version", driver),
    NUMBER_FIELD("software", 1, software),
};

static int read_adapters(struct reader *r, struct report *report, int depth)
{
    if (!expect(r, '[', "an array of adapters"))
        return 0;
    if (*r->at == ']')
        return ++r->at, 1;
    for (;;) {
        if (report->count == MAX_ADAPTERS)
            return fail(r, "at most 16 adapters");
        struct adapter *a = &report->adapters[report->count];
        const char *object = r->at;
        if (*r->at != '{')
            return fail(r, "an adapter object");
        if (!read_object(r, adapter_fields, sizeof adapter_fields / sizeof adapter_fields[0], a, depth + 1))
            return 0;
        const char *end = r->at;
        r->at = object; /* what is wrong with a whole adapter is shown at its start */
        if (a->index != (unsigned long long)report->count)
            return fail(r, "indexes counting up from 0");
        size_t name_length = strlen(a->name);
        if (name_length > 0 && a->name[name_length - 1] == ' ')
            return fail(r, "a name without trailing spaces");
        if (!driver_version_ok(a->driver))
            return fail(r, "a driver version of four 16-bit numbers, or none");
        r->at = end;
        ++report->count;
        if (*r->at == ',') {
            ++r->at;
            continue;
        }
        return expect(r, ']', "',' or ']'");
    }
}

/* One object: known keys into `record` by their field, unknown ones
 * skipped whatever they hold, no key twice, every known key present. An
 * object this tool does not know has no fields. */
static int read_object(struct reader *r, const struct field *fields, size_t count, void *record, int depth)
{
    struct {
        const char *at;
        size_t length;
    } keys[MAX_KEYS];
    size_t key_count = 0;
    unsigned found = 0;

    if (!expect(r, '{', "'{'"))
        return 0;
    if (*r->at == '}')
        ++r->at;
    else
        for (;;) {
            const char *key = r->at + 1;
            if (!read_text(r, NULL, 0))
                return 0;
            size_t length = (size_t)(r->at - key) - 1;
            for (size_t k = 0; k < key_count; ++k)
                if (keys[k].length == length && !memcmp(keys[k].at, key, length)) {
                    r->at = key - 1;
                    return fail(r, "a key not given before in this object");
                }
            if (key_count == MAX_KEYS)
                return r->at = key - 1, fail(r, "at most 32 keys in an object");
            keys[key_count].at = key;
            keys[key_count++].length = length;
            if (!expect(r, ':', "':'"))
                return 0;

            size_t f = 0;
            while (f < count && (strlen(fields[f].key) != length || memcmp(fields[f].key, key, length)))
                ++f;
            int ok;
            if (f == count)
                ok = skip_value(r, depth);
            else if (fields[f].kind == FIELD_NUMBER)
                ok = read_number(r, fields[f].max, (unsigned long long *)(void *)((char *)record + fields[f].offset));
            else if (fields[f].kind == FIELD_TEXT)
                ok = read_text(r, (char *)record + fields[f].offset, fields[f].size);
            else
                ok = read_adapters(r, record, depth);
            if (!ok)
                return 0;
            found |= f < count ? 1u << f : 0;

            if (*r->at == ',') {
                ++r->at;
                continue;
            }
            if (!expect(r, '}', "',' or '}'"))
                return 0;
            break;
        }
    for (size_t f = 0; f < count; ++f)
        if (!(found & 1u << f)) {
            --r->at;
            snprintf(r->problem_text, sizeof r->problem_text, "the key \"%s\" before this '}'", fields[f].key);
            return fail(r, r->problem_text);
        }
    return 1;
}

static int read_report(struct reader *r, struct report *report)
{
    long long bad = utf8_problem(r->start);
    report->count = 0;
    if (bad >= 0) {
        r->at = r->start + bad;
        return fail(r, "valid UTF-8");
    }
    if (!read_object(r, report_fields, sizeof report_fields / sizeof report_fields[0], report, 0))
        return 0;
    if (*r->at != '\0')
        return fail(r, "the end of the report");
    return 1;
}

/* ---- Cells ------------------------------------------------------------- */

struct range {
    unsigned long first, last;
};

/* Marks that combine with the character before them and invisible format
 * characters: the combining blocks of Latin, Greek, Cyrillic and CJK text,
 * variation selectors and zero-width spaces and joiners. */
static const struct range zero_width[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

/* East Asian Wide and Fullwidth characters (Unicode 14), which a console
 * draws across two columns. */
static const struct range double_width[] = {
    {0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0}, {0x23F3, 0x23F3},
    {0x25FD, 0x25FE}, {0x2614, 0x2615}, {0x2648, 0x2653}, {0x267F, 0x267F}, {0x2693, 0x2693}, {0x26A1, 0x26A1},
    {0x26AA, 0x26AB}, {0x26BD, 0x26BE}, {0x26C4, 0x26C5}, {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA},
    {0x26F2, 0x26F3}, {0x26F5, 0x26F5}, {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B},
    {0x2728, 0x2728}, {0x274C, 0x274C}, {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0}, {0x27BF, 0x27BF}, {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55}, {0x2E80, 0x3029},
    {0x302E, 0x303E}, {0x3041, 0x3096}, {0x309B, 0x3247}, {0x3250, 0x4DBF}, {0x4E00, 0xA4C6}, {0xA960, 0xA97C},
    {0xAC00, 0xD7A3}, {0xF900, 0xFAD9}, {0xFE10, 0xFE19}, {0xFE30, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6},
    {0x16FE0, 0x16FE3}, {0x16FF0, 0x1B2FB}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567},
    {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAF6},
    {0x20000, 0x3FFFD},
};

static int in_ranges(unsigned long point, const struct range *ranges, size_t count)
{
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (point < ranges[middle].first)
            high = middle;
        else if (point > ranges[middle].last)
            low = middle + 1;
        else
            return 1;
    }
    return 0;
}

/* One code point of a text already checked to be valid UTF-8: its value in
 * *point, its length in bytes as the result. */
static size_t decode(const char *text, unsigned long *point)
{
    const unsigned char *s = (const unsigned char *)text;
    if (s[0] < 0x80) {
        *point = s[0];
        return 1;
    }
    size_t length = s[0] >= 0xF0 ? 4 : s[0] >= 0xE0 ? 3 : 2;
    unsigned long value = s[0] & (0x7Fu >> length);
    for (size_t k = 1; k < length; ++k)
        value = value << 6 | (s[k] & 0x3Fu);
    *point = value;
    return length;
}

static size_t columns_of(unsigned long point)
{
    if (in_ranges(point, zero_width, sizeof zero_width / sizeof zero_width[0]))
        return 0;
    if (in_ranges(point, double_width, sizeof double_width / sizeof double_width[0]))
        return 2;
    return 1;
}

/* The console columns a text takes. */
static size_t display_width(const char *text)
{
    size_t width = 0;
    unsigned long point;
    while (*text) {
        text += decode(text, &point);
        width += columns_of(point);
    }
    return width;
}

/* Copies a text of at most `max` columns; a wider one keeps what fits in
 * max - 1 columns, marks that combine with its last character included, and
 * ends in an ellipsis. Never splits a UTF-8 sequence. */
static void fit_text(char *out, size_t size, const char *text, size_t max)
{
    size_t keep = strlen(text);
    int cut = display_width(text) > max;
    if (cut) {
        size_t width = 0, length;
        unsigned long point;
        for (keep = 0; text[keep]; keep += length) {
            length = decode(text + keep, &point);
            width += columns_of(point);
            if (width > max - ELLIPSIS_COLUMNS)
                break;
        }
        while (keep > 0 && text[keep - 1] == ' ')
            --keep; /* "Name…" rather than "Name …" */
    }
    if (keep + sizeof ELLIPSIS > size) {
        keep = 0;
        cut = 1;
    }
    memcpy(out, text, keep);
    out[keep] = '\0';
    if (cut)
        memcpy(out + keep, ELLIPSIS, sizeof ELLIPSIS);
}

/* Binary units, one decimal from GiB on; the unit grows while the rounded
 * figure would reach 1024 of it. */
static void format_size(char *out, size_t size, unsigned long long mib)
{
    static const char *const units[] = {"GiB", "TiB", "PiB", "EiB"};
    const size_t unit_count = sizeof units / sizeof units[0];
    if (mib < 1024) {
        snprintf(out, size, "%llu MiB", mib);
        return;
    }
    size_t unit = 0;
    unsigned long long divisor = 1024;
    unsigned long long tenths = (mib * 10 + divisor / 2) / divisor;
    while (tenths >= 10240 && unit + 1 < unit_count) {
        ++unit;
        divisor *= 1024;
        tenths = (mib * 10 + divisor / 2) / divisor;
    }
    snprintf(out, size, "%llu.%llu %s", tenths / 10, tenths % 10, units[unit]);
}

/* ---- The table --------------------------------------------------------- */

enum column { COL_INDEX, COL_NAME, COL_VENDOR, COL_IDS, COL_DEDICATED, COL_SHARED, COL_DRIVER, COL_SOFTWARE,
              COLUMN_COUNT };

static const struct {
    const char *title;
    int right_aligned;
} columns[COLUMN_COUNT] = {
    {"#", 1},         {"Name", 0},   {"Vendor", 0}, {"IDs", 0},
    {"Dedicated", 1}, {"Shared", 1}, {"Driver", 0}, {"Software", 0},
};

static void format_cells(const struct adapter *a, int index, char cells[COLUMN_COUNT][CELL_BYTES])
{
    snprintf(cells[COL_INDEX], CELL_BYTES, "%d", index);
    fit_text(cells[COL_NAME], CELL_BYTES, a->name[0] ? a->name : "-", NAME_COLUMN_MAX);
    fit_text(cells[COL_VENDOR], CELL_BYTES, a->vendor, NAME_COLUMN_MAX);
    snprintf(cells[COL_IDS], CELL_BYTES, "%04llX:%04llX", a->vendor_id, a->device_id);
    format_size(cells[COL_DEDICATED], CELL_BYTES, a->dedicated_mb);
    format_size(cells[COL_SHARED], CELL_BYTES, a->shared_mb);
    snprintf(cells[COL_DRIVER], CELL_BYTES, "%s", a->driver[0] ? a->driver : "-");
    snprintf(cells[COL_SOFTWARE], CELL_BYTES, "%s", a->software ? "yes" : "no");
}

struct output {
    char text[OUTPUT_BYTES];
    size_t length;
};

static void append(struct output *out, const char *text, size_t repeat)
{
    size_t length = strlen(text);
    for (size_t i = 0; i < repeat && out->length + length < sizeof out->text; ++i) {
        memcpy(out->text + out->length, text, length);
        out->length += length;
    }
    out->text[out->length] = '\0';
}

/* One line: cells padded to the column widths, two spaces apart, nothing
 * trailing after the last cell. */
static void append_line(struct output *out, const char *const cells[COLUMN_COUNT], const size_t widths[COLUMN_COUNT])
{
    size_t pending = 0;
    for (int c = 0; c < COLUMN_COUNT; ++c) {
        size_t pad = widths[c] - display_width(cells[c]);
        if (columns[c].right_aligned)
            pending += pad;
        append(out, " ", pending);
        append(out, cells[c], 1);
        pending = (columns[c].right_aligned ? 0 : pad) + COLUMN_GAP;
    }
    append(out, "\n", 1);
}

static void print_table(const struct adapter *adapters, int count)
{
    static char cells[MAX_ADAPTERS][COLUMN_COUNT][CELL_BYTES];
    static struct output out;
    size_t widths[COLUMN_COUNT];
    const char *line[COLUMN_COUNT];

    for (int c = 0; c < COLUMN_COUNT; ++c)
        widths[c] = display_width(columns[c].title);
    for (int i = 0; i < count; ++i) {
        format_cells(&adapters[i], i, cells[i]);
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            size_t width = display_width(cells[i][c]);
            if (width > widths[c])
                widths[c] = width;
        }
    }
    out.length = 0;
    out.text[0] = '\0';
    for (int c = 0; c < COLUMN_COUNT; ++c)
        line[c] = columns[c].title;
    append_line(&out, line, widths);
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < COLUMN_COUNT; ++c)
            line[c] = cells[i][c];
        append_line(&out, line, widths);
    }
    write_text(STD_OUTPUT_HANDLE, out.text, out.length);
}

/* ---- Command line ------------------------------------------------------ */

enum mode { MODE_TABLE, MODE_JSON, MODE_VERSION, MODE_HELP };

static const char USAGE[] =
    "Usage: gpuinfo [--json | --version | -h | --help]\n"
    "\n"
    "Lists the graphics adapters that DXGI reports, using " LIBRARY_FILE "\n"
    "from the folder of gpuinfo.exe.\n"
    "\n"
    "  (no option)  a table: index, name, vendor, vendor:device ids in hex,\n"
    "               dedicated and shared memory, driver version, software adapter\n"
    "  --json       the library's JSON report, unchanged\n"
    "  --version    the versions of gpuinfo and of the library\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit codes:\n"
    "  0  success (also when no adapter is found)\n"
    "  1  the adapters could not be listed: DXGI failed (the library's reason is printed)\n"
    "  2  wrong command line\n"
    "  3  the library could not be loaded or lacks one of its calls\n"
    "     (--version still prints the version of gpuinfo)\n"
    "  4  the library's report could not be read (what and where is printed)\n";

static int parse_arguments(int argc, wchar_t **argv, enum mode *mode)
{
    static const struct {
        const wchar_t *option;
        enum mode mode;
    } options[] = {
        {L"--json", MODE_JSON}, {L"--version", MODE_VERSION}, {L"--help", MODE_HELP}, {L"-h", MODE_HELP},
    };
    char shown[ARGUMENT_BYTES];
    *mode = MODE_TABLE;
    if (argc > 2) {
        to_utf8(argv[2], shown, sizeof shown);
        print_err("gpuinfo: unexpected argument '%s': give at most one option\n"
                  "Try 'gpuinfo --help' for more information.\n", shown);
        return 0;
    }
    if (argc < 2)
        return 1;
    for (size_t i = 0; i < sizeof options / sizeof options[0]; ++i) {
        if (!wcscmp(argv[1], options[i].option)) {
            *mode = options[i].mode;
            return 1;
        }
    }
    to_utf8(argv[1], shown, sizeof shown);
    print_err("gpuinfo: %s '%s'\nTry 'gpuinfo --help' for more information.\n",
              argv[1][0] == L'-' ? "unknown option" : "unexpected argument", shown);
    return 0;
}

int wmain(int argc, wchar_t **argv);

int wmain(int argc, wchar_t **argv)
{
    static struct report report;
    struct library lib;
    enum mode mode;

    if (!parse_arguments(argc, argv, &mode))
        return EXIT_USAGE;
    if (mode == MODE_HELP) {
        print_out(USAGE);
        return EXIT_OK;
    }
    enum load_result loaded = load_library(&lib);
    if (mode == MODE_VERSION) {
        char line[MESSAGE_BYTES];
        snprintf(line, sizeof line, "gpuinfo %s (library %s)\n", GPUINFO_TOOL_VERSION,
                 loaded == LOAD_OK ? lib.version() : loaded == LOAD_MISSING ? "missing" : "unusable");
        print_out(line);
        return loaded == LOAD_OK ? EXIT_OK : EXIT_LIBRARY_UNUSABLE;
    }
    if (loaded != LOAD_OK)
        return EXIT_LIBRARY_UNUSABLE;

    const char *text = lib.get_json();
    if (!text) {
        print_err("gpuinfo: %s\n", lib.last_error());
        return EXIT_ENUMERATION_FAILED;
    }
    if (mode == MODE_JSON) {
        print_out(text);
        print_out("\n");
        return EXIT_OK;
    }

    struct reader reader = {text, text, NULL, ""};
    if (!read_report(&reader, &report)) {
        print_err("gpuinfo: the library's report is not in the expected form: "
                  "expected %s at byte %lld\n", reader.problem, (long long)(reader.at - reader.start));
        return EXIT_REPORT_UNREADABLE;
    }
    if (report.count == 0) {
        print_out("No graphics adapters were found.\n");
        return EXIT_OK;
    }
    print_table(report.adapters, report.count);
    return EXIT_OK;
}
