#ifndef BENCH_PLATFORM_H
#define BENCH_PLATFORM_H

#include <stdint.h>

/* Keeps a value the compiler must not drop. */
void bench_consume(uint64_t value);

#endif
