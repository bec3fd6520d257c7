/*
 * quillmar-dxgi-gpu-info: asks DXGI which graphics adapters the machine has
 * and answers through five plain C calls (include/gpuinfo.h).
 *
 * The order of this file follows the data: DXGI is walked into a table of
 * plain records on the caller's stack (the only block that talks to the
 * platform), and the records are then reduced to a count, a size or the JSON
 * report. The only lasting state is the two static texts g_err and g_json.
 */
#define GPUINFO_API
#include "gpuinfo.h"

#include <windows.h>
#include <dxgi.h>

#include <stdarg.h>
#include <stdint.h>
#include <string.h>

enum {
    MAX_ADAPTERS = 16,
    NAME_SIZE = 128,            /* adapter_info.name, UTF-8 with its NUL */
    DESCRIPTION_UNITS = 128,    /* DXGI_ADAPTER_DESC.Description, UTF-16 */
    DRIVER_VERSION_SIZE = 64,
    SOFTWARE_VENDOR_ID = 0x1414,
    ERROR_SIZE = 256,
    JSON_BUFFER_SIZE = 8192,
    JSON_STOP_LENGTH = 7935,    /* every object starts with >= 257 bytes of room */
    NAME_BUF_SIZE = 192,        /* a sanitised name: 191 bytes and its NUL */
    SYSTEM_DIR_SIZE = MAX_PATH,
};

static const char VERSION[] = "1.0.0";
static const char DXGI_DLL[] = "dxgi.dll";
static const char CREATE_FACTORY[] = "CreateDXGIFactory";
static const char DRIVER_VERSION_FORMAT[] = "%u.%u.%u.%u";

static const char ERR_NO_DXGI[] = "dxgi.dll not found";
static const char ERR_NO_ENTRY[] = "CreateDXGIFactory not found";
static const char ERR_NO_FACTORY[] = "CreateDXGIFactory failed";

/* The SDK's values, kept here so that nothing links against dxguid. */
static const GUID IID_IDXGIFactory_ = {
    0x7b7166ec, 0x21c7, 0x44ae, {0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69}};
static const GUID IID_IDXGIDevice_ = {
    0x54ec77fa, 0x1377, 0x44e6, {0x8c, 0x32, 0x88, 0xfd, 0x5f, 0x44, 0xc8, 0x4c}};

struct adapter_info {
    char name[NAME_SIZE];
    uint32_t vendor_id;
    uint32_t device_id;
    uint64_t dedicated_vram;
    uint64_t shared_memory;
    char driver_version[DRIVER_VERSION_SIZE];
    int32_t software;
};

/* Zero-filled at load; see gpuinfo.h for who rewrites them and when. */
static char g_err[ERROR_SIZE];
static char g_json[JSON_BUFFER_SIZE];

template <size_t N>
static void set_error(const char (&text)[N])
{
    static_assert(N <= ERROR_SIZE, "error text too long");
    memcpy(g_err, text, N);
}

/* ---- Bounded formatting ------------------------------------------------ */

/* snprintf's contract for the conversions this file uses (%s, %d, %u, %llu):
 * stores at most room - 1 bytes, always ends them with a NUL when room > 0,
 * and returns the length of the whole formatted text. The C runtime's own is
 * not used: msvcrt's does not terminate a cut text, and MinGW's C99 one drags
 * in floating-point conversion with its heap, locks and exit handlers. */
