#include "app/DocumentFind.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

unsigned char Fold(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

struct TFoldedHash {
    std::size_t operator()(char c) const { return Fold(c); }
};
struct TFoldedEqual {
    bool operator()(char a, char b) const { return Fold(a) == Fold(b); }
};

// Runs one searcher, built once for the needle, over every line.
template <class Searcher>
void Collect(std::span<const std::string_view> lines, std::size_t length, const Searcher& searcher,
             std::vector<TFindMatch>& matches)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line.size() < length) continue;
        auto from = line.begin();
        for (;;) {
            auto hit = std::search(from, line.end(), searcher);
            if (hit == line.end()) break;
            matches.push_back(TFindMatch{int(i), std::size_t(hit - line.begin()), length});
            from = hit + std::ptrdiff_t(length);
        }
    }
}

} // namespace

std::vector<TFindMatch> FindAll(std::span<const std::string_view> lines, std::string_view needle, bool matchCase)
{
    std::vector<TFindMatch> matches;
    if (needle.empty() || needle.find_first_of("\r\n") != std::string_view::npos) return matches;
    if (matchCase) {
        Collect(lines, needle.size(), std::boyer_moore_horspool_searcher(needle.begin(), needle.end()), matches);
    } else {
        Collect(lines, needle.size(),
                std::boyer_moore_horspool_searcher(needle.begin(), needle.end(), TFoldedHash{}, TFoldedEqual{}),
                matches);
    }
    return matches;
}
