/* Checks shared by the unit tests and the fuzz target. Each returns "" when
 * the library's output is right and otherwise says what is wrong, so the
 * unit tests can report it and the fuzz target can abort on it. None asks
 * the library's own steps what to expect: the expectations come from the
 * shared test data and from rules written out here. */
#ifndef QUILLMAR_NATIVE_CHECKS_H
#define QUILLMAR_NATIVE_CHECKS_H

#include "product_access.h"

#include <stdint.h>

#include <string>

namespace checks {

/* The input name as sanitize_name reads it: up to its NUL, at most 128 bytes. */
std::string name_bytes(const char *name);

/* JSON string content with its backslash escapes undone; "" if it holds an
 * escape other than \" or \\ or a bare quote, which a name must never. */
bool unescape_name(const std::string &escaped, std::string *out);

/* `out` is what sanitize_name made of `in`: at most 191 bytes, no byte
 * 0x00-0x1F, whole escape pairs only, no trailing space, the longest prefix
 * of the cleaned name that fits (less a cut UTF-8 sequence and trailing
 * spaces), and valid UTF-8 whenever the name was. */
std::string sanitized_name_problem(const char *in, const std::string &out);

/* The vendor text the report must give for `vendor_id`: its row of
 * tests/data/vendor_cases.h, "Unknown" for an id not there. */
std::string expected_vendor(uint32_t vendor_id);

/* `report` follows rules R1 to R5 of docs/report.md: strict, compact JSON
 * holding exactly {"adapters":[...]} with one object per record, in order,
 * every number and the driver version equal to the record's, the vendor
 * text expected_vendor's and the name what sanitized_name_problem accepts
 * for the record's name. With names_utf8 the whole report must also be
 * valid UTF-8; without, names may hold any byte but NUL and controls. */
std::string report_problem(const std::string &report, const adapter_info *table, int n, bool names_utf8);

/* What convert_name must make of a description of `units` UTF-16 units: the
 * UTF-8 of as many whole characters (up to a NUL, at most 128 units, a lone
 * surrogate as U+FFFD) as fit in 127 bytes. */
std::string expected_name(const char16_t *units, size_t n);

/* Builds a record; the strings are cut to fit as the library's own are. */
adapter_info make_record(const std::string &name, uint32_t vendor_id, uint32_t device_id,
                            uint64_t dedicated_vram, uint64_t shared_memory, const std::string &driver_version,
                            int32_t software);

} // namespace checks

#endif
