// The text pane: its text and line index, wrapping, drawing, editing and selection.
#include "app/TextPane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QHash>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Lines longer than this are wrapped by WrapLongLine.
constexpr int kLongLine = 1024;
// Longer lines are laid out in pieces of kHugePiece characters.
constexpr int kHugeLine = 1 << 20;
constexpr int kHugePiece = 1 << 16;
// Space left and right of the text, and above the first row.
constexpr int kMargin = 4;

// Shown in place of the Unicode line and paragraph separators, which are not
// line ends in a document and must not break its lines.
constexpr char16_t kLineSeparatorSymbol = 0x2424;      // SYMBOL FOR NEWLINE
constexpr char16_t kParagraphSeparatorSymbol = 0x00B6; // PILCROW SIGN

// A blank the toolkit's line breaking treats as a place to wrap.
bool IsBreakableSpace(QChar c) { return c.isSpace() && c.decompositionTag() != QChar::NoBreak; }

// Text from outside (the clipboard, the keyboard) in the pane's own form:
// each CR LF, lone CR and lone LF one "\n", the separators as their symbols.
QString AsPaneText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    text.replace(QChar::LineSeparator, QChar(kLineSeparatorSymbol));
    text.replace(QChar::ParagraphSeparator, QChar(kParagraphSeparatorSymbol));
    return text;
}

QTextOption RowOption()
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    return option;
}

} // namespace

