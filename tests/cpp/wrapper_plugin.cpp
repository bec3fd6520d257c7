/* A DLL of its own that calls the library through gpuinfo.hpp, as a host's
 * plugin would: its copy of the wrapper must keep its calls apart from the
 * program's. */
#include "gpuinfo.hpp"

#include <vector>

extern "C" __declspec(dllexport) int plugin_adapters(std::vector<quillmar::gpuinfo::adapter> *out);

/* adapters() into *out: 0, or 1 when it threw. */
extern "C" __declspec(dllexport) int plugin_adapters(std::vector<quillmar::gpuinfo::adapter> *out)
{
    try {
        *out = quillmar::gpuinfo::adapters();
        return 0;
    } catch (...) {
        return 1;
    }
}
