// The text pane: an editable, word-wrapping plain-text control that holds a
// document in one string and an index of where its lines start, so a large
// document costs about two bytes a character and four a line.
//
// Two line models. The source lines are the document's own: a line break
// ("\n") ends one. The displayed lines are the source lines wrapped at the
// pane's width in its font, broken at blanks where possible; the program
// reads those by index (title, number, the status line's count). In both, a
// last empty line is not counted and reading at or past the count gives the
// empty text; a form feed is an ordinary character of its line.
//
// Wrapping is worked out for every line only when something asks for the
// displayed lines or the scroll range, and again after a change of width or
// font; a line of characters whose summed widths clearly fit is taken as one
// displayed line without laying it out, and only the wrapped lines are kept,
// with their break offsets. Positions are 0-based character (UTF-16) offsets
// into Text(); the document is limited to fewer than 2^31 of them. Every
// colour comes from the widget's palette. GUI thread only.
#pragma once

#include "platform/LineSource.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPalette>
#include <QString>
#include <memory>
#include <string>
#include <vector>

class QColor;
class QPainter;
class QTextLayout;

// A range of the text drawn in other colours, such as a find hit or a link.
// Colours are palette roles, so a dark palette keeps marks readable;
// QPalette::NoRole keeps the colour the text has without the mark.
struct TPaneMark {
    int Start = 0; // position in Text()
    int Length = 0;
    QPalette::ColorRole Background = QPalette::Highlight;
    QPalette::ColorRole Foreground = QPalette::HighlightedText;
    bool Underline = false;
};

class TTextPane : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TTextPane(QWidget* parent = nullptr);
    ~TTextPane() override;

    // Replaces the text, puts the caret at its start and scrolls to the top.
    // The Unicode line and paragraph separators (U+2028, U+2029) are shown as
    // the symbols U+2424 and U+00B6: only line breaks end lines.
    void LoadText(QString text);
    void clear() { LoadText(QString()); }
    // The text as shown, lines ended by "\n".
    const QString& Text() const { return text_; }
    QString toPlainText() const { return text_; }
    // Whether the reader changed the text (typing, pasting, cutting, undo or
    // redo) since LoadText or since SetModified(false).
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

    // Displayed (wrapped) lines, at the current width and font.
    int LineCount() const;
    QString LineAt(int index) const;
    const TLineSource& Lines() const { return displayed_; }

    // The document's own lines.
    int SourceLineCount() const;
    QString SourceLineAt(int index) const;
    const TLineSource& SourceLines() const { return source_; }
    // Position of a source line's first character (clamped to the lines there are).
    int SourceLineStart(int line) const;
    int SourceLineOfPosition(int position) const;

    // Scrolls so that the source line is the top line, even near the end.
    void ScrollToSourceLine(int line);
    // The source line of which a part is on the top row.
    int FirstVisibleSourceLine() const;
    // The text position nearest to a point of the viewport.
    int PositionAt(const QPoint& point) const;
    // The width lines are wrapped at, in pixels.
    qreal WrapWidth() const;
    // 0 (the start): rows wrap at the pane's width, breaking a word only
    // where it is wider than the pane. columns > 0: rows wrap at that many
    // columns of the font's digit advance whatever the pane's width, at
    // blanks, and a narrower pane scrolls sideways instead.
    void SetWrapColumns(int columns);
    int WrapColumns() const { return wrapColumns_; }
    // The advance of a column in font; the width text may take in the pane
    // at its present size, with the vertical scroll bar.
    static qreal ColumnWidth(const QFont& font);
    qreal AvailableTextWidth() const;

    // Marks, kept sorted by start; any edit of the text drops them.
    void SetMarks(std::vector<TPaneMark> marks);
    const std::vector<TPaneMark>& Marks() const { return marks_; }

    // Caret and selection: the selection runs from the anchor to the caret.
    int CursorPosition() const { return caret_; }
    int AnchorPosition() const { return anchor_; }
    void Select(int anchor, int caret);
    QString SelectedText() const;
    // Replaces the selection with text (line ends as in a file) as typing does.
    void InsertText(const QString& text);