// Per-character advances, cached: their sum estimates a run's width, which is
// all wrapping needs to tell a line that surely fits, or a run far wider than
// a line.
class TTextPane::TAdvances {
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

TTextPane::TTextPane(QWidget* parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    FontChanged();
}

TTextPane::~TTextPane() = default;

// ---------------------------------------------------------------- text

void TTextPane::LoadText(QString text)
{
    text.replace(QChar::LineSeparator, QChar(kLineSeparatorSymbol));
    text.replace(QChar::ParagraphSeparator, QChar(kParagraphSeparatorSymbol));
    text_ = std::move(text);
    // Counted first so the index takes no more room than it needs.
    const qsizetype breaks = text_.count(QChar('\n'));
    std::vector<int>().swap(lineStarts_);
    lineStarts_.reserve(size_t(breaks) + 1);
    lineStarts_.push_back(0);
    const QChar* data = text_.constData();
    for (qsizetype i = 0, n = text_.size(); i < n; ++i)
        if (data[i] == QChar('\n')) lineStarts_.push_back(int(i + 1));
    undo_.clear();
    redo_.clear();
    typing_ = false;
    modified_ = false;
    preedit_.clear();
    std::vector<TWrapped>().swap(wrapped_);
    std::vector<int>().swap(breaks_);
    wrapsValid_ = false;
    marks_.clear();
    longestMark_ = 0;
    caret_ = anchor_ = 0;
    preferredX_ = -1;
    pinnedTop_ = 0;
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
    emit textChanged();
}

int TTextPane::LineEnd(int line) const
{
    return line + 1 < int(lineStarts_.size()) ? lineStarts_[size_t(line) + 1] - 1 : int(text_.size());
}

int TTextPane::SourceLineCount() const
{
    const int lines = int(lineStarts_.size());
    return lineStarts_.back() == int(text_.size()) ? lines - 1 : lines;
}

QString TTextPane::SourceLineAt(int index) const
{
    if (index < 0 || index >= SourceLineCount()) return {};
    const int start = lineStarts_[size_t(index)];
    return text_.mid(start, LineEnd(index) - start);
}

int TTextPane::SourceLineStart(int line) const
{
    return lineStarts_[size_t(std::clamp(line, 0, int(lineStarts_.size()) - 1))];
}

int TTextPane::SourceLineOfPosition(int position) const
{
    return int(std::upper_bound(lineStarts_.begin(), lineStarts_.end(), position) - lineStarts_.begin()) - 1;
}

int TTextPane::LineCount() const
{
    // The last row is an empty line exactly when the text ends with a break.
    const int rows = RowCount();
    return lineStarts_.back() == int(text_.size()) ? rows - 1 : rows;
}

QString TTextPane::LineAt(int index) const
{
    if (index < 0 || index >= LineCount()) return {};
    const TRow row = RowAt(index);
    return text_.mid(row.Start, row.End - row.Start);
}

int TTextPane::TLines::Count() const { return displayed_ ? pane_.LineCount() : pane_.SourceLineCount(); }

std::string TTextPane::TLines::Line(int index) const { return Utf8Of(Span(index)); }

std::string TTextPane::TLines::LinePrefix(int index, std::size_t bytes) const
{
    // A UTF-16 unit is at least one byte of UTF-8.
    const QStringView span = Span(index);
    return Utf8Of(span.first(std::min(span.size(), qsizetype(bytes)))).substr(0, bytes);
}

QStringView TTextPane::TLines::Span(int index) const
{
    if (displayed_) {
        if (index < 0 || index >= pane_.LineCount()) return {};
        const TRow row = pane_.RowAt(index);
        return QStringView(pane_.text_).mid(row.Start, row.End - row.Start);
    }
    if (index < 0 || index >= pane_.SourceLineCount()) return {};
    const int start = pane_.lineStarts_[size_t(index)];
    return QStringView(pane_.text_).mid(start, pane_.LineEnd(index) - start);
}

std::string Utf8Of(QStringView text)
{
    // In pieces, so a long text is never held twice over in an intermediate copy.
    constexpr qsizetype kPiece = 1 << 16;
    std::string utf8;
    utf8.reserve(size_t(text.size()));
    for (qsizetype at = 0; at < text.size();) {
        qsizetype length = std::min(kPiece, text.size() - at);
        if (at + length < text.size() && text[at + length - 1].isHighSurrogate()) --length;
        const QByteArray piece = text.mid(at, length).toUtf8();
        utf8.append(piece.constData(), size_t(piece.size()));
        at += length;
    }
    return utf8;
}

// ---------------------------------------------------------------- wrapping

void TTextPane::SetWrapColumns(int columns)
{
    columns = std::max(0, columns);
    if (columns == wrapColumns_) return;
    const int top = wrapsValid_ ? RowInIndex(verticalScrollBar()->value()).Line : 0;
    wrapColumns_ = columns;
    setHorizontalScrollBarPolicy(columns > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    horizontalScrollBar()->setValue(0);
    wrapsValid_ = false;
    UpdateScrollRange();
    verticalScrollBar()->setValue(FirstRowOfLine(top));
    viewport()->update();
}

qreal TTextPane::ColumnWidth(const QFont& font) { return QFontMetricsF(font).horizontalAdvance(QChar('0')); }

qreal TTextPane::AvailableTextWidth() const
{
    return qreal(width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width() - 2 * kMargin);
}

int TTextPane::Left() const { return kMargin - horizontalScrollBar()->value(); }

qreal TTextPane::WrapWidth() const
{
    if (wrapColumns_ > 0) return wrapColumns_ * advances_->Of(QChar('0'));
    // A pane collapsed to nothing (or not laid out yet) does not wrap: a
    // row per character would cost more than the text itself.
    const int width = viewport()->width();
    return width > 2 * kMargin ? qreal(width - 2 * kMargin) : qreal(INT_MAX);
}

int TTextPane::BreakCount(size_t wrapped) const
{
    const size_t next = wrapped + 1 < wrapped_.size() ? size_t(wrapped_[wrapped + 1].FirstBreak) : breaks_.size();
    return int(next) - wrapped_[wrapped].FirstBreak;
}

int TTextPane::RowCount() const
{
    EnsureWraps();
    return int(lineStarts_.size() + breaks_.size());
}

int TTextPane::FirstRowOfLine(int line) const
{
    EnsureWraps();
    auto after =
        std::lower_bound(wrapped_.begin(), wrapped_.end(), line, [](const TWrapped& w, int l) { return w.Line < l; });
    return line + (after == wrapped_.end() ? int(breaks_.size()) : after->FirstBreak);
}

TTextPane::TRow TTextPane::RowAt(int row) const
{
    EnsureWraps();
    return RowInIndex(row);
}

// Reads the wrap index as it stands, current or not.
TTextPane::TRow TTextPane::RowInIndex(int row) const
{
    // The last wrapped line whose first row is at or before this row.
    auto after = std::upper_bound(wrapped_.begin(), wrapped_.end(), row,
                                  [](int r, const TWrapped& w) { return r < w.Line + w.FirstBreak; });
    int line = row, segment = 0, breaks = 0;
    const TWrapped* wrap = nullptr;
    if (after != wrapped_.begin()) {
        const size_t w = size_t(after - wrapped_.begin()) - 1;
        const int first = wrapped_[w].Line + wrapped_[w].FirstBreak;
        breaks = BreakCount(w);
        if (row - first <= breaks) {
            wrap = &wrapped_[w];
            line = wrap->Line;
            segment = row - first;
        } else {
            line = wrapped_[w].Line + (row - first - breaks);
        }
    }
    line = std::clamp(line, 0, int(lineStarts_.size()) - 1);
    const int start = lineStarts_[size_t(line)];
    int from = start, end = LineEnd(line);
    if (wrap != nullptr) {
        if (segment > 0) from = start + breaks_[size_t(wrap->FirstBreak + segment - 1)];
        if (segment < breaks) end = start + breaks_[size_t(wrap->FirstBreak + segment)];
    }
    return {line, segment, from, end};
}

int TTextPane::RowOfPosition(int position) const
{
    const int line = SourceLineOfPosition(position);
    const int first = FirstRowOfLine(line);
    auto w =
        std::lower_bound(wrapped_.begin(), wrapped_.end(), line, [](const TWrapped& x, int l) { return x.Line < l; });
    if (w == wrapped_.end() || w->Line != line) return first;
    const int offset = position - lineStarts_[size_t(line)];
    const auto begin = breaks_.begin() + w->FirstBreak;
    const auto end = begin + BreakCount(size_t(w - wrapped_.begin()));
    // A position at a break starts the next row.
    return first + int(std::upper_bound(begin, end, offset) - begin);
}

void TTextPane::EnsureWraps() const
{
    const qreal width = WrapWidth();
    if (wrapsValid_ && width == wrappedAt_) return;
    wrapped_.clear();
    breaks_.clear();
    std::vector<int> breaks;
    for (int line = 0, n = int(lineStarts_.size()); line < n; ++line) {
        WrapLine(line, breaks);
        if (breaks.empty()) continue;
        wrapped_.push_back({line, int(breaks_.size())});
        breaks_.insert(breaks_.end(), breaks.begin(), breaks.end());
    }
    wrapsValid_ = true;
    wrappedAt_ = width;
}

// The offsets at which the line's displayed rows after the first begin,
// exactly where the toolkit's word wrap would break it.
void TTextPane::WrapLine(int line, std::vector<int>& breaks) const
{
    breaks.clear();
    const int start = lineStarts_[size_t(line)];
    const int length = LineEnd(line) - start;
    const qreal width = WrapWidth();
    // Summed advances clearly below the width cannot wrap; the slack covers
    // rounding and shaping. Tabs go to the toolkit's stops every 80 pixels.
    // At a column width the sum is the width itself: a line of that many
    // columns or fewer never wraps.
    const qreal fits = wrapColumns_ > 0 ? width + 0.5 : width - 4 * advances_->MaxWidth() - 8;
    const QChar* data = text_.constData() + start;
    qreal sum = 0;
    bool simple = true;
    for (int i = 0; i < length && sum < fits; ++i) {
        const char16_t u = data[i].unicode();
        if (u == '\t') {
            sum = (std::floor(sum / 80) + 1) * 80;
        } else if (u < 32 || data[i].isSurrogate()) {
            simple = false;
            break;
        } else {
            sum += advances_->Of(data[i]);
        }
    }
    if (simple && sum < fits) return;

    // The toolkit's layout of a line takes some tens of bytes per character:
    // a line of millions is laid out a piece at a time. The last two rows of
    // a piece may come out otherwise in the whole line (the last runs on past
    // the piece), so the next piece starts where they start.
    std::vector<int> rows;
    for (int at = 0; at < length;) {
        const int piece = length <= kHugeLine ? length : std::min(kHugePiece, length - at);
        RowStarts(text_.mid(start + at, piece), rows);
        const bool last = at + piece == length;
        const size_t keep = last ? rows.size() : rows.size() > 2 ? rows.size() - 2 : 1;
        for (size_t i = 0; i < keep; ++i)
            if (at + rows[i] > 0) breaks.push_back(at + rows[i]);
        at += keep < rows.size() ? rows[keep] : piece;
    }
}

// Where the rows of text begin when it is wrapped at the pane's width, exactly
// where the toolkit's word wrap would break it: 0 first.
void TTextPane::RowStarts(const QString& text, std::vector<int>& rows) const
{
    rows.clear();
    const int length = int(text.size());
    const qreal width = WrapWidth();
    QTextLayout layout(text, font());
    QTextOption words;
    words.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextOption anywhere = words;
    anywhere.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(words);
    // The toolkit wraps a line whose first word is wider than the pane by
    // measuring the whole word again for every row it fills, which is
    // quadratic in the length of a run without a break opportunity. In a long
    // line, a row that starts on such a run and certainly cannot hold it is
    // filled character by character, which is what the toolkit does in the
    // end; every other row wraps at word boundaries.
    const bool longLine = length > kLongLine;
    const qreal certainlyTooWide = 2 * width + 4 * advances_->MaxWidth();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    int runPos = 0, runEnd = 0;
    qreal runRest = 0;
    layout.beginLayout();
    int pos = 0;
    for (;;) {
        if (longLine) {
            bool fill = false;
            if (pos < text.size() && !IsBreakableSpace(text[pos])) {
                if (pos >= runEnd) {
                    finder.setPosition(pos);
                    qsizetype next = finder.toNextBoundary();
                    if (next < 0) next = text.size();
                    runEnd = pos;
                    runRest = 0;
                    while (runEnd < next && !IsBreakableSpace(text[runEnd])) runRest += advances_->Of(text[runEnd++]);
                } else {
                    for (int i = runPos; i < pos; ++i) runRest -= advances_->Of(text[i]);
                }
                runPos = pos;
                fill = runRest > certainlyTooWide;
            }
            // Read by the line breaking of each row as that row is laid out.
            layout.setTextOption(fill ? anywhere : words);
        }
        QTextLine row = layout.createLine();
        if (!row.isValid()) break;
        row.setLineWidth(width);
        rows.push_back(row.textStart());
        pos = row.textStart() + row.textLength();
    }
    layout.endLayout();
}

// After an edit that turned source lines first..oldLast into first..newLast:
// the wrapped entries of those lines are made anew, later ones shifted.
void TTextPane::RewrapLines(int first, int oldLast, int newLast)
{
    if (!wrapsValid_ || wrappedAt_ != WrapWidth()) {
        wrapsValid_ = false;
        return;
    }
    auto lineLess = [](const TWrapped& w, int l) { return w.Line < l; };
    const auto from = std::lower_bound(wrapped_.begin(), wrapped_.end(), first, lineLess);
    const auto to = std::lower_bound(from, wrapped_.end(), oldLast + 1, lineLess);
    const int breakFrom = from == wrapped_.end() ? int(breaks_.size()) : from->FirstBreak;
    const int breakTo = to == wrapped_.end() ? int(breaks_.size()) : to->FirstBreak;

    std::vector<TWrapped> entries;
    std::vector<int> newBreaks, breaks;
    for (int line = first; line <= newLast; ++line) {
        WrapLine(line, breaks);
        if (breaks.empty()) continue;
        entries.push_back({line, breakFrom + int(newBreaks.size())});
        newBreaks.insert(newBreaks.end(), breaks.begin(), breaks.end());
    }
    const int lineShift = newLast - oldLast;
    const int breakShift = int(newBreaks.size()) - (breakTo - breakFrom);
    for (auto w = to; w != wrapped_.end(); ++w) {
        w->Line += lineShift;
        w->FirstBreak += breakShift;
    }
    breaks_.erase(breaks_.begin() + breakFrom, breaks_.begin() + breakTo);
    breaks_.insert(breaks_.begin() + breakFrom, newBreaks.begin(), newBreaks.end());
    const auto at = wrapped_.erase(from, to);
    wrapped_.insert(at, entries.begin(), entries.end());
}

// ---------------------------------------------------------------- editing

void TTextPane::Replace(int from, int to, const QString& text)
{
    const int firstLine = SourceLineOfPosition(from);
    const int oldLast = SourceLineOfPosition(to);
    const int shift = int(text.size()) - (to - from);
    // Room grows by a sixteenth at a time: the containers' own doubling would
    // let one keystroke in a large document double what it costs.
    if (text_.size() + shift > text_.capacity()) text_.reserve(text_.size() + shift + text_.size() / 16 + 64);
    text_.replace(from, to - from, text);

    std::vector<int> starts;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QChar('\n')) starts.push_back(from + int(i) + 1);
    if (lineStarts_.size() + starts.size() > lineStarts_.capacity())
        lineStarts_.reserve(lineStarts_.size() + starts.size() + lineStarts_.size() / 16 + 64);
    const auto eraseFrom = lineStarts_.begin() + firstLine + 1;
    const auto after = lineStarts_.erase(eraseFrom, eraseFrom + (oldLast - firstLine));
    const auto inserted = lineStarts_.insert(after, starts.begin(), starts.end());
    for (auto s = inserted + qsizetype(starts.size()); s != lineStarts_.end(); ++s) *s += shift;
    RewrapLines(firstLine, oldLast, firstLine + int(starts.size()));

    modified_ = true;
    marks_.clear();
    longestMark_ = 0;
    caret_ = anchor_ = from + int(text.size());
    preferredX_ = -1;
    UpdateScrollRange();
    EnsureCaretVisible();
    RestartBlink();
    viewport()->update();
    emit textChanged();
}

void TTextPane::InsertText(const QString& text)
{
    Edit(std::min(anchor_, caret_), std::max(anchor_, caret_), AsPaneText(text));
}

void TTextPane::Edit(int from, int to, const QString& text)
{
    // Characters typed one after another undo together, up to a line break.
    const bool typing = from == to && text.size() == 1 && text[0] != QChar('\n');
    if (typing && typing_ && !undo_.empty() && undo_.back().From + undo_.back().InsertedLength == from) {
        ++undo_.back().InsertedLength;
    } else {
        // A bound on the steps kept; the text of one step is the user's own edit.
        if (undo_.size() >= 1000) undo_.erase(undo_.begin());
        undo_.push_back({from, text_.mid(from, to - from), int(text.size())});
    }
    typing_ = typing;
    redo_.clear();
    Replace(from, to, text);
}

void TTextPane::undo()
{
    if (undo_.empty()) return;
    TUndoStep step = std::move(undo_.back());
    undo_.pop_back();
    const int end = step.From + step.InsertedLength;
    redo_.push_back({step.From, text_.mid(step.From, step.InsertedLength), int(step.Removed.size())});
    typing_ = false;
    Replace(step.From, end, step.Removed);
}

void TTextPane::redo()
{
    if (redo_.empty()) return;
    TUndoStep step = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back({step.From, text_.mid(step.From, step.InsertedLength), int(step.Removed.size())});
    typing_ = false;
    Replace(step.From, step.From + step.InsertedLength, step.Removed);
}

QString TTextPane::SelectedText() const
{
    const int from = std::min(anchor_, caret_);
    return text_.mid(from, std::max(anchor_, caret_) - from);
}

void TTextPane::Select(int anchor, int caret)
{
    const int size = int(text_.size());
    anchor_ = std::clamp(anchor, 0, size);
    caret_ = std::clamp(caret, 0, size);
    preferredX_ = -1;
    EnsureCaretVisible();
    viewport()->update();
    OfferSelection();
}

// What is selected becomes the desktop's primary selection, for a middle click elsewhere.
void TTextPane::OfferSelection() const
{
    QClipboard* clipboard = QApplication::clipboard();
    if (anchor_ != caret_ && clipboard->supportsSelection()) clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TTextPane::selectAll() { Select(0, int(text_.size())); }

void TTextPane::copy() const
{
    if (anchor_ != caret_) QApplication::clipboard()->setText(SelectedText());
}

void TTextPane::CopySelection() { copy(); }

void TTextPane::cut()
{
    if (anchor_ == caret_) return;
    copy();
    InsertText(QString());
}

void TTextPane::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty()) InsertText(text);
}

