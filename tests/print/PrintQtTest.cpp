#include "print/PrintQt.h"
#include "platform/TextUtil.h"
#include "tests/print/PdfProbe.h"

#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A fixed-pitch font that is installed with the test tools. 8 points at 720
// dpi give a cell of about 94 pixels, below the pitch of 101 used here.
QFont TestFont(int points = 8) { return QFont("DejaVu Sans Mono", points); }

// Page 595 x 672 points with 36-point margins: at 720 dpi the paint rectangle
// is 5230 x 6000 device pixels (a pitch of 101) and one pixel is 0.1 point,
// so slot tops in the PDF are 36 + (50 + 101 * slot) / 10 points.
void SetUpPdfPrinter(QPrinter& printer, const QString& file, int resolution = 720)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setResolution(resolution);
    printer.setPageSize(QPageSize(QSizeF(595, 672), QPageSize::Point, QString(), QPageSize::ExactMatch));
    printer.setPageMargins(QMarginsF(36, 36, 36, 36), QPageLayout::Point);
}

double SlotTopPoints(int slot) { return 36 + (50 + 101 * slot) / 10.0; }

// pdftotext puts a word's top at its baseline less the font's ascent as
// stored in the PDF, while the cell top is the baseline less Qt's ascent
// rounded to whole device pixels (0.1 point here). The two agree to a few
// hundredths of a point; half a point still tells slots 10.1 points apart.
constexpr double kTopTolerance = 0.5;
// The first glyph's box starts at the pen position for these glyphs.
constexpr double kLeftTolerance = 0.5;
constexpr double kLeftPoints = 36 + 5.0;

TAskYesNo FailIfAsked()
{
    return [](const std::string& text, const std::string&) {
        ADD_FAILURE() << "unexpected question: " << text;
        return false;
    };
}

class PrintToPdf : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PdfToolsAvailable()) GTEST_SKIP() << "pdfinfo/pdftotext not installed";
        ASSERT_TRUE(dir_.isValid());
    }

    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    QTemporaryDir dir_;
};

const TPdfWord* FindWord(const TPdfPage& page, const std::string& text)
{
    for (const TPdfWord& word : page)
        if (word.text == text) return &word;
    return nullptr;
}

TEST(TQtPrinterCanvas, MeasuresInDevicePixelsOfThePrintersResolution)
{
    struct TMeasure {
        int width, height, textHeight;
        int64_t textWidth;
    };
    auto measure = [](int resolution) {
        QPrinter printer;
        SetUpPdfPrinter(printer, "/dev/null", resolution);
        TQtPrinterCanvas canvas(printer);
        canvas.SetFont(TestFont(10));
        return TMeasure{canvas.PageWidth(), canvas.PageHeight(), canvas.TextHeight("jgyMT"),
                        canvas.TextWidth("0123456789")};
    };
    const TMeasure at720 = measure(720);
    const TMeasure at1440 = measure(1440);

    EXPECT_EQ(at720.width, 5230);
    EXPECT_EQ(at720.height, 6000);
    EXPECT_EQ(at1440.width, 10460);
    EXPECT_EQ(at1440.height, 12000);
    // 10 points at 720 dpi is an em of 100 pixels: a line cell a little more,
    // ten fixed-pitch digits a little above half an em each.
    EXPECT_GE(at720.textHeight, 100);
    EXPECT_LE(at720.textHeight, 140);
    EXPECT_GE(at720.textWidth, 550);
    EXPECT_LE(at720.textWidth, 650);
    // The point size stays; the pixels scale with the resolution.
    EXPECT_NEAR(at1440.textHeight, 2 * at720.textHeight, 2);
    EXPECT_NEAR(at1440.textWidth, 2 * at720.textWidth, 2);
}

// A line wider than an int holds (an int would read it as negative) is still too wide: plain ASCII
// (counted) and shaped text (measured) alike. A large font keeps the line short enough to shape quickly.
TEST(TQtPrinterCanvas, ALineWiderThanAnIntHoldsIsTooWide)
{
    QPrinter printer;
    SetUpPdfPrinter(printer, "/dev/null", 1200);
    TQtPrinterCanvas canvas(printer);
    canvas.SetFont(TestFont(720));
    for (const std::string& glyph : {std::string("x"), std::string("\xc3\xa9")}) {
        SCOPED_TRACE(glyph);
        const int64_t advance = canvas.TextWidth(glyph + glyph) - canvas.TextWidth(glyph);
        ASSERT_GT(advance, 0);
        // About 3 GiB pixels wide.
        const int64_t count = (int64_t(3) << 30) / advance;
        std::string line;
        line.reserve(size_t(count) * glyph.size());
        for (int64_t i = 0; i < count; ++i) line += glyph;
        EXPECT_GT(canvas.TextWidth(line), int64_t(1) << 31);
        std::vector<std::string> questions;
        EXPECT_FALSE(PrintLines(TStringLines({line}), canvas, [&](const std::string& text, const std::string&) {
            questions.push_back(text);
            return false;
        }));
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_NE(questions[0].find("・1ページ0行目の右端が溢れそうです"), std::string::npos) << questions[0];
    }
}

