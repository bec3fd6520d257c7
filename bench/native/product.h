/* The library's report code on the stand-in platform of stand_in.h, reached
 * through its internal steps (src/gpuinfo_internal.h). */
#ifndef BENCH_PRODUCT_H
#define BENCH_PRODUCT_H

/* Fills the record table with the library's own enumeration over the test
 * double's "max16" preset. Returns how many it filled. */
int bench_fill_max16(void);
/* format_report over that table; returns the report. */
const char *bench_format_max16(void);
/* sanitize_name over the first record's name; returns the escaped name. */
const char *bench_sanitize_max(void);

/* The exported calls and the bare DXGI walk, on the stand-in platform. */
const char *bench_get_json(void);
int bench_adapter_count(void);
int bench_floor(void);

#endif
