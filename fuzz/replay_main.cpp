// Runs a fuzz target over a kept corpus without fuzzing further, so the
// inputs that once found faults stay regression tests in a normal build.
// Arguments: corpus directories or single files. Fails when nothing was run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