static int format_text(char *out, size_t room, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    size_t len = 0;
    char digits[20]; /* UINT64_MAX has 20 */
    for (const char *f = format; *f; ++f) {
        const char *piece = f;
        size_t piece_len = 1;
        if (*f != '%') {
            /* Literal text goes out in one piece, up to the next conversion. */
            while (f[piece_len] && f[piece_len] != '%')
                ++piece_len;
            f += piece_len - 1;
        } else {
            ++f;
            uint64_t value;
            bool negative = false;
            if (*f == 's') {
                piece = va_arg(args, const char *);
                piece_len = strlen(piece);
            } else {
                if (*f == 'd') {
                    int v = va_arg(args, int);
                    negative = v < 0;
                    value = negative ? 0 - (uint64_t)(int64_t)v : (uint64_t)v;
                } else if (*f == 'u') {
                    value = va_arg(args, unsigned);
                } else { /* "llu" */
                    f += 2;
                    value = va_arg(args, unsigned long long);
                }
                size_t at = sizeof digits;
                do {
                    digits[--at] = (char)('0' + value % 10);
                    value /= 10;
                } while (value);
                if (negative)
                    digits[--at] = '-';
                piece = digits + at;
                piece_len = sizeof digits - at;
            }
        }
        if (len < room) {
            size_t fits = room - 1 - len;
            memcpy(out + len, piece, piece_len < fits ? piece_len : fits);
        }
        len += piece_len;
    }
    va_end(args);
    if (room > 0)
        out[len < room ? len : room - 1] = '\0';
    return (int)len;
}

/* ---- Enumeration: the one block that talks to the platform ------------- */

typedef HRESULT(WINAPI *create_factory_fn)(REFIID, void **);

/* dxgi.dll by its full path in the system directory: a bare name would search
 * the host's own directory first (a planted dxgi.dll) and would match any
 * module of that base name the host has loaded already. */
static HMODULE load_dxgi(void)
{
    char path[SYSTEM_DIR_SIZE + sizeof DXGI_DLL];
    UINT len = GetSystemDirectoryA(path, SYSTEM_DIR_SIZE);
    if (len == 0 || len >= SYSTEM_DIR_SIZE)
        return NULL;
    if (path[len - 1] != '\\')
        path[len++] = '\\';
    memcpy(path + len, DXGI_DLL, sizeof DXGI_DLL);

    /* LOAD_LIBRARY_SEARCH_SYSTEM32 also keeps dxgi.dll's own imports in the
     * system directory; loaders older than AddDllDirectory reject the flag. */
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    DWORD flags = kernel32 && GetProcAddress(kernel32, "AddDllDirectory")
                      ? LOAD_LIBRARY_SEARCH_SYSTEM32
                      : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path, NULL, flags);
}

/* Converts a DXGI description into `name`: the longest run of whole
 * characters whose UTF-8 form fits in NAME_SIZE - 1 bytes, always ended by a
 * NUL. The prefix is measured first so the conversion is only ever asked for
 * what fits; a conversion that fails anyway leaves the name empty rather than
 * trusting what it wrote. At most DESCRIPTION_UNITS units are read, NUL or not. */
static void convert_name(const WCHAR *text, char *name)
{
    int units = 0, bytes = 0;
    while (units < DESCRIPTION_UNITS && text[units]) {
        unsigned c = text[units];
        int step_units = 1, step_bytes;
        if (c < 0x80)
            step_bytes = 1;
        else if (c < 0x800)
            step_bytes = 2;
        else if (c >= 0xD800 && c <= 0xDBFF && units + 1 < DESCRIPTION_UNITS &&
                 text[units + 1] >= 0xDC00 && text[units + 1] <= 0xDFFF) {
            step_units = 2;
            step_bytes = 4;
        } else
            step_bytes = 3; /* BMP, or a lone surrogate that becomes U+FFFD */
        if (bytes + step_bytes > NAME_SIZE - 1)
            break;
        units += step_units;
        bytes += step_bytes;
    }
    if (units == 0)
        return;
    int written = WideCharToMultiByte(CP_UTF8, 0, text, units, name, NAME_SIZE - 1, NULL, NULL);
    if (written <= 0 || written > NAME_SIZE - 1) {
        memset(name, 0, NAME_SIZE);
        return;
    }
    name[written] = '\0';
}

static void format_driver_version(char *out, uint64_t v)
{
    format_text(out, DRIVER_VERSION_SIZE, DRIVER_VERSION_FORMAT,
             (unsigned)(v >> 48 & 0xFFFF), (unsigned)(v >> 32 & 0xFFFF),
             (unsigned)(v >> 16 & 0xFFFF), (unsigned)(v & 0xFFFF));
}

