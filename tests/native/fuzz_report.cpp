/* libFuzzer target for the report path: fuzzed adapter records go through
 * sanitize_name and format_report, a fuzzed description through
 * convert_name, and a fuzzed version through format_driver_version beside
 * snprintf. Any wrong output aborts.
 *
 * Input layout (missing bytes read as zero; make_corpus.py writes it):
 *   u8 record count (mod 17)
 *   per record: u8 name length (mod 128), the name bytes,
 *               u32 vendor id, u32 device id, u64 dedicated, u64 shared,
 *               u8 flags (bit 0: has a driver version, bit 1: software),
 *               u64 driver version
 *   i32: the first record's software field (any value, sign included)
 *   u64: a driver version, format_driver_version against snprintf
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input in(data, size);
    fake::reset(fake::scenario());

    int n = (int)(in.number(1) % (MAX_ADAPTERS + 1));
    std::vector<adapter_info> table((size_t)n);
    bool names_utf8 = true;
    for (auto &r : table) {
        memset(&r, 0, sizeof r);
        size_t len = in.number(1) % NAME_SIZE;
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
            format_driver_version(r.driver_version, version);
        r.software = flags >> 1 & 1;

        std::unique_ptr<char[]> name_buf(new char[NAME_BUF_SIZE]);
        sanitize_name(r.name, name_buf.get());
        check("sanitize_name", checks::sanitized_name_problem(r.name, name_buf.get()));
    }

    int32_t software = (int32_t)(uint32_t)in.number(4);
    if (n > 0)
        table[0].software = software;
    const char *json = product::format_report(table.data(), n);
    size_t json_len = strnlen(json, JSON_BUFFER_SIZE);
    if (json_len >= JSON_BUFFER_SIZE)
        fail("format_report", "no NUL inside the report buffer");
    check("format_report", checks::report_problem(std::string(json, json_len), table.data(), n, names_utf8));

    uint64_t version = in.number(8);
    char want_version[DRIVER_VERSION_SIZE], got_version[DRIVER_VERSION_SIZE];
    snprintf(want_version, sizeof want_version, "%u.%u.%u.%u", (unsigned)(version >> 48 & 0xFFFF),
             (unsigned)(version >> 32 & 0xFFFF), (unsigned)(version >> 16 & 0xFFFF), (unsigned)(version & 0xFFFF));
    format_driver_version(got_version, version);
    if (strcmp(want_version, got_version) != 0)
        fail("format_driver_version", std::string(got_version) + ", snprintf " + want_version);

    size_t units = (size_t)(in.number(1) % (DESCRIPTION_UNITS + 1));
    /* Exactly 128 units on the heap so a read past the description is caught;
     * the rest is NUL as DXGI leaves it. */
    std::unique_ptr<char16_t[]> text(new char16_t[DESCRIPTION_UNITS]());
    for (size_t i = 0; i < units; ++i)
        text[i] = (char16_t)in.number(2);
    std::unique_ptr<char[]> name(new char[NAME_SIZE]);
    memset(name.get(), 0x5A, NAME_SIZE); /* a name left unended shows */
    convert_name(text.get(), name.get());
    std::string want = checks::expected_name(text.get(), DESCRIPTION_UNITS);
    if (memchr(name.get(), 0, NAME_SIZE) == nullptr || want != name.get())
        fail("convert_name", "not the longest whole prefix");
    if (!json::valid_utf8(name.get()))
        fail("convert_name", "invalid UTF-8");
    return 0;
}
