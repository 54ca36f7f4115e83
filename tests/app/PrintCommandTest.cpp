// The print command as the user reaches it: menu item and button, the print
// dialog, the fit warning and a real PDF printed through the printer canvas.
#include "app/PagewickM.h"
#include "app/ReaderView.h"

#include "app/TextPane.h"
#include "settings/PagewickDlg.h"
#include "tests/app/WindowFixture.h"
#include "tests/print/PdfProbe.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace {

class PrintCommandTest : public TWindowTest {
protected:
    void SetUp() override { Start(); }
    std::string pdf_ = dir_.File("out.pdf");
};

} // namespace

TEST_F(PrintCommandTest, EmptyPaneOrCancelledDialogPrintsNothing)
{
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_EQ(dialogs_->PrintCalls, 0);
    OpenDocument("one line\n");
    dialogs_->PrintTo.clear();
    form_->mPrint->trigger();
    EXPECT_EQ(dialogs_->PrintCalls, 1);
    EXPECT_FALSE(std::ifstream(pdf_).good());
    EXPECT_TRUE(boxes_->Shown.empty());
    // The button follows successful fetches only; the menu item is always there.
    EXPECT_FALSE(form_->PrintBtn->isEnabled());
    EXPECT_TRUE(form_->mPrint->isEnabled());
}

TEST_F(PrintCommandTest, EachFormFeedPageBecomesOnePdfPage)
{
    OpenDocument("Header\n\n   Title\n\nbody\n\f\npage two\n\f\npage three\n");
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_TRUE(boxes_->Shown.empty()); // Courier at 10 points fits
    EXPECT_EQ(PdfPageCount(pdf_), 3);
    std::vector<TPdfPage> pages = PdfWords(pdf_);
    ASSERT_EQ(pages.size(), 3u);
    ASSERT_FALSE(pages[1].empty());
    ASSERT_FALSE(pages[2].empty());
    EXPECT_EQ(pages[1].back().text, "two");
    EXPECT_EQ(pages[2].back().text, "three");
}

TEST_F(PrintCommandTest, TooLargeAFontAsksFirstAndNoStops)
{
    OpenDocument("short\n" + std::string(70, 'w') + "\n");
    form_->FontDlg.Font = DocumentFont("Courier New", 40);
    dialogs_->PrintTo = pdf_;
    boxes_->Answers = {false};
    form_->mPrint->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "question");
    EXPECT_EQ(boxes_->Shown[0].Caption, QStringLiteral("警告"));
    EXPECT_TRUE(boxes_->Shown[0].Text.startsWith(QStringLiteral("次のような問題がありますが印刷を行いますか？\r\n")));
    EXPECT_NE(boxes_->Shown[0].Text.indexOf(QStringLiteral("・行間がとても狭く文字が欠けるかもしれません。")), -1);
    EXPECT_FALSE(std::ifstream(pdf_).good());

    boxes_->Answers = {true};
    form_->mPrint->trigger();
    EXPECT_EQ(PdfPageCount(pdf_), 1);
}

TEST_F(PrintCommandTest, PrinterFailureReachesTheErrorReport)
{
    OpenDocument("text\n");
    dialogs_->PrintTo = dir_.File("no-such-folder/out.pdf");
    form_->mPrint->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_FALSE(boxes_->Shown[0].Text.isEmpty());
    // The program carries on: the next print works.
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_EQ(PdfPageCount(pdf_), 1);
}

// Printing follows the document's own lines whatever the window shows: at
// 12 points the 640-pixel window wraps many lines, and printing its rows
// lost a quarter of the words and every footer.
TEST_F(PrintCommandTest, RealDocumentPrintsEveryWordOnItsOwnPageAtAnyPaneFont)
{
    const std::string path = std::string(SCRIVLET_RFC_DIR) + "/rfc1928.txt";
    std::ifstream file(path);
    if (!file.good()) GTEST_SKIP() << "reference texts not present";
    std::vector<std::string> words;
    for (std::string word; file >> word;) words.push_back(word);
    std::sort(words.begin(), words.end());
    for (const int points : {0, 12}) {
        SCOPED_TRACE(points);
        if (points > 0) {
            form_->FontDlg.Font = DocumentFont("Courier New", points);
            form_->Reader->SetDocumentFont(form_->FontDlg.Font);
        }
        form_->Reader->SetWordWrap(true);
        form_->Reader->SetFitWidth(false);
        dialogs_->OpenAnswer = QString::fromStdString(path);
        form_->mOpen->trigger();
        // The window wraps lines at 12 points.
        if (points > 0) {
            ASSERT_GT(form_->Memo1->LineCount(), form_->Memo1->SourceLineCount());
        }
        boxes_->Answers = {true, true};
        // Nine form feeds, the last one alone on the last line: nine pages, no
        // blank sheet after the text.
        dialogs_->PrintTo = pdf_;
        form_->mPrint->trigger();
        EXPECT_EQ(PdfPageCount(pdf_), 9);
        std::vector<std::string> printed;
        int footers = 0;
        const std::vector<TPdfPage> pages = PdfWords(pdf_);
        for (size_t page = 0; page < pages.size(); ++page) {
            for (size_t i = 0; i < pages[page].size(); ++i) {
                printed.push_back(pages[page][i].text);
                if (pages[page][i].text == "[Page" && i + 1 < pages[page].size() &&
                    pages[page][i + 1].text == std::to_string(page + 1) + "]")
                    ++footers;
            }
        }
        // The reader of the PDF takes the header's two columns one after the other.
        std::sort(printed.begin(), printed.end());
        EXPECT_EQ(printed, words);
        EXPECT_EQ(footers, 9);
    }
}

TEST_F(PrintCommandTest, PreviewAsksAsPrintingDoesThenShowsThePrintedPages)
{
    OpenDocument("page one\n\f\n" + std::string(90, 'w') + "\n");
    form_->FontDlg.Font = DocumentFont("Courier New", 20);
    dialogs_->PreviewTo = dir_.File("preview.pdf");
    boxes_->Answers = {false};
    form_->mPrintPreview->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_NE(boxes_->Shown[0].Text.indexOf(QStringLiteral("2ページ1行目")), -1);
    EXPECT_EQ(dialogs_->PreviewCalls, 0);

    boxes_->Answers = {true, true};
    form_->mPrintPreview->trigger();
    EXPECT_EQ(dialogs_->PreviewCalls, 1);
    EXPECT_EQ(boxes_->Shown.size(), 2u); // asked once, not again while drawing
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    const auto words = [](const std::string& pdf) {
        std::vector<std::string> texts;
        for (const TPdfPage& page : PdfWords(pdf))
            for (const TPdfWord& word : page) texts.push_back(word.text);
        return texts;
    };
    EXPECT_EQ(PdfPageCount(dialogs_->PreviewTo), 2);
    EXPECT_EQ(words(dialogs_->PreviewTo), words(pdf_));
}
