/* The import-table seam (see dxgi_seam.h). */
#include "dxgi_seam.h"

#include <string.h>

typedef HMODULE(WINAPI *load_library_ex_fn)(LPCSTR, HANDLE, DWORD);

static enum dxgi_seam_mode g_mode;
static struct dxgi_seam_stats g_stats;

void dxgi_seam_double_path(const char *file, char *path)
{
    HMODULE self = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)(const void *)&g_stats, &self);
    DWORD len = GetModuleFileNameA(self, path, MAX_PATH);
    while (len > 0 && path[len - 1] != '\\')
        --len;
    path[len] = '\0';
    if (len + strlen(file) < MAX_PATH)
        strcat(path, file);
}

/* True for "...\dxgi.dll" and the bare name, in any case. */
static int names_dxgi(const char *name)
{
    size_t len = strlen(name);
    static const char base[] = "dxgi.dll";
    size_t base_len = sizeof base - 1;
    if (len < base_len || _stricmp(name + len - base_len, base) != 0)
        return 0;
    return len == base_len || name[len - base_len - 1] == '\\' || name[len - base_len - 1] == '/';
}

static HMODULE WINAPI seam_LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags)
{
    char path[MAX_PATH];
    if (!name || !names_dxgi(name))
        return LoadLibraryExA(name, file, flags);
    ++g_stats.dxgi_requests;
    strncpy(g_stats.last_path, name, sizeof g_stats.last_path - 1);
    g_stats.last_flags = flags;
    if (g_mode == DXGI_SEAM_MISSING) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    dxgi_seam_double_path(g_mode == DXGI_SEAM_DOUBLE ? DXGI_SEAM_DOUBLE_FILE : DXGI_SEAM_NO_ENTRY_FILE, path);
    return LoadLibraryExA(path, NULL, 0);
}

static const void *at(HMODULE module, DWORD rva)
{
    return (const BYTE *)module + rva;
}

int dxgi_seam_install(HMODULE library, enum dxgi_seam_mode mode)
{
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)library;
    if (!library || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    const IMAGE_NT_HEADERS64 *nt = (const IMAGE_NT_HEADERS64 *)at(library, (DWORD)dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY *dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir->VirtualAddress == 0)
        return 0;
    g_mode = mode;
    memset(&g_stats, 0, sizeof g_stats);

    for (const IMAGE_IMPORT_DESCRIPTOR *d = (const IMAGE_IMPORT_DESCRIPTOR *)at(library, dir->VirtualAddress);
         d->Name; ++d) {
        if (_stricmp((const char *)at(library, d->Name), "kernel32.dll") != 0)
            continue;
        /* The lookup table keeps the names; the address table is what the
         * code calls through and what the loader filled in. */
        const IMAGE_THUNK_DATA64 *names =
            (const IMAGE_THUNK_DATA64 *)at(library, d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
        IMAGE_THUNK_DATA64 *slots = (IMAGE_THUNK_DATA64 *)(uintptr_t)at(library, d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME *import = (const IMAGE_IMPORT_BY_NAME *)at(library, (DWORD)names->u1.AddressOfData);
            if (strcmp((const char *)import->Name, "LoadLibraryExA") != 0)
                continue;
            DWORD old;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old))
                return 0;
            load_library_ex_fn replacement = seam_LoadLibraryExA;
            memcpy(&slots->u1.Function, &replacement, sizeof replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return 1;
        }
    }
    return 0;
}

int dxgi_seam_attach(const char *library, int mode)
{
    if (mode < DXGI_SEAM_DOUBLE || mode > DXGI_SEAM_MISSING)
        return 0;
    return dxgi_seam_install(GetModuleHandleA(library), (enum dxgi_seam_mode)mode);
}

void dxgi_seam_get_stats(struct dxgi_seam_stats *stats)
{
    *stats = g_stats;
}
