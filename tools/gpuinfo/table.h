/* The adapters as a table, one line each, the name last (as ps puts the
 * command last), so a name of any length or script never pushes the other
 * columns out of line. */
#ifndef GPUINFO_TOOL_TABLE_H
#define GPUINFO_TOOL_TABLE_H

#include "gpuinfo_report.h"

enum { TABLE_MAX_ADAPTERS = 16 }; /* what the library reports at most */

/* The table of adapters[0..count-1], count at most TABLE_MAX_ADAPTERS, as
 * UTF-8 into `out` of `size` bytes. Returns its length. */
size_t table_format(const gpuinfo_adapter *adapters, int count, char *out, size_t size);

#endif
