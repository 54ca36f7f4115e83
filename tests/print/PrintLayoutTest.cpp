#include "print/PrintLayout.h"
#include "tests/print/RecordingCanvas.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHeader = "次のような問題がありますが印刷を行いますか？\r\n";
const std::string kSpacing = "・行間がとても狭く文字が欠けるかもしれません。";

// An ask callback that records its questions and answers from a fixed reply.
struct TAskRecorder {
    bool answer = true;
    std::vector<std::string> texts;
    std::vector<std::string> captions;

    TAskYesNo Callback()
    {
        return [this](const std::string& text, const std::string& caption) {
            texts.push_back(text);
            captions.push_back(caption);
            return answer;
        };
    }
};

TEST(LinePitch, DividesPrintableHeightLessMarginsByFiftyEightTruncating)
{
    struct {
        int pageHeight;
        int pitch;
    } const cases[] = {
        {4900, 82},           // 4800 / 58 = 82.76
        {6000, 101},          // 5900 / 58 = 101.72
        {158, 1},             // exactly one unit per slot
        {157, 0},             // one short
        {100, 0},    {99, 0}, // -1 / 58 truncates toward zero, not down
        {42, -1},             // -58 / 58
        {0, -1},              // -100 / 58 = -1.72
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pageHeight);
        EXPECT_EQ(LinePitch(c.pageHeight), c.pitch);
    }
}

TEST(AddProblem, PutsTheQuestionBeforeTheFirstLineAndCrLfBetweenLines)
{
    EXPECT_EQ(AddProblem("", "・a"), kHeader + "・a");
    EXPECT_EQ(AddProblem(kHeader + "・a", "・b"), kHeader + "・a\r\n・b");
    EXPECT_EQ(AddProblem(AddProblem("", "x"), "y"), "次のような問題がありますが印刷を行いますか？\r\nx\r\ny");
}