// The font engine's metrics wrap around or collapse (cells of 0, negative
// or 32 pixels) long before the printer's coordinates run out; such a font
// is refused instead of printing blank pages that passed the fit check.
TEST(TQtPrinterCanvas, RefusesAFontTooLargeForTheFontEngine)
{
    struct Case {
        int points, resolution;
        bool refused;
    } cases[] = {
        {10, 720, false},   {1000, 720, false}, {1000, 1200, false}, {2000, 720, true},
        {3500, 1200, true}, {4000, 1200, true}, {6000, 300, true},   {100000, 720, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.points) + " pt at " + std::to_string(c.resolution));
        QPrinter printer;
        SetUpPdfPrinter(printer, "/dev/null", c.resolution);
        TQtPrinterCanvas canvas(printer);
        try {
            canvas.SetFont(TestFont(c.points));
            EXPECT_FALSE(c.refused) << "cell " << canvas.TextHeight(kHeightSample);
        } catch (const EPrinterError& e) {
            EXPECT_TRUE(c.refused);
            EXPECT_EQ(std::string(e.what()), "フォントが大きすぎて印刷できません: /dev/null");
        }
    }
}

TEST(TQtPrinterCanvas, KeepsTheScreenSizeOfAFontGivenInPixels)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    // A 16-pixel font on a 96-dpi screen is 12 points; likewise at other dpi.
    const double points = 16 * 72.0 / screen->logicalDotsPerInchY();
    QFont inPixels("DejaVu Sans Mono");
    inPixels.setPixelSize(16);
    QFont inPoints("DejaVu Sans Mono");
    inPoints.setPointSizeF(points);

    QPrinter printer;
    SetUpPdfPrinter(printer, "/dev/null");
    TQtPrinterCanvas canvas(printer);
    canvas.SetFont(inPoints);
    const int expectedHeight = canvas.TextHeight("jgyMT");
    const int64_t expectedWidth = canvas.TextWidth("0123456789");
    canvas.SetFont(inPixels);
    EXPECT_EQ(canvas.TextHeight("jgyMT"), expectedHeight);
    EXPECT_EQ(canvas.TextWidth("0123456789"), expectedWidth);
    EXPECT_GT(expectedHeight, 100) << "a font of 12 points at 720 dpi, not of 16 pixels";
}

TEST_F(PrintToPdf, OnePagePerFormFeedWithLinesInTheirSlots)
{
    std::vector<std::string> lines = {"Alpha0 first", "Alpha1", "",         "Alpha3", "\fHeadOne should not print",
                                      "Bravo1",       "\f",     "\fHeadTwo"};
    for (int slot = 1; slot <= 57; ++slot) lines.push_back("Delta" + std::to_string(slot));
    const std::string pdf = Path("slots.pdf");
    QPrinter printer;
    SetUpPdfPrinter(printer, QString::fromStdString(pdf));
    ASSERT_TRUE(PrintPaneLines(printer, TestFont(), TStringLines(lines), FailIfAsked()));

    EXPECT_EQ(PdfPageCount(pdf), 4);
    const std::vector<TPdfPage> pages = PdfWords(pdf);
    ASSERT_EQ(pages.size(), 4u);

    struct {
        int page; // 0-based
        const char* word;
        double top;
    } const expected[] = {
        {0, "Alpha0", 41.0}, {0, "Alpha1", 51.1}, {0, "Alpha3", 71.3},   {1, "Bravo1", 51.1},
        {3, "Delta1", 51.1}, {3, "Delta2", 61.2}, {3, "Delta57", 616.7},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.word);
        const TPdfWord* word = FindWord(pages[static_cast<size_t>(e.page)], e.word);
        ASSERT_NE(word, nullptr);
        EXPECT_NEAR(word->yMin, e.top, kTopTolerance);
        EXPECT_NEAR(word->xMin, kLeftPoints, kLeftTolerance);
    }
    EXPECT_EQ(pages[0].size(), 4u); // "Alpha0", "first", "Alpha1", "Alpha3"
    EXPECT_EQ(pages[1].size(), 1u);
    EXPECT_TRUE(pages[2].empty()) << "two breaks in a row leave an empty page";
    EXPECT_EQ(pages[3].size(), 57u);
    for (const TPdfPage& page : pages)
        for (const TPdfWord& word : page)
            EXPECT_TRUE(word.text.rfind("Head", 0) != 0) << "page break text printed: " << word.text;
}