void TTextPane::SetMarks(std::vector<TPaneMark> marks)
{
    std::sort(marks.begin(), marks.end(), [](const TPaneMark& a, const TPaneMark& b) { return a.Start < b.Start; });
    longestMark_ = 0;
    for (const TPaneMark& m : marks) longestMark_ = std::max(longestMark_, m.Length);
    marks_ = std::move(marks);
    viewport()->update();
}

// ---------------------------------------------------------------- caret

void TTextPane::MoveCaret(int position, bool keepAnchor)
{
    caret_ = std::clamp(position, 0, int(text_.size()));
    if (!keepAnchor) anchor_ = caret_;
    typing_ = false;
    EnsureCaretVisible();
    RestartBlink();
    viewport()->update();
    // A drag offers its selection once, when the button is let go.
    if (keepAnchor && !selecting_) OfferSelection();
}

void TTextPane::MoveVertically(int rows, bool keepAnchor)
{
    if (preferredX_ < 0) preferredX_ = XOfPosition(caret_);
    const qreal x = preferredX_;
    const int row = std::clamp(RowOfPosition(caret_) + rows, 0, RowCount() - 1);
    MoveCaret(PositionInRow(row, x), keepAnchor);
    preferredX_ = x;
}

int TTextPane::PageRows() const { return std::max(1, (viewport()->height() - kMargin) / RowHeight()); }

