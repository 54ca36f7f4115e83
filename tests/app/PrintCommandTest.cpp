// Print, print preview and export as PDF as commands over a session, without
// a window: how each ends, the fit question, and real PDFs read back through
// poppler's tools. Then the window's side: the menu and button reach them
// with the pane's lines, and printing follows the document's own lines
// whatever the pane wraps.
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
        host.PaneLines = [this] { return pane_.get(); };
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
    std::unique_ptr<TStringLines> pane_; // null: the command reads the shown document
    std::deque<bool> answers_;           // to the fit question; none left: No
    std::vector<std::pair<std::string, std::string>> asked_;
    std::vector<std::string> failures_;
    std::unique_ptr<TPrintCommands> commands_;
};

} // namespace

TEST_F(PrintCommands, EndAsTheUserAndThePrinterDecide)
{
    enum class Command { Print, Preview, Export, ExportTo };
    const std::string missing = dir_.File("no-such-folder/out.pdf");
    struct Case {
        const char* name;
        const char* document; // nullptr: nothing shown
        Command command;
        std::string target; // the print dialog's, the save dialog's or the export's file; empty: cancelled
        int points;         // the document font; 40 is too large for the page
        std::deque<bool> answers;
        TPrintOutcome outcome;
        int dialogs;   // print, preview or save dialogs shown
        int questions; // fit questions asked
        int pages;     // of the file written; -1: none written
        std::string failure;
    } cases[] = {
        {"nothing shown", nullptr, Command::Print, pdf_, 10, {}, TPrintOutcome::Refused, 0, 0, -1, ""},
        {"nothing to preview", nullptr, Command::Preview, pdf_, 10, {}, TPrintOutcome::Refused, 0, 0, -1, ""},
        {"nothing to export", nullptr, Command::Export, pdf_, 10, {}, TPrintOutcome::Refused, 0, 0, -1, ""},
        {"empty document", "", Command::ExportTo, pdf_, 10, {}, TPrintOutcome::Refused, 0, 0, -1, ""},
        {"print dialog cancelled", "x\n", Command::Print, "", 10, {}, TPrintOutcome::Cancelled, 1, 0, -1, ""},
        {"save dialog cancelled", "x\n", Command::Export, "", 10, {}, TPrintOutcome::Cancelled, 1, 0, -1, ""},
        {"print: No to the fit", "x\n", Command::Print, pdf_, 40, {false}, TPrintOutcome::Cancelled, 1, 1, -1, ""},
        {"preview: No to the fit", "x\n", Command::Preview, pdf_, 40, {false}, TPrintOutcome::Cancelled, 0, 1, -1, ""},
        {"export: No to the fit", "x\n", Command::Export, pdf_, 40, {false}, TPrintOutcome::Cancelled, 1, 1, -1, ""},
        {"print: Yes to the fit", "x\n", Command::Print, pdf_, 40, {true}, TPrintOutcome::Printed, 1, 1, 1, ""},
        {"printed", kThreePages.c_str(), Command::Print, pdf_, 10, {}, TPrintOutcome::Printed, 1, 0, 3, ""},
        {"previewed", kThreePages.c_str(), Command::Preview, pdf_, 10, {}, TPrintOutcome::Printed, 1, 0, 3, ""},
        {"exported", kThreePages.c_str(), Command::Export, pdf_, 10, {}, TPrintOutcome::Printed, 1, 0, 3, ""},
        {"exported by name", kThreePages.c_str(), Command::ExportTo, pdf_, 10, {}, TPrintOutcome::Printed, 0, 0, 3, ""},
        {"printer cannot write",
         "x\n",
         Command::Print,
         missing,
         10,
         {},
         TPrintOutcome::Failed,
         1,
         0,
         -1,
         "印刷を開始できません: " + missing},
        {"file cannot be written",
         "x\n",
         Command::ExportTo,
         missing,
         10,
         {},
         TPrintOutcome::Failed,
         0,
         0,
         -1,
         "印刷を開始できません: " + missing + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(pdf_);
        session_ = TDocumentSession();
        if (c.document) Show(c.document);
        font_ = DocumentFont("Courier New", c.points);
        dialogs_ = TFakeDialogs();
        dialogs_.PrintTo = c.target;
        dialogs_.PreviewTo = c.target;
        if (!c.target.empty()) dialogs_.SaveAnswer = QString::fromStdString(c.target);
        answers_ = c.answers;
        asked_.clear();
        failures_.clear();
        commands_.reset();
        TPrintCommands& commands = Commands();
        TPrintOutcome outcome = TPrintOutcome::Failed;
        switch (c.command) {
        case Command::Print: outcome = commands.Print(); break;
        case Command::Preview: outcome = commands.Preview(); break;
        case Command::Export: outcome = commands.ExportPdf(); break;
        case Command::ExportTo: outcome = commands.ExportPdfTo(c.target); break;
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(dialogs_.PrintCalls + dialogs_.PreviewCalls + dialogs_.SaveCalls, c.dialogs);
        ASSERT_EQ(asked_.size(), size_t(c.questions));
        if (c.questions > 0) {
            EXPECT_EQ(asked_[0].first, "警告");
        }
        EXPECT_EQ(std::filesystem::exists(pdf_) ? PdfPageCount(pdf_) : -1, c.pages);
        if (c.pages == 3) {
            EXPECT_EQ(LastWords(pdf_), (std::vector<std::string>{"body", "two", "three"}));
        }
        EXPECT_EQ(failures_, c.failure.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.failure});
        // Nothing is left beside the file, whatever happened.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}),
                  std::filesystem::exists(pdf_) ? 1 : 0);
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

TEST_F(PrintCommands, PrintWhatThePaneShowsWhereThereIsOne)
{
    Show("as fetched\n");
    pane_ = std::make_unique<TStringLines>(std::vector<std::string>{"as", "edited"});
    ASSERT_EQ(Commands().ExportPdfTo(pdf_), TPrintOutcome::Printed);
    EXPECT_EQ(Words(pdf_), (std::vector<std::string>{"as", "edited"}));
    // A pane the user emptied has nothing to print.
    pane_ = std::make_unique<TStringLines>();
    EXPECT_EQ(Commands().ExportPdfTo(pdf_), TPrintOutcome::Refused);
}

TEST_F(PrintCommands, SaveDialogSuggestsAPdfNamedAfterTheDocument)
{
    struct Case {
        const char* url; // nullptr: nothing shown
        TDocumentOrigin origin;
        const char* body;
        QString suggested;
    } cases[] = {
        {nullptr, TDocumentOrigin::File, "", QStringLiteral("document.pdf")},
        {"https://h/rfc/rfc2616.txt", TDocumentOrigin::Network, "Request for Comments: 2616\n",
         QStringLiteral("rfc2616.pdf")},
        {"https://h/rfc/rfc2616.txt", TDocumentOrigin::Library, "Request for Comments: 2616\n",
         QStringLiteral("rfc2616.pdf")},
        {"file:////home/u/notes.v2.txt", TDocumentOrigin::File, "Request for Comments: 2616\n",
         QStringLiteral("notes.v2.pdf")},
        {"https://h/index/", TDocumentOrigin::Network, "no number\n", QStringLiteral("document.pdf")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url ? c.url : "nothing");
        session_ = TDocumentSession();
        if (c.url) Show(c.body, c.url, c.origin);
        commands_.reset();
        EXPECT_EQ(Commands().SuggestedPdfName(), c.suggested);
    }
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
