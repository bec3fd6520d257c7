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

#include "gpuinfo_internal.h"

#include <dxgi.h>

enum { SYSTEM_DIR_SIZE = MAX_PATH };

static const char VERSION[] = "1.0.0";
static const char DXGI_DLL[] = "dxgi.dll";
static const char CREATE_FACTORY[] = "CreateDXGIFactory";

static const char ERR_NO_DXGI[] = "dxgi.dll not found";
static const char ERR_NO_ENTRY[] = "CreateDXGIFactory not found";
static const char ERR_NO_FACTORY[] = "CreateDXGIFactory failed";

/* Zero-filled at load; see gpuinfo.h for who rewrites them and when. */
static char g_err[ERROR_SIZE];
static char g_json[JSON_BUFFER_SIZE];

/* The DLL links no C runtime, so it copies, clears and measures with these.
 * The build keeps the compilers from turning the loops back into memcpy,
 * memset or strlen calls (src/CMakeLists.txt). */
static void copy_bytes(char *out, const char *in, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = in[i];
}

static void zero_bytes(void *out, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        static_cast<char *>(out)[i] = 0;
}

static size_t text_length(const char *text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

template <size_t N>
static void set_error(const char (&text)[N])
{
    static_assert(N <= ERROR_SIZE, "error text too long");
    copy_bytes(g_err, text, N);
}

/* ---- Decimal text ------------------------------------------------------ */

/* The C runtime's formatting is not used: msvcrt's snprintf does not
 * terminate a cut text, and MinGW's C99 one drags in floating-point
 * conversion with its heap, locks and exit handlers. Every text here is
 * written by these typed appenders instead, so there is no format string to
 * get wrong. Each writes at `out`, which the caller has made room at, and
 * returns the end of its text; none ends it with a NUL. */

enum { UINT64_DIGITS = 20 }; /* UINT64_MAX has 20 */

static const char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

static char *append(char *out, const char *text, size_t len)
{
    copy_bytes(out, text, len);
    return out + len;
}

template <size_t N>
static char *append(char *out, const char (&text)[N])
{
    return append(out, text, N - 1);
}

/* Writes the two digits of `pair` (0 to 99) just before `at`. */
static char *put_pair(char *at, unsigned pair)
{
    at[-2] = DIGIT_PAIRS[2 * pair];
    at[-1] = DIGIT_PAIRS[2 * pair + 1];
    return at - 2;
}

/* Writes the four digits of `quad` (0 to 9999) just before `at`. */
static char *put_quad(char *at, unsigned quad)
{
    return put_pair(put_pair(at, quad % 100), quad / 100);
}

/* Out of line: clang otherwise writes a copy at each of the ten calls and
 * the DLL grows by half for no measurable gain. */
#ifdef _MSC_VER
#define NOINLINE __declspec(noinline)
#else
#define NOINLINE __attribute__((noinline))
#endif

/* UINT64_DIGITS bytes at most. Four digits a division, in 32-bit
 * arithmetic once the value fits it: every number of the report but the
 * sizes does from the start. */
NOINLINE static char *append_decimal(char *out, uint64_t v)
{
    char digits[UINT64_DIGITS];
    char *end = digits + UINT64_DIGITS;
    char *at = end;
    for (; v > UINT32_MAX; v /= 10000)
        at = put_quad(at, (unsigned)(v % 10000));
    uint32_t w = (uint32_t)v;
    for (; w >= 10000; w /= 10000)
        at = put_quad(at, w % 10000);
    if (w >= 100) {
        at = put_pair(at, w % 100);
        w /= 100;
    }
    if (w >= 10)
        at = put_pair(at, w);
    else
        *--at = (char)('0' + w);
    return append(out, at, (size_t)(end - at));
}

/* 1 + UINT64_DIGITS bytes at most, as append_decimal. */
static char *append_signed(char *out, int32_t v)
{
    if (v >= 0)
        return append_decimal(out, (uint64_t)v);
    *out = '-';
    return append_decimal(out + 1, 0 - (uint64_t)(int64_t)v);
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
    copy_bytes(path + len, DXGI_DLL, sizeof DXGI_DLL);

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
GPUINFO_INTERNAL void convert_name(const WCHAR *text, char *name)
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
        zero_bytes(name, NAME_SIZE);
        return;
    }
    name[written] = '\0';
}

