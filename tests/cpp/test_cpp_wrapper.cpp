/* The C++ wrapper (include/gpuinfo.hpp) against the real DLL, linked through
 * its import library as C++ hosts link it, with the dxgi.dll test double
 * handed to it through the seam: the shared binding cases and sequences
 * (bindings/testdata/cases.json), and many threads calling adapters() while
 * every enumeration lists a new generation, from this program alone and from
 * it and a plugin DLL with its own copy of the wrapper at once.
 *   test_cpp_wrapper        the cases through the seam
 *   test_cpp_wrapper wine   the "wine" case: the system's own DXGI (Wine's)
 *   test_cpp_wrapper system the "system" case: any machine's own DXGI
 *   test_cpp_wrapper squatters  each object of the shared squatter table
 *                               planted under the lock's name, a process each */
#include "gpuinfo.hpp"
#include "harness.h"

#include <sddl.h>

#include <algorithm>
#include <climits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace gpu = quillmar::gpuinfo;

namespace {

struct shared_call {
    std::string call;
    int index;
    std::string error; /* "enumeration", "index", or "" for a result */
    std::string reason;
    int result;
};

struct shared_case {
    std::string name, reason;
    bool has_adapters;
    int adapter_count; /* -1 unless the case gives only a count */
    std::vector<gpu::adapter> adapters;
    std::vector<shared_call> errors;
};

struct shared_step {
    std::string scenario;
    shared_call call;
};

struct shared_sequence {
    std::string name;
    std::vector<shared_step> steps;
};

struct changing_rule {
    unsigned count_base, count_modulus;
    std::string name; /* g: the digits after the text before {g} */
};

struct lock_rule {
    std::string name; /* {pid}: the process id in decimal */
    unsigned wait_ms, test_wait_ms;
};

struct squatter_row {
    std::string name, makes, sddl, error; /* error "": the call succeeds */
};

#include "cases.inc"

constexpr int threads = 8;
constexpr int calls_per_thread = 5000;

HMODULE library;
fake_api fake;

/* The scenario of a case or step: "missing" and "no_entry" are the seam's
 * own modes, any other name the double's preset. */
void use_scenario(const std::string &name)
{
    if (name == "missing" || name == "no_entry") {
        ok(dxgi_seam_install(library, name == "missing" ? DXGI_SEAM_MISSING : DXGI_SEAM_NO_ENTRY),
           "seam in mode %s", name.c_str());
        return;
    }
    fake_scenario scenario;
    ok(dxgi_seam_install(library, DXGI_SEAM_DOUBLE), "seam in mode double");
    if (!fake.preset(name.c_str(), &scenario))
        harness_fatal(("no preset " + name).c_str());
    fake.set_scenario(&scenario);
}

void check_adapter(const gpu::adapter &got, const gpu::adapter &want)
{
    check_int(got.index, want.index);
    check_str(got.name.c_str(), want.name.c_str());
    check_str(got.vendor.c_str(), want.vendor.c_str());
    check_int(got.vendor_id, want.vendor_id);
    check_int(got.device_id, want.device_id);
    check_int(got.dedicated_vram_mb, want.dedicated_vram_mb);
    check_int(got.shared_memory_mb, want.shared_memory_mb);
    check_str(got.driver_version.c_str(), want.driver_version.c_str());
    check_int(got.software, want.software);
}

/* The library's report of `adapters`, written here from the shared case as
 * the report's rules lay it out: one line, keys in order, names with `"`
 * and `\` escaped, software 0 or 1. */
std::string expected_report(const std::vector<gpu::adapter> &adapters)
{
    std::string out = "{\"adapters\":[";
    for (const gpu::adapter &a : adapters) {
        std::string name;
        for (char ch : a.name) {
            if (ch == '"' || ch == '\\')
                name += '\\';
            name += ch;
        }
        out += (a.index ? "," : "") + std::string("{\"index\":") + std::to_string(a.index) + ",\"name\":\"" + name +
               "\",\"vendor\":\"" + a.vendor + "\",\"vendor_id\":" + std::to_string(a.vendor_id) +
               ",\"device_id\":" + std::to_string(a.device_id) +
               ",\"dedicated_vram_mb\":" + std::to_string(a.dedicated_vram_mb) +
               ",\"shared_memory_mb\":" + std::to_string(a.shared_memory_mb) + ",\"driver_version\":\"" +
               a.driver_version + "\",\"software\":" + (a.software ? "1" : "0") + "}";
    }
    return out + "]}";
}

/* Whether another thread takes the process lock at once: the call that
 * came before let go of it on its own thread. */
bool lock_free_elsewhere()
{
    bool taken = false;
    std::thread([&taken] {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, gpu::detail::lock_name().c_str());
        if (!mutex)
            return;
        DWORD got = WaitForSingleObject(mutex, 0);
        taken = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
        if (taken)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    }).join();
    return taken;
}

