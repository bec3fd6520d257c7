/* What one answer costs: the library's calls against the same DXGI calls made
 * bare (the floor no report can beat) and against the WMI query that tools
 * use instead of DXGI.
 *
 *   bench_gpuinfo.exe bench <label> <out-file>   in-process rounds and one-shots
 *   bench_gpuinfo.exe once none|json|floor|wmi   one answer, then exit (0 = ok)
 *
 * In-process figures come from interleaved rounds: each round runs every
 * contender for its fixed batch, so drift in the machine hits all of them
 * alike. A one-shot times a fresh copy of this program, from before
 * CreateProcess to its exit, answering once. */
#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <dxgi.h>
#include <wbemcli.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

enum {
    ROUNDS = 31,
    BATCH_TARGET_MS = 20,   /* one contender's batch in one round */
    CALIBRATE_MS = 40,
    SPAWNS = 11,
    MAX_CONTENDERS = 8,
    MAX_PATH_TEXT = MAX_PATH + 16,
};

typedef HRESULT(WINAPI *create_factory_fn)(REFIID, void **);

static struct gpuinfo_api lib;
static char dxgi_path[MAX_PATH_TEXT];
static FILE *out;
static volatile size_t sink; /* every answer is read into it, so none is skipped */

static double qpc_us(LONGLONG ticks)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)ticks * 1e6 / (double)f.QuadPart;
}

static LONGLONG now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* ---- Contenders: each returns what it found (>= 0) or < 0 on failure --- */

static int run_json(void)
{
    const char *report = lib.get_json();
    if (!report)
        return -1;
    sink += strlen(report);
    return 0;
}

static int run_count(void)
{
    return lib.adapter_count();
}

static void find_dxgi_path(void)
{
    UINT len = GetSystemDirectoryA(dxgi_path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        harness_fatal("GetSystemDirectoryA");
    strcat(dxgi_path, "\\dxgi.dll");
}

/* The same DXGI calls as the library makes, nothing formatted or kept. */
static int run_floor(void)
{
    HMODULE dxgi = LoadLibraryExA(dxgi_path, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dxgi)
        return -1;
    create_factory_fn create = (create_factory_fn)(void (*)(void))GetProcAddress(dxgi, "CreateDXGIFactory");
    if (!create)
        return -2;
    IDXGIFactory *factory = NULL;
    if (FAILED(create(&IID_IDXGIFactory, (void **)&factory)) || !factory)
        return -3;
    int n = 0;
    IDXGIAdapter *adapter = NULL;
    for (UINT i = 0; IDXGIFactory_EnumAdapters(factory, i, &adapter) == S_OK && adapter; ++i) {
        DXGI_ADAPTER_DESC desc;
        LARGE_INTEGER version;
        if (SUCCEEDED(IDXGIAdapter_GetDesc(adapter, &desc)))
            sink += desc.VendorId;
        if (SUCCEEDED(IDXGIAdapter_CheckInterfaceSupport(adapter, &IID_IDXGIDevice, &version)))
            sink += (size_t)version.QuadPart;
        IDXGIAdapter_Release(adapter);
        adapter = NULL;
        ++n;
    }
    IDXGIFactory_Release(factory);
    return n;
}

/* ---- WMI, set up once the way WMI-based tools do ----------------------- */

static struct {
    IWbemLocator *locator;
    IWbemServices *services;
    BSTR language, query;
    const char *failed_step; /* NULL while everything worked */
    HRESULT hr;
} wmi;

static int wmi_fail(const char *step, HRESULT hr)
{
    if (!wmi.failed_step) {
        wmi.failed_step = step;
        wmi.hr = hr;
    }
    return -1;
}

static int wmi_setup(void)
{
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return wmi_fail("CoInitializeEx", hr);
    /* Tools set process security once; a host that did it already gets
     * RPC_E_TOO_LATE, which changes nothing here. */
    CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, NULL,
                         EOAC_NONE, NULL);
    hr = CoCreateInstance(&CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER, &IID_IWbemLocator,
                          (void **)&wmi.locator);
    if (FAILED(hr))
        return wmi_fail("CoCreateInstance(WbemLocator)", hr);
    BSTR ns = SysAllocString(L"ROOT\\CIMV2");
    hr = IWbemLocator_ConnectServer(wmi.locator, ns, NULL, NULL, NULL, 0, NULL, NULL, &wmi.services);
    SysFreeString(ns);
    if (FAILED(hr))
        return wmi_fail("ConnectServer(ROOT\\CIMV2)", hr);
    hr = CoSetProxyBlanket((IUnknown *)wmi.services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, NULL,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE);
    if (FAILED(hr))
        return wmi_fail("CoSetProxyBlanket", hr);
    wmi.language = SysAllocString(L"WQL");
    wmi.query = SysAllocString(L"SELECT Name, AdapterRAM, DriverVersion, PNPDeviceID FROM Win32_VideoController");
    return 0;
}

