// The entry point of a fuzz target built without libFuzzer (the gcc sanitizer build): it runs the target once
// over every input it is given, files or folders of files, so the saved corpus of every parser is replayed under
// ASan and UBSan with the rest of the tests. A folder that holds no input is an error: every target keeps
// real inputs beside it.
//   fuzz_<name> PATH...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool RunOne(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A heap block of exactly the input's size, so that reading one byte past it is caught.
    std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            if (files.empty()) {
                std::fprintf(stderr, "replay: %s holds no input\n", path.c_str());
                return 1;
            }
            for (const auto& file : files) {
                if (!RunOne(file)) return 1;
                ++replayed;
            }
        } else {
            if (!RunOne(path)) return 1;
            ++replayed;
        }
    }
    std::printf("replay: %zu inputs\n", replayed);
    return 0;
}