/* One call as the shared data names it, with the error it must raise (and
 * that error's reason) or the result it must give. */
void check_call(const shared_call &c, const std::string &reason)
{
    std::string raised = "", why;
    int result = -1;
    try {
        if (c.call == "report")
            gpu::report();
        else if (c.call == "adapters")
            gpu::adapters();
        else if (c.call == "adapter_count")
            result = gpu::adapter_count();
        else if (c.call == "vram_mb")
            result = gpu::vram_mb(c.index);
        else
            harness_fatal(("no call " + c.call).c_str());
    } catch (const gpu::error &e) {
        raised = "enumeration";
        why = e.reason();
        ok(std::string(e.what()).find(e.reason()) != std::string::npos, "the message names the reason: %s", e.what());
    } catch (const std::out_of_range &) {
        raised = "index";
    }
    ok(raised == c.error, "%s(%d) raised \"%s\", expected \"%s\"", c.call.c_str(), c.index, raised.c_str(),
       c.error.c_str());
    if (c.error == "enumeration") {
        check_str(why.c_str(), reason.c_str());
        check_str(gpu::last_error().c_str(), reason.c_str());
    }
    if (c.error.empty() && c.result >= 0)
        check_int(result, c.result);
    ok(lock_free_elsewhere(), "another thread takes the lock at once after %s", c.call.c_str());
}

void check_case(const shared_case &c)
{
    harness_row = c.name.c_str();
    if (c.has_adapters) {
        std::vector<gpu::adapter> got = gpu::adapters();
        check_int(got.size(), c.adapters.size());
        for (std::size_t i = 0; i < std::min(got.size(), c.adapters.size()); ++i)
            check_adapter(got[i], c.adapters[i]);
        long long hardware = std::count_if(c.adapters.begin(), c.adapters.end(), [](const gpu::adapter &a) {
            return !a.software;
        });
        check_int(gpu::adapter_count(), hardware);
        for (const gpu::adapter &a : c.adapters)
            check_int(gpu::vram_mb(a.index), std::min<std::uint64_t>(a.dedicated_vram_mb, INT_MAX));
        check_str(gpu::report().c_str(), expected_report(c.adapters).c_str());
        check_str(gpu::last_error().c_str(), "");
    } else if (c.reason.empty()) {
        /* The machine's own DXGI: Wine's count, or whatever the machine has. */
        std::vector<gpu::adapter> got = gpu::adapters();
        if (c.adapter_count >= 0)
            check_int(got.size(), c.adapter_count);
        long long hardware = 0;
        for (const gpu::adapter &a : got) {
            hardware += !a.software;
            check_int(a.software, a.vendor_id == 0x1414);
        }
        check_int(gpu::adapter_count(), hardware);
    }
    for (const shared_call &e : c.errors)
        check_call(e, c.reason);
    harness_row = nullptr;
}

