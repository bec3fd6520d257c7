#include "json_check.h"

#include <string.h>

namespace json {

const value *value::member(const std::string &key) const
{
    for (const auto &m : members)
        if (m.first == key)
            return &m.second;
    return nullptr;
}

namespace {

void append_string(std::string *out, const std::string &s)
{
    static const char hex[] = "0123456789abcdef";
    *out += '"';
    for (unsigned char c : s) {
        const char *escape = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\b' ? "\\b" : c == '\f' ? "\\f"
                           : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        if (escape)
            *out += escape;
        else if (c < 0x20)
            *out += std::string("\\u00") + hex[c >> 4] + hex[c & 15];
        else
            *out += (char)c;
    }
    *out += '"';
}

void append_compact(std::string *out, const value &v)
{
    switch (v.kind) {
    case value::null_value: *out += "null"; break;
    case value::boolean: *out += v.truth ? "true" : "false"; break;
    case value::number: *out += v.text; break;
    case value::string: append_string(out, v.text); break;
    case value::array:
        *out += '[';
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (i)
                *out += ',';
            append_compact(out, v.items[i]);
        }
        *out += ']';
        break;
    case value::object:
        *out += '{';
        for (size_t i = 0; i < v.members.size(); ++i) {
            if (i)
                *out += ',';
            append_string(out, v.members[i].first);
            *out += ':';
            append_compact(out, v.members[i].second);
        }
        *out += '}';
        break;
    }
}

/* Deep enough for any report; stops a hostile document from exhausting the
 * stack. */
const int MAX_DEPTH = 64;

class reader {
public:
    explicit reader(const std::string &t) : t_(t) {}

    bool document(value *out, std::string *error)
    {
        skip_space();
        bool ok = parse_value(out, 0) && (skip_space(), at_ == t_.size() || fail("bytes after the document"));
        if (!ok && error)
            *error = why_ + " at byte " + std::to_string(at_);
        return ok;
    }

private:
    const std::string &t_;
    size_t at_ = 0;
    std::string why_;

    bool fail(const char *why)
    {
        if (why_.empty())
            why_ = why;
        return false;
    }
    int peek() const { return at_ < t_.size() ? (unsigned char)t_[at_] : -1; }
    void skip_space()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++at_;
    }
    bool literal(const char *word)
    {
        size_t n = strlen(word);
        if (t_.compare(at_, n, word) != 0)
            return fail("unknown literal");
        at_ += n;
        return true;
    }

    bool parse_value(value *out, int depth)
    {
        if (depth > MAX_DEPTH)
            return fail("nested too deep");
        switch (peek()) {
        case '{':
            return parse_object(out, depth);
        case '[':
            return parse_array(out, depth);
        case '"':
            out->kind = value::string;
            return parse_string(&out->text);
        case 't':
            out->kind = value::boolean;
            out->truth = true;
            return literal("true");
        case 'f':
            out->kind = value::boolean;
            return literal("false");
        case 'n':
            out->kind = value::null_value;
            return literal("null");
        default:
            out->kind = value::number;
            return parse_number(&out->text);
        }
    }

