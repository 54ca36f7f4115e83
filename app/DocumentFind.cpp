// FindAll: every occurrence of a text in the source lines, in one pass.
#include "app/DocumentFind.h"

#include <array>

namespace {

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// A Horspool search for one needle, built once and run over every line. The
// needle is stored folded when case does not matter; the shift table then
// holds both cases of each letter.
class TSearcher {
public:
    TSearcher(std::string_view needle, bool matchCase) : matchCase_(matchCase)
    {
        for (char c : needle) needle_.push_back(char(Key(static_cast<unsigned char>(c))));
        shift_.fill(needle_.size());
        for (std::size_t k = 0; k + 1 < needle_.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(needle_[k]);
            shift_[c] = needle_.size() - 1 - k;
            if (!matchCase_ && c >= 'a' && c <= 'z') shift_[c - ('a' - 'A')] = shift_[c];
        }
    }

    // The first occurrence in line at or after from, or npos.
    std::size_t Find(std::string_view line, std::size_t from) const
    {
        const std::size_t n = needle_.size();
        while (from + n <= line.size()) {
            std::size_t k = n;
            while (k > 0 &&
                   Key(static_cast<unsigned char>(line[from + k - 1])) == static_cast<unsigned char>(needle_[k - 1]))
                --k;
            if (k == 0) return from;
            from += shift_[static_cast<unsigned char>(line[from + n - 1])];
        }
        return std::string_view::npos;
    }

    std::size_t Length() const { return needle_.size(); }

private:
    unsigned char Key(unsigned char c) const { return matchCase_ ? c : Fold(c); }

    bool matchCase_;
    std::string needle_;
    std::array<std::size_t, 256> shift_{};
};

} // namespace

std::vector<TFindMatch> FindAll(std::span<const std::string_view> lines, std::string_view needle, bool matchCase)
{
    std::vector<TFindMatch> matches;
    if (needle.empty() || needle.find_first_of("\r\n") != std::string_view::npos) return matches;
    const TSearcher searcher(needle, matchCase);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (std::size_t at = searcher.Find(lines[i], 0); at != std::string_view::npos;
             at = searcher.Find(lines[i], at + searcher.Length()))
            matches.push_back(TFindMatch{int(i), at, searcher.Length()});
    }
    return matches;
}