/* Fills table[0..n-1] in DXGI order and returns n (0 to MAX_ADAPTERS), or -1
 * with g_err set when DXGI can't be reached. Adapters DXGI can't describe are
 * skipped and take no position. Every reference obtained is released here.
 * Without `texts`, name and driver_version stay empty (the DXGI calls are the
 * same): the counting calls never read them, and converting and formatting
 * them would be most of those calls' own cost. */
static int enum_adapters(adapter_info *table, bool texts)
{
    HMODULE dxgi = load_dxgi(); /* never freed: later calls reuse the module */
    if (!dxgi) {
        set_error(ERR_NO_DXGI);
        return -1;
    }
    create_factory_fn create_factory =
        reinterpret_cast<create_factory_fn>(reinterpret_cast<void *>(GetProcAddress(dxgi, CREATE_FACTORY)));
    if (!create_factory) {
        set_error(ERR_NO_ENTRY);
        return -1;
    }
    IDXGIFactory *factory = NULL;
    if (FAILED(create_factory(IID_IDXGIFactory_, reinterpret_cast<void **>(&factory))) || !factory) {
        set_error(ERR_NO_FACTORY);
        return -1;
    }

    DXGI_ADAPTER_DESC desc;
    int n = 0;
    for (UINT j = 0; n < MAX_ADAPTERS; ++j) {
        IDXGIAdapter *adapter = NULL;
        /* Only exactly S_OK hands over an adapter; a driver that claims
         * success without one ends the walk like any other answer. */
        if (factory->EnumAdapters(j, &adapter) != S_OK || !adapter)
            break;
        if (FAILED(adapter->GetDesc(&desc))) {
            adapter->Release();
            continue;
        }
        adapter_info *rec = &table[n];
        memset(rec, 0, sizeof *rec);
        if (texts)
            convert_name(desc.Description, rec->name);
        rec->vendor_id = desc.VendorId;
        rec->device_id = desc.DeviceId;
        rec->dedicated_vram = desc.DedicatedVideoMemory;
        rec->shared_memory = desc.SharedSystemMemory;
        rec->software = desc.VendorId == SOFTWARE_VENDOR_ID;

        LARGE_INTEGER version;
        if (SUCCEEDED(adapter->CheckInterfaceSupport(IID_IDXGIDevice_, &version)) && texts)
            format_driver_version(rec->driver_version, (uint64_t)version.QuadPart);
        adapter->Release();
        ++n;
    }
    factory->Release();
    return n;
}

/* ---- Report ------------------------------------------------------------ */

/* Copies `name` into name_buf as JSON string content: '"' and '\' escaped,
 * bytes 0x01-0x1F dropped, trailing spaces trimmed, at most NAME_BUF_SIZE - 1
 * bytes and never half an escape pair. A name cut by that bound loses a
 * multi-byte UTF-8 sequence it would otherwise split, so the text stays UTF-8. */
static void sanitize_name(const char *name, char *name_buf)
{
    int len = 0;
    int i = 0;
    for (; i < NAME_SIZE && name[i]; ++i) {
        unsigned char b = (unsigned char)name[i];
        if (len + 2 >= NAME_BUF_SIZE)
            break;
        if (b == '"' || b == '\\') {
            name_buf[len++] = '\\';
            name_buf[len++] = (char)b;
        } else if (b >= 0x20) {
            name_buf[len++] = (char)b;
        }
    }
    if (i < NAME_SIZE && ((unsigned char)name[i] & 0xC0) == 0x80) {
        /* Stopped at a continuation byte: take back the started sequence. */
        int back = 0;
        while (back < 3 && len > 0 && ((unsigned char)name_buf[len - 1] & 0xC0) == 0x80) {
            --len;
            ++back;
        }
        if (len > 0 && (unsigned char)name_buf[len - 1] >= 0xC0)
            --len;
    }
    while (len > 0 && name_buf[len - 1] == ' ')
        --len;
    name_buf[len] = '\0';
}

