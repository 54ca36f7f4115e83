// Print, print preview and export as PDF as commands over a session, without
// a window (so from the document's own lines): how each ends, the fit
// question, and real PDFs read back through poppler's tools. Then the
// window's side: the menu commands print the pane's lines, edits included,
// and follow the document's own lines whatever the pane wraps.
#include "app/PrintCommands.h"

#include "app/DocumentSession.h"
#include "app/PagewickM.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "tests/app/WindowFixture.h"
#include "tests/print/PdfProbe.h"

#include <QAction>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Every word of a PDF, page after page.
std::vector<std::string> Words(const std::string& pdf)
{
    std::vector<std::string> texts;
    for (const TPdfPage& page : PdfWords(pdf))
        for (const TPdfWord& word : page) texts.push_back(word.text);
    return texts;
}

class PrintCommands : public ::testing::Test {
protected:
    PrintCommands() { Renew(); }
    // New commands (so a new printer) over the session and the dialogs.
    void Renew()
    {
        TPrintHost host;
        host.Font = [this] { return font_; };
        host.AskFit = [this](const std::string& text, const std::string&) {
            asked_.push_back(text);
            return answer_;
        };
        host.Failure = [this](const std::string& message) { failures_.push_back(message); };
        commands_ = std::make_unique<TPrintCommands>(session_, dialogs_, std::move(host));
    }

    TTempDir dir_;
    std::string pdf_ = dir_.File("out.pdf");
    TDocumentSession session_;
    TFakeDialogs dialogs_;
    QFont font_ = DocumentFont("Courier New", 10);
    bool answer_ = false; // to the fit question
    std::vector<std::string> asked_;
    std::vector<std::string> failures_;
    std::unique_ptr<TPrintCommands> commands_;
};

} // namespace

