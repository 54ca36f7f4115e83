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
    if (line.Block != cachedBlock_) {
        QTextBlock block = cachedBlockHandle_.isValid() && cachedBlock_ + 1 == line.Block
                               ? cachedBlockHandle_.next()
                               : document()->findBlockByNumber(line.Block);
        cachedBlock_ = line.Block;
        cachedBlockHandle_ = block;
        cachedText_ = block.text();
    }
    if (line.Start == 0 && line.Length == cachedText_.size()) return cachedText_;
    return cachedText_.mid(line.Start, line.Length);
}

void TTextPane::EnsureIndex() const
{
    const int width = viewport()->width();
    const QString fontKey = font().key();
    if (indexValid_ && width == indexedWidth_ && fontKey == indexedFont_) return;

    index_.clear();
    cachedBlock_ = -1;
    cachedBlockHandle_ = QTextBlock();
    // A line of printable ASCII whose width, summed from per-character
    // advances, stays clearly below the wrap width cannot wrap; only the
    // other blocks need the real layout. The slack covers the document
    // margins and the rounding of summed advances.
    QFontMetricsF metrics(font());
    qreal asciiWidths[128] = {};
    for (int c = 32; c < 127; ++c) asciiWidths[c] = metrics.horizontalAdvance(QChar(c));
    const qreal fitWidth = width - 2 * document()->documentMargin() - 4 * metrics.maxWidth() - 8;

    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        IndexBlock(block, fitWidth, asciiWidths);
    // The empty line after a final line break is not counted.
    if (!index_.empty() && index_.back().Length == 0 && index_.back().Block == document()->blockCount() - 1)
        index_.pop_back();

    indexValid_ = true;
    indexedWidth_ = width;
    indexedFont_ = fontKey;
}

void TTextPane::IndexBlock(const QTextBlock& block, qreal fitWidth, const qreal* asciiWidths) const
{
    const QString text = block.text();
    const int number = block.blockNumber();
    qreal sum = 0;
    bool simple = true;
    for (QChar ch : text) {
        char16_t u = ch.unicode();
        if (u < 32 || u >= 127) {
            simple = false;
            break;
        }
        sum += asciiWidths[u];
    }
    if (simple && sum < fitWidth) {
        index_.push_back({number, 0, int(text.size())});
        return;
    }
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout());
    if (layout) layout->ensureBlockLayout(block);
    const QTextLayout* lines = block.layout();
    if (!lines || lines->lineCount() == 0) {
        index_.push_back({number, 0, int(text.size())});
        return;
    }
    for (int i = 0; i < lines->lineCount(); ++i) {
        QTextLine line = lines->lineAt(i);
        index_.push_back({number, line.textStart(), line.textLength()});
    }
}
