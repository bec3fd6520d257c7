/* The start-up code the MSVC C runtime would give a program or DLL, for
 * clang-cl and lld-link against MinGW-w64's msvcrt.dll import library on a
 * machine without Visual Studio's libraries. The toolchain file compiles this
 * once for each piece (STARTUP_PROGRAM, STARTUP_WPROGRAM, STARTUP_DLL,
 * STARTUP_COMMON, and STARTUP_DLLMAIN on ARM64),
 * into msvcstartup.lib: the linker takes a piece only where it is asked for,
 * so a DLL with its own entry point gets none of it. */
typedef struct {
    int new_mode;
} startup_info;
typedef int(__cdecl *onexit_fn)(void);
typedef void *module_handle;

__declspec(dllimport) int __cdecl __getmainargs(int *argc, char ***argv, char ***env, int glob,
                                                 startup_info *info);
__declspec(dllimport) int __cdecl __wgetmainargs(int *argc, unsigned short ***argv, unsigned short ***env,
                                                  int glob, startup_info *info);
__declspec(dllimport) void __cdecl exit(int code);
__declspec(dllimport) onexit_fn __cdecl _onexit(onexit_fn function);

int main(int argc, char **argv);
int wmain(int argc, unsigned short **argv);
int __stdcall DllMain(module_handle module, unsigned long reason, void *reserved);

#if defined(STARTUP_PROGRAM)
void mainCRTStartup(void);
void mainCRTStartup(void)
{
    int argc = 0;
    char **argv = 0, **env = 0;
    startup_info info = {0};
    __getmainargs(&argc, &argv, &env, 0, &info);
    exit(main(argc, argv));
}

#elif defined(STARTUP_WPROGRAM)
void wmainCRTStartup(void);
void wmainCRTStartup(void)
{
    int argc = 0;
    unsigned short **argv = 0, **env = 0;
    startup_info info = {0};
    __wgetmainargs(&argc, &argv, &env, 0, &info);
    exit(wmain(argc, argv));
}

#elif defined(STARTUP_DLL)
int __stdcall _DllMainCRTStartup(module_handle module, unsigned long reason, void *reserved);
int __stdcall _DllMainCRTStartup(module_handle module, unsigned long reason, void *reserved)
{
    return DllMain(module, reason, reserved);
}

#elif defined(STARTUP_DLLMAIN)
/* A DLL's DllMain when it has none of its own (MinGW-w64's libraries give
 * it on x64; on ARM64 this library is all there is). */
int __stdcall DllMain(module_handle module, unsigned long reason, void *reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}

#elif defined(STARTUP_COMMON)
/* Tells the linker that floating point is used; the runtime is msvcrt.dll's. */
int _fltused = 0x9875;

/* MinGW-w64's static helpers (libmingwex) register exit handlers. */
int __cdecl atexit(void (__cdecl *function)(void));
int __cdecl atexit(void (__cdecl *function)(void))
{
    return _onexit((onexit_fn)(void *)function) ? 0 : -1;
}

#if defined(__aarch64__)
/* Debian's aarch64 Wine is built as ELF libraries (Debian has no aarch64
 * PE cross compiler), and msvcrt.dll's functions that take a va_list read
 * it as Linux's AAPCS64 va_list, not as Windows' pointer to 8-byte slots:
 * a program's vprintf or _vsnprintf there reads garbage. Variadic calls do
 * agree for integer and pointer arguments (8-byte slots in x0 to x7, then
 * on the stack, in both), so these take a va_list's first slots and pass
 * them on to msvcrt's variadic functions: integer and pointer arguments
 * only (what the test programs format), at most FORWARDED_SLOTS.
 *
 * MinGW-w64's headers make snprintf and vsnprintf call __ms_vsnprintf of
 * libmingwex, which Debian has for x64 alone; vprintf would be msvcrt's
 * own. Both are here, with C99's result for the first: the length the
 * whole output would have, and the buffer always terminated. */
