/* libFuzzer target for the report path: fuzzed adapter records go through
 * sanitize_name and format_report, a fuzzed description through
 * convert_name, and fuzzed numbers through format_text beside snprintf.
 * Any wrong output aborts.
 *
 * Input layout (missing bytes read as zero; make_corpus.py writes it):
 *   u8 record count (mod 17)
 *   per record: u8 name length (mod 128), the name bytes,
 *               u32 vendor id, u32 device id, u64 dedicated, u64 shared,
 *               u8 flags (bit 0: has a driver version, bit 1: software),
 *               u64 driver version
 *   i32, u32, u64, u16 room (mod 600): format_text against snprintf
 *   u8 description units (mod 129), then that many u16 units
 * All numbers little-endian. */
#include "checks.h"
#include "fake_system.h"
#include "json_check.h"
#include "product_access.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class input {
public:
    input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    /* Copies up to n bytes and zero-fills what the input does not have. */
    void take(void *out, size_t n)
    {
        size_t have = size_ - at_ < n ? size_ - at_ : n;
        if (have)
            memcpy(out, data_ + at_, have);
        memset(static_cast<uint8_t *>(out) + have, 0, n - have);
        at_ += have;
    }
    uint64_t number(size_t n)
    {
        uint8_t b[8];
        take(b, n);
        uint64_t v = 0;
        for (size_t i = n; i-- > 0;)
            v = v << 8 | b[i];
        return v;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

[[noreturn]] void fail(const char *what, const std::string &detail)
{
    fprintf(stderr, "fuzz_report: %s: %s\n", what, detail.c_str());
    abort();
}

void check(const char *what, const std::string &problem)
{
    if (!problem.empty())
        fail(what, problem);
}

typedef int (*formatter)(char *out, size_t room, const char *format, ...);

/* Runs one call through snprintf and format_text with the same room and
 * compares every byte, the guard behind the room included. */
template <typename Call>
void same_as_snprintf(const char *label, size_t room, Call call)
{
    const size_t guard = 8;
    std::vector<char> want(room + guard, (char)0x5A), got(room + guard, (char)0x5A);
    int want_len = call(static_cast<formatter>(&snprintf), want.data(), room);
    int got_len = call(product::format_text, got.data(), room);
    if (want_len != got_len)
        fail(label, "returned " + std::to_string(got_len) + ", snprintf " + std::to_string(want_len));
    if (want != got)
        fail(label, "bytes differ from snprintf at room " + std::to_string(room));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input in(data, size);
    fake::reset(fake::scenario());

    int n = (int)(in.number(1) % (product::MAX_ADAPTERS + 1));
    std::vector<product::record> table((size_t)n);
    bool names_utf8 = true;
    for (auto &r : table) {
        memset(&r, 0, sizeof r);
        size_t len = in.number(1) % product::NAME_SIZE;
        /* Quotes after the NUL show up in the output if anything reads on. */
        memset(r.name, '"', sizeof r.name);
        in.take(r.name, len);
        r.name[len] = '\0';
        names_utf8 = names_utf8 && json::valid_utf8(checks::name_bytes(r.name));
        r.vendor_id = (uint32_t)in.number(4);
        r.device_id = (uint32_t)in.number(4);
        r.dedicated_vram = in.number(8);
        r.shared_memory = in.number(8);
        uint8_t flags = (uint8_t)in.number(1);
        uint64_t version = in.number(8);
        if (flags & 1)
            product::format_driver_version(r.driver_version, version);
        r.software = flags >> 1 & 1;

        std::unique_ptr<char[]> name_buf(new char[product::NAME_BUF_SIZE]);
        product::sanitize_name(r.name, name_buf.get());
        check("sanitize_name", checks::sanitized_name_problem(r.name, name_buf.get()));
    }

    const char *json = product::format_report(table.data(), n);
    size_t json_len = strnlen(json, product::JSON_BUFFER_SIZE);
    if (json_len >= product::JSON_BUFFER_SIZE)
        fail("format_report", "no NUL inside the report buffer");
    check("format_report", checks::report_problem(std::string(json, json_len), table.data(), n, names_utf8));

    int d = (int)(int32_t)(uint32_t)in.number(4);
    unsigned u = (unsigned)in.number(4);
    unsigned long long llu = in.number(8);
    size_t room = (size_t)(in.number(2) % 600);
    same_as_snprintf("%d", room, [&](formatter f, char *o, size_t r) { return f(o, r, "%d", d); });
    same_as_snprintf("%u", room, [&](formatter f, char *o, size_t r) { return f(o, r, "%u", u); });
    same_as_snprintf("%llu", room, [&](formatter f, char *o, size_t r) { return f(o, r, "%llu", llu); });
    same_as_snprintf("driver version", room, [&](formatter f, char *o, size_t r) {
        return f(o, r, product::driver_version_format(), (unsigned)(llu >> 48 & 0xFFFF),
                 (unsigned)(llu >> 32 & 0xFFFF), (unsigned)(llu >> 16 & 0xFFFF), (unsigned)(llu & 0xFFFF));
    });
    if (n > 0) {
        const product::record &r = table[0];
        same_as_snprintf("report object", room, [&](formatter f, char *o, size_t rm) {
            return f(o, rm, product::object_format(), d & 1 ? "," : "", d, r.name, checks::expected_vendor(u),
                     u, r.device_id, (unsigned long long)r.dedicated_vram, llu, r.driver_version, d);
        });
    }

    size_t units = (size_t)(in.number(1) % (product::DESCRIPTION_UNITS + 1));
    /* Exactly 128 units on the heap so a read past the description is caught;
     * the rest is NUL as DXGI leaves it. */
    std::unique_ptr<char16_t[]> text(new char16_t[product::DESCRIPTION_UNITS]());
    for (size_t i = 0; i < units; ++i)
        text[i] = (char16_t)in.number(2);
    std::unique_ptr<char[]> name(new char[product::NAME_SIZE]());
    product::convert_name(text.get(), name.get());
    std::string want = checks::expected_name(text.get(), product::DESCRIPTION_UNITS);
    if (memchr(name.get(), 0, product::NAME_SIZE) == nullptr || want != name.get())
        fail("convert_name", "not the longest whole prefix");
    if (!json::valid_utf8(name.get()))
        fail("convert_name", "invalid UTF-8");
    return 0;
}