TEST_F(PrintCommands, EndAsTheUserAndThePrinterDecide)
{
    enum Command { Print, Preview, Export, ExportTo };
    const std::string none, missing = dir_.File("no-such-folder/out.pdf");
    const char* const three = "Header\n\n   Title\n\nbody\n\f\npage two\n\f\npage three\n";
    const TPrintOutcome printed = TPrintOutcome::Printed, cancelled = TPrintOutcome::Cancelled;
    const TPrintOutcome refused = TPrintOutcome::Refused, failed = TPrintOutcome::Failed;
    struct Case {
        const char* name;
        const char* document; // nullptr: nothing shown
        Command command;
        const std::string& target; // the dialog's or the export's file; empty: the dialog is cancelled
        int fit;                   // -1: the document fits; 0, 1: its font is too large, answered No or Yes
        TPrintOutcome outcome;
        int dialogs; // print, preview or save dialogs shown
        int pages;   // of the file written; -1: none written
    } cases[] = {
        {"nothing shown", nullptr, Print, pdf_, -1, refused, 0, -1},
        {"nothing to preview", nullptr, Preview, pdf_, -1, refused, 0, -1},
        {"nothing to export", nullptr, Export, pdf_, -1, refused, 0, -1},
        {"empty document", "", ExportTo, pdf_, -1, refused, 0, -1},
        {"print dialog cancelled", "x\n", Print, none, -1, cancelled, 1, -1},
        {"save dialog cancelled", "x\n", Export, none, -1, cancelled, 1, -1},
        {"print: No to the fit", "x\n", Print, pdf_, 0, cancelled, 1, -1},
        {"preview: No to the fit", "x\n", Preview, pdf_, 0, cancelled, 0, -1},
        {"export: No to the fit", "x\n", Export, pdf_, 0, cancelled, 1, -1},
        {"print: Yes to the fit", "x\n", Print, pdf_, 1, printed, 1, 1},
        {"preview: Yes to the fit", "x\n", Preview, pdf_, 1, printed, 1, 1},
        {"printed", three, Print, pdf_, -1, printed, 1, 3},
        {"previewed", three, Preview, pdf_, -1, printed, 1, 3},
        {"exported", three, Export, pdf_, -1, printed, 1, 3},
        {"exported by name", three, ExportTo, pdf_, -1, printed, 0, 3},
        {"printer cannot write", "x\n", Print, missing, -1, failed, 1, -1},
        {"file cannot be written", "x\n", ExportTo, missing, -1, failed, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(pdf_);
        session_ = TDocumentSession();
        if (c.document) session_.Show(NamedDocument(c.document, "file:///doc.txt", TDocumentOrigin::File), "");
        font_ = DocumentFont("Courier New", c.fit < 0 ? 10 : 40);
        dialogs_ = TFakeDialogs();
        dialogs_.PrintTo = dialogs_.PreviewTo = c.target;
        if (!c.target.empty()) dialogs_.SaveAnswer = QString::fromStdString(c.target);
        answer_ = c.fit == 1;
        asked_.clear();
        failures_.clear();
        Renew();
        const TPrintOutcome outcome = c.command == Print     ? commands_->Print()
                                      : c.command == Preview ? commands_->Preview()
                                      : c.command == Export  ? commands_->ExportPdf()
                                                             : commands_->ExportPdfTo(c.target);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(dialogs_.PrintCalls + dialogs_.PreviewCalls + dialogs_.SaveCalls, c.dialogs);
        EXPECT_EQ(asked_.size(), c.fit < 0 ? 0u : 1u);
        EXPECT_EQ(std::filesystem::exists(pdf_) ? PdfPageCount(pdf_) : -1, c.pages);
        // A failure is told once and names the file.
        ASSERT_EQ(failures_.size(), c.outcome == failed ? 1u : 0u);
        if (!failures_.empty()) {
            EXPECT_NE(failures_[0].find(missing), std::string::npos) << failures_[0];
        }
    }
}

// The fit question is asked before the preview draws, not again by its print button.
TEST_F(PrintCommands, ThePreviewsPrintButtonPrintsItsPagesOnThePrinterLastChosenUnasked)
{
    session_.Show(NamedDocument("page one\n\f\npage two\n", "file:///doc.txt", TDocumentOrigin::File), "");
    dialogs_.PrintTo = pdf_;
    ASSERT_EQ(commands_->Print(), TPrintOutcome::Printed);
    std::filesystem::remove(pdf_);
    font_ = DocumentFont("Courier New", 40);
    answer_ = true;
    dialogs_.PreviewTo = dir_.File("preview.pdf");
    dialogs_.OnPreview = [](const TPreviewPages& pages) { pages.Print(); };
    ASSERT_EQ(commands_->Preview(), TPrintOutcome::Printed);
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_EQ(dialogs_.PrintCalls, 1);
    EXPECT_EQ(PdfPageCount(pdf_), 2);
    EXPECT_EQ(Words(dialogs_.PreviewTo), Words(pdf_));
}

namespace {

class PrintFromWindowTest : public TWindowTest {
protected:
    void SetUp() override { Start(); }
    std::string pdf_ = dir_.File("out.pdf");
};

} // namespace

TEST_F(PrintFromWindowTest, MenuCommandsPrintThePanesLinesEditsIncluded)
{
    OpenDocument("Request for Comments: 9999\n\n   Title\n");
    QTest::keyClicks(form_->Memo1, "typed ");
    dialogs_->SaveAnswer = QString::fromStdString(pdf_);
    form_->mExportPdf->trigger();
    EXPECT_EQ(dialogs_->SaveSuggested, QStringLiteral("doc.pdf"));
    EXPECT_EQ(Words(pdf_), (std::vector<std::string>{"typed", "Request", "for", "Comments:", "9999", "Title"}));

    // A failure of the printer is the general error report.
    dialogs_->PrintTo = dir_.File("no-such-folder/out.pdf");
    form_->mPrint->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_TRUE(boxes_->Shown[0].Text.contains(QString::fromStdString(dialogs_->PrintTo)));
}

// Printing follows the document's own lines whatever the window shows: at
// 12 points the 640-pixel window wraps many lines, and printing its rows
// lost a quarter of the words below the paper's edge.
TEST_F(PrintFromWindowTest, RealDocumentPrintsEveryWordWhateverThePaneWraps)
{
    const std::string path = std::string(SCRIVLET_RFC_DIR) + "/rfc1928.txt";
    std::ifstream file(path);
    if (!file.good()) GTEST_SKIP() << "reference texts not present";
    std::vector<std::string> words;
    for (std::string word; file >> word;) words.push_back(word);
    std::sort(words.begin(), words.end());
    form_->FontDlg.Font = DocumentFont("Courier New", 12);
    form_->Reader->SetDocumentFont(form_->FontDlg.Font);
    form_->Reader->SetWordWrap(true);
    form_->Reader->SetFitWidth(false);
    dialogs_->OpenAnswer = QString::fromStdString(path);
    form_->mOpen->trigger();
    ASSERT_GT(form_->Memo1->LineCount(), form_->Memo1->SourceLineCount()) << "the window wraps lines at 12 points";
    boxes_->Answers = {true, true};
    // Nine form feeds, the last one alone on the last line: nine pages, no
    // blank sheet after the text.
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_EQ(PdfPageCount(pdf_), 9);
    // The reader of the PDF takes the header's two columns one after the other.
    std::vector<std::string> printed = Words(pdf_);
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(printed, words);
}
