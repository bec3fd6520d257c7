#include "checks.h"

#include "fake_system.h"
#include "json_check.h"

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

std::string sanitized_name_problem(const char *in, const char *out_text)
{
    std::string out(out_text);
    if (out.size() > NAME_BUF_SIZE - 1)
        return "longer than 191 bytes";
    for (unsigned char b : out)
        if (b >= 0x01 && b <= 0x1F)
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

static std::string member_problem(const json::value &obj, const char *key, json::value::kind_t kind,
                                  const std::string &want)
{
    const json::value *v = obj.member(key);
    if (!v)
        return std::string("missing \"") + key + "\"";
    if (v->kind != kind)
        return std::string("wrong type of \"") + key + "\"";
    if (v->text != want)
        return std::string("\"") + key + "\" is " + v->text + ", expected " + want;
    return "";
}

std::string report_problem(const std::string &report, const adapter_info *table, int n, bool names_utf8)
{
    json::value doc;
    std::string error;
    if (!json::parse(report, &doc, &error))
        return "not strict JSON: " + error;
    if (names_utf8 && !json::valid_utf8(report))
        return "not valid UTF-8";
    if (json::compact(doc) != report)
        return "not in compact form";
    if (doc.kind != json::value::object || doc.members.size() != 1 || doc.members[0].first != "adapters" ||
        doc.members[0].second.kind != json::value::array)
        return "not {\"adapters\":[...]}";
    const std::vector<json::value> &objects = doc.members[0].second.items;
    if (objects.size() != (size_t)n)
        return std::to_string(objects.size()) + " objects for " + std::to_string(n) + " records";

    static const char *const keys[] = {"index",          "name",           "vendor",
                                       "vendor_id",      "device_id",      "dedicated_vram_mb",
                                       "shared_memory_mb", "driver_version", "software"};
    for (int i = 0; i < n; ++i) {
        const json::value &obj = objects[(size_t)i];
        const adapter_info &r = table[i];
        std::string where = "object " + std::to_string(i) + ": ";
        if (obj.kind != json::value::object || obj.members.size() != sizeof keys / sizeof keys[0])
            return where + "not an object of 9 members";
        for (size_t k = 0; k < sizeof keys / sizeof keys[0]; ++k)
            if (obj.members[k].first != keys[k])
                return where + "member " + std::to_string(k) + " is \"" + obj.members[k].first + "\"";

        char sanitized[NAME_BUF_SIZE];
        sanitize_name(r.name, sanitized);
        std::string name;
        unescape_name(sanitized, &name);
        const std::pair<const char *, std::pair<json::value::kind_t, std::string>> fields[] = {
            {"index", {json::value::number, std::to_string(i)}},
            {"name", {json::value::string, name}},
            {"vendor", {json::value::string, find_vendor(r.vendor_id)->name}},
            {"vendor_id", {json::value::number, std::to_string(r.vendor_id)}},
            {"device_id", {json::value::number, std::to_string(r.device_id)}},
            {"dedicated_vram_mb", {json::value::number, std::to_string(r.dedicated_vram >> 20)}},
            {"shared_memory_mb", {json::value::number, std::to_string(r.shared_memory >> 20)}},
            {"driver_version", {json::value::string, std::string(r.driver_version)}},
            {"software", {json::value::number, std::to_string(r.software)}},
        };
        for (const auto &f : fields) {
            std::string p = member_problem(obj, f.first, f.second.first, f.second.second);
            if (!p.empty())
                return where + p;
        }
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
