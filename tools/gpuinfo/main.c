/*
 * gpuinfo.exe: lists the machine's graphics adapters as a table, or prints
 * the library's JSON report.
 *
 * The parts: the command line and exit codes (here), the library loaded at
 * run time (library.c), console output (console.c), the table (table.c),
 * and the report read by the library's public reader (gpuinfo_report.h).
 */
#define __USE_MINGW_ANSI_STDIO 1
#include "console.h"
#include "gpuinfo_report.h"
#include "library.h"
#include "table.h"

#include <stdio.h>
#include <wchar.h>

#ifndef GPUINFO_TOOL_VERSION
#define GPUINFO_TOOL_VERSION "0.0.0"
#endif

enum exit_code {
    EXIT_OK = 0,
    EXIT_ENUMERATION_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_LIBRARY_UNUSABLE = 3,
    EXIT_REPORT_UNREADABLE = 4,
};

enum {
    ARGUMENT_BYTES = 256, /* an argument echoed in a complaint, UTF-8 */
    LINE_BYTES = 256,
    TABLE_BYTES = 8192,   /* 17 lines of at most ~300 bytes */
};

enum mode { MODE_TABLE, MODE_JSON, MODE_VERSION, MODE_HELP };

static const char USAGE[] =
    "Usage: gpuinfo [--json | --version | -h | --help]\n"
    "\n"
    "Lists the graphics adapters that DXGI reports, using " LIBRARY_FILE "\n"
    "from the folder of gpuinfo.exe.\n"
    "\n"
    "  (no option)  a table: index, vendor, vendor:device ids in hex, dedicated\n"
    "               and shared memory, driver version, software adapter, name\n"
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
    "  4  the library's report could not be read (the byte where is printed)\n";

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
        console_utf8(argv[2], shown, sizeof shown);
        console_error("gpuinfo: unexpected argument '%s': give at most one option\n"
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
    console_utf8(argv[1], shown, sizeof shown);
    console_error("gpuinfo: %s '%s'\nTry 'gpuinfo --help' for more information.\n",
                  argv[1][0] == L'-' ? "unknown option" : "unexpected argument", shown);
    return 0;
}

/* The report as a table; a report the reader refuses is exit code 4. */
static int show_table(const char *report)
{
    static gpuinfo_adapter adapters[TABLE_MAX_ADAPTERS];
    static char table[TABLE_BYTES];
    size_t at = 0;
    int count = gpuinfo_read_report(report, adapters, TABLE_MAX_ADAPTERS, &at);
    if (count < 0) {
        console_error("gpuinfo: the library's report is not in the expected form at byte %llu "
                      "(gpuinfo --json shows it)\n", (unsigned long long)at);
        return EXIT_REPORT_UNREADABLE;
    }
    if (count == 0) {
        console_print("No graphics adapters were found.\n");
        return EXIT_OK;
    }
    console_write(CONSOLE_OUT, table, table_format(adapters, count, table, sizeof table));
    if (count > TABLE_MAX_ADAPTERS) {
        char line[LINE_BYTES];
        snprintf(line, sizeof line, "and %d more (gpuinfo --json lists every adapter)\n", count - TABLE_MAX_ADAPTERS);
        console_print(line);
    }
    return EXIT_OK;
}

int wmain(int argc, wchar_t **argv);

int wmain(int argc, wchar_t **argv)
{
    struct library lib;
    enum mode mode;

    if (!parse_arguments(argc, argv, &mode))
        return EXIT_USAGE;
    if (mode == MODE_HELP) {
        console_print(USAGE);
        return EXIT_OK;
    }
    enum load_result loaded = library_load(&lib);
    if (mode == MODE_VERSION) {
        char line[LINE_BYTES];
        snprintf(line, sizeof line, "gpuinfo %s (library %s)\n", GPUINFO_TOOL_VERSION,
                 loaded == LOAD_OK ? lib.version() : loaded == LOAD_MISSING ? "missing" : "unusable");
        console_print(line);
        return loaded == LOAD_OK ? EXIT_OK : EXIT_LIBRARY_UNUSABLE;
    }
    if (loaded != LOAD_OK)
        return EXIT_LIBRARY_UNUSABLE;

    const char *report = lib.get_json();
    if (!report) {
        console_error("gpuinfo: %s\n", lib.last_error());
        return EXIT_ENUMERATION_FAILED;
    }
    if (mode == MODE_JSON) {
        console_print(report);
        console_print("\n");
        return EXIT_OK;
    }
    return show_table(report);
}
