/* include/gpuinfo.hpp against a stand-in of the library's calls, natively:
 * what the real DLL never gives it (more adapters than the library lists,
 * a report that cannot be read, a failure with any reason), so each of the
 * wrapper's own paths is taken. */
#include "gpuinfo.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

/* What the stand-in's calls answer: the report (NULL when `failing`) and
 * the last-error text. */
std::string g_report;
std::string g_reason;
bool g_failing = false;

std::string adapter_object(int i)
{
    return "{\"index\":" + std::to_string(i) + ",\"name\":\"Adapter " + std::to_string(i) +
           "\",\"vendor\":\"NVIDIA\",\"vendor_id\":4318,\"device_id\":" + std::to_string(1000 + i) +
           ",\"dedicated_vram_mb\":" + std::to_string(256 * i) +
           ",\"shared_memory_mb\":1,\"driver_version\":\"1.2.3.4\",\"software\":0}";
}

std::string report_of(int n)
{
    std::string out = "{\"adapters\":[";
    for (int i = 0; i < n; ++i)
        out += (i ? "," : "") + adapter_object(i);
    return out + "]}";
}

} // namespace

extern "C" {
const char *gpuinfo_version(void) { return GPUINFO_EXPECTED_VERSION; }
const char *gpuinfo_last_error(void) { return g_reason.c_str(); }
const char *gpuinfo_get_json(void) { return g_failing ? nullptr : g_report.c_str(); }
int gpuinfo_adapter_count(void) { return g_failing ? -1 : 0; }
int gpuinfo_vram_mb(int) { return -1; }
}

namespace gpu = quillmar::gpuinfo;

/* Counts around the 16 records the wrapper first makes room for: every
 * adapter comes back, in order, whole. */
TEST(CppWrapper, ReturnsEveryAdapterOfAnyCount)
{
    for (int n : {0, 1, 15, 16, 17, 20, 100}) {
        SCOPED_TRACE(n);
        g_failing = false;
        g_report = report_of(n);
        std::vector<gpu::adapter> got = gpu::adapters();
        ASSERT_EQ(got.size(), static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(got[static_cast<size_t>(i)].index, i);
            EXPECT_EQ(got[static_cast<size_t>(i)].name, "Adapter " + std::to_string(i));
            EXPECT_EQ(got[static_cast<size_t>(i)].device_id, static_cast<uint32_t>(1000 + i));
            EXPECT_EQ(got[static_cast<size_t>(i)].dedicated_vram_mb, static_cast<uint64_t>(256 * i));
            EXPECT_FALSE(got[static_cast<size_t>(i)].software);
        }
    }
}

/* A report the reader refuses is the wrapper's own error, naming the byte,
 * not the library's failure. */
TEST(CppWrapper, RefusesAnUnreadableReportNamingTheByte)
{
    const struct {
        std::string report;
        size_t at;
    } cases[] = {
        {"", 0},
        {"{\"adapters\":7}", 12},
        {report_of(17).substr(0, 40), 40},
        {report_of(20) + "x", report_of(20).size()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.report);
        g_failing = false;
        g_report = c.report;
        try {
            gpu::adapters();
            ADD_FAILURE() << "no exception";
        } catch (const gpu::error &e) {
            ADD_FAILURE() << "taken for the library's failure: " << e.what();
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()),
                      "quillmar-dxgi-gpu-info: unreadable report at byte " + std::to_string(c.at));
        }
    }
}

/* A failed enumeration carries the library's reason, whatever it says. */
TEST(CppWrapper, FailureCarriesTheReason)
{
    g_failing = true;
    for (const char *reason : {"dxgi.dll not found", "CreateDXGIFactory failed", ""}) {
        g_reason = reason;
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE(std::string(reason) + ", call " + std::to_string(call));
            try {
                if (call == 0)
                    gpu::adapters();
                else if (call == 1)
                    gpu::report();
                else
                    gpu::adapter_count();
                ADD_FAILURE() << "no exception";
            } catch (const gpu::error &e) {
                EXPECT_EQ(e.reason(), reason);
            }
        }
    }
    g_failing = false;
}
