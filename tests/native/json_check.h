/* A strict RFC 8259 reader for checking the library's reports (rules R1 and
 * R2 of docs/report.md; checks::report_problem adds the rest): one value and
 * nothing but whitespace around it, no leading zeros, no control characters
 * or unknown escapes in strings, no lone surrogate escapes, no duplicate keys.
 * Numbers are kept as their text so 64-bit values compare exactly. Bytes of
 * 0x80 and up inside strings are passed through; valid_utf8 judges them. */
#ifndef QUILLMAR_NATIVE_JSON_CHECK_H
#define QUILLMAR_NATIVE_JSON_CHECK_H

#include <string>
#include <utility>
#include <vector>

namespace json {

struct value {
    enum kind_t { null_value, boolean, number, string, array, object } kind = null_value;
    bool truth = false;
    std::string text; /* a number as written, or a string's decoded bytes */
    std::vector<value> items;
    std::vector<std::pair<std::string, value>> members;

    const value *member(const std::string &key) const;
};

/* False with the reason and byte offset in *error if `text` is not exactly
 * one JSON document. */
bool parse(const std::string &text, value *out, std::string *error);

/* The compact serialisation of `v`: no whitespace, numbers as written, and
 * in strings '"' and '\\' escaped, control characters as \b \f \n \r \t or
 * \u00XX, every other byte as it is (as Python's json.dumps prints it with
 * separators (",", ":") and ensure_ascii=False). */
std::string compact(const value &v);

/* Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. */
bool valid_utf8(const std::string &bytes);

} // namespace json

#endif
