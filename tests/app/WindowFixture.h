// Scripted stand-ins for the desktop services, which record what the window
// showed and answer as the test says, and the fixture the window tests share.
#pragma once

#include "app/PagewickM.h"
#include "platform/Dialogs.h"
#include "settings/PagewickDlg.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QPrinter>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

struct TShownBox {
    std::string Kind; // "message", "error" or "question"
    QString Caption;
    QString Text;
};

class TFakeMessageBoxes : public TMessageBoxes {
public:
    void ShowMessage(QWidget*, const QString& text) override { Shown.push_back({"message", "Scrivlet", text}); }
    void ShowError(QWidget*, const QString& text) override { Shown.push_back({"error", "Scrivlet", text}); }
    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override
    {
        Shown.push_back({"question", caption, text});
        bool answer = Answers.empty() ? false : Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return answer;
    }
    std::vector<TShownBox> Shown;
    std::deque<bool> Answers;
};

class TFakeDialogs : public TCommonDialogs {
public:
    std::optional<QString> OpenFile(QWidget*, const QString& filter, const QString& defaultExt) override
    {
        OpenCalls++;
        LastFilter = filter;
        LastDefaultExt = defaultExt;
        return OpenAnswer;
    }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&, const QString& suggested) override
    {
        SaveCalls++;
        SaveSuggested = suggested;
        return SaveAnswer;
    }
    std::optional<QFont> ChooseFont(QWidget*, const QFont& current) override
    {
        FontCalls++;
        FontOffered = current;
        return FontAnswer;
    }
    bool Print(QWidget*, QPrinter& printer) override
    {
        PrintCalls++;
        if (PrintTo.empty()) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(PrintTo));
        return true;
    }
    // Every page the preview would show goes into a PDF at PreviewTo, drawn as the preview draws it.
    void PrintPreview(QWidget*, const TPreviewPages& pages) override
    {
        PreviewCalls++;
        QPrinter target(QPrinter::HighResolution);
        target.setOutputFormat(QPrinter::PdfFormat);
        target.setOutputFileName(QString::fromStdString(PreviewTo));
        target.setFullPage(true); // the pages are drawn from the paper's corner
        QPainter painter(&target);
        for (int page = 0; page < pages.Count; ++page) {
            if (page > 0) target.newPage();
            painter.save();
            pages.Draw(painter, page);
            painter.restore();
        }
        painter.end();
        if (OnPreview) OnPreview(pages);
    }
    int OpenCalls = 0, SaveCalls = 0, FontCalls = 0, PrintCalls = 0, PreviewCalls = 0;
    std::string PreviewTo;
    // What the user does in the preview once it is drawn (its print button); unset: nothing.
    std::function<void(const TPreviewPages&)> OnPreview;
    QString LastFilter, LastDefaultExt;
    std::optional<QString> OpenAnswer;
    std::optional<QString> SaveAnswer; // nothing: the user cancels the save dialog
    QString SaveSuggested;
    std::optional<QFont> FontAnswer;
    QFont FontOffered;
    std::string PrintTo; // empty: the user cancels the print dialog
};

class TFakeScreen : public TScreen {
public:
    QSize Size() override { return ScreenSize; }
    QRect Available() override { return AvailableArea; }
    QSize ScreenSize{1024, 768};
    QRect AvailableArea{0, 0, 1024, 740}; // a panel along the bottom
};

// One main window with its options dialog, as the program start makes them,
// in a fresh working folder of its own with scripted desktop services.
class TWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        dialog_.reset();
        form_.reset();
    }

    // Creates the window and the dialog and shows the window, which runs the
    // first activation.
    TForm1& Start()
    {
        TFormServices services;
        services.MessageBoxes = boxes_;
        services.Dialogs = realDialogs_ ? realDialogs_ : dialogs_;
        services.Screen = screen_;
        services.Settings = place_;
        services.LibraryPath = libraryPath_;
        services.EndEventLoop = [this] { ++eventLoopEnds_; };
        services.OpenUrl = [this](const QString& url) { openedUrls_.push_back(url); };
        form_ = std::make_unique<TForm1>(services);
        dialog_ = std::make_unique<TOptionDlg>(place_.ReadPath, form_.get());
        form_->SetOptionDlg(dialog_.get());
        form_->show();
        QApplication::processEvents();
        return *form_;
    }
    void Stop()
    {
        dialog_.reset();
        form_.reset();
    }

    // Runs the events until no fetch of the window waits on the network any
    // more and what followed it in the front tab has run; a fetch still going
    // after 30 s (far past any a test makes) fails the test.
    void WaitForFetch()
    {
        const bool ended = QTest::qWaitFor([this] { return !form_ || !form_->Fetching(); }, 30000);
        EXPECT_TRUE(ended) << "a fetch still runs after 30 s";
        QApplication::processEvents();
    }
    // Runs a command and waits for any fetch it started.
    void Run(QAction* command)
    {
        command->trigger();
        WaitForFetch();
    }

    // Writes a document into the working folder and opens it through the
    // open command.
    std::string OpenDocument(const std::string& bytes, const std::string& name = "doc.txt")
    {
        std::string path = dir_.File(name);
        WriteTextFile(path, bytes);
        dialogs_->OpenAnswer = QString::fromStdString(path);
        form_->mOpen->trigger();
        return path;
    }

    TTempDir dir_;
    std::string ini_ = dir_.File("Scrivlet.ini");
    // Where the window reads and writes its settings: ini_ unless a test says otherwise.
    TSettingsPlace place_{ini_, ini_, "", false};
    // Empty: the window runs without a library.
    std::string libraryPath_;
    std::shared_ptr<TFakeMessageBoxes> boxes_ = std::make_shared<TFakeMessageBoxes>();
    std::shared_ptr<TFakeDialogs> dialogs_ = std::make_shared<TFakeDialogs>();
    // When set, the window uses these instead of the scripted ones.
    std::shared_ptr<TCommonDialogs> realDialogs_;
    std::shared_ptr<TFakeScreen> screen_ = std::make_shared<TFakeScreen>();
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TOptionDlg> dialog_;
    int eventLoopEnds_ = 0;
    std::vector<QString> openedUrls_; // web addresses sent to the desktop's browser
};
