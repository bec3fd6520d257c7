/* The library's internal functions, reachable from the native tests. They are
 * static in gpuinfo.cpp, so product_access.cpp compiles that file into itself
 * and hands them out here; records cross this boundary as product::record,
 * copied field by field, so no test depends on the library's struct layout. */
#ifndef QUILLMAR_NATIVE_PRODUCT_ACCESS_H
#define QUILLMAR_NATIVE_PRODUCT_ACCESS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace product {

enum {
    NAME_SIZE = 128,
    NAME_BUF_SIZE = 192,
    DRIVER_VERSION_SIZE = 64,
    MAX_ADAPTERS = 16,
    JSON_BUFFER_SIZE = 8192,
    DESCRIPTION_UNITS = 128,
};

struct record {
    char name[NAME_SIZE];
    uint32_t vendor_id;
    uint32_t device_id;
    uint64_t dedicated_vram;
    uint64_t shared_memory;
    char driver_version[DRIVER_VERSION_SIZE];
    int32_t software;
};

/* Called with the same arguments as snprintf; the formats are those the
 * library uses. */
extern int (*const format_text)(char *out, size_t room, const char *format, ...);

void sanitize_name(const char *name, char *name_buf);
const char *vendor_name(uint32_t vendor_id);
void format_driver_version(char *out, uint64_t v);
void convert_name(const char16_t *text, char *name);

/* Runs the library's enumeration into a table of exactly MAX_ADAPTERS records
 * on the heap (so a write past it is caught) and returns its result with the
 * records it filled. Without `texts`, as the counting calls run it. */
int enum_adapters(std::vector<record> *out, bool texts = true);

/* Formats table[0..n-1] (copied into an exactly sized heap table) into the
 * library's report buffer and returns that buffer. */
const char *format_report(const record *table, int n);

const char *json_buffer();
const char *error_text();
const char *object_format();        /* the library's format of one report object */
const char *driver_version_format();

} // namespace product

#endif
