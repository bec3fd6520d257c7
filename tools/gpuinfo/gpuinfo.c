/*
 * gpuinfo.exe: lists the machine's graphics adapters as a table, or prints
 * the library's JSON report.
 *
 * The library is reached the way hosts reach it: loaded at run time from the
 * folder of this program, never through a link-time import, so a missing or
 * incomplete DLL is a message and an exit code rather than a loader dialog.
 */
#define __USE_MINGW_ANSI_STDIO 1
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#ifndef GPUINFO_TOOL_VERSION
#define GPUINFO_TOOL_VERSION "0.0.0"
#endif

#define LIBRARY_FILE "quillmar-dxgi-gpu-info.dll"

enum exit_code {
    EXIT_OK = 0,
    EXIT_ENUMERATION_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_LIBRARY_UNUSABLE = 3,
};

enum {
    MAX_ADAPTERS = 16,      /* the library never reports more */
    NAME_BYTES = 192,       /* a report name unescapes to at most 191 bytes */
    VENDOR_BYTES = 32,      /* the longest vendor text is "Microsoft" */
    DRIVER_BYTES = 64,      /* "65535.65535.65535.65535" and room to spare */
    NAME_COLUMN_MAX = 40,   /* code points; longer names end in an ellipsis */
    CELL_BYTES = 256,       /* one formatted cell, UTF-8 */
    OUTPUT_BYTES = 16384,   /* the whole table: 17 lines of at most ~400 bytes */
    MESSAGE_BYTES = 1024,
    PATH_BYTES = 1024,
    COLUMN_GAP = 2,
};

static const char ELLIPSIS[] = "\xE2\x80\xA6"; /* U+2026, one code point */

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

/* ---- The library ------------------------------------------------------- */

struct library {
    const char *(*version)(void);
    const char *(*last_error)(void);
    const char *(*get_json)(void);
    int (*adapter_count)(void);
    int (*vram_mb)(int);
};

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

static int load_library(struct library *lib)
{
    char path[PATH_BYTES];
    DWORD length = GetModuleFileNameA(NULL, path, (DWORD)sizeof path);
    if (length == 0 || length >= sizeof path) {
        print_err("gpuinfo: cannot tell which folder gpuinfo.exe is in\n");
        return 0;
    }
    char *slash = strrchr(path, '\\');
    size_t folder = slash ? (size_t)(slash - path) + 1 : 0;
    if (folder + sizeof LIBRARY_FILE > sizeof path) {
        print_err("gpuinfo: the path of gpuinfo.exe is too long\n");
        return 0;
    }
    memcpy(path + folder, LIBRARY_FILE, sizeof LIBRARY_FILE);

    HMODULE module = LoadLibraryA(path);
    if (!module) {
        print_err("gpuinfo: cannot load %s (error %lu)\n", path, (unsigned long)GetLastError());
        return 0;
    }
    /* All five are looked up, used or not: a DLL that lacks one is not the
     * library this tool was built for. */
    int missing = 0;
    lib->version = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_version", &missing);
    lib->last_error = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_last_error", &missing);
    lib->get_json = (const char *(*)(void))(void (*)(void))find_export(module, "gpuinfo_get_json", &missing);
    lib->adapter_count = (int (*)(void))(void (*)(void))find_export(module, "gpuinfo_adapter_count", &missing);
    lib->vram_mb = (int (*)(int))(void (*)(void))find_export(module, "gpuinfo_vram_mb", &missing);
    return !missing;
}

/* ---- Reading the report ------------------------------------------------ */

/* The largest values the library can write: 32-bit ids, and 64-bit byte
 * counts in whole MiB. */
static const unsigned long long MAX_ID = 0xFFFFFFFFull;
static const unsigned long long MAX_MIB = ~0ull >> 20;

struct adapter {
    char name[NAME_BYTES];
    char vendor[VENDOR_BYTES];
    unsigned long long vendor_id, device_id;
    unsigned long long dedicated_mb, shared_mb;
    char driver[DRIVER_BYTES];
    unsigned long long software;
};