void TTextPane::EnsureCaretVisible()
{
    const int row = RowOfPosition(caret_);
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + PageRows())
        bar->setValue(row - PageRows() + 1);
}

void TTextPane::UpdateScrollRange()
{
    QScrollBar* bar = verticalScrollBar();
    const int rows = RowCount();
    bar->setRange(0, std::max(std::max(0, rows - PageRows()), std::min(pinnedTop_, rows - 1)));
    bar->setPageStep(PageRows());
    bar->setSingleStep(1);
    // Lines of a fixed column width scroll sideways in a narrower pane.
    QScrollBar* across = horizontalScrollBar();
    const int content = wrapColumns_ > 0 ? int(std::ceil(WrapWidth())) + 2 * kMargin : 0;
    across->setRange(0, std::max(0, content - viewport()->width()));
    across->setPageStep(std::max(1, viewport()->width()));
    across->setSingleStep(std::max(1, int(advances_->Of(QChar('0')))));
}

void TTextPane::ScrollToSourceLine(int line)
{
    pinnedTop_ = FirstRowOfLine(std::clamp(line, 0, int(lineStarts_.size()) - 1));
    UpdateScrollRange();
    verticalScrollBar()->setValue(pinnedTop_);
}

int TTextPane::FirstVisibleSourceLine() const { return RowAt(verticalScrollBar()->value()).Line; }

