#include "platform/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QStringList>

namespace {

QString Title() { return QApplication::applicationName(); }

} // namespace

QString FilterToQt(const QString& filter)
{
    QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        out << parts[i] + " (" + patterns + ")";
    }
    return out.join(";;");
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
    box.exec();
}

void TQtMessageBoxes::ShowError(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, Title(), text, QMessageBox::Ok, parent);
    box.exec();
}

bool TQtMessageBoxes::AskYesNo(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> TQtCommonDialogs::OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(FilterToQt(filter));
    QString suffix = defaultExt.startsWith('.') ? defaultExt.mid(1) : defaultExt;
    dialog.setDefaultSuffix(suffix);
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

QSize TQtScreen::Size()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(0, 0);
}