/* The g an adapter's name carries, or 0 if it carries none. */
unsigned carried_generation(const std::string &name)
{
    const std::string head = changing.name.substr(0, changing.name.find("{g}"));
    unsigned g = 0;
    if (name.compare(0, head.size(), head) == 0)
        for (std::size_t at = head.size(); at < name.size() && name[at] >= '0' && name[at] <= '9'; ++at)
            g = g * 10 + static_cast<unsigned>(name[at] - '0');
    return g;
}

/* The one generation a whole report of the changing scenario carries: every
 * name the same g, as many adapters as g gives. 0 for a torn report. */
unsigned whole_generation(const std::vector<gpu::adapter> &got)
{
    const unsigned g = got.empty() ? 0 : carried_generation(got[0].name);
    for (const gpu::adapter &a : got)
        if (carried_generation(a.name) != g)
            return 0;
    return got.size() == changing.count_base + g % changing.count_modulus ? g : 0;
}

using plugin_call = int (*)(std::vector<gpu::adapter> *);

/* Threads calling adapters() while each enumeration lists the next
 * generation: every result one whole report, each generation seen once.
 * With a plugin, every other thread calls through the plugin's copy of the
 * wrapper, which shares no variable with this program's. */
void check_threads(plugin_call plugin)
{
    harness_row = plugin ? "changing, program and plugin" : "changing";
    use_scenario("changing");
    std::vector<std::vector<unsigned>> seen(threads);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&seen, t, plugin] {
            bool through_plugin = plugin && t % 2 == 1;
            unsigned last = 0; /* g only grows: each call enumerates after this thread's last one */
            for (int k = 0; k < calls_per_thread; ++k) {
                unsigned g = 0; /* a report the reader refuses is torn too */
                try {
                    if (through_plugin) {
                        std::vector<gpu::adapter> got;
                        if (plugin(&got) == 0)
                            g = whole_generation(got);
                    } else {
                        g = whole_generation(gpu::adapters());
                    }
                } catch (const std::exception &) {
                }
                if (g <= last)
                    g = 0; /* not new: torn as much as a mixed one */
                else
                    last = g;
                seen[static_cast<std::size_t>(t)].push_back(g);
            }
        });
    for (std::thread &t : running)
        t.join();
    std::vector<unsigned> all;
    for (const auto &s : seen)
        all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    long long torn = std::count(all.begin(), all.end(), 0u);
    check_int(torn, 0);
    std::vector<unsigned> each(all.size());
    for (std::size_t i = 0; i < each.size(); ++i)
        each[i] = static_cast<unsigned>(i + 1);
    ok(torn > 0 || all == each, "generations 1 to %llu, each once", static_cast<unsigned long long>(each.size()));
    printf("%d threads x %d calls of adapters()%s: %lld whole reports, %lld torn\n", threads, calls_per_thread,
           plugin ? ", half through the plugin" : "", static_cast<long long>(all.size()) - torn, torn);
    harness_row = nullptr;
}

} // namespace

/* One row of the squatter table, in a process of its own: the object is
 * planted before the wrapper's first call, which must fail with the row's
 * reason or succeed; once the squatter lets go the next call must succeed. */