void TTextPane::LayOutRow(QTextLayout& layout, const TRow& row) const
{
    layout.setText(text_.mid(row.Start, row.End - row.Start));
    layout.setFont(font());
    layout.setTextOption(RowOption());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

qreal TTextPane::XOfPosition(int position) const
{
    const TRow row = RowAt(RowOfPosition(position));
    QTextLayout layout;
    LayOutRow(layout, row);
    return layout.lineCount() > 0 ? layout.lineAt(0).cursorToX(position - row.Start) : 0;
}

int TTextPane::PositionInRow(int row, qreal x) const
{
    const TRow r = RowAt(row);
    QTextLayout layout;
    LayOutRow(layout, r);
    if (layout.lineCount() == 0) return r.Start;
    int offset = layout.lineAt(0).xToCursor(x, QTextLine::CursorBetweenCharacters);
    // The end of a row that wraps is the start of the next: stay on this one.
    if (r.Start + offset == r.End && r.End < LineEnd(r.Line) && offset > 0) --offset;
    return r.Start + offset;
}

int TTextPane::PositionAt(const QPoint& point) const
{
    const int row = verticalScrollBar()->value() + std::max(0, point.y() - kMargin) / RowHeight();
    return PositionInRow(std::min(row, RowCount() - 1), point.x() - Left());
}

// ---------------------------------------------------------------- events

void TTextPane::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : (hasFocus() || isActiveWindow() ? QPalette::Active : QPalette::Inactive);
    const QPalette& colours = palette();
    painter.fillRect(viewport()->rect(), colours.brush(group, QPalette::Base));
    painter.setPen(colours.color(group, QPalette::Text));

    const int selFrom = std::min(anchor_, caret_), selTo = std::max(anchor_, caret_);
    const int first = verticalScrollBar()->value();
    const int rows = RowCount();
    const int caretRow = caretShown_ && hasFocus() ? RowOfPosition(caret_) : -1;
    const int preeditRow = preedit_.isEmpty() ? -1 : RowOfPosition(caret_);
    QTextLayout layout;
    for (int r = first, y = kMargin; r < rows && y < viewport()->height(); ++r, y += RowHeight()) {
        const TRow row = RowAt(r);
        QList<QTextLayout::FormatRange> formats;
        auto add = [&](int from, int to, QPalette::ColorRole back, QPalette::ColorRole fore, bool underline) {
            from = std::max(from, row.Start);
            to = std::min(to, row.End);
            if (from >= to) return;
            QTextLayout::FormatRange range;
            range.start = from - row.Start;
            range.length = to - from;
            if (back != QPalette::NoRole) range.format.setBackground(colours.brush(group, back));
            if (fore != QPalette::NoRole) range.format.setForeground(colours.brush(group, fore));
            if (underline) range.format.setFontUnderline(true);
            formats.append(range);
        };
        if (!marks_.empty()) {
            auto m = std::lower_bound(marks_.begin(), marks_.end(), row.Start - longestMark_,
                                      [](const TPaneMark& mark, int pos) { return mark.Start < pos; });
            for (; m != marks_.end() && m->Start < row.End; ++m)
                add(m->Start, m->Start + m->Length, m->Background, m->Foreground, m->Underline);
        }
        // Marks are formats of the row's layout, drawn in the pass that draws
        // its text (a range given to draw() costs a pass of its own); they
        // outlast the text set in LayOutRow. The selection is drawn over them.
        layout.setFormats(formats);
        LayOutRow(layout, row);
        formats.clear();
        add(selFrom, selTo, QPalette::Highlight, QPalette::HighlightedText, false);
        layout.draw(&painter, QPointF(Left(), y), formats);
        if (row.Segment == 0 && row.End > row.Start && text_[row.Start] == QChar('\f'))
            DrawPageBreak(painter, row, y, colours.color(group, QPalette::Mid));
        // A selected line break shows as a blank's width after the line.
        const int lineEnd = LineEnd(row.Line);
        if (row.End == lineEnd && selFrom <= lineEnd && lineEnd < selTo && lineEnd < int(text_.size()) &&
            layout.lineCount() > 0)
            painter.fillRect(
                QRectF(Left() + layout.lineAt(0).naturalTextWidth(), y, advances_->Of(QChar(' ')), RowHeight()),
                colours.brush(group, QPalette::Highlight));
        if (r == caretRow && layout.lineCount() > 0) {
            const qreal x = Left() + layout.lineAt(0).cursorToX(caret_ - row.Start);
            painter.fillRect(QRectF(x, y, 1, RowHeight()), colours.brush(group, QPalette::Text));
        }
        if (!preedit_.isEmpty() && r == preeditRow && layout.lineCount() > 0)
            DrawPreedit(painter, QPointF(Left() + layout.lineAt(0).cursorToX(caret_ - row.Start), y), colours, group);
    }
}

