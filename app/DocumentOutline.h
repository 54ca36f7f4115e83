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
// is the left margin. A heading starts at a heading column after a blank line:
//   - numbered: "1.  Introduction", "3.10.7.4.  Other States", "2.1 Basic Rules",
//     "A.1.  Precedence", "C.1  Conversion", "Appendix B.  Parsing ...",
//     "APPENDIX I", "Appendix II - Title", "A.  EXAMPLES";
//   - unnumbered: a short line of words starting with a capital letter and
//     followed by a blank line ("Abstract", "Status of This Memo", "Authors' Addresses").
// The heading columns are the margin and any column a little further in where
// the document sets at least half as many numbered titles as at the margin:
// a document that indents its headings does so throughout. A document that
// centres at least two title lines after its front page has centred headings
// as well ("PREFACE" in the middle of the line).
// A numbered line that the document's own table of contents names with the
// same number and title (letter case and a final period aside) is a heading
// even where it reads like a sentence or a list item.
// Not headings: the table of contents itself (its lines, and everything from
// its title to the first entry's heading), page headers and footers (every
// line of the block after a form feed and of the block before one, "...
// [Page 12]", "RFC 2616   HTTP/1.1   June 1999"), the lines of the header
// block (two columns, or labels such as "Category:"), body text at other
// indentations, a line inside a paragraph, and a numbered item whose text
// runs on like a sentence. Time is linear in the text.
// Example: {"", "1.  Introduction", "", "   Text."} gives {1, "1", "Introduction", 1}.
[[nodiscard]] std::vector<THeading> DocumentOutline(std::span<const std::string_view> lines);

// A numbered line of the document's own table of contents.
struct TContentsEntry {
    int Line = 0;
    std::string Number; // as THeading's
    bool operator==(const TContentsEntry&) const = default;
};

// The outline and the table of contents it was read with, in one pass.
struct TDocumentLayout {
    std::vector<THeading> Headings;
    std::vector<TContentsEntry> Contents; // in line order
};
TDocumentLayout DocumentLayout(std::span<const std::string_view> lines);

// The width of the document's ordinary lines in columns (a wide East Asian
// character takes two), from column 0: the widest line once the widest 0.5 %
// are set aside as figures and tables that overrun. 72 for an RFC; 0 for a
// text without lines.
[[nodiscard]] int OrdinaryLineWidth(std::span<const std::string_view> lines);

// Columns a line takes on screen, as OrdinaryLineWidth counts them; a TAB
// goes to the next multiple of eight.
[[nodiscard]] int DisplayColumns(std::string_view line);
