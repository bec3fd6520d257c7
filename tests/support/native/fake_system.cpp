#include "fake_system.h"

#include "fake_presets.h"
#include "gpuinfo_internal.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>

namespace fake {
namespace {

bool same_guid(const GUID &a, const GUID &b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

/* The fake objects are owned through this, as the COM interfaces have no
 * virtual destructor to delete them by. */
struct owned {
    virtual ~owned() = default;
};

struct state {
    scenario s;
    stats st;
    int conversions = 0;
    unsigned generation = 0; /* enumerations so far of a changing scenario */
    /* Objects live until the next reset whatever their count, so a
     * reference the library mishandles shows in the statistics instead of
     * as a crash in the middle of a test. */
    std::vector<std::unique_ptr<owned>> objects;
};

state &current()
{
    static state st;
    return st;
}

HRESULT unexpected()
{
    ++current().st.unexpected_calls;
    return E_FAIL;
}

/* What every fake DXGI object does alike: IUnknown and IDXGIObject over a
 * reference count that starts at the one reference handed out. Interfaces
 * other than the object's own, and the private data and parent calls, are
 * not for the library to ask; they count as unexpected. */
template <class Interface>
class fake_object : public Interface, public owned {
public:
    fake_object() { add(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        touch();
        if (object)
            *object = nullptr;
        ++current().st.unexpected_calls;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add(); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (refs_ == 0) {
            ++current().st.over_releases;
            return 0;
        }
        --refs_;
        --current().st.live_refs;
        return refs_;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, UINT, const void *) override { return unexpected(); }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID, const IUnknown *) override { return unexpected(); }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, UINT *, void *) override { return unexpected(); }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID, void **) override { return unexpected(); }

protected:
    /* Every call on an object must come with a reference held. */
    void touch() const
    {
        if (refs_ == 0)
            ++current().st.unexpected_calls;
    }

private:
    ULONG add()
    {
        ++current().st.live_refs;
        return ++refs_;
    }

    ULONG refs_ = 0;
};

class fake_adapter final : public fake_object<IDXGIAdapter> {
public:
    explicit fake_adapter(const adapter &a) : a_(a) {}

    HRESULT STDMETHODCALLTYPE EnumOutputs(UINT, IDXGIOutput **) override { return unexpected(); }

    HRESULT STDMETHODCALLTYPE GetDesc(DXGI_ADAPTER_DESC *desc) override
    {
        touch();
        ++current().st.desc_calls;
        if (!desc)
            return unexpected();
        if (FAILED(a_.desc_hr)) {
            /* Whatever a failing driver leaves must not reach a record. */
            memset(desc, 0x5A, sizeof *desc);
            return a_.desc_hr;
        }
        memset(desc, 0, sizeof *desc);
        size_t units = a_.description.size() < 128 ? a_.description.size() : 128;
        memcpy(desc->Description, a_.description.data(), units * sizeof(WCHAR));
        desc->VendorId = a_.vendor_id;
        desc->DeviceId = a_.device_id;
        desc->SubSysId = a_.subsys_id;
        desc->Revision = a_.revision;
        desc->DedicatedVideoMemory = a_.dedicated_video_memory;
        desc->DedicatedSystemMemory = a_.dedicated_system_memory;
        desc->SharedSystemMemory = a_.shared_system_memory;
        desc->AdapterLuid.LowPart = 0x1234;
        return a_.desc_hr;
    }

    HRESULT STDMETHODCALLTYPE CheckInterfaceSupport(REFGUID name, LARGE_INTEGER *version) override
    {
        touch();
        ++current().st.version_calls;
        if (!same_guid(name, IID_IDXGIDevice_) || !version) {
            ++current().st.unexpected_calls;
            return DXGI_ERROR_UNSUPPORTED;
        }
        if (SUCCEEDED(a_.version_hr))
            version->QuadPart = a_.driver_version;
        return a_.version_hr;
    }

private:
    adapter a_;
};

class fake_factory final : public fake_object<IDXGIFactory> {
public:
    HRESULT STDMETHODCALLTYPE MakeWindowAssociation(HWND, UINT) override { return unexpected(); }
    HRESULT STDMETHODCALLTYPE GetWindowAssociation(HWND *) override { return unexpected(); }
    HRESULT STDMETHODCALLTYPE CreateSwapChain(IUnknown *, DXGI_SWAP_CHAIN_DESC *, IDXGISwapChain **) override
    {
        return unexpected();
    }
    HRESULT STDMETHODCALLTYPE CreateSoftwareAdapter(HMODULE, IDXGIAdapter **) override { return unexpected(); }

