/*
 * The image's load configuration, for builds with Control Flow Guard and
 * the stack cookie.
 *
 * With a C runtime, the runtime brings this structure, the stack cookie and
 * the two guard pointers; the DLL links none, so it carries its own. The
 * linker finds the structure by its name, _load_config_used, points the
 * image's load configuration directory at it and fills the guard function
 * table. The loader then reads it as it reads any image's:
 *  - it replaces the cookie's default value with a random one before the
 *    DLL's entry point runs, and refuses an image whose cookie it can't
 *    find (when the subsystem version is 6.3 or later, which a host that
 *    embeds the library may well set);
 *  - a Windows that enforces the guard replaces the two pointers with its
 *    own check and dispatch routines. Until then (and on a Windows or a Wine
 *    that does not enforce it) they lead to a check that accepts every
 *    target and a dispatch that jumps to it, so calls behave as unguarded.
 *
 * The layout is IMAGE_LOAD_CONFIG_DIRECTORY64 as the PE format documents
 * it, up to the long jump target table: the headers this is built with do
 * not all declare the guard fields, so it is written out here.
 */
#include <stddef.h>
#include <stdint.h>
#ifdef _MSC_VER
/* The compiler's own, declared as <intrin.h> does: that header would clash
 * with the C runtime headers of some toolchains, and this file needs no
 * more of it. */
extern "C" __declspec(noreturn) void __fastfail(unsigned int code);
#pragma intrinsic(__fastfail)
#endif