TEST_F(PrintToPdf, FormFeedOnTheFirstLineLeavesTheFirstPageEmpty)
{
    const std::string pdf = Path("first.pdf");
    QPrinter printer;
    SetUpPdfPrinter(printer, QString::fromStdString(pdf));
    ASSERT_TRUE(PrintPaneLines(printer, TestFont(), TStringLines({"\f", "Echo1"}), FailIfAsked()));

    EXPECT_EQ(PdfPageCount(pdf), 2);
    const std::vector<TPdfPage> pages = PdfWords(pdf);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(pages[0].empty());
    ASSERT_EQ(pages[1].size(), 1u);
    EXPECT_NEAR(pages[1][0].yMin, SlotTopPoints(1), kTopTolerance);
}

// Groups a page's words into rows by their top edge, top to bottom and left
// to right. pdftotext lists a two-column header column by column, so its own
// order is not the line order.
std::vector<std::pair<double, std::string>> Rows(TPdfPage page)
{
    std::sort(page.begin(), page.end(), [](const TPdfWord& a, const TPdfWord& b) {
        if (std::fabs(a.yMin - b.yMin) >= 0.01) return a.yMin < b.yMin;
        return a.xMin < b.xMin;
    });
    std::vector<std::pair<double, std::string>> rows;
    for (const TPdfWord& word : page) {
        if (!rows.empty() && std::fabs(rows.back().first - word.yMin) < 0.01)
            rows.back().second += " " + word.text;
        else
            rows.emplace_back(word.yMin, word.text);
    }
    return rows;
}

std::string Words(const std::string& line)
{
    std::istringstream in(line);
    std::string word, joined;
    while (in >> word) joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

TEST_F(PrintToPdf, RealDocumentKeepsItsPagesAndEveryLineInItsSlot)
{
    std::ifstream file(SCRIVLET_RFC_DIR "/rfc1945.txt", std::ios::binary);
    if (!file) GTEST_SKIP() << "sample document not present";
    std::ostringstream read;
    read << file.rdbuf();
    const std::string text = read.str();
    const std::vector<std::string_view> views = SplitLines(text);
    const TStringLines lines(std::vector<std::string>(views.begin(), views.end()));

    const std::string pdf = Path("rfc.pdf");
    QPrinter printer;
    SetUpPdfPrinter(printer, QString::fromStdString(pdf));
    ASSERT_TRUE(PrintPaneLines(printer, TestFont(), lines, FailIfAsked()));

    // Expected rows per page straight from the text: slot and words.
    std::vector<std::vector<std::pair<double, std::string>>> expected(1);
    int pageStart = 0;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string line = lines.Line(i);
        if (!line.empty() && line[0] == '\f') {
            expected.emplace_back();
            pageStart = i;
        } else if (!Words(line).empty()) {
            expected.back().emplace_back(SlotTopPoints(i - pageStart), Words(line));
        }
    }
    ASSERT_EQ(expected.size(), 61u) << "the sample has 60 form feeds";
    ASSERT_TRUE(expected.back().empty()) << "the last one ends the text";
    expected.pop_back(); // and feeds no blank sheet

    EXPECT_EQ(PdfPageCount(pdf), 60);
    const std::vector<TPdfPage> pages = PdfWords(pdf);
    ASSERT_EQ(pages.size(), expected.size());
    for (size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        const auto rows = Rows(pages[p]);
        ASSERT_EQ(rows.size(), expected[p].size());
        for (size_t r = 0; r < rows.size(); ++r) {
            EXPECT_NEAR(rows[r].first, expected[p][r].first, kTopTolerance) << rows[r].second;
            EXPECT_EQ(rows[r].second, expected[p][r].second);
        }
    }
}