struct reader {
    const char *at;
    const char *start;
    const char *problem;
};

static int fail(struct reader *r, const char *problem)
{
    if (!r->problem)
        r->problem = problem;
    return 0;
}

static int expect(struct reader *r, const char *literal)
{
    size_t length = strlen(literal);
    if (strncmp(r->at, literal, length) != 0)
        return fail(r, literal);
    r->at += length;
    return 1;
}

/* Plain decimal as the library writes it: no sign, no leading zero, 64 bits. */
static int read_number(struct reader *r, unsigned long long max, unsigned long long *out)
{
    const char *p = r->at;
    unsigned long long value = 0;
    if (*p < '0' || *p > '9')
        return fail(r, "a number");
    if (*p == '0' && p[1] >= '0' && p[1] <= '9')
        return fail(r, "a number without a leading zero");
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = (unsigned)(*p - '0');
        if (digit > max || value > (max - digit) / 10)
            return fail(r, "a number in range");
        value = value * 10 + digit;
    }
    r->at = p;
    *out = value;
    return 1;
}

/* A quoted text whose only escapes are \" and \\ and which holds no control
 * byte; the unescaped bytes must fit `size` with their NUL. */
static int read_text(struct reader *r, char *out, size_t size)
{
    size_t length = 0;
    if (!expect(r, "\""))
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
        if (length + 1 >= size)
            return fail(r, "a shorter text");
        out[length++] = (char)c;
        ++r->at;
    }
    out[length] = '\0';
    ++r->at;
    return 1;
}

static int read_adapter(struct reader *r, unsigned long long position, struct adapter *a)
{
    unsigned long long index;
    if (!(expect(r, "{\"index\":") && read_number(r, (unsigned long long)MAX_ADAPTERS - 1, &index)))
        return 0;
    if (index != position)
        return fail(r, "indexes counting up from 0");
    return expect(r, ",\"name\":") && read_text(r, a->name, sizeof a->name) &&
           expect(r, ",\"vendor\":") && read_text(r, a->vendor, sizeof a->vendor) &&
           expect(r, ",\"vendor_id\":") && read_number(r, MAX_ID, &a->vendor_id) &&
           expect(r, ",\"device_id\":") && read_number(r, MAX_ID, &a->device_id) &&
           expect(r, ",\"dedicated_vram_mb\":") && read_number(r, MAX_MIB, &a->dedicated_mb) &&
           expect(r, ",\"shared_memory_mb\":") && read_number(r, MAX_MIB, &a->shared_mb) &&
           expect(r, ",\"driver_version\":") && read_text(r, a->driver, sizeof a->driver) &&
           expect(r, ",\"software\":") && read_number(r, 1, &a->software) && expect(r, "}");
}

/* Reads exactly the library's one-line format, keys in its fixed order;
 * anything else is refused with the position and what was expected. */
static int read_report(struct reader *r, struct adapter *adapters, int *count)
{
    *count = 0;
    if (!expect(r, "{\"adapters\":["))
        return 0;
    if (*r->at != ']') {
        for (;;) {
            if (*count == MAX_ADAPTERS)
                return fail(r, "at most 16 adapters");
            if (!read_adapter(r, (unsigned long long)*count, &adapters[*count]))
                return 0;
            ++*count;
            if (*r->at != ',')
                break;
            ++r->at;
        }
    }
    if (!expect(r, "]}"))
        return 0;
    if (*r->at != '\0')
        return fail(r, "the end of the report");
    return 1;
}

/* ---- Cells ------------------------------------------------------------- */

/* Columns are measured in code points: every byte that does not continue a
 * UTF-8 sequence starts one. */
static size_t code_points(const char *text)
{
    size_t count = 0;
    for (; *text; ++text)
        count += ((unsigned char)*text & 0xC0) != 0x80;
    return count;
}

/* Copies at most `max` code points; a longer text keeps max - 1 of them and
 * ends in an ellipsis. Never splits a UTF-8 sequence. */
