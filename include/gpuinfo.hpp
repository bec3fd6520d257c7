/*
 * quillmar-dxgi-gpu-info for C++17: the five calls of gpuinfo.h as values and
 * exceptions. Header-only; link the import library as for gpuinfo.h.
 *
 * Every call holds one lock and copies the library's texts before letting
 * go of it, so threads may call freely. The lock is an inline variable: one
 * per program or DLL (module) that includes this header; two modules of one
 * process calling the library each need to keep to their own lock.
 *
 *     for (const auto &a : quillmar::gpuinfo::adapters())
 *         std::cout << a.index << "  " << a.name << "  " << a.dedicated_vram_mb << " MiB\n";
 */
#ifndef QUILLMAR_GPUINFO_HPP
#define QUILLMAR_GPUINFO_HPP

#include "gpuinfo.h"
#include "gpuinfo_report.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillmar::gpuinfo {

/* One adapter of the report; the fields are gpuinfo_report.h's. */
struct adapter {
    int index;
    std::string name, vendor;
    std::uint32_t vendor_id, device_id;
    std::uint64_t dedicated_vram_mb, shared_memory_mb;
    std::string driver_version;
    bool software;
};

/* DXGI could not be reached: reason() is the library's last-error text. */
class error : public std::runtime_error {
public:
    explicit error(const std::string &why) : std::runtime_error("no graphics adapters: " + why), reason_(why) {}
    const std::string &reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

inline std::string version();           /* the library's version, "1.0.0" */
inline std::string last_error();        /* why the last enumeration failed, or "" */
inline std::string report();            /* the JSON report; throws error */
inline std::vector<adapter> adapters(); /* every adapter, in DXGI's order; throws error */
inline int adapter_count();             /* adapters that are not software adapters; throws error */
inline int vram_mb(int index);          /* dedicated MiB of adapter `index`; throws error, std::out_of_range */

/* ---- Implementation --------------------------------------------------- */

namespace detail {

inline std::mutex lock; /* every call of the library made through this header */

constexpr int usual_adapters = 16; /* what the library lists at most */

} // namespace detail

inline std::string version()
{
    std::lock_guard<std::mutex> hold(detail::lock);
    return gpuinfo_version();
}

inline std::string last_error()
{
    std::lock_guard<std::mutex> hold(detail::lock);
    return gpuinfo_last_error();
}

inline std::string report()
{
    std::lock_guard<std::mutex> hold(detail::lock);
    const char *json = gpuinfo_get_json();
    if (!json)
        throw error(gpuinfo_last_error());
    return json;
}

inline std::vector<adapter> adapters()
{
    std::vector<gpuinfo_adapter> records(detail::usual_adapters);
    std::size_t at = 0;
    int count;
    {
        std::lock_guard<std::mutex> hold(detail::lock);
        const char *json = gpuinfo_get_json();
        if (!json)
            throw error(gpuinfo_last_error());
        count = gpuinfo_read_report(json, records.data(), static_cast<int>(records.size()), &at);
        if (count > static_cast<int>(records.size())) {
            records.resize(static_cast<std::size_t>(count));
            count = gpuinfo_read_report(json, records.data(), count, &at);
        }
    }
    if (count < 0)
        throw std::runtime_error("quillmar-dxgi-gpu-info: unreadable report at byte " + std::to_string(at));
    std::vector<adapter> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const gpuinfo_adapter &r = records[static_cast<std::size_t>(i)];
        out.push_back({r.index, r.name, r.vendor, r.vendor_id, r.device_id, r.dedicated_vram_mb, r.shared_memory_mb,
                       r.driver_version, r.software != 0});
    }
    return out;
}

inline int adapter_count()
{
    std::lock_guard<std::mutex> hold(detail::lock);
    int count = gpuinfo_adapter_count();
    if (count < 0)
        throw error(gpuinfo_last_error());
    return count;
}

inline int vram_mb(int index)
{
    std::lock_guard<std::mutex> hold(detail::lock);
    int mib = gpuinfo_vram_mb(index);
    if (mib >= 0)
        return mib;
    /* -1 stands for both a failed enumeration and no adapter at `index`:
     * one more report tells them apart. */
    if (!gpuinfo_get_json())
        throw error(gpuinfo_last_error());
    throw std::out_of_range("quillmar::gpuinfo::vram_mb: no adapter at index " + std::to_string(index));
}

} // namespace quillmar::gpuinfo

#endif /* QUILLMAR_GPUINFO_HPP */