static const char *vendor_name(uint32_t vendor_id)
{
    static const struct {
        uint32_t id;
        const char *name;
    } vendors[] = {
        {0x1414, "Microsoft"}, {0x10DE, "NVIDIA"}, {0x8086, "Intel"},
        {0x1002, "AMD"},       {0x1022, "AMD"},    {0x15AD, "VMware"},
        {0x1AF4, "Red Hat"},   {0x1234, "QEMU"},
    };
    for (size_t i = 0; i < sizeof vendors / sizeof vendors[0]; ++i)
        if (vendors[i].id == vendor_id)
            return vendors[i].name;
    return "Unknown";
}

static const char JSON_OPEN[] = "{\"adapters\":[";
static const char JSON_CLOSE[] = "]}";
static const char JSON_OBJECT_FORMAT[] =
    "%s{\"index\":%d,\"name\":\"%s\",\"vendor\":\"%s\",\"vendor_id\":%u,\"device_id\":%u,"
    "\"dedicated_vram_mb\":%llu,\"shared_memory_mb\":%llu,\"driver_version\":\"%s\",\"software\":%d}";

/* Writes the report of table[0..n-1] into g_json. */
static void format_report(const adapter_info *table, int n)
{
    char name_buf[NAME_BUF_SIZE];
    memcpy(g_json, JSON_OPEN, sizeof JSON_OPEN);
    int len = (int)sizeof JSON_OPEN - 1;
    for (int i = 0; i < n; ++i) {
        const adapter_info *a = &table[i];
        sanitize_name(a->name, name_buf);
        int room = JSON_BUFFER_SIZE - len;
        int w = format_text(g_json + len, (size_t)room, JSON_OBJECT_FORMAT, i ? "," : "", i, name_buf,
                         vendor_name(a->vendor_id), (unsigned)a->vendor_id, (unsigned)a->device_id,
                         (unsigned long long)(a->dedicated_vram >> 20),
                         (unsigned long long)(a->shared_memory >> 20), a->driver_version, (int)a->software);
        /* Never reached with MAX_ADAPTERS records; should it ever be, an
         * object that did not fit whole with the closing text behind it is
         * taken back, so the report stays complete JSON. */
        if (w < 0 || w > room - (int)sizeof JSON_CLOSE) {
            g_json[len] = '\0';
            break;
        }
        len += w;
        if (len > JSON_STOP_LENGTH)
            break;
    }
    memcpy(g_json + len, JSON_CLOSE, sizeof JSON_CLOSE);
}

/* ---- Exported calls ---------------------------------------------------- */

extern "C" const char *gpuinfo_version(void)
{
    return VERSION;
}

extern "C" const char *gpuinfo_last_error(void)
{
    return g_err;
}

extern "C" const char *gpuinfo_get_json(void)
{
    g_err[0] = '\0';
    adapter_info table[MAX_ADAPTERS];
    int n = enum_adapters(table, true);
    if (n < 0)
        return NULL;
    format_report(table, n);
    return g_json;
}

extern "C" int gpuinfo_adapter_count(void)
{
    adapter_info table[MAX_ADAPTERS];
    int n = enum_adapters(table, false);
    if (n < 0)
        return -1;
    int count = 0;
    for (int i = 0; i < n; ++i)
        count += table[i].software == 0;
    return count;
}

extern "C" int gpuinfo_vram_mb(int index)
{
    adapter_info table[MAX_ADAPTERS];
    int n = enum_adapters(table, false);
    if (index < 0 || n <= index)
        return -1;
    uint64_t mb = table[index].dedicated_vram >> 20;
    /* Saturate: the low 32 bits of a huge size could read as -1 or as a
     * plausible wrong size. */
    return mb > INT32_MAX ? INT32_MAX : (int)mb;
}

/* The module entry does nothing of the library's own: the two texts are
 * zero-filled by the loader and nothing needs setting up or tearing down. */
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
