#include "checks.h"

#include "fake_system.h"
#include "json_check.h"
#include "vendor_cases.h"

#include <string.h>

namespace checks {

std::string name_bytes(const char *name)
{
    size_t n = 0;
    while (n < NAME_SIZE && name[n])
        ++n;
    return std::string(name, n);
}

bool unescape_name(const std::string &escaped, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c == '"')
            return false;
        if (c == '\\') {
            if (i + 1 == escaped.size() || (escaped[i + 1] != '"' && escaped[i + 1] != '\\'))
                return false;
            c = escaped[++i];
        }
        *out += c;
    }
    return true;
}

static size_t escaped_length(const std::string &s)
{
    size_t n = s.size();
    for (char c : s)
        n += c == '"' || c == '\\';
    return n;
}

std::string sanitized_name_problem(const char *in, const std::string &out)
{
    if (out.size() > NAME_BUF_SIZE - 1)
        return "longer than 191 bytes";
    for (unsigned char b : out)
        if (b <= 0x1F)
            return "control byte kept";
    if (!out.empty() && out.back() == ' ')
        return "trailing space kept";
    std::string plain;
    if (!unescape_name(out, &plain))
        return "bare quote or broken escape pair";

    std::string cleaned;
    for (unsigned char b : name_bytes(in))
        if (b >= 0x20)
            cleaned += (char)b;
    if (cleaned.compare(0, plain.size(), plain) != 0 || plain.size() > cleaned.size())
        return "not a prefix of the cleaned name";
    size_t kept = plain.size();
    while (kept < cleaned.size() && cleaned[kept] == ' ')
        ++kept;
    bool valid_in = json::valid_utf8(name_bytes(in));
    if (kept < cleaned.size()) {
        /* Cut at the bound. A byte is copied while fewer than 190 are
         * written, so a pair ends at most at 191 and a k-byte character
         * at most at 190; what was left out must not have fitted. Trailing
         * spaces count as written: they were, or the cut fell among them. */
        size_t written = escaped_length(cleaned.substr(0, kept));
        if (valid_in) {
            unsigned char lead = (unsigned char)cleaned[kept];
            size_t k = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            bool fits = lead == '"' || lead == '\\' ? written + 2 <= NAME_BUF_SIZE - 1
                                                      : written + k <= NAME_BUF_SIZE - 2;
            if (fits)
                return "left out a character that fits";
        } else if (written + 4 < NAME_BUF_SIZE - 2) {
            /* Without whole characters, only the at most four bytes the
             * mend takes back may be missing. */
            return "cut shorter than the bound requires";
        }
    }
    /* A single byte is only copied below 190, so 191 bytes end in a pair. */
    if (out.size() == NAME_BUF_SIZE - 1 && plain.back() != '"' && plain.back() != '\\')
        return "single byte copied past 190";
    if (valid_in && !json::valid_utf8(out))
        return "valid UTF-8 name became invalid";
    return "";
}

std::string expected_vendor(uint32_t vendor_id)
{
    for (const vendor_case &c : VENDOR_CASES)
        if (c.id == vendor_id)
            return c.name;
    return "Unknown";
}

