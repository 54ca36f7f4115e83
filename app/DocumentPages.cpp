// The document's own pages: form feeds and the numbers its footers give.
#include "app/DocumentPages.h"

#include "platform/TextUtil.h"

#include <algorithm>

namespace {

// A footer sits in the last few lines with text before the form feed.
constexpr int kFooterReach = 4;
constexpr int kMaxPage = 99999;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "12" at the end of text; 0 when not a number of at most five digits.
int NumberAtEnd(std::string_view text)
{
    std::size_t start = text.size();
    while (start > 0 && IsDigit(text[start - 1])) --start;
    if (start == text.size() || text.size() - start > 5) return 0;
    int number = 0;
    for (char c : text.substr(start)) number = number * 10 + (c - '0');
    return number <= kMaxPage ? number : 0;
}

// "Postel   [Page 12]" or "August 13, 1982   - 26 -   RFC #822".
int FooterNumber(std::string_view line)
{
    line = TrimRightBlanks(line);
    if (line.size() > 1 && line.back() == ']') {
        const std::size_t open = line.rfind("[Page ");
        if (open != std::string_view::npos)
            return NumberAtEnd(TrimBlanks(line.substr(open + 6, line.size() - open - 7)));
    }
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) return 0;
    const std::size_t end = line.find(" -", dash + 3);
    if (end == std::string_view::npos) return 0;
    const std::string_view number = line.substr(dash + 3, end - dash - 3);
    return number.find_first_not_of("0123456789") == std::string_view::npos ? NumberAtEnd(number) : 0;
}

bool OpensPage(std::string_view line) { return !line.empty() && line[0] == '\f'; }

} // namespace

std::vector<TDocumentPage> DocumentPages(std::span<const std::string_view> lines)
{
    std::vector<TDocumentPage> pages;
    if (lines.empty()) return pages;
    pages.push_back({0, 0});
    const auto findFooter = [&](std::size_t end) {
        int seen = 0;
        for (std::size_t i = end; i > std::size_t(pages.back().FirstLine) && seen < kFooterReach;) {
            --i;
            if (TrimBlanks(lines[i]).empty()) continue;
            ++seen;
            if (const int number = FooterNumber(lines[i])) {
                pages.back().Number = number;
                return;
            }
        }
    };
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!OpensPage(lines[i])) continue;
        findFooter(i);
        pages.push_back({0, int(i)});
    }
    findFooter(lines.size());
    return pages;
}

const TDocumentPage* PageOfLine(const std::vector<TDocumentPage>& pages, int line)
{
    auto after = std::upper_bound(pages.begin(), pages.end(), line,
                                  [](int l, const TDocumentPage& page) { return l < page.FirstLine; });
    return after == pages.begin() ? nullptr : &*(after - 1);
}
