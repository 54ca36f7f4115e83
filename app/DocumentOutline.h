// The outline of a plain-text RFC: its headings in order, found from the
// text's own layout. Plain functions over the document's source lines (the
// lines of the file or fetched body, before any word wrap), so the contents
// panel, tests and benchmarks share them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// One heading. Line is the 0-based index of its first line in the lines given.
struct THeading {
    // 1 for "3.", "Appendix A" and the unnumbered front and back matter;
    // one more per number component ("3.10.7.4" is 4, "A.1" is 2). An
    // unnumbered heading inside a numbered section is one below that section.
    int Level = 1;
    // "3.10.7.4", "A.1", "A", or empty; without the trailing period.
    std::string Number;
    // Trimmed; a title wrapped onto an indented second line is joined with one blank.
    std::string Title;
    int Line = 0;

    bool operator==(const THeading&) const = default;
};

// The headings of a document, in line order. Lines are UTF-8 (a byte-order
// mark at the start of the first line is ignored) and may hold form feeds.
//
// The column the text starts in (0 for most RFCs, 5 for some of the oldest)
// is the left margin. A heading starts at the margin after a blank line:
//   - numbered: "1.  Introduction", "3.10.7.4.  Other States", "2.1 Basic Rules",
//     "A.1.  Precedence", "C.1  Conversion", "Appendix B.  Parsing ...";
//   - unnumbered: a short line of words starting with a capital letter and
//     followed by a blank line ("Abstract", "Status of This Memo", "Authors' Addresses").
// Not headings: lines of the document's own table of contents (dotted leaders
// or a page number at the end), page headers and footers (the lines next to a
// form feed, "... [Page 12]", "RFC 2616   HTTP/1.1   June 1999"), the lines
// of the header block (two columns, or labels such as "Category:"), anything
// indented (figures, lists, body text), a line inside a paragraph, and a
// numbered item whose text runs on like a sentence. Time is linear in the text.
// Example: {"", "1.  Introduction", "", "   Text."} gives {1, "1", "Introduction", 1}.
std::vector<THeading> DocumentOutline(std::span<const std::string_view> lines);
