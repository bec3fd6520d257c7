/* cl's string-instruction intrinsics, for the native builds that compile the
 * library's cl-only code on purpose (GPUINFO_CL_PATHS): the same rep movsb
 * and rep stosb that cl emits for them, with cl's signatures. */
#ifndef WINSTUB_INTRIN_H
#define WINSTUB_INTRIN_H

#include <stddef.h>

static inline void __movsb(unsigned char *destination, const unsigned char *source, size_t count)
{
    __asm__ volatile("rep movsb" : "+D"(destination), "+S"(source), "+c"(count) : : "memory");
}

static inline void __stosb(unsigned char *destination, unsigned char data, size_t count)
{
    __asm__ volatile("rep stosb" : "+D"(destination), "+c"(count) : "a"(data) : "memory");
}

#endif
