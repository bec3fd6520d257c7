/* Small builders for the byte strings the tests are written in. */
#ifndef QUILLMAR_NATIVE_TEST_UTIL_H
#define QUILLMAR_NATIVE_TEST_UTIL_H

#include <initializer_list>
#include <string>

inline std::string rep(size_t n, char c)
{
    return std::string(n, c);
}

inline std::string rep(size_t n, const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

inline std::string bytes(std::initializer_list<int> list)
{
    std::string out;
    for (int b : list)
        out += (char)b;
    return out;
}

inline std::string hex(const std::string &s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : s) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

/* The report of a discrete AMD adapter and the software rasterizer. */
inline const std::string worked_example_report =
    "{\"adapters\":[{\"index\":0,\"name\":\"Example V7 Graphics\",\"vendor\":\"AMD\",\"vendor_id\":4098,"
    "\"device_id\":29631,\"dedicated_vram_mb\":16368,\"shared_memory_mb\":32727,"
    "\"driver_version\":\"31.0.24033.1003\",\"software\":0},{\"index\":1,\"name\":\"Software Rasterizer\","
    "\"vendor\":\"Microsoft\",\"vendor_id\":5140,\"device_id\":140,\"dedicated_vram_mb\":0,"
    "\"shared_memory_mb\":4044,\"driver_version\":\"\",\"software\":1}]}";

#endif
