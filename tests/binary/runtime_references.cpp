/* Negative fixtures for the objects check: each is built, as the library's
 * own source is, into an object that must reference something only a C
 * runtime provides. One case a build, chosen by a definition. */
#include <stddef.h>
#include <string.h>

#if defined(STACK_PROBE)
/* A frame past the 4 KiB guard page: the compiler probes it page by page. */
extern "C" size_t gpuinfo_big_frame(size_t i);
extern "C" size_t gpuinfo_big_frame(size_t i)
{
    volatile unsigned char block[3 * 4096];
    block[i % sizeof block] = 1;
    return block[(i * 7) % sizeof block];
}
#elif defined(SECURITY_COOKIE)
/* A local array under a stack protector (built with /GS or
 * -fstack-protector-all): the frame is checked against the cookie. */
extern "C" size_t gpuinfo_guarded(size_t i);
extern "C" size_t gpuinfo_guarded(size_t i)
{
    volatile unsigned char text[64];
    text[i % sizeof text] = 1;
    return text[0];
}
#elif defined(CRT_COPY)
/* A copy whose size is known only at run time is a memcpy call. */
extern "C" void gpuinfo_copy(char *out, const char *in, size_t n);
extern "C" void gpuinfo_copy(char *out, const char *in, size_t n)
{
    memcpy(out, in, n);
}
#else
#error "define STACK_PROBE, SECURITY_COOKIE or CRT_COPY"
#endif