typedef __builtin_va_list va_list_t;
typedef unsigned long long slot;
#define FORWARDED_SLOTS 12
#define SLOTS(s) s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11]
__declspec(dllimport) int __cdecl printf(const char *format, ...);
__declspec(dllimport) int __cdecl _scprintf(const char *format, ...);
__declspec(dllimport) int __cdecl _snprintf(char *buffer, unsigned long long size, const char *format, ...);

static void read_slots(slot *slots, va_list_t args)
{
    for (int i = 0; i < FORWARDED_SLOTS; ++i)
        slots[i] = __builtin_va_arg(args, slot);
}

int __cdecl __ms_vsnprintf(char *buffer, unsigned long long size, const char *format, va_list_t args);
int __cdecl __ms_vsnprintf(char *buffer, unsigned long long size, const char *format, va_list_t args)
{
    slot s[FORWARDED_SLOTS];
    read_slots(s, args);
    int length = _scprintf(format, SLOTS(s));
    if (size > 0) {
        _snprintf(buffer, size, format, SLOTS(s));
        if (length < 0 || (unsigned long long)length >= size)
            buffer[size - 1] = '\0';
    }
    return length;
}

int __cdecl vprintf(const char *format, va_list_t args);
int __cdecl vprintf(const char *format, va_list_t args)
{
    slot s[FORWARDED_SLOTS];
    read_slots(s, args);
    return printf(format, SLOTS(s));
}
/* What a dllimport call of it goes through. */
void *__imp_vprintf = (void *)vprintf;

/* MinGW-w64's headers reach stdin, stdout and stderr through
 * __acrt_iob_func, which msvcrt.dll lacks (libmsvcrt adds it on x64):
 * msvcrt's FILE array, whose entries are 48 bytes on 64-bit Windows. */
#define MSVCRT_FILE_SIZE 48
__declspec(dllimport) char *__cdecl __iob_func(void);
void *__cdecl __acrt_iob_func(unsigned index);
void *__cdecl __acrt_iob_func(unsigned index)
{
    return __iob_func() + (unsigned long long)index * MSVCRT_FILE_SIZE;
}
/* What a dllimport call of it goes through. */
void *__imp___acrt_iob_func = (void *)__acrt_iob_func;

/* The stack probe for frames larger than a page, on ARM64: the size in
 * 16-byte units in x15, which it keeps, and the stack pointer unchanged;
 * it reads every page from the top down so the guard page moves in order. */
__asm__(".text\n"
        ".p2align 2\n"
        ".globl __chkstk\n"
        "__chkstk:\n"
        "  lsl x16, x15, #4\n"
        "  mov x17, sp\n"
        "1:\n"
        "  sub x17, x17, #0x1000\n"
        "  subs x16, x16, #0x1000\n"
        "  ldr xzr, [x17]\n"
        "  b.gt 1b\n"
        "  ret\n");
#else
/* The stack probe for frames larger than a page on x64 (size in rax): touches every
 * page from the top down so the guard page moves in order. MSVC code calls
 * it __chkstk; GCC-built MinGW-w64 code (libmingwex) ___chkstk_ms. */
__asm__(".text\n"
        ".globl __chkstk\n"
        ".globl ___chkstk_ms\n"
        "__chkstk:\n"
        "___chkstk_ms:\n"
        "  push %rcx\n"
        "  push %rax\n"
        "  lea 24(%rsp), %rcx\n"
        "1:\n"
        "  cmp $0x1000, %rax\n"
        "  jb 2f\n"
        "  sub $0x1000, %rcx\n"
        "  orl $0, (%rcx)\n"
        "  sub $0x1000, %rax\n"
        "  jmp 1b\n"
        "2:\n"
        "  sub %rax, %rcx\n"
        "  orl $0, (%rcx)\n"
        "  pop %rax\n"
        "  pop %rcx\n"
        "  ret\n");
#endif
#endif
