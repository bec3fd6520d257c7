/* The library's internal steps (src/gpuinfo_internal.h) as the native tests
 * run them: on heap tables of exactly the size in use, so AddressSanitizer
 * reports any access past them. */
#ifndef QUILLMAR_NATIVE_PRODUCT_ACCESS_H
#define QUILLMAR_NATIVE_PRODUCT_ACCESS_H

#include "gpuinfo_internal.h"

#include <vector>

namespace product {

/* Runs enum_adapters into a table of exactly MAX_ADAPTERS records, filled
 * with garbage first so a record the library forgets to clear shows, and
 * returns its result with the records it filled. Without `texts`, as the
 * counting calls run it. */
int enum_adapters(std::vector<adapter_info> *out, bool texts = true);

/* format_report over a copy of table[0..n-1] of exactly n records. */
const char *format_report(const adapter_info *table, int n);

} // namespace product

#endif
