/*
 * quillmar-dxgi-gpu-info: asks DXGI which graphics adapters the machine has
 * and answers through five plain C calls (include/gpuinfo.h).
 *
 * The order of this file follows the data: DXGI is walked into a table of
 * plain records on the caller's stack (the only block that talks to the
 * platform, with the name and driver version texts it makes), the records
 * are then written out as the JSON report, and the five calls at the end
 * reduce them to a count, a size or that report. The only lasting state is
 * the two static texts g_err and g_json.
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

/* Kept out of line where the comment at the function says why. */
#ifdef _MSC_VER
#define NOINLINE __declspec(noinline)
#else
#define NOINLINE __attribute__((noinline))
#endif

/* Zero-filled at load; see gpuinfo.h for who rewrites them and when. */
static char g_err[ERROR_SIZE];
static char g_json[JSON_BUFFER_SIZE];

/* The DLL links no C runtime, so it copies and clears with these. The build
 * keeps GCC and clang from turning the loops back into memcpy or memset
 * calls (gpuinfo_no_runtime_calls, cmake/GpuinfoToolchain.cmake); cl has no
 * such switch, so with cl they are the string instructions themselves. */
/* GPUINFO_CL_PATHS compiles cl's code with another compiler on purpose: the
 * native tests run it with stand-ins of cl's intrinsics. */
#if (defined(_MSC_VER) && !defined(__clang__)) || defined(GPUINFO_CL_PATHS)
#include <intrin.h>
#define COPY_BYTES_INTRINSIC 1
#endif

static void zero_bytes(void *out, size_t n)
{
#ifdef COPY_BYTES_INTRINSIC
    __stosb(static_cast<unsigned char *>(out), 0, n);
#else
    for (size_t i = 0; i < n; ++i)
        static_cast<char *>(out)[i] = 0;
#endif
}

/* A copy of a size known when compiling. GCC and clang expand their
 * builtin into a few moves even when told to call no library function and
 * even without optimisation, as long as the size is small: the bound keeps
 * every use here that small (clang's unoptimised limit is 32 bytes). */
enum { FIXED_COPY_MAX = 32 };

template <size_t N>
static void copy_fixed(char *out, const char *in)
{
    static_assert(N <= FIXED_COPY_MAX, "a fixed copy stays a few moves");
#ifdef COPY_BYTES_INTRINSIC
    __movsb(reinterpret_cast<unsigned char *>(out), reinterpret_cast<const unsigned char *>(in), N);
#else
    __builtin_memcpy(out, in, N);
#endif
}

template <size_t N>
static void set_error(const char (&text)[N])
{
    static_assert(N <= ERROR_SIZE, "error text too long");
    copy_fixed<N>(g_err, text);
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
    copy_fixed<sizeof DXGI_DLL>(path + len, DXGI_DLL);

    /* LOAD_LIBRARY_SEARCH_SYSTEM32 also keeps dxgi.dll's own imports in the
     * system directory; loaders older than AddDllDirectory reject the flag. */
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    DWORD flags = kernel32 && GetProcAddress(kernel32, "AddDllDirectory")
                      ? LOAD_LIBRARY_SEARCH_SYSTEM32
                      : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path, NULL, flags);
}

/* Fills table[0..n-1] in DXGI order and returns n (0 to MAX_ADAPTERS), or -1
 * with g_err set when DXGI can't be reached. Adapters DXGI can't describe are
 * skipped and take no position. Every reference obtained is released here.
 * Without `texts`, name and driver_version stay empty (the DXGI calls are the
 * same): the counting calls never read them, and converting and formatting
 * them would be most of those calls' own cost. Out of line, so that its
 * locals never join a caller's record table in one frame past the 4 KiB
 * that needs a stack probe, however much a compiler inlines. */
NOINLINE GPUINFO_INTERNAL int enum_adapters(adapter_info *table, bool texts)
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
    if (units == 0) {
        name[0] = '\0';
        return;
    }
    int written = WideCharToMultiByte(CP_UTF8, 0, text, units, name, NAME_SIZE - 1, NULL, NULL);
    if (written <= 0 || written > NAME_SIZE - 1) {
        zero_bytes(name, NAME_SIZE);
        return;
    }
    name[written] = '\0';
}

/* ---- Decimal text: the driver version here, the report's numbers below - */

/* The C runtime's formatting is not used: msvcrt's snprintf does not
 * terminate a cut text, and MinGW's C99 one drags in floating-point
 * conversion with its heap, locks and exit handlers. Every text here is
 * written by these typed appenders instead, so there is no format string to
 * get wrong. Each writes at `out`, which the caller has made room at, and
 * returns the end of its text; none ends it with a NUL. */

/* The length of append_decimal's text of `v`, for the bounds below. */
static constexpr size_t decimal_length(uint64_t v)
{
    return v < 10 ? 1 : 1 + decimal_length(v / 10);
}

static constexpr size_t UINT64_DIGITS = decimal_length(UINT64_MAX);

static const char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

