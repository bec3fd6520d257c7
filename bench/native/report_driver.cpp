/* Builds the report of sixteen maximal records N times, for counting
 * instructions under callgrind: the count of a run with N = 0 is the
 * program's own start and end, taken off by run.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_dxgi.h"
#include "product.h"
#include "reports.h"

int main(int argc, char **argv)
{
    long n = argc > 1 ? atol(argv[1]) : 0;
    if (bench_fill_max16() != FAKE_MAX16_ADAPTERS) {
        fprintf(stderr, "the max16 scenario did not give %d records\n", (int)FAKE_MAX16_ADAPTERS);
        return 1;
    }
    size_t total = 0;
    for (long i = 0; i < n; ++i)
        total += strlen(bench_format_max16());
    printf("%ld reports, %zu bytes\n", n, total);
    return 0;
}