public slots:
    // Each undoes or redoes one edit; typing in a row is one edit.
    void undo();
    void redo();
    void selectAll();
    void copy() const;
    void cut();
    void paste();

signals:
    void textChanged();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    class TLines : public TLineSource {
    public:
        TLines(const TTextPane& pane, bool displayed) : pane_(pane), displayed_(displayed) {}
        int Count() const override;
        std::string Line(int index) const override;
        std::string LinePrefix(int index, std::size_t bytes) const override;

    private:
        QStringView Span(int index) const;

        const TTextPane& pane_;
        bool displayed_;
    };

    // A source line that wraps: its first break is breaks_[FirstBreak]; it
    // has as many as the next entry's FirstBreak (or breaks_.size()) less its own.
    struct TWrapped {
        int Line;
        int FirstBreak;
    };
    // One displayed row: [Start, End) of the text, End before the line break.
    struct TRow {
        int Line;
        int Segment;
        int Start;
        int End;
    };

    // Every row including a last empty one, where the caret may stand.
    int RowCount() const;
    TRow RowAt(int row) const;
    TRow RowInIndex(int row) const;
    int RowOfPosition(int position) const;
    int FirstRowOfLine(int line) const;
    int LineEnd(int line) const;
    int BreakCount(size_t wrapped) const;
    void EnsureWraps() const;
    void WrapLine(int line, std::vector<int>& breaks) const;
    void RowStarts(const QString& text, std::vector<int>& rows) const;
    void RewrapLines(int first, int oldLast, int newLast);
    void LayOutRow(QTextLayout& layout, const TRow& row) const;
    void DrawPageBreak(QPainter& painter, const TRow& row, int y, const QColor& colour) const;
    qreal XOfPosition(int position) const;
    int PositionInRow(int row, qreal x) const;

    // An edit as the user makes it, recorded for undo.
    void Edit(int from, int to, const QString& text);
    void Replace(int from, int to, const QString& text);
    void MoveCaret(int position, bool keepAnchor);
    void MoveVertically(int rows, bool keepAnchor);
    int WordStep(int position, int direction) const;
    void EnsureCaretVisible();
    void UpdateScrollRange();
    int PageRows() const;
    int RowHeight() const { return rowHeight_; }
    // Where row text starts in the viewport, the sideways scroll included.
    int Left() const;
    void FontChanged();
    void RestartBlink();
    void CopySelection();
    void OfferSelection() const;
    void DrawPreedit(QPainter& painter, QPointF at, const QPalette& colours, QPalette::ColorGroup group) const;

    QString text_;
    std::vector<int> lineStarts_{0}; // never empty: line 0 starts at 0
    mutable std::vector<TWrapped> wrapped_;
    mutable std::vector<int> breaks_; // offsets from the line's start
    mutable bool wrapsValid_ = false;
    mutable qreal wrappedAt_ = -1; // the wrap width the index was made for
    class TAdvances;
    std::unique_ptr<TAdvances> advances_;
    int rowHeight_ = 1;
    int wrapColumns_ = 0;
    int caret_ = 0;
    int anchor_ = 0;
    qreal preferredX_ = -1; // kept across vertical moves
    int pinnedTop_ = 0;     // a top row asked for beyond the usual range
    bool caretShown_ = false;
    bool selecting_ = false;
    QBasicTimer blink_;
    QBasicTimer autoScroll_; // while a drag selection is held outside the text
    QPoint dragPoint_;
    // An edit replaced Removed at From by InsertedLength characters.
    struct TUndoStep {
        int From;
        QString Removed;
        int InsertedLength;
    };
    std::vector<TUndoStep> undo_, redo_;
    bool typing_ = false; // the last undo step is typing that may go on
    bool modified_ = false;
    QString preedit_; // an input method's composition, not yet text
    std::vector<TPaneMark> marks_;
    int longestMark_ = 0;
    TLines displayed_{*this, true};
    TLines source_{*this, false};
};

// text in UTF-8, converted piece by piece (no whole intermediate copy).
std::string Utf8Of(QStringView text);