/* A literal text, copied by its compile-time length. */
template <size_t N>
static char *append(char *out, const char (&text)[N])
{
    copy_fixed<N - 1>(out, text);
    return out + (N - 1);
}

/* Writes the two digits of `pair` (0 to 99) just before `at`. */
static char *put_pair(char *at, unsigned pair)
{
    copy_fixed<2>(at - 2, DIGIT_PAIRS + 2 * pair);
    return at - 2;
}

/* Writes the four digits of `quad` (0 to 9999) just before `at`. */
static char *put_quad(char *at, unsigned quad)
{
    return put_pair(put_pair(at, quad % 100), quad / 100);
}

/* Writes UINT64_DIGITS bytes at `out`, of which the number's own
 * decimal_length(v) are the first: the rest is zeros for the appenders after
 * it to write over, so the digits go out in one copy of a fixed length,
 * which the compilers make a few moves of. Four digits a division, in
 * 32-bit arithmetic once the value fits it: every number of the report but
 * the sizes does from the start. Out of line: clang otherwise writes a copy
 * at each of the ten calls and the DLL grows by half for no measurable gain. */
NOINLINE static char *append_decimal(char *out, uint64_t v)
{
    static const char ZEROS[UINT64_DIGITS] = {};
    /* The digits end at `end`; the copy reads no byte before them, and the
     * ones after them are the zeros. A copy, not an initialiser, puts those
     * there: unoptimised clang makes a memset call of an initialiser. */
    char digits[2 * UINT64_DIGITS];
    char *end = digits + UINT64_DIGITS;
    copy_fixed<UINT64_DIGITS>(end, ZEROS);
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
    copy_fixed<UINT64_DIGITS>(out, at);
    return out + (end - at);
}

/* At most 23 bytes and the NUL: four words of at most five digits. The
 * last word starts at most 18 bytes in, and append_decimal writes
 * UINT64_DIGITS bytes there. */