    bool parse_object(value *out, int depth)
    {
        out->kind = value::object;
        ++at_;
        skip_space();
        if (peek() == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            skip_space();
            if (peek() != '"')
                return fail("object key expected");
            std::string key;
            if (!parse_string(&key))
                return false;
            if (out->member(key))
                return fail("duplicate key");
            skip_space();
            if (peek() != ':')
                return fail("':' expected");
            ++at_;
            skip_space();
            value v;
            if (!parse_value(&v, depth + 1))
                return false;
            out->members.emplace_back(key, std::move(v));
            skip_space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == '}') {
                ++at_;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    bool parse_array(value *out, int depth)
    {
        out->kind = value::array;
        ++at_;
        skip_space();
        if (peek() == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            skip_space();
            value v;
            if (!parse_value(&v, depth + 1))
                return false;
            out->items.push_back(std::move(v));
            skip_space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == ']') {
                ++at_;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    static bool is_digit(int c) { return c >= '0' && c <= '9'; }

    bool digits()
    {
        if (!is_digit(peek()))
            return fail("digit expected");
        while (is_digit(peek()))
            ++at_;
        return true;
    }

    bool parse_number(std::string *text)
    {
        size_t start = at_;
        if (peek() == '-')
            ++at_;
        if (peek() == '0') {
            ++at_;
            if (is_digit(peek()))
                return fail("leading zero");
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.') {
            ++at_;
            if (!digits())
                return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-')
                ++at_;
            if (!digits())
                return false;
        }
        *text = t_.substr(start, at_ - start);
        return true;
    }

    bool hex4(unsigned *out)
    {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            int c = peek();
            unsigned d;
            if (c >= '0' && c <= '9')
                d = (unsigned)(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = (unsigned)(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                d = (unsigned)(c - 'A' + 10);
            else
                return fail("four hex digits expected");
            v = v * 16 + d;
            ++at_;
        }
        *out = v;
        return true;
    }

    static void put_utf8(std::string *out, unsigned c)
    {
        if (c < 0x80) {
            *out += (char)c;
        } else if (c < 0x800) {
            *out += (char)(0xC0 | c >> 6);
            *out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += (char)(0xE0 | c >> 12);
            *out += (char)(0x80 | (c >> 6 & 0x3F));
            *out += (char)(0x80 | (c & 0x3F));
        } else {
            *out += (char)(0xF0 | c >> 18);
            *out += (char)(0x80 | (c >> 12 & 0x3F));
            *out += (char)(0x80 | (c >> 6 & 0x3F));
            *out += (char)(0x80 | (c & 0x3F));
        }
    }

    bool parse_string(std::string *out)
    {
        ++at_; /* the opening quote */
        for (;;) {
            int c = peek();
            if (c < 0)
                return fail("unterminated string");
            ++at_;
            if (c == '"')
                return true;
            if (c < 0x20)
                return fail("control character in string");
            if (c != '\\') {
                *out += (char)c;
                continue;
            }
            int e = peek();
            ++at_;
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned u;
                if (!hex4(&u))
                    return false;
                if (u >= 0xDC00 && u <= 0xDFFF)
                    return fail("lone low surrogate escape");
                if (u >= 0xD800 && u <= 0xDBFF) {
                    unsigned low;
                    if (peek() != '\\' || (++at_, peek() != 'u'))
                        return fail("lone high surrogate escape");
                    ++at_;
                    if (!hex4(&low))
                        return false;
                    if (low < 0xDC00 || low > 0xDFFF)
                        return fail("lone high surrogate escape");
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                }
                put_utf8(out, u);
                break;
            }
            default:
                return fail("unknown escape");
            }
        }
    }
};

} // namespace

bool parse(const std::string &text, value *out, std::string *error)
{
    *out = value();
    return reader(text).document(out, error);
}

std::string compact(const value &v)
{
    std::string out;
    append_compact(&out, v);
    return out;
}

bool valid_utf8(const std::string &bytes)
{
    size_t i = 0, n = bytes.size();
    while (i < n) {
        unsigned char b = (unsigned char)bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int more;
        unsigned lo = 0x80, hi = 0xBF; /* allowed range of the second byte */
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0)
                lo = 0xA0; /* overlong */
            if (b == 0xED)
                hi = 0x9F; /* surrogates */
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0)
                lo = 0x90; /* overlong */
            if (b == 0xF4)
                hi = 0x8F; /* past U+10FFFF */
        } else {
            return false;
        }
        if (n - i - 1 < (size_t)more)
            return false;
        unsigned char second = (unsigned char)bytes[i + 1];
        if (second < lo || second > hi)
            return false;
        for (int k = 2; k <= more; ++k)
            if (((unsigned char)bytes[i + (size_t)k] & 0xC0) != 0x80)
                return false;
        i += (size_t)more + 1;
    }
    return true;
}

} // namespace json
