// Runs a fuzz target over a kept corpus without fuzzing further, so the
// inputs that once found faults stay regression tests in a normal build.
// Arguments: corpus directories or single files. Fails when nothing was run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/FileUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::filesystem::path& file)
{
    // Kept inputs are small; a larger file is not one of them.
    std::string bytes;
    if (!ReadRegularFile(file.string(), bytes, 1 << 20)) {
        std::fprintf(stderr, "%s: unreadable\n", file.c_str());
        std::exit(1);
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus dir or file>...\n", argv[0]);
        return 2;
    }
    // libFuzzer always tries the empty input first; so do we.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(&kNothing, 0);

    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (!entry.is_regular_file()) continue;
                RunOne(entry.path());
                ++count;
            }
        } else if (std::filesystem::is_regular_file(arg, error)) {
            RunOne(arg);
            ++count;
        } else {
            std::fprintf(stderr, "%s: not found\n", argv[i]);
            return 1;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
