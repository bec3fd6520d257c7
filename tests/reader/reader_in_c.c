/* The reader compiled as C (C99), so the table test runs both builds of the
 * header on every case. */
#include "gpuinfo_report.h"

int read_report_in_c(const char *json, gpuinfo_adapter *out, int capacity, size_t *error_offset);

int read_report_in_c(const char *json, gpuinfo_adapter *out, int capacity, size_t *error_offset)
{
    return gpuinfo_read_report(json, out, capacity, error_offset);
}
