/* Soak: every export called many times in one process against the test
 * double's sixteen maximal adapters. Nothing may pile up: the working set,
 * the private bytes and the handle count stay where a warmed-up process has
 * them, every DXGI reference is handed back, and every answer stays the
 * first one. A figure the platform does not give is shown as not
 * measurable rather than checked.
 *
 *   soak.exe [calls per export]      (default 100000)
 *
 * The reference the library takes on dxgi.dll with every enumeration is
 * never dropped by design; it is a loader count, not memory, and shows in
 * none of the figures checked here. */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

enum {
    DEFAULT_CALLS = 100000,
    WARM_UP_CALLS = 1000,
    JSON_COPY_SIZE = 8192,
    VRAM_INDEXES = 17,          /* the sixteen adapters and one past them */
};

/* Growth allowed between the warmed-up process and the end: far below what
 * one lost byte or handle per call would add over the run. */
static const SIZE_T MEMORY_TOLERANCE = 1024 * 1024;
static const SIZE_T HEAP_TOLERANCE = 4096;
static const DWORD HANDLE_TOLERANCE = 2;
static const ULONG_PTR HANDLE_STEP = 4; /* handle values go up in fours */

/* Wine fills neither PrivateUsage nor the handle count (both read 0 there),
 * so two figures that every loader gives stand beside them: the committed
 * private pages found by walking the address space, and the value of a
 * fresh handle, which climbs when handles are lost because a new handle
 * takes the lowest free slot. The busy bytes of every heap show a lost
 * allocation long before a page does. These are checked everywhere. */
struct usage {
    SIZE_T working_set, private_bytes, committed_private, heap_busy;
    DWORD handles;
    ULONG_PTR next_handle;
};

static struct gpuinfo_api lib;
static struct fake_api fake;
static char first_json[JSON_COPY_SIZE];
static int first_count;
static int first_vram[VRAM_INDEXES];

static SIZE_T committed_private_bytes(void)
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const char *at = NULL; VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi;
         at = (const char *)mbi.BaseAddress + mbi.RegionSize)
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            total += mbi.RegionSize;
    return total;
}

enum { MAX_HEAPS = 64 };

static SIZE_T heap_busy_bytes(void)
{
    HANDLE heaps[MAX_HEAPS];
    DWORD n = GetProcessHeaps(MAX_HEAPS, heaps);
    if (n > MAX_HEAPS)
        n = MAX_HEAPS;
    SIZE_T total = 0;
    for (DWORD i = 0; i < n; ++i) {
        PROCESS_HEAP_ENTRY entry;
        memset(&entry, 0, sizeof entry);
        if (!HeapLock(heaps[i]))
            continue;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

static ULONG_PTR next_handle_value(void)
{
    HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!probe)
        harness_fatal("CreateEventA");
    CloseHandle(probe);
    return (ULONG_PTR)probe;
}

static void measure(struct usage *u)
{
    PROCESS_MEMORY_COUNTERS_EX pmc;
    memset(&pmc, 0, sizeof pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&pmc, sizeof pmc))
        harness_fatal("GetProcessMemoryInfo");
    if (!GetProcessHandleCount(GetCurrentProcess(), &u->handles))
        harness_fatal("GetProcessHandleCount");
    u->working_set = pmc.WorkingSetSize;
    u->private_bytes = pmc.PrivateUsage;
    u->committed_private = committed_private_bytes();
    u->heap_busy = heap_busy_bytes();
    u->next_handle = next_handle_value();
}

/* One call of every export; returns how many answers differed from the
 * first ones. */
static int call_all(long i)
{
    int wrong = 0;
    wrong += strcmp(lib.version(), GPUINFO_EXPECTED_VERSION) != 0;
    const char *json = lib.get_json();
    wrong += !json || strcmp(json, first_json) != 0;
    wrong += lib.last_error()[0] != '\0';
    wrong += lib.adapter_count() != first_count;
    int index = (int)(i % VRAM_INDEXES);
    wrong += lib.vram_mb(index) != first_vram[index];
    return wrong;
}