static int check_squatter(const std::string &name)
{
    const squatter_row *row = nullptr;
    for (const squatter_row &r : squatters)
        if (r.name == name)
            row = &r;
    if (!row)
        harness_fatal(("no squatter " + name).c_str());
    harness_row = row->name.c_str();
    gpu::detail::lock_wait_now_ms = lock.test_wait_ms;
    const std::wstring lock_name = gpu::detail::lock_name();
    HANDLE planted = nullptr, release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder;
    if (row->makes == "event") {
        planted = CreateEventW(nullptr, TRUE, FALSE, lock_name.c_str());
    } else if (row->makes == "mutex") {
        std::wstring sddl(row->sddl.begin(), row->sddl.end());
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
            harness_fatal("unreadable SDDL");
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, sd, FALSE};
        planted = CreateMutexW(&attributes, FALSE, lock_name.c_str());
        LocalFree(sd);
    } else if (row->makes == "held" || row->makes == "abandoned") {
        /* Held by a thread that keeps it until told, or ends holding it. */
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        holder = std::thread([&] {
            planted = CreateMutexW(nullptr, TRUE, lock_name.c_str());
            SetEvent(ready);
            if (row->makes == "held") {
                WaitForSingleObject(release, INFINITE);
                ReleaseMutex(planted);
            }
        });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
        if (row->makes == "abandoned")
            holder.join();
    } else {
        harness_fatal(("no squatter kind " + row->makes).c_str());
    }
    if (!planted)
        harness_fatal("the squatter's object was not made");

    std::string got;
    try {
        check_str(gpu::version().c_str(), GPUINFO_EXPECTED_VERSION);
    } catch (const gpu::error &e) {
        got = e.reason();
    }
    check_str(got.c_str(), row->error.c_str());
    if (row->error.empty())
        ok(lock_free_elsewhere(), "another thread takes the lock at once after the call");

    SetEvent(release);
    if (holder.joinable())
        holder.join();
    CloseHandle(planted);
    CloseHandle(release);
    got.clear();
    try {
        check_str(gpu::version().c_str(), GPUINFO_EXPECTED_VERSION);
    } catch (const gpu::error &e) {
        got = e.reason();
    }
    ok(got.empty(), "once the squatter has gone the call succeeds: %s", got.empty() ? "it does" : got.c_str());
    ok(lock_free_elsewhere(), "another thread takes the lock at once after the call");
    return harness_finish();
}

/* Every row of the squatter table, each in a process of its own: the
 * wrapper keeps the mutex it has once made, so the name stays taken. */
static int check_squatters()
{
    wchar_t self[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, self, MAX_PATH))
        harness_fatal("GetModuleFileNameW failed");
    for (const squatter_row &row : squatters) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" squatter " + std::wstring(row.name.begin(), row.name.end());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
            harness_fatal("CreateProcessW failed");
        WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(child.hProcess, &code);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        ok(code == 0, "squatter %s: its process passed (exit %lu)", row.name.c_str(), static_cast<unsigned long>(code));
    }
    return harness_finish();
}

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "squatters")
        return check_squatters();
    if (argc > 2 && std::string(argv[1]) == "squatter")
        return check_squatter(argv[2]);
    check_str(gpu::version().c_str(), GPUINFO_EXPECTED_VERSION);
    if (argc > 1 && (std::string(argv[1]) == "wine" || std::string(argv[1]) == "system")) {
        for (const shared_case &c : shared_cases)
            if (c.name == argv[1])
                check_case(c);
        return harness_finish();
    }

    /* The named mutex every binding of the library takes. */
    std::string want = lock.name;
    want.replace(want.find("{pid}"), 5, std::to_string(GetCurrentProcessId()));
    std::string got; /* the name is ASCII */
    for (wchar_t c : gpu::detail::lock_name())
        got += static_cast<char>(c);
    ok(got == want && gpu::detail::lock_wait_ms == lock.wait_ms,
       "the lock is %s for %u ms", want.c_str(), lock.wait_ms);

    library = GetModuleHandleA(GPUINFO_DLL);
    if (!library)
        harness_fatal("the library is not loaded with the program");
    harness_use_seam(DXGI_SEAM_DOUBLE);
    load_fake(&fake);
    for (const shared_case &c : shared_cases) {
        if (c.name == "wine" || c.name == "system")
            continue;
        use_scenario(c.name);
        check_case(c);
    }
    for (const shared_sequence &s : shared_sequences) {
        harness_row = s.name.c_str();
        for (const shared_step &step : s.steps) {
            use_scenario(step.scenario);
            check_call(step.call, step.call.reason);
        }
        harness_row = nullptr;
    }
    check_threads(nullptr);
    HMODULE plugin = LoadLibraryA("wrapper_plugin.dll");
    if (!plugin)
        harness_fatal("wrapper_plugin.dll is not beside the program");
    check_threads(reinterpret_cast<plugin_call>(reinterpret_cast<void (*)()>(GetProcAddress(plugin, "plugin_adapters"))));
    return harness_finish();
}
