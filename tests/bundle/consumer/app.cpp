// The same through the C++ wrapper and the report reader the package's
// include folder brings: one line per adapter, then the hardware count.
#include "gpuinfo.hpp"

#include <cstdio>

int main()
{
    namespace gpu = quillmar::gpuinfo;
    try {
        for (const gpu::adapter &a : gpu::adapters())
            std::printf("%d|%s|%s|%llu|%s\n", a.index, a.name.c_str(), a.vendor.c_str(),
                        static_cast<unsigned long long>(a.dedicated_vram_mb), a.software ? "software" : "hardware");
        std::printf("hardware adapters %d\n", gpu::adapter_count());
    } catch (const gpu::error &e) {
        std::printf("failed: %s\n", e.reason().c_str());
        return 1;
    }
    return 0;
}