static void print_usage(const char *when, const struct usage *u)
{
    printf("%-7s working set %7lu KiB, private bytes %7lu KiB, handles %4lu | committed private %7lu KiB, "
           "heap busy %8lu B, next handle 0x%lx\n",
           when, (unsigned long)(u->working_set / 1024), (unsigned long)(u->private_bytes / 1024),
           (unsigned long)u->handles, (unsigned long)(u->committed_private / 1024), (unsigned long)u->heap_busy,
           (unsigned long)u->next_handle);
}

/* A figure may grow by `slack` at most between the warmed-up process and
 * the end of the run. */
#define check_flat(field, slack)                                                                     \
    ok(after.field <= before.field + (slack), #field " grew from %lu to %lu", (unsigned long)before.field, \
       (unsigned long)after.field)

/* A live process always has private pages and open handles, so a figure
 * that reads 0 at both ends is one the platform does not give; checking it
 * would pass whatever leaked. */
#define check_flat_if_given(field, slack)                                                            \
    do {                                                                                             \
        if (before.field == 0 && after.field == 0)                                                   \
            printf("%s: not measurable under %s (reads 0), not checked\n", #field,                  \
                   harness_under_wine() ? "Wine" : "this system");                                   \
        else                                                                                         \
            check_flat(field, slack);                                                                \
    } while (0)

int main(int argc, char **argv)
{
    long calls = argc > 1 ? atol(argv[1]) : DEFAULT_CALLS;
    harness_use_seam(DXGI_SEAM_DOUBLE);
    load_gpuinfo(&lib);
    load_fake(&fake);
    struct fake_scenario scenario;
    if (!fake.preset("max16", &scenario))
        harness_fatal("preset max16");
    fake.set_scenario(&scenario);

    const char *json = lib.get_json();
    if (!json || strlen(json) >= sizeof first_json)
        harness_fatal("first report");
    strcpy(first_json, json);
    first_count = lib.adapter_count();
    for (int k = 0; k < VRAM_INDEXES; ++k)
        first_vram[k] = lib.vram_mb(k);
    check_int(first_count, 16);
    check_int(first_vram[0], 2147483647);
    check_int(first_vram[VRAM_INDEXES - 1], -1);

    int wrong = 0;
    for (long i = 0; i < WARM_UP_CALLS; ++i)
        wrong += call_all(i);
    struct usage before, after;
    measure(&before);
    /* Counted from here: one factory per enumerating call. */
    fake.set_scenario(&scenario);

    DWORD start = GetTickCount();
    for (long i = 0; i < calls; ++i)
        wrong += call_all(i);
    DWORD seconds_x10 = (GetTickCount() - start) / 100;
    measure(&after);

    printf("%ld calls of each of the five exports in %lu.%lu s\n", calls, (unsigned long)(seconds_x10 / 10),
           (unsigned long)(seconds_x10 % 10));
    print_usage("before", &before);
    print_usage("after", &after);

    struct fake_stats stats;
    fake.get_stats(&stats);
    printf("test double: %d factories, %d references live, %d over-released, %d unexpected calls\n",
           stats.create_calls, stats.live_refs, stats.over_releases, stats.unexpected_calls);

    check_int(wrong, 0);
    check_balanced(&fake);
    check_int(stats.create_calls, 3 * calls);
    check_flat(working_set, MEMORY_TOLERANCE);
    check_flat_if_given(private_bytes, MEMORY_TOLERANCE);
    check_flat(committed_private, MEMORY_TOLERANCE);
    check_flat(heap_busy, HEAP_TOLERANCE);
    check_flat_if_given(handles, HANDLE_TOLERANCE);
    check_flat(next_handle, HANDLE_TOLERANCE * HANDLE_STEP);
    return harness_finish();
}
