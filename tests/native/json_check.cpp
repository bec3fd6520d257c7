#include "json_check.h"

#include <set>
#include <vector>

namespace json {

namespace {

/* What the reader leaves to its caller, seen through its parse callback:
 * every event comes with the number of containers around it. */
struct strictness {
    std::vector<std::set<std::string>> keys; /* of each object still open */
    std::string problem;

    bool event(int depth, value::parse_event_t event, const value &parsed)
    {
        if (depth > MAX_DEPTH && problem.empty())
            problem = "nested too deep";
        switch (event) {
        case value::parse_event_t::object_start:
            keys.emplace_back();
            break;
        case value::parse_event_t::object_end:
            keys.pop_back();
            break;
        case value::parse_event_t::key:
            if (!keys.back().insert(parsed.get<std::string>()).second && problem.empty())
                problem = "duplicate key \"" + parsed.get<std::string>() + "\"";
            break;
        default:
            break;
        }
        return true;
    }
};

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

} // namespace

bool parse(const std::string &text, value *out, std::string *error)
{
    /* The reader passes over a byte order mark; RFC 8259 text has none. */
    if (text.compare(0, sizeof BYTE_ORDER_MARK - 1, BYTE_ORDER_MARK) == 0) {
        *error = "byte order mark at byte 0";
        return false;
    }
    strictness strict;
    try {
        *out = value::parse(
            text, [&strict](int depth, value::parse_event_t event, value &parsed) {
                return strict.event(depth, event, parsed);
            });
    } catch (const value::parse_error &e) {
        *error = std::string(e.what()) + " at byte " + std::to_string(e.byte);
        return false;
    }
    if (!strict.problem.empty()) {
        *error = strict.problem;
        return false;
    }
    return true;
}

std::string compact(const value &v)
{
    return v.dump();
}

bool valid_utf8(const std::string &bytes)
{
    /* dump() checks every string it writes: it either drops or replaces
     * ill-formed UTF-8, so the two agree only on well-formed text (and
     * without an exception, which the fuzz target would pay for per name). */
    const value text(bytes);
    return text.dump(-1, ' ', false, value::error_handler_t::ignore) ==
           text.dump(-1, ' ', false, value::error_handler_t::replace);
}

} // namespace json
