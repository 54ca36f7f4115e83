#include "app/TextPane.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

TTextPane::TTextPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(document(), &QTextDocument::contentsChanged, this, [this] { indexValid_ = false; });
}

void TTextPane::LoadText(const QString& text)
{
    setUpdatesEnabled(false);
    setPlainText(text);
    setUpdatesEnabled(true);
    indexValid_ = false;
}

int TTextPane::LineCount() const
{
    EnsureIndex();
    return int(index_.size());
}

QString TTextPane::LineAt(int index) const
{
    EnsureIndex();
    if (index < 0 || index >= int(index_.size())) return {};
    const TDisplayLine& line = index_[size_t(index)];
    return text_.mid(line.Start, line.Length);
}

void TTextPane::resizeEvent(QResizeEvent* e)
{
    QPlainTextEdit::resizeEvent(e);
    indexValid_ = false;
}

void TTextPane::changeEvent(QEvent* e)
{
    QPlainTextEdit::changeEvent(e);
    if (e->type() == QEvent::FontChange) indexValid_ = false;
}

void TTextPane::EnsureIndex() const
{
    if (indexValid_) return;
    const int width = viewport()->width();

    index_.clear();
    text_ = document()->toRawText();
    // A line of printable ASCII whose width, summed from per-character
    // advances, stays clearly below the wrap width cannot wrap; only the
    // other blocks need the real layout. The slack covers the document
    // margins and the rounding of summed advances.
    QFontMetricsF metrics(font());
    qreal asciiWidths[128] = {};
    for (int c = 32; c < 127; ++c) asciiWidths[c] = metrics.horizontalAdvance(QChar(c));
    const qreal fitWidth = width - 2 * document()->documentMargin() - 4 * metrics.maxWidth() - 8;

    int start = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        IndexBlock(block, start, fitWidth, asciiWidths);
        start += block.length(); // the block's text and its separator
    }
    // The empty line after a final line break is not counted.
    if (!index_.empty() && index_.back().Length == 0 && index_.back().Start == text_.size()) index_.pop_back();

    indexValid_ = true;
}

void TTextPane::IndexBlock(const QTextBlock& block, int start, qreal fitWidth, const qreal* asciiWidths) const
{
    const int length = block.length() - 1;
    qreal sum = 0;
    bool simple = true;
    for (int i = start; i < start + length; ++i) {
        char16_t u = text_[i].unicode();
        if (u < 32 || u >= 127) {
            simple = false;
            break;
        }
        sum += asciiWidths[u];
    }
    if (simple && sum < fitWidth) {
        index_.push_back({start, length});
        return;
    }
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
    if (layout) layout->ensureBlockLayout(block);
    const QTextLayout* lines = block.layout();
    if (!lines || lines->lineCount() == 0) {
        index_.push_back({start, length});
        return;
    }
    for (int i = 0; i < lines->lineCount(); ++i) {
        QTextLine line = lines->lineAt(i);
        index_.push_back({start + line.textStart(), line.textLength()});
    }
}
