#include "app/TextPane.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QHash>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

namespace {

// Blocks longer than this are laid out by TPaneLayout itself.
constexpr int kLongBlock = 1024;

// Shown in place of the Unicode line and paragraph separators, which are not
// line ends in a document and must not break its lines.
constexpr char16_t kLineSeparatorSymbol = 0x2424;      // SYMBOL FOR NEWLINE
constexpr char16_t kParagraphSeparatorSymbol = 0x00B6; // PILCROW SIGN

// A blank the toolkit's line breaking treats as a place to wrap.
bool IsBreakableSpace(QChar c) { return c.isSpace() && c.decompositionTag() != QChar::NoBreak; }

// Per-character advances, cached: their sum estimates a run's width, which
// is all the layout needs to tell a run far wider than a line.
class TAdvances {
public:
    explicit TAdvances(const QFont& font) : metrics_(font)
    {
        for (int c = 0; c < 128; ++c) ascii_[c] = metrics_.horizontalAdvance(QChar(c));
    }
    qreal Of(QChar c)
    {
        const char16_t u = c.unicode();
        if (u < 128) return ascii_[u];
        // Surrogates and marks may take no room of their own.
        if (c.isSurrogate() || c.isMark()) return 0;
        auto found = other_.constFind(u);
        if (found != other_.constEnd()) return *found;
        const qreal advance = metrics_.horizontalAdvance(c);
        other_.insert(u, advance);
        return advance;
    }
    qreal MaxWidth() const { return metrics_.maxWidth(); }

private:
    QFontMetricsF metrics_;
    qreal ascii_[128];
    QHash<char16_t, qreal> other_;
};

} // namespace

// The pane's document layout. The toolkit wraps a line whose first word is
// wider than the pane by measuring the whole word again for every line it
// fills, which is quadratic in the length of a long run without a break
// opportunity. Long blocks are therefore laid out here, line by line with
// the toolkit's own line breaking: a line that starts on such a run and
// certainly cannot hold it is filled character by character, which is what
// the toolkit does in the end; every other line wraps at word boundaries.
// The lines are the toolkit's own, found in time linear in the block.
class TPaneLayout : public QPlainTextDocumentLayout {
public:
    // The pane wraps at its viewport's width, which it also gives the base
    // class (whose own copy is private).
    TPaneLayout(QTextDocument* document, const QWidget* viewport)
        : QPlainTextDocumentLayout(document), viewport_(viewport)
    {}

    void EnsureLaidOut(const QTextBlock& block)
    {
        if (!block.isValid() || block.layout()->lineCount() > 0) return;
        if (block.length() > kLongBlock)
            LayOutLongBlock(block);
        else
            ensureBlockLayout(block);
    }

    QRectF blockBoundingRect(const QTextBlock& block) const override
    {
        if (block.isValid() && block.length() > kLongBlock && block.layout()->lineCount() == 0)
            const_cast<TPaneLayout*>(this)->LayOutLongBlock(block);
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        // An edit inside one block is laid out at once by the base class;
        // a long block is laid out here instead.
        QTextDocument* doc = document();
        const QTextBlock first = doc->findBlock(from);
        const QTextBlock last = doc->findBlock(qMax(0, from + charsRemoved + charsAdded - 1));
        if (first == last && doc->blockCount() == blockCount_ && first.length() > kLongBlock) {
            first.layout()->clearLayout();
            LayOutLongBlock(first);
            emit update(QRectF(0., -doc->documentMargin(), 1000000000., 1000000000.));
            return;
        }
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        blockCount_ = doc->blockCount();
    }

private:
    void LayOutLongBlock(const QTextBlock& block);

    const QWidget* viewport_;
    int blockCount_ = 1;
};

void TPaneLayout::LayOutLongBlock(const QTextBlock& block)
{
    QTextDocument* doc = document();
    const QString text = block.text();
    const qreal margin = doc->documentMargin();
    qreal width = viewport_->width() > 0 ? qreal(viewport_->width()) : qreal(INT_MAX);
    width -= 2 * margin;

    const QTextOption words = doc->defaultTextOption();
    QTextOption anywhere = words;
    anywhere.setWrapMode(QTextOption::WrapAnywhere);
    TAdvances advances(doc->defaultFont());
    // Shaping may make a run narrower than its summed advances, but not by
    // half: past this a run surely does not fit.
    const qreal certainlyTooWide = 2 * width + 4 * advances.MaxWidth();
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);

    // The run without a break opportunity that the current line starts on:
    // [runPos, runEnd), and the estimated width of that rest.
    int runPos = 0, runEnd = 0;
    qreal runRest = 0;
    QTextLayout* layout = block.layout();
    layout->beginLayout();
    qreal height = 0;
    int pos = 0;
    for (;;) {
        bool fill = false;
        if (pos < text.size() && !IsBreakableSpace(text[pos])) {
            if (pos >= runEnd) {
                breaks.setPosition(pos);
                qsizetype next = breaks.toNextBoundary();
                if (next < 0) next = text.size();
                runEnd = pos;
                runRest = 0;
                while (runEnd < next && !IsBreakableSpace(text[runEnd])) runRest += advances.Of(text[runEnd++]);
            } else {
                for (int i = runPos; i < pos; ++i) runRest -= advances.Of(text[i]);
            }
            runPos = pos;
            fill = runRest > certainlyTooWide;
        }
        // Read by the line breaking of each line as that line is laid out.
        layout->setTextOption(fill ? anywhere : words);
        QTextLine line = layout->createLine();
        if (!line.isValid()) break;
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(margin, height));
        height += line.height();
        if (line.leading() < 0) height += std::ceil(line.leading());
        pos = line.textStart() + line.textLength();
    }
    layout->setTextOption(words);
    layout->endLayout();
    // As the base class does: the scroll range follows the line count.
    const int before = doc->lineCount();
    const_cast<QTextBlock&>(block).setLineCount(block.isVisible() ? layout->lineCount() : 0);
    if (doc->lineCount() != before) emit documentSizeChanged(documentSize());
}

TTextPane::TTextPane(QWidget* parent) : QPlainTextEdit(parent)
{
    layout_ = new TPaneLayout(document(), viewport());
    document()->setDocumentLayout(layout_);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(document(), &QTextDocument::contentsChanged, this, [this] { indexValid_ = false; });
}

void TTextPane::LoadText(const QString& text)
{
    QString shown = text;
    shown.replace(QChar::LineSeparator, QChar(kLineSeparatorSymbol));
    shown.replace(QChar::ParagraphSeparator, QChar(kParagraphSeparatorSymbol));
    setUpdatesEnabled(false);
    setPlainText(shown);
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
        if (sum >= fitWidth) break;
    }
    if (simple && sum < fitWidth) {
        index_.push_back({start, length});
        return;
    }
    layout_->EnsureLaidOut(block);
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