static void wmi_read(IWbemClassObject *row, const WCHAR *property)
{
    VARIANT v;
    VariantInit(&v);
    if (FAILED(IWbemClassObject_Get(row, property, 0, &v, NULL, NULL)))
        return;
    if (V_VT(&v) == VT_BSTR && V_BSTR(&v))
        sink += SysStringLen(V_BSTR(&v));
    else if (V_VT(&v) == VT_I4 || V_VT(&v) == VT_UI4)
        sink += (size_t)V_UI4(&v);
    VariantClear(&v);
}

static int run_wmi(void)
{
    if (!wmi.services)
        return -1;
    IEnumWbemClassObject *rows = NULL;
    HRESULT hr = IWbemServices_ExecQuery(wmi.services, wmi.language, wmi.query,
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL, &rows);
    if (FAILED(hr) || !rows)
        return wmi_fail("ExecQuery", hr);
    int n = 0;
    for (;;) {
        IWbemClassObject *row = NULL;
        ULONG got = 0;
        if (IEnumWbemClassObject_Next(rows, (LONG)WBEM_INFINITE, 1, &row, &got) != S_OK || got == 0)
            break;
        wmi_read(row, L"Name");
        wmi_read(row, L"AdapterRAM");
        wmi_read(row, L"DriverVersion");
        wmi_read(row, L"PNPDeviceID");
        IWbemClassObject_Release(row);
        ++n;
    }
    IEnumWbemClassObject_Release(rows);
    return n;
}

/* ---- Pieces of the library's per-call work, made alone ----------------- */

/* What load_dxgi does before loading: the system directory and the check
 * for AddDllDirectory. */
static int run_path(void)
{
    char path[MAX_PATH_TEXT];
    UINT len = GetSystemDirectoryA(path, MAX_PATH);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    sink += len + (kernel32 && GetProcAddress(kernel32, "AddDllDirectory"));
    return 0;
}

static int run_load(void)
{
    return LoadLibraryExA(dxgi_path, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32) ? 0 : -1;
}

/* One adapter name of the "max16" preset: 'A' and 126 quotes. */
static WCHAR max_name[128];

static int run_convert16(void)
{
    char name[128];
    for (int i = 0; i < 16; ++i)
        sink += (size_t)WideCharToMultiByte(CP_UTF8, 0, max_name, 127, name, 127, NULL, NULL);
    return 0;
}

/* ---- Rounds ------------------------------------------------------------ */

struct contender {
    const char *key, *label;
    int (*run)(void);
    long batch;
    int result;    /* first answer; < 0 if it failed */
    int failed;    /* a later answer that failed or differed */
    double per_call_us[ROUNDS];
    double p10, median, p90;
};

static struct contender contenders[MAX_CONTENDERS];
static int n_contenders;

static void add_contender(const char *key, const char *label, int (*run)(void))
{
    struct contender *c = &contenders[n_contenders++];
    memset(c, 0, sizeof *c);
    c->key = key;
    c->label = label;
    c->run = run;
}

static struct contender *find(const char *key)
{
    for (int i = 0; i < n_contenders; ++i)
        if (!strcmp(contenders[i].key, key))
            return &contenders[i];
    return NULL;
}

