/* The judge of the library's reports (rules R1 and R2 of docs/report.md;
 * checks::report_problem adds the rest), on nlohmann's JSON reader with the
 * parts of strictness it leaves to its user: one value and nothing but
 * whitespace around it, no byte order mark, no duplicate keys, at most
 * MAX_DEPTH levels. The reader itself refuses leading zeros, control
 * characters, unknown escapes, lone surrogate escapes and ill-formed UTF-8
 * inside strings. Members keep their order (ordered_json), so dump() gives
 * the compact form to compare a report with. */
#ifndef QUILLMAR_NATIVE_JSON_CHECK_H
#define QUILLMAR_NATIVE_JSON_CHECK_H

#include <nlohmann/json.hpp>

#include <string>

namespace json {

using value = nlohmann::ordered_json;

/* Deep enough for any report; a document nested deeper is not one. */
const int MAX_DEPTH = 64;

/* False with the reason in *error (and the byte offset where the reader
 * stopped) if `text` is not exactly one strict JSON document. */
bool parse(const std::string &text, value *out, std::string *error);

/* The compact serialisation of `v`: no whitespace, and in strings '"' and
 * '\\' escaped, control characters as \b \f \n \r \t or \u00xx, every other
 * character as it is (Python's json.dumps with separators (",", ":") and
 * ensure_ascii=False, for the integers and strings of a report). */
std::string compact(const value &v);

/* Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. */
bool valid_utf8(const std::string &bytes);

} // namespace json

#endif