static void fit_text(char *out, size_t size, const char *text, size_t max)
{
    size_t keep = strlen(text), points = 0;
    int cut = code_points(text) > max;
    if (cut) {
        for (keep = 0; text[keep]; ++keep)
            if (((unsigned char)text[keep] & 0xC0) != 0x80 && ++points > max - 1)
                break;
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
        size_t pad = widths[c] - code_points(cells[c]);
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
        widths[c] = code_points(columns[c].title);
    for (int i = 0; i < count; ++i) {
        format_cells(&adapters[i], i, cells[i]);
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            size_t width = code_points(cells[i][c]);
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
    "Usage: gpuinfo [--json | --version | --help]\n"
    "\n"
    "Lists the graphics adapters that DXGI reports, using " LIBRARY_FILE "\n"
    "from the folder of gpuinfo.exe.\n"
    "\n"
    "  (no option)  a table: index, name, vendor, vendor:device ids in hex,\n"
    "               dedicated and shared memory, driver version, software adapter\n"
    "  --json       the library's JSON report, unchanged\n"
    "  --version    the versions of gpuinfo and of the library\n"
    "  --help       this text\n"
    "\n"
    "Exit codes:\n"
    "  0  success (also when no adapter is found)\n"
    "  1  the adapters could not be listed (the library's reason is printed)\n"
    "  2  wrong command line\n"
    "  3  the library could not be loaded or lacks one of its calls\n";

static int parse_arguments(int argc, char **argv, enum mode *mode)
{
    static const struct {
        const char *option;
        enum mode mode;
    } options[] = {
        {"--json", MODE_JSON}, {"--version", MODE_VERSION}, {"--help", MODE_HELP}, {"-h", MODE_HELP},
    };
    *mode = MODE_TABLE;
    if (argc > 2) {
        print_err("gpuinfo: unexpected argument '%s': give at most one option\n"
                  "Try 'gpuinfo --help' for more information.\n", argv[2]);
        return 0;
    }
    if (argc < 2)
        return 1;
    for (size_t i = 0; i < sizeof options / sizeof options[0]; ++i) {
        if (!strcmp(argv[1], options[i].option)) {
            *mode = options[i].mode;
            return 1;
        }
    }
    print_err("gpuinfo: %s '%s'\nTry 'gpuinfo --help' for more information.\n",
              argv[1][0] == '-' ? "unknown option" : "unexpected argument", argv[1]);
    return 0;
}

int main(int argc, char **argv)
{
    static struct adapter adapters[MAX_ADAPTERS];
    struct library lib;
    enum mode mode;

    if (!parse_arguments(argc, argv, &mode))
        return EXIT_USAGE;
    if (mode == MODE_HELP) {
        print_out(USAGE);
        return EXIT_OK;
    }
    if (!load_library(&lib))
        return EXIT_LIBRARY_UNUSABLE;
    if (mode == MODE_VERSION) {
        char line[MESSAGE_BYTES];
        snprintf(line, sizeof line, "gpuinfo %s (library %s)\n", GPUINFO_TOOL_VERSION, lib.version());
        print_out(line);
        return EXIT_OK;
    }

    const char *report = lib.get_json();
    if (!report) {
        print_err("gpuinfo: %s\n", lib.last_error());
        return EXIT_ENUMERATION_FAILED;
    }
    if (mode == MODE_JSON) {
        print_out(report);
        print_out("\n");
        return EXIT_OK;
    }

    struct reader reader = {report, report, NULL};
    int count;
    if (!read_report(&reader, adapters, &count)) {
        print_err("gpuinfo: the library's report is not in the expected form: "
                  "expected %s at byte %lld\n", reader.problem, (long long)(reader.at - reader.start));
        return EXIT_ENUMERATION_FAILED;
    }
    if (count == 0) {
        print_out("No graphics adapters were found.\n");
        return EXIT_OK;
    }
    print_table(adapters, count);
    return EXIT_OK;
}
