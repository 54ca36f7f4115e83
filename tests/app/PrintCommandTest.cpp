// Print, print preview and export as PDF as commands over a session, without
// a window (so from the document's own lines): how each ends, the fit
// question, and real PDFs read back through poppler's tools. Then the
// window's side: the menu and button print the pane's lines, edits included,
// and follow the document's own lines whatever the pane wraps.
#include "app/PrintCommands.h"

#include "app/DocumentSession.h"
#include "app/PagewickM.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "tests/app/WindowFixture.h"
#include "tests/print/PdfProbe.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string kThreePages = "Header\n\n   Title\n\nbody\n\f\npage two\n\f\npage three\n";

// Every word of a PDF, page after page.
std::vector<std::string> Words(const std::string& pdf)
{
    std::vector<std::string> texts;
    for (const TPdfPage& page : PdfWords(pdf))
        for (const TPdfWord& word : page) texts.push_back(word.text);
    return texts;
}

// The last word of each page.
std::vector<std::string> LastWords(const std::string& pdf)
{
    std::vector<std::string> last;
    for (const TPdfPage& page : PdfWords(pdf)) last.push_back(page.empty() ? "" : page.back().text);
    return last;
}

class PrintCommands : public ::testing::Test {
protected:
    // The commands, made at the first call and kept, with the printer they set up.
    TPrintCommands& Commands()
    {
        if (commands_) return *commands_;
        TPrintHost host;
        host.Font = [this] { return font_; };
        host.AskFit = [this](const std::string& text, const std::string& caption) {
            asked_.emplace_back(caption, text);
            const bool answer = answers_.empty() ? false : answers_.front();
            if (!answers_.empty()) answers_.pop_front();
            return answer;
        };
        host.Failure = [this](const std::string& message) { failures_.push_back(message); };
        commands_ = std::make_unique<TPrintCommands>(session_, dialogs_, std::move(host));
        return *commands_;
    }
    void Show(const std::string& body, const std::string& url = "file:///doc.txt",
              TDocumentOrigin origin = TDocumentOrigin::File)
    {
        session_.Show(NamedDocument(body, url, origin), "");
    }

    TTempDir dir_;
    std::string pdf_ = dir_.File("out.pdf");
    TDocumentSession session_;
    TFakeDialogs dialogs_;
    QFont font_ = DocumentFont("Courier New", 10);
    std::deque<bool> answers_; // to the fit question; none left: No
    std::vector<std::pair<std::string, std::string>> asked_;
    std::vector<std::string> failures_;
    std::unique_ptr<TPrintCommands> commands_;
};

} // namespace

