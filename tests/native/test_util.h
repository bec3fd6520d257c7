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

#endif
