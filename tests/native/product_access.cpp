/* The one translation unit that compiles the library source itself (see
 * product_access.h for why). */
#include "../../src/gpuinfo.cpp"

#include "product_access.h"

#include <memory>

namespace product {

/* The enumerators are of different enum types, hence the int casts. */
static_assert((int)NAME_SIZE == (int)::NAME_SIZE && (int)NAME_BUF_SIZE == (int)::NAME_BUF_SIZE,
              "sizes follow the library");
static_assert((int)DRIVER_VERSION_SIZE == (int)::DRIVER_VERSION_SIZE && (int)MAX_ADAPTERS == (int)::MAX_ADAPTERS,
              "sizes follow the library");
static_assert((size_t)JSON_BUFFER_SIZE == sizeof g_json && (int)DESCRIPTION_UNITS == (int)::DESCRIPTION_UNITS,
              "sizes follow the library");

int (*const format_text)(char *, size_t, const char *, ...) = ::format_text;

void sanitize_name(const char *name, char *name_buf)
{
    ::sanitize_name(name, name_buf);
}

const char *vendor_name(uint32_t vendor_id)
{
    return ::vendor_name(vendor_id);
}

void format_driver_version(char *out, uint64_t v)
{
    ::format_driver_version(out, v);
}

void convert_name(const char16_t *text, char *name)
{
    ::convert_name(text, name);
}

static void to_library(const record &r, adapter_info *a)
{
    memcpy(a->name, r.name, sizeof a->name);
    a->vendor_id = r.vendor_id;
    a->device_id = r.device_id;
    a->dedicated_vram = r.dedicated_vram;
    a->shared_memory = r.shared_memory;
    memcpy(a->driver_version, r.driver_version, sizeof a->driver_version);
    a->software = r.software;
}

static void from_library(const adapter_info &a, record *r)
{
    memcpy(r->name, a.name, sizeof r->name);
    r->vendor_id = a.vendor_id;
    r->device_id = a.device_id;
    r->dedicated_vram = a.dedicated_vram;
    r->shared_memory = a.shared_memory;
    memcpy(r->driver_version, a.driver_version, sizeof r->driver_version);
    r->software = a.software;
}

int enum_adapters(std::vector<record> *out, bool texts)
{
    std::unique_ptr<adapter_info[]> table(new adapter_info[::MAX_ADAPTERS]);
    /* Garbage first, so a record the library forgets to clear shows. */
    memset(table.get(), 0xA5, sizeof(adapter_info) * ::MAX_ADAPTERS);
    int n = ::enum_adapters(table.get(), texts);
    out->clear();
    for (int i = 0; i < n && i < ::MAX_ADAPTERS; ++i) {
        record r;
        from_library(table[i], &r);
        out->push_back(r);
    }
    return n;
}

const char *format_report(const record *table, int n)
{
    std::unique_ptr<adapter_info[]> copy(new adapter_info[n > 0 ? n : 0]);
    for (int i = 0; i < n; ++i)
        to_library(table[i], &copy[i]);
    ::format_report(copy.get(), n);
    return g_json;
}

const char *json_buffer()
{
    return g_json;
}

const char *error_text()
{
    return g_err;
}

const char *object_format()
{
    return JSON_OBJECT_FORMAT;
}

const char *driver_version_format()
{
    return DRIVER_VERSION_FORMAT;
}

} // namespace product