TEST(CountOverflows, FindsTooWideLinesWithPageAndLineOfTheFirst)
{
    // Page width 1000: a line of width 900 or more is too wide.
    struct {
        const char* name;
        std::vector<std::string> lines;
        TOverflowReport expected;
    } const cases[] = {
        {"empty document", {}, {0, 0, 0}},
        {"width one below the limit fits", {"edge"}, {0, 0, 0}},
        {"width equal to page width less 100 is too wide", {"limit"}, {1, 1, 0}},
        {"11th line before any form feed", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "wide"}, {1, 1, 10}},
        {"second line after the first form feed", {"a", "\fpage 1", "b", "wide"}, {1, 2, 2}},
        {"first of three is reported, with the count", {"a", "\f", "wide", "b", "wide", "\f", "wide"}, {3, 2, 1}},
        {"form feed on the very first line numbers what follows as page 2", {"\f", "wide"}, {1, 2, 1}},
        {"too-wide page break line is not counted", {"\fwide", "a"}, {0, 0, 0}},
        {"form feed inside a line is text and does not break", {"a", "x\fwide", "wide"}, {2, 1, 1}},
        {"page numbers keep counting through empty pages", {"\f", "\f", "\f", "", "b", "wide"}, {1, 4, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingCanvas canvas;
        canvas.pageWidth = 1000;
        canvas.widths = {{"edge", 899}, {"limit", 900}, {"wide", 2000}, {"\fwide", 5000}, {"x\fwide", 950}};
        const TOverflowReport report = CountOverflows(TStringLines(c.lines), canvas, 101, 50);
        EXPECT_EQ(report.count, c.expected.count);
        EXPECT_EQ(report.firstPage, c.expected.firstPage);
        EXPECT_EQ(report.firstLine, c.expected.firstLine);
    }
}

TEST(CountOverflows, NeverMeasuresPageBreakLines)
{
    TRecordingCanvas canvas;
    CountOverflows(TStringLines({"one", "\fheader text", "two", "\f", "three"}), canvas, 101, 50);
    EXPECT_EQ(canvas.measured, (std::vector<std::string>{"one", "two", "three"}));
}

// Lines joined: n copies of text, then the rest.
std::vector<std::string> Repeat(int n, const std::string& text, std::vector<std::string> rest = {})
{
    std::vector<std::string> lines(static_cast<size_t>(n), text);
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

TEST(CountOverflows, FindsPagesWhoseTextRunsBelowThePaper)
{
    // Page height 6000, pitch 101: slot s ends at 50 + 101 s + text height,
    // so with a text height of 50 slot 58 ends at 5958 and slot 59 at 6059.
    struct {
        const char* name;
        std::vector<std::string> lines;
        int textHeight;
        int cutPages;
        int firstCutPage;
    } const cases[] = {
        {"59 lines fill slots 0 to 58", Repeat(59, "x"), 50, 0, 0},
        {"a 60th line is cut", Repeat(60, "x"), 50, 1, 1},
        {"a taller text cuts slot 58", Repeat(59, "x"), 95, 1, 1},
        {"the break line takes slot 0 of a later page", Repeat(3, "x", Repeat(1, "", Repeat(59, "x"))), 50, 1, 2},
        {"empty lines below the paper lose nothing", Repeat(59, "x", Repeat(5, "")), 50, 0, 0},
        {"each long page counts once, the first is named",
         Repeat(61, "x", Repeat(1, "", Repeat(3, "x", Repeat(1, "", Repeat(70, "x"))))), 50, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingCanvas canvas;
        const TOverflowReport report = CountOverflows(TStringLines(c.lines), canvas, 101, c.textHeight);
        EXPECT_EQ(report.cutPages, c.cutPages);
        EXPECT_EQ(report.firstCutPage, c.firstCutPage);
    }
}

TEST(ProblemText, SpacingThenWidthThenCutPages)
{
    struct {
        const char* name;
        int gap;
        TOverflowReport overflows;
        std::string expected;
    } const cases[] = {
        {"everything fits", 12, {0, 0, 0}, ""},
        {"gap of 0 is fine", 0, {0, 0, 0}, ""},
        {"negative gap", -8, {0, 0, 0}, kHeader + kSpacing},
        {"one overflow", 0, {1, 1, 10}, kHeader + "・1ページ10行目の右端が溢れそうです"},
        {"several overflows", 5, {3, 2, 2}, kHeader + "・2ページ2行目など3個所で右端が溢れそうです"},
        {"spacing and several overflows",
         -1,
         {2, 1, 0},
         kHeader + kSpacing + "\r\n・1ページ0行目など2個所で右端が溢れそうです"},
        {"spacing and one overflow", -1, {1, 12, 57}, kHeader + kSpacing + "\r\n・12ページ57行目の右端が溢れそうです"},
        {"one cut page", 0, {0, 0, 0, 1, 3}, kHeader + "・3ページの下端が切れそうです"},
        {"several cut pages", 0, {0, 0, 0, 4, 2}, kHeader + "・2ページなど4ページで下端が切れそうです"},
        {"all three, in that order",
         -1,
         {1, 1, 5, 1, 1},
         kHeader + kSpacing + "\r\n・1ページ5行目の右端が溢れそうです\r\n・1ページの下端が切れそうです"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProblemText(c.gap, c.overflows), c.expected);
    }
}

TEST(PrintLines, WarnsAboutSpacingOnlyWhenTheTextIsTallerThanThePitch)
{
    // Page height 4900 gives a pitch of 82.
    struct {
        int textHeight;
        bool warns;
    } const cases[] = {
        {90, true},  // gap -8
        {83, true},  // gap -1
        {82, false}, // gap 0
        {40, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.textHeight);
        TRecordingCanvas canvas;
        canvas.pageHeight = 4900;
        canvas.textHeight = c.textHeight;
        TAskRecorder ask;
        EXPECT_TRUE(PrintLines(TStringLines({"a", "b"}), canvas, ask.Callback()));
        EXPECT_EQ(canvas.heightSamples, std::vector<std::string>{"jgyMT"});
        if (c.warns) {
            EXPECT_EQ(ask.texts, std::vector<std::string>{kHeader + kSpacing});
            EXPECT_EQ(ask.captions, std::vector<std::string>{"警告"});
        } else {
            EXPECT_TRUE(ask.texts.empty());
        }
        // Answering Yes (or not being asked) prints, slots one pitch apart.
        const std::vector<TCanvasCall> expected = {BeginDocCall(), TextOutCall(50, 50, "a"), TextOutCall(50, 132, "b"),
                                                   EndDocCall()};
        EXPECT_EQ(canvas.calls, expected);
    }
}

TEST(PrintLines, PlacesEachLineInItsSlotAndBreaksOnlyAtFormFeedLines)
{
    // Page height 6000: pitch 101, slots at 50, 151, 252, 353, ...
    struct {
        const char* name;
        std::vector<std::string> lines;
        std::vector<TCanvasCall> calls;
    } const cases[] = {
        {"consecutive slots",
         {"a", "b", "c", "d"},
         {BeginDocCall(), TextOutCall(50, 50, "a"), TextOutCall(50, 151, "b"), TextOutCall(50, 252, "c"),
          TextOutCall(50, 353, "d"), EndDocCall()}},
        {"empty lines keep their slot and draw nothing",
         {"a", "", "", "d"},
         {BeginDocCall(), TextOutCall(50, 50, "a"), TextOutCall(50, 353, "d"), EndDocCall()}},
        {"a line of blanks is drawn",
         {"  ", "b"},
         {BeginDocCall(), TextOutCall(50, 50, "  "), TextOutCall(50, 151, "b"), EndDocCall()}},
        {"page break line takes slot 0 of the new page and is not drawn",
         {"a", "\fRFC 2616   Fielding   [Page 1]", "b", "c"},
         {BeginDocCall(), TextOutCall(50, 50, "a"), NewPageCall(), TextOutCall(50, 151, "b"), TextOutCall(50, 252, "c"),
          EndDocCall()}},
        {"form feed on the first line leaves the first page empty",
         {"\f", "a"},
         {BeginDocCall(), NewPageCall(), TextOutCall(50, 151, "a"), EndDocCall()}},
        {"form feed inside a line prints with it",
         {"a\fb", "c"},
         {BeginDocCall(), TextOutCall(50, 50, "a\fb"), TextOutCall(50, 151, "c"), EndDocCall()}},
        {"two breaks in a row give an empty page",
         {"a", "\f", "\f", "b"},
         {BeginDocCall(), TextOutCall(50, 50, "a"), NewPageCall(), NewPageCall(), TextOutCall(50, 151, "b"),
          EndDocCall()}},
        {"breaks after the last drawn line feed no blank sheet",
         {"a", "\f", "", "\f", ""},
         {BeginDocCall(), TextOutCall(50, 50, "a"), EndDocCall()}},
        {"a document of breaks alone prints one empty page", {"\f", "\f"}, {BeginDocCall(), EndDocCall()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingCanvas canvas;
        TAskRecorder ask;
        EXPECT_TRUE(PrintLines(TStringLines(c.lines), canvas, ask.Callback()));
        EXPECT_TRUE(ask.texts.empty());
        EXPECT_EQ(canvas.calls, c.calls);
    }
}

TEST(PrintLines, WarnsOfTextBelowThePaperAndDrawsItWithoutBreaking)
{
    std::vector<std::string> lines(60, "x");
    TRecordingCanvas canvas;
    TAskRecorder ask;
    PrintLines(TStringLines(lines), canvas, ask.Callback());
    EXPECT_EQ(ask.texts, std::vector<std::string>{kHeader + "・1ページの下端が切れそうです"});
    ASSERT_EQ(canvas.calls.size(), 62u);
    // Slot 59 at pitch 101 lies below the 6000-unit page; it is drawn there all the same.
    EXPECT_EQ(canvas.calls[60], TextOutCall(50, 6009, "x"));
    EXPECT_EQ(canvas.calls[61], EndDocCall());
}

TEST(PrintLines, AnswerDecidesWhetherAMisfitIsPrinted)
{
    // Pitch 82 with text height 90, and two too-wide lines on page 2.
    const TStringLines lines({"a", "\f", "b", "wide", "wide"});
    const std::string question = kHeader + kSpacing + "\r\n・2ページ2行目など2個所で右端が溢れそうです";
    for (const bool answer : {false, true}) {
        SCOPED_TRACE(answer ? "Yes" : "No");
        TRecordingCanvas canvas;
        canvas.pageHeight = 4900;
        canvas.textHeight = 90;
        canvas.widths = {{"wide", 900}};
        TAskRecorder ask;
        ask.answer = answer;
        EXPECT_EQ(PrintLines(lines, canvas, ask.Callback()), answer);
        EXPECT_EQ(ask.texts, std::vector<std::string>{question});
        EXPECT_EQ(ask.captions, std::vector<std::string>{"警告"});
        if (!answer) {
            EXPECT_TRUE(canvas.calls.empty()) << "No must not even begin a document";
        } else {
            const std::vector<TCanvasCall> expected = {BeginDocCall(),
                                                       TextOutCall(50, 50, "a"),
                                                       NewPageCall(),
                                                       TextOutCall(50, 132, "b"),
                                                       TextOutCall(50, 214, "wide"),
                                                       TextOutCall(50, 296, "wide"),
                                                       EndDocCall()};
            EXPECT_EQ(canvas.calls, expected);
        }
    }
}

TEST(TStringLines, GivesEachLineAndAnEmptyOneOutsideTheRange)
{
    const std::vector<std::vector<std::string>> cases = {{}, {"a"}, {"a", "", "\fb"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size());
        const TStringLines lines(c);
        ASSERT_EQ(lines.Count(), static_cast<int>(c.size()));
        for (int i = 0; i < lines.Count(); ++i) EXPECT_EQ(lines.Line(i), c[static_cast<size_t>(i)]);
        EXPECT_EQ(lines.Line(lines.Count()), "");
        EXPECT_EQ(lines.Line(-1), "");
    }
}

} // namespace
