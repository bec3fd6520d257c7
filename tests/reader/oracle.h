/* What gpuinfo_read_report must make of a text, worked out another way:
 * nlohmann::json parses it, and the record's keys are taken from the parsed
 * document. The fuzz target compares the reader with it on every input; the
 * table test takes its expected records from it. */
#ifndef READER_ORACLE_H
#define READER_ORACLE_H

#include "gpuinfo_report.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

/* Objects and arrays nested at most this deep, the report's own included. */
inline constexpr int max_depth = 64;

struct record {
    long long index;
    std::string name, vendor;
    std::uint64_t vendor_id, device_id, dedicated_vram_mb, shared_memory_mb;
    std::string driver_version;
    long long software;
};

enum class verdict {
    report,  /* a report: `records` is what the reader must give */
    refused, /* not a report */
    unknown, /* nlohmann cannot tell: a key twice (it keeps the last value,
                the reader checks each) or a number too large for a double */
};

struct result {
    verdict what;
    std::vector<record> records;
};

/* The longest start of `text` made of whole UTF-8 characters that fits
 * `size` bytes with a NUL. */
inline std::string cut(const std::string &text, std::size_t size)
{
    std::size_t keep = 0;
    while (keep < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[keep]);
        std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (keep + n > size - 1)
            break;
        keep += n;
    }
    return text.substr(0, keep);
}

/* A record from an adapter object already known to hold every key. */
inline record from_json(const nlohmann::json &a)
{
    return {a.at("index").get<long long>(),
            cut(a.at("name").get<std::string>(), sizeof gpuinfo_adapter{}.name),
            cut(a.at("vendor").get<std::string>(), sizeof gpuinfo_adapter{}.vendor),
            a.at("vendor_id").get<std::uint64_t>(),
            a.at("device_id").get<std::uint64_t>(),
            a.at("dedicated_vram_mb").get<std::uint64_t>(),
            a.at("shared_memory_mb").get<std::uint64_t>(),
            cut(a.at("driver_version").get<std::string>(), sizeof gpuinfo_adapter{}.driver_version),
            a.at("software").get<long long>()};
}

inline bool is_adapter(const nlohmann::json &a)
{
    static const struct {
        const char *key;
        std::uint64_t max; /* 0: a text */
    } keys[] = {
        {"index", 2147483647}, {"name", 0}, {"vendor", 0}, {"vendor_id", 0xFFFFFFFF}, {"device_id", 0xFFFFFFFF},
        {"dedicated_vram_mb", UINT64_MAX}, {"shared_memory_mb", UINT64_MAX}, {"driver_version", 0},
        {"software", 1},
    };
    if (!a.is_object())
        return false;
    for (const auto &k : keys) {
        auto v = a.find(k.key);
        if (v == a.end())
            return false;
        bool fits = k.max == 0 ? v->is_string() : v->is_number_unsigned() && v->get<std::uint64_t>() <= k.max;
        if (!fits)
            return false;
    }
    return true;
}

inline result read(std::string_view text)
{
    using nlohmann::json;
    /* nlohmann passes over a byte order mark; JSON text has none. */
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        return {verdict::refused, {}};
    int depth = 0, deepest = 0;
    bool twice = false, nul = false;
    std::vector<std::set<std::string>> keys;
    json::parser_callback_t watch = [&](int, json::parse_event_t event, json &parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            keys.emplace_back();
            [[fallthrough]];
        case json::parse_event_t::array_start:
            deepest = std::max(deepest, ++depth);
            break;
        case json::parse_event_t::object_end:
            keys.pop_back();
            [[fallthrough]];
        case json::parse_event_t::array_end:
            --depth;
            break;
        case json::parse_event_t::key:
            twice |= !keys.back().insert(parsed.get<std::string>()).second;
            nul |= parsed.get<std::string>().find('\0') != std::string::npos;
            break;
        case json::parse_event_t::value:
            nul |= parsed.is_string() && parsed.get<std::string>().find('\0') != std::string::npos;
            break;
        }
        return true;
    };
    json doc;
    try {
        doc = json::parse(text, watch);
    } catch (const json::out_of_range &) { /* a number past a double's range */
        return {verdict::unknown, {}};
    } catch (const json::parse_error &) {
        return {verdict::refused, {}};
    }
    if (deepest > max_depth || nul) /* U+0000 cannot stand in a C text */
        return {verdict::refused, {}};
    if (twice)
        return {verdict::unknown, {}};
    if (!doc.is_object() || !doc.contains("adapters") || !doc["adapters"].is_array())
        return {verdict::refused, {}};
    result r{verdict::report, {}};
    for (const auto &a : doc["adapters"]) {
        if (!is_adapter(a))
            return {verdict::refused, {}};
        r.records.push_back(from_json(a));
    }
    return r;
}

/* "" when the reader's record is the expected one, else what differs. */
inline std::string mismatch(const record &want, const gpuinfo_adapter &got)
{
    std::string out;
    auto text = [&](const char *what, const std::string &w, const char *g, std::size_t size) {
        std::size_t length = 0;
        while (length < size && g[length])
            ++length;
        if (length == size)
            out += std::string(what) + " has no NUL; ";
        else if (w != std::string(g, length))
            out += std::string(what) + " is \"" + std::string(g, length) + "\", expected \"" + w + "\"; ";
    };
    auto number = [&](const char *what, std::uint64_t w, std::uint64_t g) {
        if (w != g)
            out += std::string(what) + " is " + std::to_string(g) + ", expected " + std::to_string(w) + "; ";
    };
    number("index", static_cast<std::uint64_t>(want.index), static_cast<std::uint64_t>(got.index));
    text("name", want.name, got.name, sizeof got.name);
    text("vendor", want.vendor, got.vendor, sizeof got.vendor);
    number("vendor_id", want.vendor_id, got.vendor_id);
    number("device_id", want.device_id, got.device_id);
    number("dedicated_vram_mb", want.dedicated_vram_mb, got.dedicated_vram_mb);
    number("shared_memory_mb", want.shared_memory_mb, got.shared_memory_mb);
    text("driver_version", want.driver_version, got.driver_version, sizeof got.driver_version);
    number("software", static_cast<std::uint64_t>(want.software), static_cast<std::uint64_t>(got.software));
    return out;
}

} // namespace oracle

#endif
