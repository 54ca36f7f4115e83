// TPrintCommands: print, print preview and export as PDF, shared by the window
// and the command line. Each prints the document the session shows, as the
// pane shows it (the user's edits included) where the host has a pane and
// from the document's own lines where it has none, in the host's document
// font; it asks through the common dialogs and the fit check's question and
// returns how it ended. Owns the printer the print dialog sets up, kept from
// one print to the next; references the session and the dialogs. GUI thread only.
#pragma once

#include "print/PrintLayout.h"

#include <QFont>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QPrinter;
class QWidget;
class TCommonDialogs;
class TDocumentSession;

enum class TPrintOutcome {
    Printed,   // on the printer, in the preview or into the file
    Cancelled, // a dialog was cancelled or the fit question answered No: nothing printed, nothing said
    Refused,   // nothing is shown, or what is shown has no line: nothing asked
    Failed     // the printing platform failed: the message was shown, no file written
};

// What the print commands ask of whoever runs them. Texts are UTF-8.
struct TPrintHost {
    // The lines as the pane shows them; unset or null: the shown document's own lines.
    std::function<const TLineSource*()> PaneLines;
    // The document font (the font dialog's).
    std::function<QFont()> Font;
    // The fit check's question (text, caption): true prints anyway.
    TAskYesNo AskFit;
    // The failure of the printing platform, shown as the general error report shows it.
    std::function<void(const std::string& message)> Failure;
    // The dialogs' parent; null: none.
    QWidget* Parent = nullptr;
};

class TPrintCommands {
public:
    TPrintCommands(TDocumentSession& session, TCommonDialogs& dialogs, TPrintHost host);
    ~TPrintCommands();
    TPrintCommands(const TPrintCommands&) = delete;
    TPrintCommands& operator=(const TPrintCommands&) = delete;

    // The print dialog, the fit check, then the pages on the printer chosen.
    TPrintOutcome Print();
    // The fit check, then the pages as printing draws them; the preview's own
    // print button prints those pages on the printer last chosen, unasked.
    TPrintOutcome Preview();
    // Asks where to save (a name suggested after the document), then ExportPdfTo.
    TPrintOutcome ExportPdf();
    // The pages into a PDF file at path, after the fit check. The file is
    // written whole or not at all: after a No or a failure an older one stays.
    TPrintOutcome ExportPdfTo(const std::string& path);

    // The file name the save dialog suggests: "rfc2616.pdf" for a numbered
    // document, a file's own name with ".pdf" ("notes.txt" -> "notes.pdf"),
    // else "document.pdf".
    [[nodiscard]] QString SuggestedPdfName() const;

private:
    class TLines;
    // The lines to print; none (Refused) when nothing is shown or it has no line.
    [[nodiscard]] std::unique_ptr<TLines> LinesToPrint() const;
    QPrinter& Printer();
    // Runs a step that may fail on the printing platform: a failure is shown, and the outcome is Failed.
    TPrintOutcome Reporting(const std::function<TPrintOutcome()>& step);

    TDocumentSession& session_;
    TCommonDialogs& dialogs_;
    TPrintHost host_;
    std::unique_ptr<QPrinter> printer_;
};
