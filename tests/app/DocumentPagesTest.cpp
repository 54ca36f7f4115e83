#include "app/DocumentPages.h"

#include "platform/TextUtil.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

void PrintTo(const TDocumentPage& page, std::ostream* out) { *out << "page " << page.Number << " @" << page.FirstLine; }

TEST(DocumentPages, NumbersEachFormFeedPageByItsFooter)
{
    struct Case {
        const char* what;
        std::vector<std::string_view> lines;
        std::vector<TDocumentPage> pages;
    } cases[] = {
        {"footers in brackets", {"a", "Postel      [Page 1]", "\f", "b", "Postel      [Page 2]", ""}, {{1, 0}, {2, 2}}},
        {"the oldest footers, a Roman one unnumbered",
         {"     August 13, 1982   - i -   RFC #822", "\f", "x", "     August 13, 1982   - 26 -   RFC #822", "\f"},
         {{0, 0}, {26, 1}, {0, 4}}},
        {"no form feed: one page", {"a", "", "Eddy   [Page 3]"}, {{3, 0}}},
        {"a footer too far above the break, and a page without one",
         {"[Page 1]", "1", "2", "3", "4", "\f", "\f text", "more"},
         {{0, 0}, {0, 5}, {0, 6}}},
        {"not footers", {"see [Page x] and - 4x - here", "[Page 123456]"}, {{0, 0}}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DocumentPages(c.lines), c.pages);
    }
    const std::vector<TDocumentPage> pages = {{1, 0}, {2, 10}, {3, 20}};
    EXPECT_EQ(PageOfLine(pages, 0)->Number, 1);
    EXPECT_EQ(PageOfLine(pages, 19)->Number, 2);
    EXPECT_EQ(PageOfLine(pages, 20)->Number, 3);
    EXPECT_EQ(PageOfLine(pages, 5000)->Number, 3);
    EXPECT_EQ(PageOfLine({}, 3), nullptr);
}

// RFC 2616 numbers every one of its 176 pages, in order, each opened by its form feed.
TEST(DocumentPages, Rfc2616NumbersEveryPage)
{
    const std::string path = std::string(SCRIVLET_RFC_DIR) + "/rfc2616.txt";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not present";
    const std::string text = ReadTextFile(path);
    const std::vector<std::string_view> lines = SplitLines(text);
    const std::vector<TDocumentPage> pages = DocumentPages(lines);
    ASSERT_GE(pages.size(), 176u);
    for (int k = 0; k < 176; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(pages[size_t(k)].Number, k + 1);
        EXPECT_TRUE(k == 0 || lines[size_t(pages[size_t(k)].FirstLine)].substr(0, 1) == "\f");
    }
    EXPECT_NE(lines[size_t(pages[41].FirstLine) + 1].find("RFC 2616"), std::string_view::npos);
}