/* At most 23 bytes and the NUL: four words of at most five digits. The
 * last word starts at most 18 bytes in, and append_decimal writes
 * UINT64_DIGITS bytes there. */
GPUINFO_INTERNAL void format_driver_version(char *out, uint64_t v)
{
    static_assert(3 * 6 + UINT64_DIGITS <= DRIVER_VERSION_SIZE, "the longest version fits");
    char *end = append_decimal(out, v >> 48 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v >> 32 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v >> 16 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v & 0xFFFF);
    *end = '\0';
}

/* Fills table[0..n-1] in DXGI order and returns n (0 to MAX_ADAPTERS), or -1
 * with g_err set when DXGI can't be reached. Adapters DXGI can't describe are
 * skipped and take no position. Every reference obtained is released here.
 * Without `texts`, name and driver_version stay empty (the DXGI calls are the
 * same): the counting calls never read them, and converting and formatting
 * them would be most of those calls' own cost. */
GPUINFO_INTERNAL int enum_adapters(adapter_info *table, bool texts)
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
        zero_bytes(rec, sizeof *rec);
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
 * multi-byte UTF-8 sequence it would otherwise split, so the text stays UTF-8.
 * At most NAME_SIZE bytes of `name` are read, NUL or not. */
GPUINFO_INTERNAL size_t sanitize_name(const char *name, char *name_buf)
{
    const unsigned char *in = (const unsigned char *)name;
    const unsigned char *in_end = in + NAME_SIZE;
    unsigned char *out = (unsigned char *)name_buf;
    size_t len = 0;
    /* A byte is taken only while fewer than NAME_BUF_SIZE - 2 bytes are
     * written, so a pair always fits before the NUL. A run of that many
     * bytes halved stays under the bound even if every one of them is a
     * pair, so the bound is checked once a run rather than once a byte;
     * the run is walked by a negative index that ends it at zero. */
    while (in < in_end && len < NAME_BUF_SIZE - 2) {
        size_t take = (NAME_BUF_SIZE - 1 - len) / 2;
        const unsigned char *run_end = (size_t)(in_end - in) < take ? in_end : in + take;
        ptrdiff_t k = in - run_end;
        for (; k < 0; ++k) {
            unsigned char b = run_end[k];
            if (b == '"' || b == '\\') {
                out[len] = '\\';
                out[len + 1] = b;
                len += 2;
            } else if (b >= 0x20) {
                out[len++] = b;
            } else if (b == 0) {
                break;
            }
        }
        in = run_end + k;
        if (k < 0)
            break; /* at the NUL */
    }
    if (in < in_end && (*in & 0xC0) == 0x80) {
        /* Stopped at a continuation byte: take back the started sequence. */
        int back = 0;
        while (back < 3 && len > 0 && (out[len - 1] & 0xC0) == 0x80) {
            --len;
            ++back;
        }
        if (len > 0 && out[len - 1] >= 0xC0)
            --len;
    }
    while (len > 0 && out[len - 1] == ' ')
        --len;
    out[len] = '\0';
    return len;
}

#define VENDOR(id, text) {id, text, sizeof text - 1}
static const vendor VENDORS[] = {
    VENDOR(0x1414, "Microsoft"), VENDOR(0x10DE, "NVIDIA"), VENDOR(0x8086, "Intel"),
    VENDOR(0x1002, "AMD"),       VENDOR(0x1022, "AMD"),    VENDOR(0x15AD, "VMware"),
    VENDOR(0x1AF4, "Red Hat"),   VENDOR(0x1234, "QEMU"),
};
static const vendor UNKNOWN_VENDOR = VENDOR(0, "Unknown");
#undef VENDOR
enum { VENDOR_NAME_MAX = 9 }; /* "Microsoft" */

GPUINFO_INTERNAL const vendor *find_vendor(uint32_t vendor_id)
{
    for (size_t i = 0; i < sizeof VENDORS / sizeof VENDORS[0]; ++i)
        if (VENDORS[i].id == vendor_id)
            return &VENDORS[i];
    return &UNKNOWN_VENDOR;
}

/* The report: JSON_OPEN, the objects separated by commas, JSON_CLOSE. An
 * object's texts between its fields, in their fixed order: */
