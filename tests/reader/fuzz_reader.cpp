/* libFuzzer target for gpuinfo_read_report. The first byte picks the
 * capacity (0 to 17, around the 16 adapters a report holds); the rest is the
 * text, copied to a buffer of exactly its length and a NUL, and the records
 * go to an array of exactly `capacity`, so AddressSanitizer sees any read or
 * write past either. Every result is compared with the oracle (oracle.h):
 * the count, each record kept, and the refusal of what is not a report.
 * Any difference aborts. */
#include "gpuinfo_report.h"
#include "oracle.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int max_capacity = 17;

[[noreturn]] void wrong(const std::string &text, const std::string &what)
{
    std::fprintf(stderr, "reader: %s\ntext (%zu bytes): %s\n", what.c_str(), text.size(), text.c_str());
    std::abort();
}

/* The reader on a copy of exactly `text`'s bytes and its NUL. */
int read_exact(const std::string &text, gpuinfo_adapter *out, int capacity, std::size_t *at)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return gpuinfo_read_report(copy.get(), out, capacity, at);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        /* No text at all, as from a failed gpuinfo_get_json(): refused at byte 0. */
        std::size_t at = SIZE_MAX;
        if (gpuinfo_read_report(nullptr, nullptr, 0, &at) != -1 || at != 0)
            wrong("", "a NULL text is not refused at byte 0");
        return 0;
    }
    const int capacity = data[0] % (max_capacity + 1);
    /* The reader stops at the first NUL, and so does what it is compared with. */
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text.resize(std::strlen(text.c_str()));

    std::unique_ptr<gpuinfo_adapter[]> out(capacity ? new gpuinfo_adapter[static_cast<std::size_t>(capacity)] : nullptr);
    /* Junk without a NUL: every text must be terminated by the reader itself. */
    if (capacity)
        std::memset(static_cast<void *>(out.get()), 0xA5, static_cast<std::size_t>(capacity) * sizeof(gpuinfo_adapter));
    std::size_t at = SIZE_MAX;
    const int count = read_exact(text, out.get(), capacity, &at);
    for (int i = 0; i < capacity; ++i) {
        const gpuinfo_adapter &a = out[static_cast<std::size_t>(i)];
        if (!std::memchr(a.name, 0, sizeof a.name) || !std::memchr(a.vendor, 0, sizeof a.vendor) ||
            !std::memchr(a.driver_version, 0, sizeof a.driver_version))
            wrong(text, "record " + std::to_string(i) + " has a text without its NUL");
    }

    if (count < -1)
        wrong(text, "returned " + std::to_string(count));
    if (count == -1 && at > text.size())
        wrong(text, "refused at byte " + std::to_string(at) + ", past the end");
    /* Capacity changes only how many records are kept. */
    if (read_exact(text, nullptr, 0, nullptr) != count)
        wrong(text, "another count without room for records");

    const oracle::result want = oracle::read(text);
    if (want.what == oracle::verdict::unknown)
        return 0;
    if (want.what == oracle::verdict::refused) {
        if (count != -1)
            wrong(text, "read " + std::to_string(count) + " adapters from a text that is not a report");
        return 0;
    }
    if (count != static_cast<int>(want.records.size()))
        wrong(text, "count " + std::to_string(count) + ", expected " + std::to_string(want.records.size()));
    for (int i = 0; i < count && i < capacity; ++i) {
        std::string differs = oracle::mismatch(want.records[static_cast<std::size_t>(i)], out[static_cast<std::size_t>(i)]);
        if (!differs.empty())
            wrong(text, "record " + std::to_string(i) + ": " + differs);
    }
    return 0;
}
