#include "print/PrintLayout.h"

#include <cstdio>
#include <utility>

namespace {

constexpr char kFormFeed = '\f';

const char* const kProblemHeader = "次のような問題がありますが印刷を行いますか？\r\n";
const char* const kNarrowSpacing = "・行間がとても狭く文字が欠けるかもしれません。";

// The two width texts have fixed formats written here, never user text, so
// the compiler checks each format against its arguments.
std::string OneOverflowText(int page, int line)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "・%dページ%d行目の右端が溢れそうです", page, line);
    return buffer;
}

std::string SeveralOverflowsText(int page, int line, int count)
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "・%dページ%d行目など%d個所で右端が溢れそうです", page, line, count);
    return buffer;
}

std::string OneCutPageText(int page)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "・%dページの下端が切れそうです", page);
    return buffer;
}

std::string SeveralCutPagesText(int page, int count)
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "・%dページなど%dページで下端が切れそうです", page, count);
    return buffer;
}

} // namespace

TStringLines::TStringLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}

int TStringLines::Count() const { return static_cast<int>(lines_.size()); }

std::string TStringLines::Line(int index) const
{
    if (index < 0 || index >= Count()) return {};
    return lines_[static_cast<std::size_t>(index)];
}

bool IsPageBreakLine(const std::string& line) { return !line.empty() && line[0] == kFormFeed; }

int LinePitch(int pageHeight)
{
    // C++ integer division truncates toward zero, as the layout requires even
    // for a page smaller than its margins.
    return (pageHeight - kVerticalMargins) / kSlotsPerPage;
}

int SlotTop(int slot, int pitch) { return kTopMargin + slot * pitch; }

TOverflowReport CountOverflows(const TLineSource& lines, const TPrinterCanvas& canvas, int pitch, int textHeight)
{
    const int limit = canvas.PageWidth() - kHorizontalMargins;
    const int pageHeight = canvas.PageHeight();
    TOverflowReport report;
    int page = 1;
    int pageStart = 0;
    int lastCutPage = 0;
    const int count = lines.Count();
    for (int i = 0; i < count; ++i) {
        const std::string line = lines.Line(i);
        if (IsPageBreakLine(line)) {
            ++page;
            pageStart = i;
            continue;
        }
        if (!line.empty() && page != lastCutPage && SlotTop(i - pageStart, pitch) + textHeight > pageHeight) {
            lastCutPage = page;
            if (++report.cutPages == 1) report.firstCutPage = page;
        }
        if (canvas.TextWidth(line) < limit) continue;
        if (++report.count == 1) {
            report.firstPage = page;
            report.firstLine = i - pageStart;
        }
    }
    return report;
}

std::string AddProblem(const std::string& problemText, const std::string& line)
{
    if (problemText.empty()) return kProblemHeader + line;
    return problemText + "\r\n" + line;
}

std::string ProblemText(int lineGap, const TOverflowReport& overflows)
{
    std::string text;
    if (lineGap < 0) text = AddProblem(text, kNarrowSpacing);
    if (overflows.count == 1)
        text = AddProblem(text, OneOverflowText(overflows.firstPage, overflows.firstLine));
    else if (overflows.count >= 2)
        text = AddProblem(text, SeveralOverflowsText(overflows.firstPage, overflows.firstLine, overflows.count));
    if (overflows.cutPages == 1)
        text = AddProblem(text, OneCutPageText(overflows.firstCutPage));
    else if (overflows.cutPages >= 2)
        text = AddProblem(text, SeveralCutPagesText(overflows.firstCutPage, overflows.cutPages));
    return text;
}

std::vector<int> PageStarts(const TLineSource& lines)
{
    // Most documents end with a form feed: breaks after the last drawn line would only feed blank sheets.
    int count = lines.Count();
    for (; count > 0; --count) {
        const std::string last = lines.Line(count - 1);
        if (!last.empty() && !IsPageBreakLine(last)) break;
    }
    std::vector<int> starts{0};
    for (int j = 1; j < count; ++j)
        if (IsPageBreakLine(lines.Line(j))) starts.push_back(j);
    starts.push_back(count);
    return starts;
}

void DrawPage(const TLineSource& lines, TPrinterCanvas& canvas, int pitch, int first, int end)
{
    for (int j = first; j < end; ++j) {
        const std::string line = lines.Line(j);
        if (!line.empty() && !IsPageBreakLine(line)) canvas.TextOut(kLeftMargin, SlotTop(j - first, pitch), line);
    }
}

void PrintingPass(const TLineSource& lines, TPrinterCanvas& canvas, int pitch)
{
    canvas.BeginDoc();
    const std::vector<int> starts = PageStarts(lines);
    // A page break on the very first line opens the document with an empty page.
    if (starts.back() > 0 && IsPageBreakLine(lines.Line(0))) canvas.NewPage();
    for (std::size_t page = 0; page + 1 < starts.size(); ++page) {
        if (page > 0) canvas.NewPage();
        DrawPage(lines, canvas, pitch, starts[page], starts[page + 1]);
    }
    canvas.EndDoc();
}

bool PrintLines(const TLineSource& lines, TPrinterCanvas& canvas, const TAskYesNo& ask)
{
    const int textHeight = canvas.TextHeight(kHeightSample);
    const int pitch = LinePitch(canvas.PageHeight());
    const int lineGap = pitch - textHeight;

    const std::string problems = ProblemText(lineGap, CountOverflows(lines, canvas, pitch, textHeight));
    if (!problems.empty() && !ask(problems, kWarningCaption)) return false;

    // The step between slots is text height + gap, which is the pitch itself.
    PrintingPass(lines, canvas, textHeight + lineGap);
    return true;
}
