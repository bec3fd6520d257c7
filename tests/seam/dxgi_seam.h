/* The test seam through which a test host hands the library under test the
 * dxgi.dll test double, on any Windows and without touching the system
 * directory: it redirects the library's own import of LoadLibraryExA (its
 * import address table entry, in this process only) to a function here,
 * which answers the library's request for <system directory>\dxgi.dll with
 * the double, with a dxgi.dll lacking CreateDXGIFactory, or with "not found".
 * Any other module the library asks for is loaded as usual. Nothing of this
 * is in the shipped DLL: the seam lives in the test host. */
#ifndef DXGI_SEAM_H
#define DXGI_SEAM_H

#include <windows.h>

/* File names of the doubles, looked for beside the module holding the seam
 * (the test program, or dxgi_seam.dll for hosts that load it by FFI). */
#define DXGI_SEAM_DOUBLE_FILE "fake_dxgi.dll"
#define DXGI_SEAM_NO_ENTRY_FILE "fake_dxgi_no_entry.dll"

enum dxgi_seam_mode {
    DXGI_SEAM_DOUBLE,   /* the test double (fake_dxgi.dll) */
    DXGI_SEAM_NO_ENTRY, /* a dxgi.dll without CreateDXGIFactory */
    DXGI_SEAM_MISSING,  /* dxgi.dll can't be loaded: NULL, ERROR_MOD_NOT_FOUND */
};

struct dxgi_seam_stats {
    int dxgi_requests;          /* requests for dxgi.dll answered by the seam */
    char last_path[MAX_PATH];   /* what the library asked for, verbatim */
    DWORD last_flags;
};

#ifdef __cplusplus
extern "C" {
#endif

/* Redirects `library`'s LoadLibraryExA import to the seam in `mode`. Returns
 * 1, or 0 if the module imports no LoadLibraryExA from KERNEL32 (the seam
 * would then see nothing) or its import table can't be written. Calling it
 * again changes the mode; a module loaded afresh needs it again. */
int dxgi_seam_install(HMODULE library, enum dxgi_seam_mode mode);

/* For hosts that reach the seam through an FFI (dxgi_seam.dll): installs it
 * in the loaded module named `library` (a file name or a full path), with
 * mode 0 = double, 1 = no entry, 2 = missing. Returns 1, or 0 as above or if
 * no such module is loaded. */
int dxgi_seam_attach(const char *library, int mode);

/* The full path of a double beside the seam (into a buffer of MAX_PATH). */
void dxgi_seam_double_path(const char *file, char *path);

void dxgi_seam_get_stats(struct dxgi_seam_stats *stats);

#ifdef __cplusplus
}
#endif

#endif
