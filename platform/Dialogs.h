// The windows' link to the desktop: message boxes, common dialogs and the
// screen. Each is a small interface so tests can script the user's answers;
// the Qt implementations below are what the program uses.
// GUI thread only.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class QPainter;
class QPrinter;
class QWidget;

// The pages a print preview shows, drawn one at a time when they come into
// view. Draw paints page (0-based) on a painter whose unit is the printer's
// device pixel, with the paper's top-left corner at (0, 0).
struct TPreviewPages {
    int Count = 0;
    QSize Paper; // in the printer's device pixels
    std::function<void(QPainter& painter, int page)> Draw;
    // The preview's print button: prints the same pages on the printer.
    std::function<void()> Print;
};

// Every box carries the application title as its caption unless a caption is given.
class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    // The program's own message: text, one OK button, no icon.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // The general error report: error icon and the failure's message.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
    // Yes/No question with its own caption; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
};

// The common dialogs; each gives nothing (or false) when the user cancels.
class TCommonDialogs {
public:
    virtual ~TCommonDialogs() = default;
    // filter in the "description|pattern|description|pattern" form; the
    // default extension (".txt") is added to a typed name that has none.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt) = 0;
    // A file to write, starting on suggested (a name in the working folder): filter as
    // OpenFile's; the default extension (".pdf") is added to a name typed without
    // one, and an existing file is written over only once the user agrees.
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                            const QString& suggested) = 0;
    virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& current) = 0;
    // Lets the user pick a printer (or a PDF file) and configures printer.
    virtual bool Print(QWidget* parent, QPrinter& printer) = 0;
    // Shows the pages, the first at once and each other one when it is scrolled to.
    virtual void PrintPreview(QWidget* parent, const TPreviewPages& pages) = 0;
};

class TScreen {
public:
    virtual ~TScreen() = default;
    virtual QSize Size() = 0; // the primary screen in pixels
    // The part of the primary screen that windows may take (without panels).
    virtual QRect Available() = 0;
};

class TQtMessageBoxes : public TMessageBoxes {
public:
    void ShowMessage(QWidget* parent, const QString& text) override;
    void ShowError(QWidget* parent, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
};

class TQtCommonDialogs : public TCommonDialogs {
public:
    std::optional<QString> OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                    const QString& suggested) override;
    std::optional<QFont> ChooseFont(QWidget* parent, const QFont& current) override;
    bool Print(QWidget* parent, QPrinter& printer) override;
    void PrintPreview(QWidget* parent, const TPreviewPages& pages) override;
};

class TQtScreen : public TScreen {
public:
    QSize Size() override;
    QRect Available() override;
};

// "テキストファイル|*.txt|すべてのファイル|*.*" -> "テキストファイル (*.txt);;すべてのファイル (*)":
// "*.*" means every file, and here only "*" does.
QString FilterToQt(const QString& filter);

// A tooltip that shows text verbatim: the toolkit takes a tooltip that looks
// like markup for rich text (loading the images it names), so text from a
// server, an index or a document is escaped into a paragraph of its own.
QString PlainToolTip(const QString& text);

// The general error report's text: a period is appended when the message's
// last character sorts after "."; an empty message stays empty.
QString ErrorReportText(const QString& message);
