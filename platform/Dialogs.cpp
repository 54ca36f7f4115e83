#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QStringList>
#include <QTextDocument>
#include <exception>

namespace {

QString Title() { return QApplication::applicationName(); }

// The open dialog adds the default extension only to a typed name that names
// no file, so an existing file opens whatever its name and "rfc2223" still
// finds "rfc2223.txt". The toolkit's own default suffix would be added to
// every name without a dot and hide such files.
class TOpenFileDialog : public QFileDialog {
public:
    TOpenFileDialog(QWidget* parent, const QString& defaultExt) : QFileDialog(parent), defaultExt_(defaultExt)
    {
        // accept() below decides what opens, so this must be the toolkit's
        // own dialog, and any name may be typed.
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::AnyFile);
        setAcceptMode(QFileDialog::AcceptOpen);
        if (!defaultExt_.isEmpty() && !defaultExt_.startsWith('.')) defaultExt_.prepend('.');
    }

    void accept() override
    {
        const QStringList typed = selectedFiles();
        if (typed.size() != 1) return;
        const QFileInfo file(typed.first());
        // A folder is entered by the base class.
        if (file.exists()) return QFileDialog::accept();
        const QString withExt = file.filePath() + defaultExt_;
        if (!defaultExt_.isEmpty() && file.suffix().isEmpty() && QFileInfo::exists(withExt)) {
            selectFile(withExt);
            return QFileDialog::accept();
        }
        // Nothing of that name: the dialog stays open.
    }

private:
    QString defaultExt_;
};

} // namespace

QString FilterToQt(const QString& filter)
{
    QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        out << parts[i] + " (" + patterns.join(' ') + ")";
    }
    return out.join(";;");
}

QString PlainToolTip(const QString& text)
{
    if (text.isEmpty()) return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString ErrorReportText(const QString& message)
{
    if (message.isEmpty()) return message;
    if (message.back() > QChar('.')) return message + ".";
    return message;
}

void TQtMessageBoxes::ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, Title(), text, QMessageBox::Ok, parent);
    // Messages carry server replies and file names: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TQtMessageBoxes::ShowError(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, Title(), text, QMessageBox::Ok, parent);
    // Messages carry server replies and file names: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool TQtMessageBoxes::AskYesNo(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    // Messages carry server replies and file names: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> TQtCommonDialogs::OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt)
{
    TOpenFileDialog dialog(parent, defaultExt);
    dialog.setNameFilter(FilterToQt(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

std::optional<QFont> TQtCommonDialogs::ChooseFont(QWidget* parent, const QFont& current)
{
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, current, parent);
    if (!ok) return std::nullopt;
    return chosen;
}

bool TQtCommonDialogs::Print(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    // All pages only: no range, no selection, no current page.
    dialog.setOptions(QAbstractPrintDialog::PrintToFile);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    return dialog.exec() == QDialog::Accepted;
}

void TQtCommonDialogs::PrintPreview(QWidget* parent, QPrinter& printer, const std::function<void(QPrinter&)>& paint)
{
    QPrintPreviewDialog dialog(&printer, parent);
    // A failure while drawing reaches the caller's error report, not the toolkit.
    std::exception_ptr failure;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
        if (failure) return;
        try {
            paint(*target);
        } catch (...) {
            failure = std::current_exception();
            dialog.reject();
        }
    });
    dialog.exec();
    if (failure) std::rethrow_exception(failure);
}

QSize TQtScreen::Size()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(0, 0);
}

QRect TQtScreen::Available()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}
