// The pages of a document as it numbers them itself: the form-feed pages
// and the number their footers give. Plain functions over the source lines,
// so going to a page and naming the page being read share them.
#pragma once

#include <span>
#include <string_view>
#include <vector>

struct TDocumentPage {
    // From the page's footer: "... [Page 12]", or "- 12 -" in the oldest
    // documents; 0 when the page has no such line.
    int Number = 0;
    // The 0-based line that opens the page: its form feed line, 0 for the first.
    int FirstLine = 0;

    bool operator==(const TDocumentPage&) const = default;
};

// Every page, in order; a text without form feeds is one page. Empty for no lines.
// Example: {"a", "   [Page 1]", "\f", "b", "   [Page 2]"} gives {{1, 0}, {2, 2}}.
[[nodiscard]] std::vector<TDocumentPage> DocumentPages(std::span<const std::string_view> lines);

// The page that holds line: the last whose FirstLine is at or before it; null for no pages.
const TDocumentPage* PageOfLine(const std::vector<TDocumentPage>& pages, int line);
