/* Replays files through the fuzz target without libFuzzer, so CTest can run
 * the seed corpus (and any crash file) in the ordinary sanitizer build.
 * Arguments are files or directories; directories are read in name order so
 * a failure names the same file every run. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            for (const auto &e : fs::directory_iterator(p))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else if (fs::is_regular_file(p)) {
            files.push_back(p);
        } else {
            fprintf(stderr, "fuzz_runner: no such file or directory: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        fprintf(stderr, "fuzz_runner: nothing to replay\n");
        return 2;
    }
    for (const auto &f : files) {
        std::ifstream s(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(s)), std::istreambuf_iterator<char>());
        if (!s.good() && !s.eof()) {
            fprintf(stderr, "fuzz_runner: cannot read %s\n", f.c_str());
            return 2;
        }
        fprintf(stderr, "fuzz_runner: %s (%zu bytes)\n", f.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    fprintf(stderr, "fuzz_runner: %zu inputs replayed\n", files.size());
    return 0;
}