    HRESULT STDMETHODCALLTYPE EnumAdapters(UINT index, IDXGIAdapter **out) override
    {
        touch();
        state &g = current();
        ++g.st.enum_calls;
        if (!out)
            return unexpected();
        *out = nullptr;
        if (index >= g.s.adapters.size())
            return g.s.end_hr;
        const adapter &a = g.s.adapters[index];
        if (a.enum_hr != S_OK || a.enum_gives_null)
            return a.enum_hr;
        auto made = std::make_unique<fake_adapter>(a);
        *out = made.get();
        g.objects.push_back(std::move(made));
        return S_OK;
    }
};

/* The adapters of one of the double's scenarios, as the stand-in keeps them. */
std::vector<adapter> adapters_of(const ::fake_scenario &given)
{
    std::vector<adapter> out;
    for (int i = 0; i < given.adapter_count; ++i) {
        const ::fake_adapter &g = given.adapters[i];
        adapter a;
        a.description.assign(g.description, FAKE_DXGI_DESCRIPTION_UNITS);
        a.vendor_id = g.vendor_id;
        a.device_id = g.device_id;
        a.subsys_id = g.subsys_id;
        a.revision = g.revision;
        a.dedicated_video_memory = g.dedicated_video_memory;
        a.dedicated_system_memory = g.dedicated_system_memory;
        a.shared_system_memory = g.shared_system_memory;
        a.enum_hr = g.enum_hr;
        a.enum_gives_null = g.enum_gives_null != 0;
        a.desc_hr = g.desc_hr;
        a.version_hr = g.version_hr;
        a.driver_version = g.driver_version;
        out.push_back(a);
    }
    return out;
}

HRESULT WINAPI create_factory(REFIID riid, void **out)
{
    state &g = current();
    ++g.st.create_calls;
    if (!out)
        return unexpected();
    *out = nullptr;
    if (!same_guid(riid, IID_IDXGIFactory_)) {
        ++g.st.unexpected_calls;
        return E_NOINTERFACE;
    }
    if (g.s.create_failures > 0) {
        --g.s.create_failures;
        return E_FAIL;
    }
    if (FAILED(g.s.create_hr) || g.s.create_gives_null)
        return g.s.create_hr;
    if (g.s.changes_every_call) {
        static ::fake_scenario next; /* some 14 KB: not on the stack */
        fake_generation(&next, ++g.generation);
        g.s.adapters = adapters_of(next);
    }
    auto made = std::make_unique<fake_factory>();
    *out = static_cast<IDXGIFactory *>(made.get());
    g.objects.push_back(std::move(made));
    return g.s.create_hr;
}

INT_PTR WINAPI add_dll_directory_present()
{
    return 0;
}

/* Distinct addresses stand for the two modules. */
char kernel32_module, dxgi_module;

HMODULE handle_of(char *module)
{
    return reinterpret_cast<HMODULE>(module);
}

void append_utf8(std::string *out, unsigned c)
{
    if (c < 0x80) {
        *out += (char)c;
    } else if (c < 0x800) {
        *out += (char)(0xC0 | c >> 6);
        *out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += (char)(0xE0 | c >> 12);
        *out += (char)(0x80 | (c >> 6 & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    } else {
        *out += (char)(0xF0 | c >> 18);
        *out += (char)(0x80 | (c >> 12 & 0x3F));
        *out += (char)(0x80 | (c >> 6 & 0x3F));
        *out += (char)(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string utf8_of(const char16_t *units, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        append_utf8(&out, c);
    }
    return out;
}

scenario from_double(const ::fake_scenario &given)
{
    scenario s;
    s.create_hr = given.create_hr;
    s.create_gives_null = given.create_gives_null != 0;
    if (given.end_hr)
        s.end_hr = given.end_hr;
    s.adapters = adapters_of(given);
    s.changes_every_call = given.changes_every_call != 0;
    s.create_failures = given.create_failures;
    return s;
}

bool preset(const char *name, scenario *out)
{
    static ::fake_scenario given; /* some 14 KB: not on the stack */
    if (!fake_preset(name, &given))
        return false;
    *out = from_double(given);
    return true;
}

scenario preset(const char *name)
{
    scenario s;
    if (!preset(name, &s))
        abort();
    return s;
}

void reset(const scenario &s)
{
    state &g = current();
    g.objects.clear();
    g.s = s;
    g.st = stats();
    g.conversions = 0;
    g.generation = 0;
}

const stats &statistics()
{
    return current().st;
}

} // namespace fake

using fake::current;

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    const fake::scenario &s = current().s;
    if (s.system_directory_fails)
        return 0;
    UINT len = (UINT)s.system_directory.size();
    if (len + 1 > size)
        return len + 1; /* what it would need, NUL included; nothing written */
    memcpy(buffer, s.system_directory.c_str(), len + 1);
    return len;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    if (name && strcasecmp(name, "kernel32.dll") == 0)
        return fake::handle_of(&fake::kernel32_module);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    const fake::scenario &s = current().s;
    if (!name)
        return nullptr;
    if (module == fake::handle_of(&fake::kernel32_module) && strcmp(name, "AddDllDirectory") == 0)
        return s.has_add_dll_directory ? &fake::add_dll_directory_present : nullptr;
    if (module == fake::handle_of(&fake::dxgi_module) && strcmp(name, "CreateDXGIFactory") == 0)
        return s.has_create_factory ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&fake::create_factory))
                                    : nullptr;
    return nullptr;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags)
{
    fake::state &g = current();
    ++g.st.load_calls;
    g.st.loaded_path = path ? path : "";
    g.st.load_flags = flags;
    if (file || !path)
        ++g.st.unexpected_calls;
    return g.s.dxgi_loads ? fake::handle_of(&fake::dxgi_module) : nullptr;
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide, int wide_units, LPSTR bytes,
                               int byte_room, LPCCH default_char, LPBOOL used_default_char)
{
    fake::state &g = current();
    g.st.converted_units.push_back(wide_units);
    int call = ++g.conversions;
    /* CP_UTF8 takes neither flags nor a default character. */
    if (code_page != CP_UTF8 || flags != 0 || default_char || used_default_char || !wide || wide_units == 0 ||
        wide_units < -1 || byte_room < 0 || (byte_room > 0 && !bytes)) {
        ++g.st.unexpected_calls;
        return 0;
    }
    size_t n = wide_units >= 0 ? (size_t)wide_units : std::char_traits<char16_t>::length(wide) + 1;
    std::string text = fake::utf8_of(wide, n); /* with -1 the NUL is converted too */
    if (byte_room == 0)
        return (int)text.size();
    if (call == g.s.failing_conversion) {
        memset(bytes, 'X', (size_t)byte_room);
        return 0;
    }
    if (text.size() > (size_t)byte_room)
        return 0; /* ERROR_INSUFFICIENT_BUFFER */
    memcpy(bytes, text.data(), text.size());
    return (int)text.size();
}