TEST_F(PrintCommands, EndAsTheUserAndThePrinterDecide)
{
    enum Command { Print, Preview, Export, ExportTo };
    const std::string none, missing = dir_.File("no-such-folder/out.pdf");
    const char* const three = kThreePages.c_str();
    const TPrintOutcome printed = TPrintOutcome::Printed, cancelled = TPrintOutcome::Cancelled;
    struct Case {
        const char* name;
        const char* document; // nullptr: nothing shown
        Command command;
        const std::string& target; // the dialog's or the export's file; empty: the dialog is cancelled
        int fit;                   // -1: the document fits; 0, 1: its font is too large, answered No or Yes
        TPrintOutcome outcome;
        int dialogs; // print, preview or save dialogs shown
        int pages;   // of the file written; -1: none written
        const char* failure;
    } cases[] = {
        {"nothing shown", nullptr, Print, pdf_, -1, TPrintOutcome::Refused, 0, -1, nullptr},
        {"nothing to preview", nullptr, Preview, pdf_, -1, TPrintOutcome::Refused, 0, -1, nullptr},
        {"nothing to export", nullptr, Export, pdf_, -1, TPrintOutcome::Refused, 0, -1, nullptr},
        {"empty document", "", ExportTo, pdf_, -1, TPrintOutcome::Refused, 0, -1, nullptr},
        {"print dialog cancelled", "x\n", Print, none, -1, cancelled, 1, -1, nullptr},
        {"save dialog cancelled", "x\n", Export, none, -1, cancelled, 1, -1, nullptr},
        {"print: No to the fit", "x\n", Print, pdf_, 0, cancelled, 1, -1, nullptr},
        {"preview: No to the fit", "x\n", Preview, pdf_, 0, cancelled, 0, -1, nullptr},
        {"export: No to the fit", "x\n", Export, pdf_, 0, cancelled, 1, -1, nullptr},
        {"print: Yes to the fit", "x\n", Print, pdf_, 1, printed, 1, 1, nullptr},
        {"printed", three, Print, pdf_, -1, printed, 1, 3, nullptr},
        {"previewed", three, Preview, pdf_, -1, printed, 1, 3, nullptr},
        {"exported", three, Export, pdf_, -1, printed, 1, 3, nullptr},
        {"exported by name", three, ExportTo, pdf_, -1, printed, 0, 3, nullptr},
        {"printer cannot write", "x\n", Print, missing, -1, TPrintOutcome::Failed, 1, -1, ""},
        {"file cannot be written", "x\n", ExportTo, missing, -1, TPrintOutcome::Failed, 0, -1,
         ": No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(pdf_);
        session_ = TDocumentSession();
        if (c.document) Show(c.document);
        font_ = DocumentFont("Courier New", c.fit < 0 ? 10 : 40);
        dialogs_ = TFakeDialogs();
        dialogs_.PrintTo = dialogs_.PreviewTo = c.target;
        if (!c.target.empty()) dialogs_.SaveAnswer = QString::fromStdString(c.target);
        answers_ = {c.fit == 1};
        asked_.clear();
        failures_.clear();
        commands_.reset();
        TPrintCommands& commands = Commands();
        const TPrintOutcome outcome = c.command == Print     ? commands.Print()
                                      : c.command == Preview ? commands.Preview()
                                      : c.command == Export  ? commands.ExportPdf()
                                                             : commands.ExportPdfTo(c.target);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(dialogs_.PrintCalls + dialogs_.PreviewCalls + dialogs_.SaveCalls, c.dialogs);
        ASSERT_EQ(asked_.size(), c.fit < 0 ? 0u : 1u);
        if (!asked_.empty()) {
            EXPECT_EQ(asked_[0].first, "警告");
        }
        EXPECT_EQ(std::filesystem::exists(pdf_) ? PdfPageCount(pdf_) : -1, c.pages);
        if (c.pages == 3) {
            EXPECT_EQ(LastWords(pdf_), (std::vector<std::string>{"body", "two", "three"}));
        }
        const std::vector<std::string> failed{"印刷を開始できません: " + missing + (c.failure ? c.failure : "")};
        EXPECT_EQ(failures_, c.failure ? failed : std::vector<std::string>{});
    }
}

TEST_F(PrintCommands, PreviewAsksOnceAndItsPrintButtonPrintsThePagesItShows)
{
    Show("page one\n\f\n" + std::string(90, 'w') + "\n");
    font_ = DocumentFont("Courier New", 20);
    dialogs_.PreviewTo = dir_.File("preview.pdf");
    answers_ = {true, true, true};
    ASSERT_EQ(Commands().Preview(), TPrintOutcome::Printed);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_NE(asked_[0].second.find("2ページ1行目"), std::string::npos);

    // The printer the print dialog chose last is the one the preview's print button prints on.
    dialogs_.PrintTo = pdf_;
    ASSERT_EQ(Commands().Print(), TPrintOutcome::Printed);
    std::filesystem::remove(pdf_);
    // The preview's print button: no second question, no print dialog, the same pages.
    dialogs_.OnPreview = [](const TPreviewPages& pages) { pages.Print(); };
    ASSERT_EQ(Commands().Preview(), TPrintOutcome::Printed);
    EXPECT_EQ(asked_.size(), 3u);
    EXPECT_EQ(dialogs_.PrintCalls, 1);
    EXPECT_EQ(PdfPageCount(dialogs_.PreviewTo), 2);
    EXPECT_EQ(Words(dialogs_.PreviewTo), Words(pdf_));
}

namespace {

class PrintFromWindowTest : public TWindowTest {
protected:
    void SetUp() override { Start(); }
    std::string pdf_ = dir_.File("out.pdf");
};

} // namespace

TEST_F(PrintFromWindowTest, MenuAndButtonPrintThePanesLinesEditsIncluded)
{
    OpenDocument("Request for Comments: 9999\n\n   Title\n");
    QTest::keyClicks(form_->Memo1, "typed ");
    dialogs_->SaveAnswer = QString::fromStdString(pdf_);
    form_->mExportPdf->trigger();
    EXPECT_EQ(dialogs_->SaveSuggested, QStringLiteral("doc.pdf"));
    EXPECT_EQ(dialogs_->LastDefaultExt, QStringLiteral(".pdf"));
    EXPECT_EQ(Words(pdf_), (std::vector<std::string>{"typed", "Request", "for", "Comments:", "9999", "Title"}));

    // The button follows successful fetches only; the menu item is always there.
    EXPECT_FALSE(form_->PrintBtn->isEnabled());
    EXPECT_TRUE(form_->mPrint->isEnabled());
    std::filesystem::remove(pdf_);
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_EQ(Words(pdf_).front(), "typed");
    // A failure of the printer is the general error report, and the program carries on.
    dialogs_->PrintTo = dir_.File("no-such-folder/out.pdf");
    form_->mPrint->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_EQ(boxes_->Shown[0].Text, QStringLiteral("印刷を開始できません: ") +
                                         QString::fromStdString(dir_.File("no-such-folder/out.pdf")) + ".");
}

// Printing follows the document's own lines whatever the window shows: at
// 12 points the 640-pixel window wraps many lines, and printing its rows
// lost a quarter of the words and every footer.
TEST_F(PrintFromWindowTest, RealDocumentPrintsEveryWordOnItsOwnPageAtAnyPaneFont)
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