// A page break is a form feed at the start of a line: a thin rule across
// the pane shows it, through the middle of a line that holds nothing else,
// else along its top. The text keeps the form feed.
void TTextPane::DrawPageBreak(QPainter& painter, const TRow& row, int y, const QColor& colour) const
{
    bool alone = true;
    for (int i = row.Start + 1; i < row.End && alone; ++i) alone = text_[i].isSpace();
    const int at = alone ? y + RowHeight() / 2 : y;
    const int width = std::max(viewport()->width() - 2 * kMargin, wrapColumns_ > 0 ? int(WrapWidth()) : 0);
    painter.fillRect(QRect(Left(), at, width, 1), colour);
}

// What an input method is composing, underlined at the caret over the text
// after it, until it is committed.
void TTextPane::DrawPreedit(QPainter& painter, QPointF at, const QPalette& colours, QPalette::ColorGroup group) const
{
    QFont underlined = font();
    underlined.setUnderline(true);
    const QFontMetricsF metrics(underlined);
    painter.fillRect(QRectF(at.x(), at.y(), metrics.horizontalAdvance(preedit_), RowHeight()),
                     colours.brush(group, QPalette::Base));
    painter.setFont(underlined);
    painter.drawText(QPointF(at.x(), at.y() + metrics.ascent()), preedit_);
    painter.setFont(font());
}