static int compare_double(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

/* Nearest-rank percentiles of n values. */
static void percentiles(const double *values, int n, double *p10, double *median, double *p90)
{
    double sorted[ROUNDS > SPAWNS ? ROUNDS : SPAWNS];
    memcpy(sorted, values, (size_t)n * sizeof *values);
    qsort(sorted, (size_t)n, sizeof *sorted, compare_double);
    *p10 = sorted[(n - 1) * 10 / 100];
    *median = sorted[(n - 1) / 2];
    *p90 = sorted[(n - 1) * 90 / 100 + ((n - 1) * 90 % 100 ? 1 : 0)];
}

static double batch_us(struct contender *c, long calls)
{
    LONGLONG start = now();
    for (long i = 0; i < calls; ++i)
        if (c->run() != c->result)
            c->failed = 1;
    return qpc_us(now() - start);
}

/* A batch as long as BATCH_TARGET_MS, from the calls made in CALIBRATE_MS. */
static void calibrate(struct contender *c)
{
    c->result = c->run();
    if (c->result < 0)
        return;
    long calls = 0;
    LONGLONG start = now();
    double elapsed;
    do {
        c->run();
        ++calls;
        elapsed = qpc_us(now() - start);
    } while (elapsed < (double)CALIBRATE_MS * 1000.0);
    c->batch = (long)((double)calls * (double)BATCH_TARGET_MS * 1000.0 / elapsed);
    if (c->batch < 1)
        c->batch = 1;
}

static void run_rounds(void)
{
    for (int i = 0; i < n_contenders; ++i)
        calibrate(&contenders[i]);
    for (int r = 0; r < ROUNDS; ++r)
        for (int k = 0; k < n_contenders; ++k) {
            /* Each round starts with a different contender. */
            struct contender *c = &contenders[(r + k) % n_contenders];
            if (c->result >= 0)
                c->per_call_us[r] = batch_us(c, c->batch) / (double)c->batch;
        }
    for (int i = 0; i < n_contenders; ++i) {
        struct contender *c = &contenders[i];
        if (c->result >= 0)
            percentiles(c->per_call_us, ROUNDS, &c->p10, &c->median, &c->p90);
    }
}

/* The ratio of the medians, and the median of the ratios within each round:
 * the second pairs calls made moments apart, so it holds when the machine's
 * speed changes between rounds (other work on its two cores). */
static void print_ratio(const char *label, const char *num, const char *den)
{
    struct contender *a = find(num), *b = find(den);
    if (a->result < 0 || b->result < 0 || b->median <= 0) {
        fprintf(out, "  %-30s n/a (a contender failed)\n", label);
        return;
    }
    double per_round[ROUNDS], p10, median, p90;
    for (int r = 0; r < ROUNDS; ++r)
        per_round[r] = a->per_call_us[r] / b->per_call_us[r];
    percentiles(per_round, ROUNDS, &p10, &median, &p90);
    fprintf(out, "  %-30s %10.3f %10.3f %10.3f %10.3f\n", label, a->median / b->median, median, p10, p90);
}

/* ---- One-shots --------------------------------------------------------- */

static int once(const char *what)
{
    if (!strcmp(what, "none"))
        return 0;
    if (!strcmp(what, "json")) {
        load_gpuinfo(&lib);
        return lib.get_json() ? 0 : 1;
    }
    if (!strcmp(what, "floor")) {
        find_dxgi_path();
        return run_floor() >= 0 ? 0 : 1;
    }
    if (!strcmp(what, "wmi")) {
        if (wmi_setup() < 0)
            return 1;
        return run_wmi() >= 0 ? 0 : 1;
    }
    return 2;
}

/* Median time of SPAWNS fresh processes of this program in mode `what`. */
static void spawn_row(const char *what, const char *label)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, MAX_PATH);
    char line[MAX_PATH + 32];
    snprintf(line, sizeof line, "\"%s\" once %s", exe, what);
    double ms[SPAWNS];
    int failures = 0;
    DWORD last_code = 0;
    for (int i = 0; i < SPAWNS; ++i) {
        STARTUPINFOA si;
        PROCESS_INFORMATION pi;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        LONGLONG start = now();
        if (!CreateProcessA(exe, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            fprintf(out, "  %-34s CreateProcess failed (error %lu)\n", label, (unsigned long)GetLastError());
            return;
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        ms[i] = qpc_us(now() - start) / 1000.0;
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        if (code != 0) {
            ++failures;
            last_code = code;
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    double p10, median, p90;
    percentiles(ms, SPAWNS, &p10, &median, &p90);
    fprintf(out, "  %-34s %9.1f %9.1f %9.1f", label, median, p10, p90);
    if (failures)
        fprintf(out, "   %d of %d answered no (exit %lu)", failures, SPAWNS, (unsigned long)last_code);
    fprintf(out, "\n");
}

/* ---- Bench ------------------------------------------------------------- */

static int bench(const char *backend)
{
    load_gpuinfo(&lib);
    find_dxgi_path();
    max_name[0] = 'A';
    for (int i = 1; i < 127; ++i)
        max_name[i] = '"';

    const char *report = lib.get_json();
    int count = lib.adapter_count();
    fprintf(out, "back end: %s\n", backend);
    fprintf(out, "report: %s, %d bytes; adapter_count %d\n", report ? "ok" : lib.last_error(),
            report ? (int)strlen(report) : 0, count);
    if (report)
        fprintf(out, "report starts: %.100s\n", report);

    int wmi_ok = wmi_setup() == 0;
    add_contender("a", "(a) gpuinfo_get_json", run_json);
    add_contender("b", "(b) gpuinfo_adapter_count", run_count);
    add_contender("c", "(c) bare DXGI calls (floor)", run_floor);
    add_contender("d", "(d) WMI Win32_VideoController", run_wmi);
    add_contender("path", "    piece: system dir + AddDllDirectory", run_path);
    add_contender("load", "    piece: LoadLibraryExA, loaded", run_load);
    add_contender("conv", "    piece: 16 x WideCharToMultiByte", run_convert16);
    run_rounds();

    fprintf(out, "\nin-process, per call, %d interleaved rounds (microseconds)\n", ROUNDS);
    fprintf(out, "  %-44s %10s %10s %10s %8s %s\n", "contender", "median", "p10", "p90", "batch", "answer");
    for (int i = 0; i < n_contenders; ++i) {
        struct contender *c = &contenders[i];
        if (c->result < 0) {
            fprintf(out, "  %-44s failed (%d)\n", c->label, c->result);
            continue;
        }
        fprintf(out, "  %-44s %10.2f %10.2f %10.2f %8ld %d%s\n", c->label, c->median, c->p10, c->p90, c->batch,
                c->result, c->failed ? " (a later answer differed)" : "");
    }
    if (!wmi_ok || find("d")->result < 0)
        fprintf(out, "  WMI failed at %s, HRESULT 0x%08lX\n", wmi.failed_step ? wmi.failed_step : "?",
                (unsigned long)wmi.hr);
    else
        fprintf(out, "  WMI listed %d row(s); DXGI %d adapter(s)\n", find("d")->result, find("c")->result);

    fprintf(out, "\n  %-30s %10s %10s %10s %10s\n", "ratios", "of medians", "round med", "round p10", "round p90");
    print_ratio("a/c report vs bare DXGI", "a", "c");
    print_ratio("b/c count vs bare DXGI", "b", "c");
    print_ratio("d/a WMI vs report", "d", "a");

    fprintf(out, "\none-shot: fresh process until its first answer, %d runs (milliseconds)\n", SPAWNS);
    fprintf(out, "  %-34s %9s %9s %9s\n", "mode", "median", "p10", "p90");
    fflush(out);
    spawn_row("none", "process alone (no answer)");
    spawn_row("floor", "(c) bare DXGI calls");
    spawn_row("json", "(a) load library + get_json");
    spawn_row("wmi", "(d) COM + WMI set-up + query");
    fprintf(out, "checksum %lu\n", (unsigned long)sink);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "once"))
        return once(argv[2]);
    if (argc == 4 && !strcmp(argv[1], "bench")) {
        out = fopen(argv[3], "w");
        if (!out)
            harness_fatal("open the output file");
        int rc = bench(argv[2]);
        fclose(out);
        return rc;
    }
    fprintf(stderr, "usage: bench_gpuinfo bench <label> <out-file> | once none|json|floor|wmi\n");
    return 2;
}
