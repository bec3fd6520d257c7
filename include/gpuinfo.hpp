/*
 * quillmar-dxgi-gpu-info for C++17: the five calls of gpuinfo.h as values and
 * exceptions. Header-only; link the import library as for gpuinfo.h.
 *
 * Every call holds one lock and copies the library's texts before letting
 * go of it, so threads may call freely. On Windows the lock is the named
 * mutex "Local\quillmar-dxgi-gpu-info-<pid>" that every binding of the
 * library takes too, so any mix of modules and languages in one process is
 * kept apart. It is made with the process token's default security; an
 * object already under the name that is no mutex, or not owned and labelled
 * as this process's own objects are (a low-integrity process of the same
 * user can make one), makes the call throw error at once, and so does
 * another user's, which can't be opened. A failure is not kept: once the
 * squatter is gone the next call succeeds. A mutex held for more than 30
 * seconds (never, by a call of the library) makes the call throw error
 * rather than hang. A holder that ended without letting go counts as let
 * go: every call rewrites the texts whole.
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

#ifdef _WIN32
/* For the process-wide mutex. Without NOMINMAX, <windows.h> would define the
 * macros min and max in the host's code for it; a host that wants them has
 * included <windows.h> itself first, and keeps them. */
#ifndef NOMINMAX
#define NOMINMAX
#define QUILLMAR_GPUINFO_NOMINMAX_
#endif
#include <windows.h>
#include <aclapi.h>
#ifdef QUILLMAR_GPUINFO_NOMINMAX_
#undef NOMINMAX
#undef QUILLMAR_GPUINFO_NOMINMAX_
#endif
#ifdef _MSC_VER
#pragma comment(lib, "advapi32") /* the lock's owner check; MinGW links it by default */
#endif
#endif

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

constexpr int usual_adapters = 16; /* what the library lists at most */

#ifdef _WIN32
constexpr DWORD lock_wait_ms = 30000;
/* What hold() waits; only tests set it shorter. */
inline DWORD lock_wait_now_ms = lock_wait_ms;

inline std::wstring lock_name()
{
    return L"Local\\quillmar-dxgi-gpu-info-" + std::to_wstring(GetCurrentProcessId());
}

/* The integrity level (the RID of the label's SID) of the first mandatory
 * label in `sacl`, or medium for none, as Windows treats an unlabelled object. */
inline DWORD label_level(PACL sacl)
{
    for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
        void *ace = nullptr;
        if (GetAce(sacl, i, &ace) && static_cast<ACE_HEADER *>(ace)->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
            PSID sid = &static_cast<SYSTEM_MANDATORY_LABEL_ACE *>(ace)->SidStart;
            return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
        }
    }
    return SECURITY_MANDATORY_MEDIUM_RID;
}

/* Whether `mutex` (found under the lock's name) is one this process could
 * have made: owned by the owner its token gives new objects, and labelled no
 * lower than they are (the lower of the token's level and medium). Anyone in
 * the session can make an object under the name first, a low-integrity
 * process of the same user too; such a mutex would let its maker hold every
 * call hostage. Wine records no owner for objects made with default
 * security; Windows always does, so a missing owner is no one else's. */
inline bool own_mutex(HANDLE mutex)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    alignas(TOKEN_OWNER) unsigned char owner_buf[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER)];
    alignas(TOKEN_MANDATORY_LABEL) unsigned char level_buf[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_MANDATORY_LABEL)];
    DWORD size = 0;
    bool known = GetTokenInformation(token, TokenOwner, owner_buf, sizeof owner_buf, &size) &&
                 GetTokenInformation(token, TokenIntegrityLevel, level_buf, sizeof level_buf, &size);
    CloseHandle(token);
    if (!known)
        return false;
    PSID owner = nullptr;
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &owner,
                        nullptr, nullptr, &sacl, &sd) != ERROR_SUCCESS)
        return false;
    DWORD ours = *GetSidSubAuthority(reinterpret_cast<TOKEN_MANDATORY_LABEL *>(level_buf)->Label.Sid,
                                     *GetSidSubAuthorityCount(reinterpret_cast<TOKEN_MANDATORY_LABEL *>(level_buf)->Label.Sid) - 1u);
    if (ours > SECURITY_MANDATORY_MEDIUM_RID)
        ours = SECURITY_MANDATORY_MEDIUM_RID;
    bool own = (!owner || EqualSid(owner, reinterpret_cast<TOKEN_OWNER *>(owner_buf)->Owner)) && label_level(sacl) >= ours;
    LocalFree(sd);
    return own;
}

/* The process-wide named mutex, made or checked once it is good; a failure
 * is not kept, so the next call tries again (the squatter may have gone). */
inline HANDLE process_mutex()
{
    static std::mutex making;
    static HANDLE made = nullptr;
    std::lock_guard<std::mutex> guard(making);
    if (made)
        return made;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, lock_name().c_str());
    if (!mutex)
        throw error("no process lock: CreateMutexW failed with " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS && !own_mutex(mutex)) {
        CloseHandle(mutex);
        throw error("no process lock: the mutex under its name is not this process's own");
    }
    made = mutex;
    return made;
}

/* Holds the process-wide named mutex for one call. */
class hold {
public:
    hold() : mutex_(process_mutex())
    {
        DWORD got = WaitForSingleObject(mutex_, lock_wait_now_ms);
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED)
            throw error("no process lock: WaitForSingleObject gave " + std::to_string(got));
    }
    ~hold() { ReleaseMutex(mutex_); }
    hold(const hold &) = delete;
    hold &operator=(const hold &) = delete;

private:
    HANDLE mutex_;
};
#else
inline std::mutex lock;

class hold {
public:
    hold() { lock.lock(); }
    ~hold() { lock.unlock(); }
    hold(const hold &) = delete;
    hold &operator=(const hold &) = delete;
};
#endif

} // namespace detail

inline std::string version()
{
    detail::hold held;
    return gpuinfo_version();
}

inline std::string last_error()
{
    detail::hold held;
    return gpuinfo_last_error();
}

inline std::string report()
{
    detail::hold held;
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
        detail::hold held;
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
    detail::hold held;
    int count = gpuinfo_adapter_count();
    if (count < 0)
        throw error(gpuinfo_last_error());
    return count;
}

inline int vram_mb(int index)
{
    detail::hold held;
    int mib = gpuinfo_vram_mb(index);
    if (mib >= 0)
        return mib;
    /* -1 stands for both a failed enumeration and no adapter at `index`; the
     * answer comes from one report, so DXGI recovering in between can't turn
     * a failure into "no adapter". */
    const char *json = gpuinfo_get_json();
    if (!json)
        throw error(gpuinfo_last_error());
    std::vector<gpuinfo_adapter> records(detail::usual_adapters);
    std::size_t at = 0;
    int count = gpuinfo_read_report(json, records.data(), static_cast<int>(records.size()), &at);
    for (int i = 0; i < count && i < static_cast<int>(records.size()); ++i)
        if (index >= 0 && records[static_cast<std::size_t>(i)].index == index) {
            std::uint64_t mb = records[static_cast<std::size_t>(i)].dedicated_vram_mb;
            return mb > 2147483647u ? 2147483647 : static_cast<int>(mb);
        }
    throw std::out_of_range("quillmar::gpuinfo::vram_mb: no adapter at index " + std::to_string(index));
}

} // namespace quillmar::gpuinfo

#endif /* QUILLMAR_GPUINFO_HPP */
