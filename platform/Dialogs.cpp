#include "platform/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStringList>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
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

std::optional<QString> TQtCommonDialogs::SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                                  const QString& suggested)
{
    QFileDialog dialog(parent);
    // The toolkit's own dialog, as the open dialog is, so both behave alike everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(FilterToQt(filter));
    dialog.setDefaultSuffix(defaultExt.startsWith('.') ? defaultExt.mid(1) : defaultExt);
    if (!suggested.isEmpty()) dialog.selectFile(suggested);
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

namespace {

// The pages one under the other at a fixed width; a paint event draws only
// the pages it touches, so a long document costs nothing until scrolled to.
class TPreviewSheets : public QWidget {
public:
    TPreviewSheets(const TPreviewPages& pages, std::exception_ptr& failure, QDialog& dialog)
        : pages_(pages), failure_(failure), dialog_(dialog)
    {
        SetPageWidth(kStartWidth);
    }

    void SetPageWidth(int width)
    {
        pageWidth_ = std::max(kMinWidth, width);
        const QSize paper = pages_.Paper.isEmpty() ? QSize(210, 297) : pages_.Paper;
        pageHeight_ = int(qint64(pageWidth_) * paper.height() / paper.width());
        setFixedSize(pageWidth_ + 2 * kGap, std::max(1, pages_.Count) * (pageHeight_ + kGap) + kGap);
        update();
    }
    int PageWidth() const { return pageWidth_; }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter painter(this);
        painter.fillRect(e->rect(), palette().color(QPalette::Dark));
        const int pitch = pageHeight_ + kGap;
        const int first = std::max(0, (e->rect().top() - kGap) / pitch);
        const int last = std::min(pages_.Count - 1, e->rect().bottom() / pitch);
        for (int page = first; page <= last && !failure_; ++page) {
            const QRect sheet(kGap, kGap + page * pitch, pageWidth_, pageHeight_);
            painter.fillRect(sheet, Qt::white);
            painter.save();
            painter.setClipRect(sheet);
            painter.translate(sheet.topLeft());
            painter.scale(qreal(pageWidth_) / pages_.Paper.width(), qreal(pageHeight_) / pages_.Paper.height());
            painter.setPen(Qt::black);
            // A failure while drawing reaches the caller's error report, not the toolkit.
            try {
                pages_.Draw(painter, page);
            } catch (...) {
                failure_ = std::current_exception();
                QTimer::singleShot(0, &dialog_, &QDialog::reject);
            }
            painter.restore();
        }
    }

private:
    static constexpr int kStartWidth = 560;
    static constexpr int kMinWidth = 100;
    static constexpr int kGap = 12;
    const TPreviewPages& pages_;
    std::exception_ptr& failure_;
    QDialog& dialog_;
    int pageWidth_ = 0;
    int pageHeight_ = 0;
};

} // namespace

void TQtCommonDialogs::PrintPreview(QWidget* parent, const TPreviewPages& pages)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("印刷プレビュー"));
    std::exception_ptr failure;
    auto* layout = new QVBoxLayout(&dialog);
    auto* bar = new QHBoxLayout();
    auto* print = new QPushButton(QStringLiteral("印刷(&P)"), &dialog);
    auto* smaller = new QPushButton(QStringLiteral("縮小"), &dialog);
    auto* larger = new QPushButton(QStringLiteral("拡大"), &dialog);
    bar->addWidget(print);
    bar->addWidget(smaller);
    bar->addWidget(larger);
    bar->addStretch(1);
    bar->addWidget(new QLabel(QStringLiteral("%1 ページ").arg(pages.Count), &dialog));
    layout->addLayout(bar);
    auto* scroll = new QScrollArea(&dialog);
    auto* sheets = new TPreviewSheets(pages, failure, dialog);
    scroll->setWidget(sheets);
    scroll->setAlignment(Qt::AlignHCenter);
    layout->addWidget(scroll, 1);
    QObject::connect(smaller, &QPushButton::clicked, sheets,
                     [sheets] { sheets->SetPageWidth(sheets->PageWidth() * 4 / 5); });
    QObject::connect(larger, &QPushButton::clicked, sheets,
                     [sheets] { sheets->SetPageWidth(sheets->PageWidth() * 5 / 4); });
    QObject::connect(print, &QPushButton::clicked, &dialog, [&] {
        try {
            if (pages.Print) pages.Print();
        } catch (...) {
            failure = std::current_exception();
        }
        dialog.accept();
    });
    dialog.resize(640, 720);
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
