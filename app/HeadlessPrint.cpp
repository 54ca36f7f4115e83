// scrivlet --pdf: the window's fetch, open and export commands without a window on screen.
#include "app/HeadlessPrint.h"

#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/PagewickM.h"
#include "app/PrintCommands.h"
#include "app/TextPane.h"
#include "library/LibraryDatabase.h"
#include "platform/Dialogs.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>

namespace {

// Message boxes become blocks of text; a CR LF inside a message is one line break.
std::string PlainText(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return plain.toStdString();
}

class TStreamMessageBoxes : public TMessageBoxes {
public:
    explicit TStreamMessageBoxes(std::ostream& err) : err_(err) {}
    void ShowMessage(QWidget*, const QString& text) override { err_ << PlainText(text) << std::endl; }
    void ShowError(QWidget*, const QString& text) override { err_ << PlainText(text) << std::endl; }
    // No question of the window has a safe Yes without someone to answer it.
    bool AskYesNo(QWidget*, const QString& text, const QString&) override
    {
        err_ << PlainText(text) << std::endl;
        return false;
    }

private:
    std::ostream& err_;
};

// Nobody is there to answer a dialog: each one is cancelled.
class TNoDialogs : public TCommonDialogs {
public:
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return std::nullopt; }
    bool Print(QWidget*, QPrinter&) override { return false; }
    void PrintPreview(QWidget*, const TPreviewPages&) override {}
};

// The designed window size fits, so the pane's lines are those the window
// would print with the stored size.
class TNoScreen : public TScreen {
public:
    QSize Size() override { return {1920, 1080}; }
    QRect Available() override { return {0, 0, 1920, 1080}; }
};

// The local file the document comes from: the path given, or the file a
// number names through a "file:///" URL format; empty for a network fetch.
std::string InputPath(const std::string& document, const std::string& urlFormat)
{
    if (!IsDocumentNumber(document)) return document;
    const std::string url = DocumentUrl(urlFormat, document);
    return IsLocalFileUrl(url) ? LocalFilePath(url) : std::string();
}

// Whether both names reach one file, by whatever links; false while either is missing.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

} // namespace

int PrintDocumentToPdf(const TCommandLine& command, std::ostream& err)
{
    TFormServices services;
    services.MessageBoxes = std::make_shared<TStreamMessageBoxes>(err);
    services.Dialogs = std::make_shared<TNoDialogs>();
    services.Screen = std::make_shared<TNoScreen>();
    // The library the window reads from: a document it holds prints with the server down. A file needs none.
    if (IsDocumentNumber(command.Document)) services.LibraryPath = DefaultLibraryPath();
    services.Settings = SettingsPlaceOf(command);
    TForm1 form(services);
    TOptionDlg optionDlg(services.Settings.ReadPath, &form);
    form.SetOptionDlg(&optionDlg);
    form.show();

    const std::string input = InputPath(command.Document, TextToSetting(optionDlg.UrlBase->text()));
    if (!input.empty() && SameFile(input, command.PdfPath)) {
        err << "scrivlet: " << command.PdfPath << " is the document to print; it is not overwritten" << std::endl;
        return kExitUsage;
    }

    bool loaded = false;
    if (IsDocumentNumber(command.Document)) {
        form.RFCNumber->setEditText(QString::fromStdString(command.Document));
        // The window's own fetch command: it says why it failed, in the window's words. Its network part
        // runs on a worker; the events run until it has ended (a failure raised then ends it unfinished).
        std::optional<TCommandOutcome> outcome;
        loaded = form.Guarded([&] { (void)form.FetchTyped([&outcome](TCommandOutcome ended) { outcome = ended; }); });
        while (loaded && !outcome && form.Fetching()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        loaded = loaded && outcome == TCommandOutcome::Shown;
    } else {
        loaded = form.Guarded([&] { form.OpenFile(QString::fromStdString(command.Document)); });
    }
    if (!loaded) return kExitFailed;

    // The window's own export command, with the window's pane and font; only the fit question is answered here.
    bool misfit = false;
    TPrintHost host;
    host.PaneLines = [&form] { return &form.Memo1->SourceLines(); };
    host.Font = [&form] { return form.FontDlg.Font; };
    host.AskFit = [&](const std::string& text, const std::string&) {
        misfit = true;
        // The problems without the question in front of them, which nobody is here to answer.
        const size_t firstBreak = text.find("\r\n");
        err << PlainText(QString::fromStdString(firstBreak == std::string::npos ? text : text.substr(firstBreak + 2)))
            << std::endl;
        return !command.Strict;
    };
    host.Failure = [&err](const std::string& message) {
        err << PlainText(ErrorReportText(QString::fromStdString(message))) << std::endl;
    };
    TPrintCommands printing(form.Session, *services.Dialogs, std::move(host));
    switch (printing.ExportPdfTo(command.PdfPath)) {
    case TPrintOutcome::Printed: return kExitOk;
    case TPrintOutcome::Refused:
        err << "scrivlet: " << command.Document << " is empty; nothing to print" << std::endl;
        break;
    case TPrintOutcome::Cancelled:
        if (misfit) err << "scrivlet: --strict: " << command.PdfPath << " not written" << std::endl;
        break;
    case TPrintOutcome::Failed: break;
    }
    return kExitFailed;
}
