/* The table: see table.h. Portable C, no Windows headers. */
#define __USE_MINGW_ANSI_STDIO 1
#include "table.h"

#include <stdio.h>
#include <string.h>

enum {
    CELL_BYTES = 256, /* one cell, UTF-8: a name is at most 191 bytes */
    COLUMN_GAP = 2,
};

enum column { COL_INDEX, COL_VENDOR, COL_IDS, COL_DEDICATED, COL_SHARED, COL_DRIVER, COL_SOFTWARE, COL_NAME,
              COLUMN_COUNT };

static const struct {
    const char *title;
    int right_aligned;
} columns[COLUMN_COUNT] = {
    {"#", 1},      {"Vendor", 0}, {"IDs", 0},      {"Dedicated", 1},
    {"Shared", 1}, {"Driver", 0}, {"Software", 0}, {"Name", 0},
};

/* Columns a cell takes: one per code point. Every cell but the name, which
 * comes last and needs no padding, is ASCII in the library's reports. */
static size_t width_of(const char *text)
{
    size_t width = 0;
    for (; *text; ++text)
        width += ((unsigned char)*text & 0xC0) != 0x80;
    return width;
}

/* Binary units, one decimal from GiB on; the unit grows while the rounded
 * figure would reach 1024 of it. */
static void format_size(char *out, size_t size, uint64_t mib)
{
    static const char *const units[] = {"GiB", "TiB", "PiB", "EiB"};
    const size_t unit_count = sizeof units / sizeof units[0];
    if (mib < 1024) {
        snprintf(out, size, "%llu MiB", (unsigned long long)mib);
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

static void format_cells(const gpuinfo_adapter *a, char cells[COLUMN_COUNT][CELL_BYTES])
{
    snprintf(cells[COL_INDEX], CELL_BYTES, "%d", a->index);
    snprintf(cells[COL_VENDOR], CELL_BYTES, "%s", a->vendor[0] ? a->vendor : "-");
    snprintf(cells[COL_IDS], CELL_BYTES, "%04X:%04X", (unsigned)a->vendor_id, (unsigned)a->device_id);
    format_size(cells[COL_DEDICATED], CELL_BYTES, a->dedicated_vram_mb);
    format_size(cells[COL_SHARED], CELL_BYTES, a->shared_memory_mb);
    snprintf(cells[COL_DRIVER], CELL_BYTES, "%s", a->driver_version[0] ? a->driver_version : "-");
    snprintf(cells[COL_SOFTWARE], CELL_BYTES, "%s", a->software ? "yes" : "no");
    snprintf(cells[COL_NAME], CELL_BYTES, "%s", a->name[0] ? a->name : "-");
}

struct output {
    char *text;
    size_t size, length;
};

static void append(struct output *out, const char *text, size_t repeat)
{
    size_t length = strlen(text);
    for (size_t i = 0; i < repeat && out->length + length < out->size; ++i) {
        memcpy(out->text + out->length, text, length);
        out->length += length;
    }
    out->text[out->length] = '\0';
}

/* One line: cells padded to the column widths, two spaces apart; padding
 * goes before the next cell, so nothing trails the last one. */
static void append_line(struct output *out, const char *const cells[COLUMN_COUNT], const size_t widths[COLUMN_COUNT])
{
    size_t pending = 0;
    for (int c = 0; c < COLUMN_COUNT; ++c) {
        size_t width = width_of(cells[c]);
        size_t pad = widths[c] > width ? widths[c] - width : 0;
        if (columns[c].right_aligned)
            pending += pad;
        append(out, " ", pending);
        append(out, cells[c], 1);
        pending = (columns[c].right_aligned ? 0 : pad) + COLUMN_GAP;
    }
    append(out, "\n", 1);
}

size_t table_format(const gpuinfo_adapter *adapters, int count, char *text, size_t size)
{
    static char cells[TABLE_MAX_ADAPTERS][COLUMN_COUNT][CELL_BYTES];
    struct output out = {text, size, 0};
    size_t widths[COLUMN_COUNT];
    const char *line[COLUMN_COUNT];

    if (count > TABLE_MAX_ADAPTERS)
        count = TABLE_MAX_ADAPTERS;
    for (int c = 0; c < COLUMN_COUNT; ++c)
        widths[c] = width_of(columns[c].title);
    for (int i = 0; i < count; ++i) {
        format_cells(&adapters[i], cells[i]);
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            size_t width = width_of(cells[i][c]);
            if (width > widths[c])
                widths[c] = width;
        }
    }
    text[0] = '\0';
    for (int c = 0; c < COLUMN_COUNT; ++c)
        line[c] = columns[c].title;
    append_line(&out, line, widths);
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < COLUMN_COUNT; ++c)
            line[c] = cells[i][c];
        append_line(&out, line, widths);
    }
    return out.length;
}
