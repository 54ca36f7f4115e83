// Resolves arbitrary path pairs, given as "<base>\n<path>" (no newline: the
// whole input is the base and the path is empty), with both delimiters and
// with the roles swapped.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdGlobal.h"

namespace {

void CheckResolved(const std::string& base, const std::string& path, char delimiter)
{
    const std::string result = ResolvePath(base, path, delimiter);
    if (!path.empty() && path[0] == delimiter) {
        Check(result == path);
        return;
    }
    // Joining adds at most one delimiter; dot segments and repeats only shrink.
    Check(result.size() <= base.size() + 1 + path.size());
    // Repeated delimiters always collapse.
    const std::string twice(2, delimiter);
    Check(result.find(twice) == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\n');
    const std::string base = split == std::string::npos ? input : input.substr(0, split);
    const std::string path = split == std::string::npos ? std::string() : input.substr(split + 1);

    CheckResolved(base, path, '/');
    CheckResolved(base, path, '\\');
    CheckResolved(path, base, '/');
    return 0;
}
