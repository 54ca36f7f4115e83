#pragma once

// Page layout of a printed document: the document's form-feed pages become
// printed pages, each page height less the margins is cut into 58 line slots,
// and a fit check warns before printing when the font is too tall for a slot,
// a line too wide for the page or a page too long for the paper.
//
// Everything here is plain arithmetic over two small interfaces, so it runs
// against a recording canvas in tests and against the real printer in
// print_qt. All lengths are integers in printer device units (device pixels
// of the printable area); line indices are 0-based.

#include <functional>
#include <string>
#include <vector>

#include "platform/LineSource.h"

// A printer's drawing surface. The font is chosen by the owner before the
// layout code sees the canvas; all measurements are made in that font.
// TextOut places the top-left corner of the text cell at (x, y), not the
// baseline. Texts are UTF-8. Errors of the printing platform are thrown as
// exceptions derived from std::runtime_error.
class TPrinterCanvas {
public:
    virtual ~TPrinterCanvas() = default;

    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual int TextWidth(const std::string& text) const = 0;
    // Height of the text cell of a single line in the current font.
    virtual int TextHeight(const std::string& text) const = 0;
    virtual void TextOut(int x, int y, const std::string& text) = 0;

    virtual void BeginDoc() = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
};

// Lines held in memory.
class TStringLines : public TLineSource {
public:
    TStringLines() = default;
    explicit TStringLines(std::vector<std::string> lines);

    int Count() const override;
    std::string Line(int index) const override;

private:
    std::vector<std::string> lines_;
};

// Asked before printing a document that does not fit: gets the warning text
// and the caption, returns true to print anyway (Yes), false to stop (No).
using TAskYesNo = std::function<bool(const std::string& text, const std::string& caption)>;

constexpr int kLeftMargin = 50;
constexpr int kTopMargin = 50;
// Left plus right margin for the width check; top plus bottom for the pitch.
constexpr int kHorizontalMargins = 100;
constexpr int kVerticalMargins = 100;
constexpr int kSlotsPerPage = 58;
// Has an ascender, descenders and capitals, so its height is the full cell.
inline constexpr const char* kHeightSample = "jgyMT";
inline constexpr const char* kWarningCaption = "警告";

// A line whose first character is a form feed (code 12) starts a new page
// and is itself neither drawn nor measured. A form feed further in is text.
bool IsPageBreakLine(const std::string& line);

// (pageHeight - 100) / 58, truncated toward zero. 4900 gives 82, 6000 gives 101.
int LinePitch(int pageHeight);

// Top of the text cell of a slot: 50 + slot * pitch. Slot 3 at pitch 101 is 353.
int SlotTop(int slot, int pitch);

// Result of the counting pass. Pages count from 1; the line on a page is the
// distance from the page break line that opened it (the first page has none
// and counts from index 0), so the first line after a break is line 1.
struct TOverflowReport {
    int count = 0;
    int firstPage = 0; // 0 while count is 0
    int firstLine = 0; // 0 while count is 0
    // Pages with a line drawn below the printable height, and the first.
    int cutPages = 0;
    int firstCutPage = 0; // 0 while cutPages is 0
};

// Counting pass: measures every line that is not a page break line and counts
// those whose width reaches pageWidth - 100 (equal counts as too wide), and
// the pages on which a line with text has its cell's bottom (its slot top
// plus textHeight) below the page height: no break is made there, so that
// text would not reach the paper. Empty lines draw nothing and are not cut.
TOverflowReport CountOverflows(const TLineSource& lines, const TPrinterCanvas& canvas, int pitch, int textHeight);

// Appends one problem line to the warning. The first line gets the question
// "次のような問題がありますが印刷を行いますか？\r\n" in front; later lines
// are joined with CR LF.
std::string AddProblem(const std::string& problemText, const std::string& line);

// The whole warning for a line gap and a counting-pass result: the spacing
// problem first (gap < 0), then one width problem (one overflow, or several
// with their number), then the cut pages (the first, and their number when
// there are several). Empty when everything fits.
std::string ProblemText(int lineGap, const TOverflowReport& overflows);

// The pages of the printing pass as line ranges: page k holds lines
// [starts[k], starts[k + 1]). Page 0 starts at line 0, every later one at its
// page break line (slot 0); page breaks after the last line with text start
// no page. Example: {"a", "\f", "b", "\f"} gives {0, 1, 3}.
std::vector<int> PageStarts(const TLineSource& lines);

// Draws the lines [first, end) of one page as the printing pass does: each
// at x = 50 and the top of slot (line - first); empty lines and page break
// lines draw nothing. Begins and ends nothing.
void DrawPage(const TLineSource& lines, TPrinterCanvas& canvas, int pitch, int first, int end);

// Printing pass: one document; a page break line starts a new page and takes
// slot 0 of it, every other line is drawn at x = 50 and the top of its slot.
// Empty lines take their slot and draw nothing. Nothing else is drawn.
void PrintingPass(const TLineSource& lines, TPrinterCanvas& canvas, int pitch);

// Measures, checks and prints: text height of the sample, pitch and gap, the
// counting pass, the warning through ask (caption "警告") when there is a
// problem, then the printing pass. Returns false when the user said No (the
// canvas is then left untouched: no document is begun), true once printed.
// The caller has already chosen the printer and set its font; a source
// without lines is the caller's to skip before it shows the print dialog.
bool PrintLines(const TLineSource& lines, TPrinterCanvas& canvas, const TAskYesNo& ask);
