// SPDX-License-Identifier: MIT
// Replays every file of a fuzz corpus directory through LLVMFuzzerTestOneInput
// in the normal build, so inputs the fuzzer once found interesting keep being
// checked by CTest (and under the sanitizer build).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    size_t count = 0;
    if (fs::is_directory(argv[1], ec)) {
        for (const auto &entry : fs::recursive_directory_iterator(argv[1], ec)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    // An empty input is always worth one run.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %zu corpus files from %s\n", count, argv[1]);
    return 0;
}
