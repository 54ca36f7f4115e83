// Finding every occurrence of a text in a document, for the find bar: a
// plain function over the document's source lines, so the count ("3 / 17")
// and the highlights come from one pass.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One occurrence: bytes [Offset, Offset + Length) of line Line (0-based).
struct TFindMatch {
    int Line = 0;
    std::size_t Offset = 0;
    std::size_t Length = 0;

    bool operator==(const TFindMatch&) const = default;
};

// Every occurrence of needle within a line, in document order; occurrences
// do not overlap (the search goes on after the end of each). Without
// matchCase the letters A-Z and a-z match either case; every other byte,
// UTF-8 letters included, matches only itself. An empty needle, or one
// holding a line break, finds nothing: a match never spans two lines.
// Example: FindAll({"Aa aa"}, "aa", false) == {{0, 0, 2}, {0, 3, 2}}.
[[nodiscard]] std::vector<TFindMatch> FindAll(std::span<const std::string_view> lines, std::string_view needle,
                                              bool matchCase = false);
