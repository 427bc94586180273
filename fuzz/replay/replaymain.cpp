// Replays a fuzz target's kept inputs without libFuzzer: links one fuzz_<name>.cpp and feeds it every file of the
// folders (or the files) named on the command line, in name order, the way libFuzzer runs a corpus. A crash, an
// abort or a sanitizer report ends the program, and CTest reports the test as failed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional in a fuzz target.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::recursive_directory_iterator(arg, ec)) {
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER|FILE...: no inputs found\n", argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) {
            std::fprintf(stderr, "%s: cannot be read\n", p.c_str());
            return 2;
        }
        std::printf("replaying %s (%zu bytes)\n", p.c_str(), bytes.size());
        std::fflush(stdout);
        // A copy of exactly the input's size, so that a read past its end shows under ASan.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        static uint8_t none = 0;
        LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
