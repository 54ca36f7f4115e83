// The print command as the user reaches it: menu item and button, the print
// dialog, the fit warning and a real PDF printed through the printer canvas.
#include "app/PagewickM.h"

#include "app/TextPane.h"
#include "app/tests/FakeServices.h"
#include "settings/PagewickDlg.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::string RunCommand(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

int PdfPages(const std::string& pdf)
{
    std::string info = RunCommand("pdfinfo '" + pdf + "' 2>/dev/null");
    size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

class PrintCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/scrivlet-print-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        pdf_ = dir_ + "/out.pdf";
        TFormServices services;
        services.MessageBoxes = boxes_;
        services.Dialogs = dialogs_;
        services.Screen = std::make_shared<TFakeScreen>();
        services.IniPath = dir_ + "/Scrivlet.ini";
        form_ = std::make_unique<TForm1>(services);
        dialog_ = std::make_unique<TOptionDlg>(services.IniPath, form_.get());
        form_->SetOptionDlg(dialog_.get());
        form_->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        dialog_.reset();
        form_.reset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    void OpenDocument(const std::string& bytes)
    {
        std::string path = dir_ + "/doc.txt";
        std::ofstream(path, std::ios::binary) << bytes;
        dialogs_->OpenAnswer = QString::fromStdString(path);
        form_->mOpen->trigger();
    }

    std::string dir_, pdf_;
    std::shared_ptr<TFakeMessageBoxes> boxes_ = std::make_shared<TFakeMessageBoxes>();
    std::shared_ptr<TFakeDialogs> dialogs_ = std::make_shared<TFakeDialogs>();
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TOptionDlg> dialog_;
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
    EXPECT_EQ(PdfPages(pdf_), 3);
    std::string text = RunCommand("pdftotext -layout '" + pdf_ + "' - 2>/dev/null");
    EXPECT_NE(text.find("page two"), std::string::npos);
    EXPECT_NE(text.find("page three"), std::string::npos);
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
    EXPECT_EQ(PdfPages(pdf_), 1);
}

TEST_F(PrintCommandTest, PrinterFailureReachesTheErrorReport)
{
    OpenDocument("text\n");
    dialogs_->PrintTo = dir_ + "/no-such-folder/out.pdf";
    form_->mPrint->trigger();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_FALSE(boxes_->Shown[0].Text.isEmpty());
    // The program carries on: the next print works.
    dialogs_->PrintTo = pdf_;
    form_->mPrint->trigger();
    EXPECT_EQ(PdfPages(pdf_), 1);
}