static const char JSON_OPEN[] = "{\"adapters\":[";
static const char JSON_CLOSE[] = "]}";
static const char OBJECT_INDEX[] = "{\"index\":";
static const char OBJECT_NAME[] = ",\"name\":\"";
static const char OBJECT_VENDOR[] = "\",\"vendor\":\"";
static const char OBJECT_VENDOR_ID[] = "\",\"vendor_id\":";
static const char OBJECT_DEVICE_ID[] = ",\"device_id\":";
static const char OBJECT_VRAM[] = ",\"dedicated_vram_mb\":";
static const char OBJECT_SHARED[] = ",\"shared_memory_mb\":";
static const char OBJECT_DRIVER_VERSION[] = ",\"driver_version\":\"";
static const char OBJECT_SOFTWARE[] = "\",\"software\":";
static const char OBJECT_END[] = "}";

/* The longest object, its comma included: every number counted at the
 * longest an appender writes. */
static const size_t OBJECT_MAX_SIZE =
    1 + sizeof OBJECT_INDEX + sizeof OBJECT_NAME + sizeof OBJECT_VENDOR + sizeof OBJECT_VENDOR_ID +
    sizeof OBJECT_DEVICE_ID + sizeof OBJECT_VRAM + sizeof OBJECT_SHARED + sizeof OBJECT_DRIVER_VERSION +
    sizeof OBJECT_SOFTWARE + sizeof OBJECT_END - 10 + 6 * (1 + UINT64_DIGITS) + (NAME_BUF_SIZE - 1) +
    VENDOR_NAME_MAX + (DRIVER_VERSION_SIZE - 1);

/* Writes object i of the report at `out`, with the comma before all but the
 * first, and returns its length (at most OBJECT_MAX_SIZE). */
static size_t format_object(char *out, const adapter_info *a, int i)
{
    char *end = out;
    if (i)
        *end++ = ',';
    end = append_signed(append(end, OBJECT_INDEX), i);
    end = append(end, OBJECT_NAME);
    end += sanitize_name(a->name, end);
    const vendor *v = find_vendor(a->vendor_id);
    end = append(append(end, OBJECT_VENDOR), v->name, v->length);
    end = append_decimal(append(end, OBJECT_VENDOR_ID), a->vendor_id);
    end = append_decimal(append(end, OBJECT_DEVICE_ID), a->device_id);
    end = append_decimal(append(end, OBJECT_VRAM), a->dedicated_vram >> 20);
    end = append_decimal(append(end, OBJECT_SHARED), a->shared_memory >> 20);
    end = append(append(end, OBJECT_DRIVER_VERSION), a->driver_version, text_length(a->driver_version));
    end = append(append_signed(append(end, OBJECT_SOFTWARE), a->software), OBJECT_END);
    return (size_t)(end - out);
}

/* Near the end of g_json: the object is written on this function's own
 * stack first and copied only if it fits whole with the closing text behind
 * it, so nothing is ever written past the buffer. Kept out of line so its
 * buffer never joins the record table in one frame, which together would
 * pass the 4 KiB page that needs a stack probe. Returns the length copied,
 * or 0 if the object did not fit. */
NOINLINE static size_t format_object_near_end(char *out, size_t room, const adapter_info *a, int i)
{
    char object[OBJECT_MAX_SIZE];
    size_t w = format_object(object, a, i);
    if (w > room)
        return 0;
    copy_bytes(out, object, w);
    return w;
}

/* Writes the report of table[0..n-1] into g_json and returns g_json. */
GPUINFO_INTERNAL const char *format_report(const adapter_info *table, int n)
{
    size_t len = (size_t)(append(g_json, JSON_OPEN) - g_json);
    for (int i = 0; i < n; ++i) {
        /* In place while the buffer has room for the longest object. */
        size_t room = JSON_BUFFER_SIZE - sizeof JSON_CLOSE - len;
        size_t w = room >= OBJECT_MAX_SIZE ? format_object(g_json + len, &table[i], i)
                                           : format_object_near_end(g_json + len, room, &table[i], i);
        /* Never reached with MAX_ADAPTERS records; should it ever be, an
         * object that does not fit whole with the closing text behind it is
         * left out, so the report stays complete JSON. */
        if (w == 0)
            break;
        len += w;
        if (len > JSON_STOP_LENGTH)
            break;
    }
    copy_bytes(g_json + len, JSON_CLOSE, sizeof JSON_CLOSE);
    return g_json;
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
    return format_report(table, n);
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