extern "C" {

/* Defined by the linker when it builds the guard tables (absolute symbols
 * for the counts and flags, section addresses for the tables). */
extern char __guard_fids_table, __guard_fids_count, __guard_flags;
extern char __guard_iat_table, __guard_iat_count;
extern char __guard_longjmp_table, __guard_longjmp_count;

/* The stack cookie, under the name each compiler's stack protection reads
 * (cl and clang-cl /GS: __security_cookie; clang -fstack-protector for
 * windows-gnu: __stack_chk_guard). It must hold the default value the
 * loader looks for, and sit in writable data, since the loader writes the
 * random one over it. */
#define DEFAULT_SECURITY_COOKIE 0x00002B992DDFA232ull
#ifdef _MSC_VER
uintptr_t __security_cookie = DEFAULT_SECURITY_COOKIE;
#define SECURITY_COOKIE __security_cookie
#else
uintptr_t gpuinfo_security_cookie __asm__("__stack_chk_guard") = DEFAULT_SECURITY_COOKIE;
#define SECURITY_COOKIE gpuinfo_security_cookie
#endif

/* A smashed frame ends the process at once, as the runtimes do: no unwind,
 * no handler, nothing more run on a corrupt stack. */
#define FAST_FAIL_STACK_COOKIE_CHECK_FAILURE 2
#ifdef _MSC_VER
/* Called with the frame's cookie (xored with the stack pointer) in rcx, or
 * x0 on ARM64. */
void __security_check_cookie(uintptr_t cookie);
void __security_check_cookie(uintptr_t cookie)
{
    if (cookie != __security_cookie)
        __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}
#else
[[noreturn]] void __stack_chk_fail(void);
void __stack_chk_fail(void)
{
    /* __fastfail: the code in rcx and int 0x29 on x64, in w0 and
     * brk #0xF003 on ARM64. */
#if defined(__aarch64__)
    register unsigned long code __asm__("x0") = FAST_FAIL_STACK_COOKIE_CHECK_FAILURE;
    __asm__ volatile("brk #0xf003" : : "r"(code) : "memory");
#else
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
#endif
    __builtin_unreachable();
}
#endif

/* Called with the target in rcx (x15 on ARM64) before a checked call:
 * accepts it, leaving every argument register as it was. */
static void guard_check_icall(void) {}

/* Jumps to the target in rax (x15 on ARM64), in place of a call. Declared
 * as data, never as a function: a function whose address is taken would be
 * listed in the guard function table, and a guarded call could then land on
 * an instruction that jumps anywhere. cl has no inline assembly on x64 or
 * ARM64, so for cl the instruction comes from guard_dispatch.asm (ml64) or
 * guard_dispatch_arm64.asm (armasm64); clang-cl takes the x64 one from
 * llvm-ml, and on ARM64, where LLVM has no armasm64, the inline assembly
 * below. */
extern const unsigned char gpuinfo_guard_dispatch_icall[];
#if defined(__aarch64__) && defined(__clang__)
__asm__(".text\n"
        ".p2align 2\n"
        ".globl gpuinfo_guard_dispatch_icall\n"
        "gpuinfo_guard_dispatch_icall:\n"
        "  .inst 0xD61F01E0\n"); /* br x15 */
#elif !defined(_MSC_VER)
__asm__(".text\n"
        ".globl gpuinfo_guard_dispatch_icall\n"
        "gpuinfo_guard_dispatch_icall:\n"
        "  .byte 0xFF, 0xE0\n"); /* jmp rax */
#endif

/* In a read-only section of their own, as the runtimes keep them: the
 * loader makes it writable only while it sets them. */
#ifdef _MSC_VER
#pragma section(".00cfg", read)
#define GUARD_POINTER extern __declspec(allocate(".00cfg"))
#else
#define GUARD_POINTER extern __attribute__((section(".00cfg")))
#endif
GUARD_POINTER void (*const __guard_check_icall_fptr)(void) = guard_check_icall;
GUARD_POINTER const unsigned char *const __guard_dispatch_icall_fptr = gpuinfo_guard_dispatch_icall;

struct load_config {
    uint32_t size;
    uint32_t time_date_stamp;
    uint16_t major_version, minor_version;
    uint32_t global_flags_clear, global_flags_set;
    uint32_t critical_section_default_timeout;
    uint64_t decommit_free_block_threshold, decommit_total_free_threshold;
    uint64_t lock_prefix_table;
    uint64_t maximum_allocation_size, virtual_memory_threshold;
    uint64_t process_affinity_mask;
    uint32_t process_heap_flags;
    uint16_t csd_version, dependent_load_flags;
    uint64_t edit_list;
    uint64_t security_cookie;
    uint64_t se_handler_table, se_handler_count;
    uint64_t guard_cf_check_function_pointer;
    uint64_t guard_cf_dispatch_function_pointer;
    uint64_t guard_cf_function_table, guard_cf_function_count;
    /* GuardFlags (32 bits) and, above it, the code integrity block's
     * Flags and Catalog (16 bits each, zero): one 64-bit word, so that
     * the linker's absolute __guard_flags lands in it by a plain 64-bit
     * relocation, which a static initialiser can carry. */
    uint64_t guard_flags;
    uint32_t code_integrity_catalog_offset, code_integrity_reserved;
    uint64_t guard_address_taken_iat_entry_table, guard_address_taken_iat_entry_count;
    uint64_t guard_long_jump_target_table, guard_long_jump_target_count;
};
static_assert(sizeof(load_config) == 192, "IMAGE_LOAD_CONFIG_DIRECTORY64 up to the long jump table");
static_assert(offsetof(load_config, security_cookie) == 88, "SecurityCookie at its documented offset");
static_assert(offsetof(load_config, guard_flags) == 144, "GuardFlags at its documented offset");

#define ADDRESS(symbol) reinterpret_cast<uint64_t>(&(symbol))
extern const load_config _load_config_used;
const load_config _load_config_used = {
    sizeof(load_config), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    ADDRESS(SECURITY_COOKIE),
    0, 0,
    ADDRESS(__guard_check_icall_fptr),
    ADDRESS(__guard_dispatch_icall_fptr),
    ADDRESS(__guard_fids_table), ADDRESS(__guard_fids_count),
    ADDRESS(__guard_flags),
    0, 0,
    ADDRESS(__guard_iat_table), ADDRESS(__guard_iat_count),
    ADDRESS(__guard_longjmp_table), ADDRESS(__guard_longjmp_count),
};
}
