/* A few helpers shared by the Windows test programs: checks that name the
 * failing line and table row, and loaders for the library under test and
 * for the dxgi.dll test double. Each program ends with a line
 * "N passed, N failed" and exits non-zero on any failure.
 *
 * A program reaches the double in one of two ways: through the test seam
 * (harness_use_seam before load_gpuinfo), which works on any Windows, or,
 * for the tests that go through the real system directory, as the
 * system32\dxgi.dll of a private Wine prefix. */
#ifndef HARNESS_H
#define HARNESS_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_dxgi.h"
#include "dxgi_seam.h"

static int harness_passed, harness_failed;
static const char *harness_row; /* label of the table row being checked */

static inline void harness_report(int line, int cond, const char *format, ...)
{
    if (cond) {
        ++harness_passed;
        return;
    }
    ++harness_failed;
    va_list args;
    va_start(args, format);
    /* The line is in the program's own source, named after the program. */
    char program[MAX_PATH];
    DWORD len = GetModuleFileNameA(NULL, program, MAX_PATH);
    const char *base = program + len;
    while (base > program && base[-1] != '\\')
        --base;
    printf("%.*s.c:%d: %s%s%s", (int)strcspn(base, "."), base, line, harness_row ? "[" : "", harness_row ? harness_row : "",
           harness_row ? "] " : "");
    vprintf(format, args);
    printf("\n");
    va_end(args);
    fflush(stdout);
}

#define ok(cond, ...) harness_report(__LINE__, (cond) ? 1 : 0, __VA_ARGS__)
#define check_int(got, want) check_int_(__LINE__, #got, (long long)(got), (long long)(want))
#define check_str(got, want) check_str_(__LINE__, #got, (got), (want))

static inline void check_int_(int line, const char *what, long long got, long long want)
{
    harness_report(line, got == want, "%s is %lld, expected %lld", what, got, want);
}

static inline void check_str_(int line, const char *what, const char *got, const char *want)
{
    int same = got && want && !strcmp(got, want);
    harness_report(line, same || (!got && !want), "%s is \"%s\", expected \"%s\"", what, got ? got : "(null)",
                   want ? want : "(null)");
}

static inline int harness_finish(void)
{
    printf("%d passed, %d failed\n", harness_passed, harness_failed);
    fflush(stdout);
    return harness_failed ? 1 : 0;
}

static inline void harness_fatal(const char *what)
{
    printf("fatal: %s (error %lu)\n", what, (unsigned long)GetLastError());
    printf("%d passed, %d failed\n", harness_passed, harness_failed + 1);
    fflush(stdout);
    exit(2);
}

/* Wine answers to its own name in ntdll; Windows doesn't. */
static inline int harness_under_wine(void)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

/* ---- The library under test, loaded the way hosts load it ------------- */

struct gpuinfo_api {
    HMODULE module;
    const char *(*version)(void);
    const char *(*last_error)(void);
    const char *(*get_json)(void);
    int (*adapter_count)(void);
    int (*vram_mb)(int);
};

#define GPUINFO_DLL "quillmar-dxgi-gpu-info.dll"

/* Directory of this program, with its trailing backslash. */
static inline void harness_program_dir(char *dir, DWORD size)
{
    DWORD len = GetModuleFileNameA(NULL, dir, size);
    while (len > 0 && dir[len - 1] != '\\')
        --len;
    dir[len] = '\0';
}

static inline FARPROC harness_proc(HMODULE module, const char *name)
{
    FARPROC proc = GetProcAddress(module, name);
    if (!proc)
        harness_fatal(name);
    return proc;
}

/* GetProcAddress's result, stored in a function pointer of the right type. */
#define LOAD_PROC(dst, module, name) harness_store_proc(&(dst), sizeof(dst), harness_proc((module), (name)))
static inline void harness_store_proc(void *dst, size_t size, FARPROC proc)
{
    if (size != sizeof proc)
        harness_fatal("function pointer size");
    memcpy(dst, &proc, size);
}

/* -1: the library finds dxgi.dll in the system directory, as it does for
 * hosts; otherwise the seam's mode, installed by every load_gpuinfo. */