void TTextPane::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    // The top line stays on top when the rows wrap anew.
    const int top = wrapsValid_ ? RowInIndex(verticalScrollBar()->value()).Line : -1;
    UpdateScrollRange();
    if (top >= 0) verticalScrollBar()->setValue(FirstRowOfLine(top));
}

void TTextPane::FontChanged()
{
    advances_ = std::make_unique<TAdvances>(font());
    rowHeight_ = std::max(1, int(std::ceil(QFontMetricsF(font()).height())));
    wrapsValid_ = false;
}

void TTextPane::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        const int top = wrapsValid_ ? RowInIndex(verticalScrollBar()->value()).Line : 0;
        FontChanged();
        UpdateScrollRange();
        verticalScrollBar()->setValue(FirstRowOfLine(top));
    }
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::PaletteChange ||
        e->type() == QEvent::ActivationChange)
        viewport()->update();
}

// The start of the next word after pos, or of the word before it.
int TTextPane::WordStep(int pos, int dir) const
{
    const int size = int(text_.size());
    auto inWord = [this](int i) { return text_[i].isLetterOrNumber() || text_[i] == QChar('_'); };
    if (dir > 0) {
        while (pos < size && inWord(pos)) ++pos;
        while (pos < size && !inWord(pos)) ++pos;
    } else {
        while (pos > 0 && !inWord(pos - 1)) --pos;
        while (pos > 0 && inWord(pos - 1)) --pos;
    }
    return pos;
}

void TTextPane::keyPressEvent(QKeyEvent* e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (e == QKeySequence::SelectAll) return selectAll();
    if (e == QKeySequence::Copy) return copy();
    if (e == QKeySequence::Cut) return cut();
    if (e == QKeySequence::Paste) return paste();
    if (e == QKeySequence::Undo) return undo();
    if (e == QKeySequence::Redo) return redo();

    const int size = int(text_.size());
    auto step = [this](int pos, int dir) {
        pos += dir;
        // A surrogate pair is one character.
        if (pos > 0 && pos < int(text_.size()) && text_[pos].isLowSurrogate() && text_[pos - 1].isHighSurrogate())
            pos += dir;
        return std::clamp(pos, 0, int(text_.size()));
    };
    switch (e->key()) {
    case Qt::Key_Left:
        preferredX_ = -1;
        if (ctrl) return MoveCaret(WordStep(caret_, -1), shift);
        if (!shift && anchor_ != caret_) return MoveCaret(std::min(anchor_, caret_), false);
        return MoveCaret(step(caret_, -1), shift);
    case Qt::Key_Right:
        preferredX_ = -1;
        if (ctrl) return MoveCaret(WordStep(caret_, 1), shift);
        if (!shift && anchor_ != caret_) return MoveCaret(std::max(anchor_, caret_), false);
        return MoveCaret(step(caret_, 1), shift);
    case Qt::Key_Up: return MoveVertically(-1, shift);
    case Qt::Key_Down: return MoveVertically(1, shift);
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int rows = e->key() == Qt::Key_PageUp ? -PageRows() : PageRows();
        verticalScrollBar()->setValue(verticalScrollBar()->value() + rows);
        return MoveVertically(rows, shift);
    }
    case Qt::Key_Home: preferredX_ = -1; return MoveCaret(ctrl ? 0 : RowAt(RowOfPosition(caret_)).Start, shift);
    case Qt::Key_End: {
        preferredX_ = -1;
        if (ctrl) return MoveCaret(size, shift);
        const TRow row = RowAt(RowOfPosition(caret_));
        // The end of a wrapped row is before its trailing blank.
        const bool wraps = row.End < LineEnd(row.Line);
        return MoveCaret(wraps && row.End > row.Start ? row.End - 1 : row.End, shift);
    }
    case Qt::Key_Backspace:
        if (anchor_ != caret_) return InsertText(QString());
        if (caret_ > 0) Edit(step(caret_, -1), caret_, QString());
        return;
    case Qt::Key_Delete:
        if (anchor_ != caret_) return InsertText(QString());
        if (caret_ < size) Edit(caret_, step(caret_, 1), QString());
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: return InsertText(QStringLiteral("\n"));
    default: break;
    }
    const QString typed = e->text();
    if (!typed.isEmpty() && !ctrl && (typed[0].isPrint() || typed[0] == QChar('\t'))) return InsertText(typed);
    e->ignore();
}