GPUINFO_INTERNAL void format_driver_version(char *out, uint64_t v)
{
    static_assert(3 * (decimal_length(0xFFFF) + 1) + UINT64_DIGITS <= DRIVER_VERSION_SIZE,
                  "the longest version fits");
    char *end = append_decimal(out, v >> 48 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v >> 32 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v >> 16 & 0xFFFF);
    *end++ = '.';
    end = append_decimal(end, v & 0xFFFF);
    *end = '\0';
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
static constexpr vendor VENDORS[] = {
    VENDOR(0x1414, "Microsoft"), VENDOR(0x10DE, "NVIDIA"), VENDOR(0x8086, "Intel"),
    VENDOR(0x1002, "AMD"),       VENDOR(0x1022, "AMD"),    VENDOR(0x15AD, "VMware"),
    VENDOR(0x1AF4, "Red Hat"),   VENDOR(0x1234, "QEMU"),
};
static constexpr vendor UNKNOWN_VENDOR = VENDOR(0, "Unknown");
#undef VENDOR

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

/* A minus sign before the digits of a negative value; 1 + UINT64_DIGITS
 * bytes written at most, as append_decimal. */
static char *append_signed(char *out, int32_t v)
{
    if (v >= 0)
        return append_decimal(out, (uint64_t)v);
    *out = '-';
    return append_decimal(out + 1, 0 - (uint64_t)(int64_t)v);
}

/* Why the report always fits in g_json: each piece of an object is counted
 * at the longest the types and tables that give it allow, and the most
 * objects a report holds, with the opening and closing texts and the NUL,
 * are checked against the buffer when this compiles. Bytes written past a
 * piece's text (the zeros after a number, the rest of the driver version's
 * last word) are written over by the pieces after it, so the only ones left
 * past an object's text are the zeros after its last number, fewer than
 * UINT64_DIGITS. */

static constexpr size_t longest_vendor_name(const vendor *v, size_t n, size_t longest)
{
    return n == 0 ? longest : longest_vendor_name(v + 1, n - 1, v->length > longest ? v->length : longest);
}

static constexpr size_t VENDOR_NAME_MAX =
    longest_vendor_name(VENDORS, sizeof VENDORS / sizeof VENDORS[0], UNKNOWN_VENDOR.length);

/* Object i, its comma included; every piece is counted at its longest. */
static constexpr size_t OBJECT_MAX_LENGTH =
    1 + (sizeof OBJECT_INDEX - 1) + decimal_length(MAX_ADAPTERS - 1) +
    (sizeof OBJECT_NAME - 1) + (NAME_BUF_SIZE - 1) +
    (sizeof OBJECT_VENDOR - 1) + VENDOR_NAME_MAX +
    (sizeof OBJECT_VENDOR_ID - 1) + decimal_length(UINT32_MAX) +
    (sizeof OBJECT_DEVICE_ID - 1) + decimal_length(UINT32_MAX) +
    (sizeof OBJECT_VRAM - 1) + decimal_length(UINT64_MAX >> 20) +
    (sizeof OBJECT_SHARED - 1) + decimal_length(UINT64_MAX >> 20) +
    (sizeof OBJECT_DRIVER_VERSION - 1) + (DRIVER_VERSION_SIZE - 1) +
    (sizeof OBJECT_SOFTWARE - 1) + 1 + decimal_length((uint64_t)INT32_MAX + 1) +
    (sizeof OBJECT_END - 1);

static_assert((sizeof JSON_OPEN - 1) + MAX_ADAPTERS * OBJECT_MAX_LENGTH + UINT64_DIGITS + sizeof JSON_CLOSE <=
                  JSON_BUFFER_SIZE,
              "a report of MAX_ADAPTERS objects fits in g_json");

static_assert(VENDOR_NAME_MAX <= 16, "a vendor's text is at most two overlapping words");

/* A vendor's text, by its length from the table: two moves of eight, four
 * or two bytes that overlap for the lengths between, or one byte. */
static char *append_vendor(char *out, const vendor *v)
{
    size_t n = v->length;
    if (n >= 8) {
        copy_fixed<8>(out, v->name);
        copy_fixed<8>(out + n - 8, v->name + n - 8);
    } else if (n >= 4) {
        copy_fixed<4>(out, v->name);
        copy_fixed<4>(out + n - 4, v->name + n - 4);
    } else if (n >= 2) {
        copy_fixed<2>(out, v->name);
        copy_fixed<2>(out + n - 2, v->name + n - 2);
    } else if (n == 1) {
        *out = *v->name;
    }
    return out + n;
}

/* The index of the first byte of `marks` whose top bit is set, the lowest
 * byte first (Windows is little-endian, and so are the native builds). */
static size_t first_marked_byte(uint64_t marks)
{
#if (defined(__GNUC__) || defined(__clang__)) && !defined(GPUINFO_CL_PATHS)
    return (size_t)__builtin_ctzll(marks) / 8;
#else
    size_t k = 0; /* the eighth byte when none of the first seven is marked */
    for (; k < 7 && !(marks & 0x80); marks >>= 8)
        ++k;
    return k;
#endif
}

/* The driver version up to its NUL, a word of eight bytes a move. The word
 * holding the NUL is copied whole, so up to 8 bytes past the text are
 * written, and OBJECT_SOFTWARE, written next, covers them. The reads stay
 * in the array, which is whole words; one that holds no NUL (enumeration
 * never makes one) counts as its first DRIVER_VERSION_SIZE - 1 bytes. */
static char *append_version(char *out, const char (&text)[DRIVER_VERSION_SIZE])
{
    static_assert(DRIVER_VERSION_SIZE % 8 == 0, "the version is read in whole words");
    static_assert(sizeof OBJECT_SOFTWARE - 1 >= 8, "the next text covers the rest of the last word");
    const uint64_t ones = 0x0101010101010101u;
    for (size_t i = 0; i < DRIVER_VERSION_SIZE; i += 8) {
        uint64_t word;
        copy_fixed<8>(reinterpret_cast<char *>(&word), text + i);
        copy_fixed<8>(out + i, text + i);
        /* The top bit of each zero byte; the lowest one is exact. */
        uint64_t zeros = (word - ones) & ~word & ones << 7;
        if (zeros)
            return out + i + first_marked_byte(zeros);
    }
    return out + DRIVER_VERSION_SIZE - 1;
}

/* Writes object i of the report at `out`, with the comma before all but the
 * first, and returns its end (at most OBJECT_MAX_LENGTH bytes on). */
static char *format_object(char *out, const adapter_info *a, int i)
{
    char *end = out;
    if (i)
        *end++ = ',';
    end = append_signed(append(end, OBJECT_INDEX), i);
    end = append(end, OBJECT_NAME);
    end += sanitize_name(a->name, end);
    const vendor *v = find_vendor(a->vendor_id);
    end = append_vendor(append(end, OBJECT_VENDOR), v);
    end = append_decimal(append(end, OBJECT_VENDOR_ID), a->vendor_id);
    end = append_decimal(append(end, OBJECT_DEVICE_ID), a->device_id);
    end = append_decimal(append(end, OBJECT_VRAM), a->dedicated_vram >> 20);
    end = append_decimal(append(end, OBJECT_SHARED), a->shared_memory >> 20);
    end = append_version(append(end, OBJECT_DRIVER_VERSION), a->driver_version);
    return append(append_signed(append(end, OBJECT_SOFTWARE), a->software), OBJECT_END);
}

/* Writes the report of table[0..n-1] into g_json and returns g_json. An
 * enumeration gives at most MAX_ADAPTERS records, and no more are written:
 * that many always fit (above). */
GPUINFO_INTERNAL const char *format_report(const adapter_info *table, int n)
{
    char *end = append(g_json, JSON_OPEN);
    for (int i = 0; i < n && i < MAX_ADAPTERS; ++i)
        end = format_object(end, &table[i], i);
    copy_fixed<sizeof JSON_CLOSE>(end, JSON_CLOSE);
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