static int harness_seam = -1;
static inline void harness_use_seam(enum dxgi_seam_mode mode)
{
    harness_seam = (int)mode;
}

static inline void load_gpuinfo(struct gpuinfo_api *api)
{
    char path[MAX_PATH];
    harness_program_dir(path, MAX_PATH - sizeof GPUINFO_DLL);
    strcat(path, GPUINFO_DLL);
    api->module = LoadLibraryA(path);
    if (!api->module)
        harness_fatal("LoadLibrary " GPUINFO_DLL);
    LOAD_PROC(api->version, api->module, "gpuinfo_version");
    LOAD_PROC(api->last_error, api->module, "gpuinfo_last_error");
    LOAD_PROC(api->get_json, api->module, "gpuinfo_get_json");
    LOAD_PROC(api->adapter_count, api->module, "gpuinfo_adapter_count");
    LOAD_PROC(api->vram_mb, api->module, "gpuinfo_vram_mb");
    if (harness_seam >= 0 && !dxgi_seam_install(api->module, (enum dxgi_seam_mode)harness_seam))
        harness_fatal("install the dxgi.dll seam in " GPUINFO_DLL);
}

/* ---- The test double, the very module the library loads --------------- */
/* Beside this program when the seam hands it out, else system32\dxgi.dll. */

struct fake_api {
    fake_dxgi_set_scenario_fn set_scenario;
    fake_dxgi_get_stats_fn get_stats;
    fake_dxgi_preset_fn preset;
};

static inline void load_fake(struct fake_api *fake)
{
    char path[MAX_PATH];
    if (harness_seam >= 0) {
        dxgi_seam_double_path(DXGI_SEAM_DOUBLE_FILE, path);
    } else {
        UINT len = GetSystemDirectoryA(path, MAX_PATH - 16);
        if (len == 0)
            harness_fatal("GetSystemDirectory");
        strcat(path, "\\dxgi.dll");
    }
    HMODULE module = LoadLibraryA(path);
    if (!module)
        harness_fatal("LoadLibrary of the dxgi.dll test double");
    LOAD_PROC(fake->set_scenario, module, "fake_dxgi_set_scenario");
    LOAD_PROC(fake->get_stats, module, "fake_dxgi_get_stats");
    LOAD_PROC(fake->preset, module, "fake_dxgi_preset");
}

/* Every enumeration must hand back every reference it took. */
#define check_balanced(fake) check_balanced_(__LINE__, (fake))
static inline void check_balanced_(int line, const struct fake_api *fake)
{
    struct fake_stats s;
    fake->get_stats(&s);
    harness_report(line, s.live_refs == 0, "%d references still held", s.live_refs);
    harness_report(line, s.over_releases == 0, "%d releases too many", s.over_releases);
    harness_report(line, s.unexpected_calls == 0, "%d unexpected calls", s.unexpected_calls);
}

/* Appends a report to reports-<program>.jsonl in the working directory
 * (emptied by the program's first report), where a later test checks every
 * line with a strict JSON parser and as UTF-8. */
static inline void log_report(const char *report)
{
    static int started;
    if (!report)
        return;
    char program[MAX_PATH], name[MAX_PATH + 32];
    DWORD len = GetModuleFileNameA(NULL, program, MAX_PATH);
    const char *base = program + len;
    while (base > program && base[-1] != '\\')
        --base;
    snprintf(name, sizeof name, "reports-%.*s.jsonl", (int)strcspn(base, "."), base);
    FILE *f = fopen(name, started ? "ab" : "wb");
    if (!f)
        harness_fatal("open the report log");
    started = 1;
    fputs(report, f);
    fputc('\n', f);
    fclose(f);
}

/* A description from ASCII text, for scenarios written inline. */
static inline void set_ascii(WCHAR *description, const char *text)
{
    size_t i = 0;
    for (; text[i] && i + 1 < FAKE_DXGI_DESCRIPTION_UNITS; ++i)
        description[i] = (WCHAR)(unsigned char)text[i];
    description[i] = 0;
}

#endif
