/*
 * Private to quillmar-dxgi-gpu-info: the sizes, the adapter record and the
 * steps of gpuinfo.cpp between DXGI and the five calls.
 *
 * The DLL is that one source file, and every step declared here stays static
 * in it. The native tests and benchmarks build the same file with
 * GPUINFO_INTERNAL defined empty, so they call these very steps on these very
 * records instead of restating them.
 */
#ifndef GPUINFO_INTERNAL_H
#define GPUINFO_INTERNAL_H

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#ifndef GPUINFO_INTERNAL
#define GPUINFO_INTERNAL static
#endif

enum {
    MAX_ADAPTERS = 16,
    NAME_SIZE = 128,            /* adapter_info.name, UTF-8 with its NUL */
    DESCRIPTION_UNITS = 128,    /* DXGI_ADAPTER_DESC.Description, UTF-16 */
    DRIVER_VERSION_SIZE = 64,
    SOFTWARE_VENDOR_ID = 0x1414,
    ERROR_SIZE = 256,
    JSON_BUFFER_SIZE = 8192,
    NAME_BUF_SIZE = 192,        /* a sanitised name: 191 bytes and its NUL */
};

/* The SDK's values, kept here so that nothing links against dxguid. */
static const GUID IID_IDXGIFactory_ = {
    0x7b7166ec, 0x21c7, 0x44ae, {0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69}};
static const GUID IID_IDXGIDevice_ = {
    0x54ec77fa, 0x1377, 0x44e6, {0x8c, 0x32, 0x88, 0xfd, 0x5f, 0x44, 0xc8, 0x4c}};

/* One adapter as DXGI described it. Texts are always NUL-terminated inside
 * their arrays; name and driver_version stay empty for the counting calls. */
struct adapter_info {
    char name[NAME_SIZE];
    uint32_t vendor_id;
    uint32_t device_id;
    uint64_t dedicated_vram;
    uint64_t shared_memory;
    char driver_version[DRIVER_VERSION_SIZE];
    int32_t software;
};

/* A vendor's text in the report, with its length. */
struct vendor {
    uint32_t id;
    const char *name;
    size_t length;
};

/* Fills table[0..n-1] in DXGI order and returns n (0 to MAX_ADAPTERS), or -1
 * with the error text set. Without `texts`, names and versions stay empty. */
GPUINFO_INTERNAL int enum_adapters(adapter_info *table, bool texts);
/* UTF-16 description (at most DESCRIPTION_UNITS units) to a UTF-8 name. */
GPUINFO_INTERNAL void convert_name(const WCHAR *text, char *name);
/* "a.b.c.d" from the four 16-bit words, most significant first. */
GPUINFO_INTERNAL void format_driver_version(char *out, uint64_t v);
/* JSON string content of `name` into name_buf (NAME_BUF_SIZE bytes, ended
 * by a NUL); returns its length. */
GPUINFO_INTERNAL size_t sanitize_name(const char *name, char *name_buf);
/* The vendor's entry; "Unknown" for an id not in the table. */
GPUINFO_INTERNAL const vendor *find_vendor(uint32_t vendor_id);
/* Writes the report of table[0..n-1] into the library's report buffer and
 * returns that buffer. */
GPUINFO_INTERNAL const char *format_report(const adapter_info *table, int n);

#endif
