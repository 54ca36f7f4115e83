#include "app/PrintCommands.h"

#include "app/DocumentSession.h"
#include "app/DocumentText.h"
#include "app/PaneText.h"
#include "app/PrintPreview.h"
#include "platform/Dialogs.h"
#include "print/PrintQt.h"

#include <QFileInfo>
#include <QPrinter>

namespace {

const QString kPdfFilter = QStringLiteral("PDFファイル|*.pdf|すべてのファイル|*.*");
const QString kPdfExt = QStringLiteral(".pdf");

} // namespace

// The pane's lines, or the document's own held here for as long as the command runs.
class TPrintCommands::TLines {
public:
    explicit TLines(const TLineSource& pane) : lines_(&pane) {}
    explicit TLines(std::vector<std::string> own)
        : own_(std::make_unique<TStringLines>(std::move(own))), lines_(own_.get())
    {}
    const TLineSource& operator*() const { return *lines_; }

private:
    std::unique_ptr<TStringLines> own_;
    const TLineSource* lines_;
};

TPrintCommands::TPrintCommands(TDocumentSession& session, TCommonDialogs& dialogs, TPrintHost host)
    : session_(session), dialogs_(dialogs), host_(std::move(host))
{}

TPrintCommands::~TPrintCommands() = default;

std::unique_ptr<TPrintCommands::TLines> TPrintCommands::LinesToPrint() const
{
    std::unique_ptr<TLines> lines;
    if (const TLineSource* pane = host_.PaneLines ? host_.PaneLines() : nullptr)
        lines = std::make_unique<TLines>(*pane);
    else if (const TDocument* shown = session_.Shown())
        // As the pane would show it: undecodable bytes become characters of their own.
        lines = std::make_unique<TLines>(FileLines(FileTextToPaneText(shown->Body).toStdString()));
    if (lines && (**lines).Count() == 0) lines.reset();
    return lines;
}

QPrinter& TPrintCommands::Printer()
{
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

TPrintOutcome TPrintCommands::Reporting(const std::function<TPrintOutcome()>& step)
{
    try {
        return step();
    } catch (const EPrinterError& e) {
        if (host_.Failure) host_.Failure(e.what());
        return TPrintOutcome::Failed;
    }
}

TPrintOutcome TPrintCommands::Print()
{
    // The document's own lines: what is printed must not depend on the
    // window's width, and a line too wide for the page is warned about.
    const std::unique_ptr<TLines> lines = LinesToPrint();
    if (!lines) return TPrintOutcome::Refused;
    if (!dialogs_.Print(host_.Parent, Printer())) return TPrintOutcome::Cancelled;
    return Reporting([&] {
        return PrintPaneLines(Printer(), host_.Font(), **lines, host_.AskFit) ? TPrintOutcome::Printed
                                                                              : TPrintOutcome::Cancelled;
    });
}

TPrintOutcome TPrintCommands::Preview()
{
    const std::unique_ptr<TLines> lines = LinesToPrint();
    if (!lines) return TPrintOutcome::Refused;
    const QFont font = host_.Font();
    return Reporting([&] {
        if (!FitCheckPasses(Printer(), font, **lines, host_.AskFit)) return TPrintOutcome::Cancelled;
        TPreviewPages pages = PreviewPages(Printer(), font, **lines);
        // Asked once above: printing from the preview prints what it shows.
        pages.Print = [this, &lines, font] {
            (void)PrintPaneLines(Printer(), font, **lines, [](const std::string&, const std::string&) { return true; });
        };
        dialogs_.PrintPreview(host_.Parent, pages);
        return TPrintOutcome::Printed;
    });
}

TPrintOutcome TPrintCommands::ExportPdf()
{
    if (!LinesToPrint()) return TPrintOutcome::Refused;
    const std::optional<QString> path = dialogs_.SaveFile(host_.Parent, kPdfFilter, kPdfExt, SuggestedPdfName());
    if (!path) return TPrintOutcome::Cancelled;
    return ExportPdfTo(path->toStdString());
}

TPrintOutcome TPrintCommands::ExportPdfTo(const std::string& path)
{
    const std::unique_ptr<TLines> lines = LinesToPrint();
    if (!lines) return TPrintOutcome::Refused;
    return Reporting([&] {
        return PrintLinesToPdf(path, host_.Font(), **lines, host_.AskFit) ? TPrintOutcome::Printed
                                                                          : TPrintOutcome::Cancelled;
    });
}

QString TPrintCommands::SuggestedPdfName() const
{
    const TDocument* shown = session_.Shown();
    if (!shown) return QStringLiteral("document") + kPdfExt;
    if (shown->Number > 0 && shown->Origin != TDocumentOrigin::File)
        return QStringLiteral("rfc%1").arg(shown->Number) + kPdfExt;
    const QString name =
        QFileInfo(QString::fromStdString(shown->Url.substr(shown->Url.find_last_of('/') + 1))).completeBaseName();
    return (name.isEmpty() ? QStringLiteral("document") : name) + kPdfExt;
}