namespace {

/* A report whose names hold bytes that are not UTF-8 (records no DXGI text
 * makes) is read as Latin-1, a byte to a character, so the JSON reader,
 * which refuses ill-formed UTF-8, sees the same structure and every byte
 * comes back. */
std::string utf8_of_latin1(const std::string &bytes)
{
    std::string out;
    for (unsigned char b : bytes) {
        if (b < 0x80) {
            out += (char)b;
        } else {
            out += (char)(0xC0 | b >> 6);
            out += (char)(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string latin1_of_utf8(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char b = (unsigned char)text[i];
        out += b < 0x80 ? (char)b : (char)((b & 0x03) << 6 | ((unsigned char)text[++i] & 0x3F));
    }
    return out;
}

/* JSON string content as the report writes it: '"' and '\' escaped, every
 * other byte as it is. */
std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string number_problem(const json::value &obj, const char *key, const std::string &want)
{
    const json::value &v = obj.at(key);
    if (!v.is_number_integer())
        return std::string("\"") + key + "\" is not an integer";
    if (v.dump() != want)
        return std::string("\"") + key + "\" is " + v.dump() + ", expected " + want;
    return "";
}

std::string text_problem(const json::value &obj, const char *key, const std::string &want)
{
    const json::value &v = obj.at(key);
    if (!v.is_string())
        return std::string("\"") + key + "\" is not a string";
    if (v.get_ref<const std::string &>() != want)
        return std::string("\"") + key + "\" is " + v.dump() + ", expected \"" + want + "\"";
    return "";
}

const char *const KEYS[] = {"index",     "name",          "vendor",           "vendor_id",      "device_id",
                            "dedicated_vram_mb", "shared_memory_mb", "driver_version", "software"};
const size_t KEY_COUNT = sizeof KEYS / sizeof KEYS[0];

} // namespace

std::string report_problem(const std::string &report, const adapter_info *table, int n, bool names_utf8)
{
    const std::string text = names_utf8 ? report : utf8_of_latin1(report);
    json::value doc;
    std::string error;
    if (!json::parse(text, &doc, &error))
        return "not strict JSON: " + error;
    if (json::compact(doc) != text)
        return "not in compact form";
    if (!doc.is_object() || doc.size() != 1 || !doc.contains("adapters") || !doc["adapters"].is_array())
        return "not {\"adapters\":[...]}";
    const json::value &objects = doc["adapters"];
    if (objects.size() != (size_t)n)
        return std::to_string(objects.size()) + " objects for " + std::to_string(n) + " records";

    for (int i = 0; i < n; ++i) {
        const json::value &obj = objects[(size_t)i];
        const adapter_info &r = table[i];
        std::string where = "object " + std::to_string(i) + ": ";
        if (!obj.is_object() || obj.size() != KEY_COUNT)
            return where + "not an object of " + std::to_string(KEY_COUNT) + " members";
        size_t k = 0;
        for (auto m = obj.begin(); m != obj.end(); ++m, ++k)
            if (m.key() != KEYS[k])
                return where + "member " + std::to_string(k) + " is \"" + m.key() + "\"";

        const std::string problems[] = {
            number_problem(obj, "index", std::to_string(i)),
            obj.at("name").is_string() ? "" : "\"name\" is not a string",
            text_problem(obj, "vendor", expected_vendor(r.vendor_id)),
            number_problem(obj, "vendor_id", std::to_string(r.vendor_id)),
            number_problem(obj, "device_id", std::to_string(r.device_id)),
            number_problem(obj, "dedicated_vram_mb", std::to_string(r.dedicated_vram >> 20)),
            number_problem(obj, "shared_memory_mb", std::to_string(r.shared_memory >> 20)),
            text_problem(obj, "driver_version", r.driver_version),
            number_problem(obj, "software", std::to_string(r.software)),
        };
        for (const std::string &p : problems)
            if (!p.empty())
                return where + p;
        /* The name as the sanitising rules make it of the record's. */
        std::string name = obj.at("name").get<std::string>();
        std::string p = sanitized_name_problem(r.name, escaped(names_utf8 ? name : latin1_of_utf8(name)));
        if (!p.empty())
            return where + "\"name\" " + p;
    }
    return "";
}

std::string expected_name(const char16_t *d, size_t units)
{
    size_t n = 0;
    while (n < DESCRIPTION_UNITS && n < units && d[n])
        ++n;
    std::string out;
    for (size_t i = 0; i < n;) {
        bool pair = d[i] >= 0xD800 && d[i] <= 0xDBFF && i + 1 < n && d[i + 1] >= 0xDC00 && d[i + 1] <= 0xDFFF;
        size_t step = pair ? 2 : 1;
        std::string piece = fake::utf8_of(d + i, step);
        if (out.size() + piece.size() > NAME_SIZE - 1)
            break;
        out += piece;
        i += step;
    }
    return out;
}

adapter_info make_record(const std::string &name, uint32_t vendor_id, uint32_t device_id,
                            uint64_t dedicated_vram, uint64_t shared_memory, const std::string &driver_version,
                            int32_t software)
{
    adapter_info r;
    memset(&r, 0, sizeof r);
    memcpy(r.name, name.data(), name.size() < sizeof r.name - 1 ? name.size() : sizeof r.name - 1);
    memcpy(r.driver_version, driver_version.data(),
           driver_version.size() < sizeof r.driver_version - 1 ? driver_version.size() : sizeof r.driver_version - 1);
    r.vendor_id = vendor_id;
    r.device_id = device_id;
    r.dedicated_vram = dedicated_vram;
    r.shared_memory = shared_memory;
    r.software = software;
    return r;
}

} // namespace checks