void TTextPane::inputMethodEvent(QInputMethodEvent* e)
{
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) InsertText(e->commitString());
    preedit_ = e->preeditString();
    viewport()->update();
    e->accept();
}

QVariant TTextPane::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: {
        const int row = RowOfPosition(caret_) - verticalScrollBar()->value();
        const QRect r(int(Left() + XOfPosition(caret_)), kMargin + row * RowHeight(), 1, RowHeight());
        return QRect(viewport()->mapTo(this, r.topLeft()), r.size());
    }
    case Qt::ImCursorPosition: return caret_ - SourceLineStart(SourceLineOfPosition(caret_));
    case Qt::ImSurroundingText: return SourceLineAt(SourceLineOfPosition(caret_));
    default: return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TTextPane::mousePressEvent(QMouseEvent* e)
{
    // The middle button pastes the desktop's primary selection where it is pressed.
    QClipboard* clipboard = QApplication::clipboard();
    if (e->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        const QString text = clipboard->text(QClipboard::Selection);
        if (text.isEmpty()) return;
        MoveCaret(PositionAt(e->position().toPoint()), false);
        InsertText(text);
        return;
    }
    if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
    selecting_ = true;
    preferredX_ = -1;
    MoveCaret(PositionAt(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
}

void TTextPane::mouseMoveEvent(QMouseEvent* e)
{
    if (!selecting_ || !(e->buttons() & Qt::LeftButton)) return;
    dragPoint_ = e->position().toPoint();
    MoveCaret(PositionAt(dragPoint_), true);
    // Above or below the text, the selection goes on growing while the button is held.
    if (dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height())
        autoScroll_.start(50, this);
    else
        autoScroll_.stop();
}

void TTextPane::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        selecting_ = false;
        autoScroll_.stop();
        OfferSelection();
    }
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void TTextPane::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    const int at = PositionAt(e->position().toPoint());
    const int line = SourceLineOfPosition(at);
    const int lineStart = lineStarts_[size_t(line)], lineEnd = LineEnd(line);
    auto inWord = [this](int pos) { return text_[pos].isLetterOrNumber() || text_[pos] == QChar('_'); };
    int from = at, to = at;
    while (from > lineStart && inWord(from - 1)) --from;
    while (to < lineEnd && inWord(to)) ++to;
    Select(from, to);
}

void TTextPane::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    const bool selected = anchor_ != caret_;
    auto add = [&](const QString& text, QKeySequence::StandardKey key, void (TTextPane::*slot)(), bool enabled) {
        QAction* action = menu.addAction(text);
        action->setShortcut(key);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, slot);
    };
    add(QStringLiteral("元に戻す(&U)"), QKeySequence::Undo, &TTextPane::undo, !undo_.empty());
    add(QStringLiteral("やり直し(&R)"), QKeySequence::Redo, &TTextPane::redo, !redo_.empty());
    menu.addSeparator();
    add(QStringLiteral("切り取り(&T)"), QKeySequence::Cut, &TTextPane::cut, selected);
    add(QStringLiteral("コピー(&C)"), QKeySequence::Copy, &TTextPane::CopySelection, selected);
    add(QStringLiteral("貼り付け(&P)"), QKeySequence::Paste, &TTextPane::paste,
        !QApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    add(QStringLiteral("すべて選択(&A)"), QKeySequence::SelectAll, &TTextPane::selectAll, !text_.isEmpty());
    menu.exec(e->globalPos());
}

void TTextPane::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    RestartBlink();
    viewport()->update();
}

void TTextPane::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    blink_.stop();
    autoScroll_.stop();
    caretShown_ = false;
    selecting_ = false;
    viewport()->update();
}

void TTextPane::RestartBlink()
{
    caretShown_ = true;
    const int period = QApplication::cursorFlashTime() / 2;
    if (period > 0 && hasFocus())
        blink_.start(period, this);
    else
        blink_.stop();
}

void TTextPane::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == autoScroll_.timerId()) {
        if (!selecting_) return autoScroll_.stop();
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->value() + (dragPoint_.y() < 0 ? -1 : 1));
        const int y = std::clamp(dragPoint_.y(), 0, viewport()->height() - 1);
        MoveCaret(PositionAt(QPoint(dragPoint_.x(), y)), true);
        return;
    }
    if (e->timerId() != blink_.timerId()) return QAbstractScrollArea::timerEvent(e);
    caretShown_ = !caretShown_;
    viewport()->update();
}

void TTextPane::scrollContentsBy(int, int) { viewport()->update(); }

// Tab is typed into the text, as in any editor of plain text.
bool TTextPane::focusNextPrevChild(bool) { return false; }