TEST_F(PrintToPdf, NoLeavesNoDocumentAndYesPrintsTheWideLineUncut)
{
    // 110 glyphs at 8 points are about 5300 pixels: too wide for 5230 - 100,
    // yet inside the sheet, where pdftotext still sees every glyph.
    const std::string wide = "W" + std::string(109, '7');
    const TStringLines lines({"short", wide});
    for (const bool answer : {false, true}) {
        SCOPED_TRACE(answer ? "Yes" : "No");
        const std::string pdf = Path(answer ? "yes.pdf" : "no.pdf");
        std::vector<std::string> questions;
        QPrinter printer;
        SetUpPdfPrinter(printer, QString::fromStdString(pdf));
        const bool printed =
            PrintPaneLines(printer, TestFont(), lines, [&](const std::string& text, const std::string& caption) {
                EXPECT_EQ(caption, "警告");
                questions.push_back(text);
                return answer;
            });
        EXPECT_EQ(printed, answer);
        EXPECT_EQ(questions, std::vector<std::string>{"次のような問題がありますが印刷を行いますか？\r\n"
                                                      "・1ページ1行目の右端が溢れそうです"});
        EXPECT_EQ(QFile::exists(QString::fromStdString(pdf)), answer);
        if (answer) {
            const std::vector<TPdfPage> pages = PdfWords(pdf);
            ASSERT_EQ(pages.size(), 1u);
            const TPdfWord* word = FindWord(pages[0], wide);
            ASSERT_NE(word, nullptr) << "the wide line is drawn whole on one row";
            EXPECT_NEAR(word->yMin, SlotTopPoints(1), kTopTolerance);
            EXPECT_GT(word->xMax, 36 + 523.0) << "it runs past the right margin";
        }
    }
}

TEST_F(PrintToPdf, AHugeFontWritesNoPagesAndReportsThePrinterError)
{
    const std::string pdf = Path("huge.pdf");
    EXPECT_THROW(PrintLinesToPdf(pdf, TestFont(3500), TStringLines({"Hotel", "India"}), FailIfAsked()), EPrinterError);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
}

TEST_F(PrintToPdf, UnwritableOutputIsReportedAndTheNextJobStillPrints)
{
    const std::string bad = Path("missing-dir/out.pdf");
    try {
        PrintLinesToPdf(bad, TestFont(), TStringLines({"Hotel"}), FailIfAsked());
        FAIL() << "no exception";
    } catch (const EPrinterError& e) {
        EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
    const std::string good = Path("after.pdf");
    EXPECT_TRUE(PrintLinesToPdf(good, TestFont(), TStringLines({"Hotel"}), FailIfAsked()));
    EXPECT_EQ(PdfPageCount(good), 1);
}

} // namespace

// Plain ASCII in a fixed-pitch font is set from the font's glyphs without
// shaping; a line with any other character goes through the toolkit's
// shaping. Both must measure and place the same text alike.
TEST_F(PrintToPdf, AsciiLinesMeasureAndPlaceAsShapedLinesDo)
{
    const std::string pdf = Path("ascii.pdf");
    QPrinter printer;
    SetUpPdfPrinter(printer, QString::fromStdString(pdf));
    const std::vector<std::string> lines = {"   Alpha  beta-7 {x}", "   Alpha  beta-7 {x} \xc3\xa9"};
    {
        TQtPrinterCanvas canvas(printer);
        canvas.SetFont(TestFont());
        const QFontMetrics shaped(TestFont(), &printer);
        for (const char* text : {"", " ", "   Alpha  beta-7 {x}", "~!@#$%^&*()_+|`"})
            EXPECT_EQ(canvas.TextWidth(text), shaped.horizontalAdvance(QString::fromUtf8(text))) << text;
    }
    ASSERT_TRUE(PrintPaneLines(printer, TestFont(), TStringLines(lines), FailIfAsked()));
    const std::vector<TPdfPage> pages = PdfWords(pdf);
    ASSERT_EQ(pages.size(), 1u);
    // The words of the first line (slot 0) against the same words in slot 1.
    std::vector<TPdfWord> first, second;
    for (const TPdfWord& word : pages[0])
        (word.yMin < SlotTopPoints(1) - kTopTolerance ? first : second).push_back(word);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 4u); // and the accented letter
    for (size_t i = 0; i < first.size(); ++i) {
        SCOPED_TRACE(first[i].text);
        EXPECT_EQ(first[i].text, second[i].text);
        EXPECT_NEAR(first[i].xMin, second[i].xMin, 0.01);
        EXPECT_NEAR(first[i].xMax, second[i].xMax, 0.01);
    }
}
