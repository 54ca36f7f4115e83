// The text pane: an editable, word-wrapping plain-text control whose lines
// the program reads by index as they are displayed.
//
// Line model: the lines are the displayed lines at the pane's current width
// and font; a last empty line is not counted; reading at or past the count
// gives the empty text; a form feed is an ordinary character of its line.
// The displayed lines are indexed once and the index is dropped when the
// text, the width or the font changes, so reading every line in order costs
// time linear in the text. GUI thread only.
#pragma once

#include "print/PrintLayout.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <vector>

class TPaneLayout;

class TTextPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTextPane(QWidget* parent = nullptr);

    int LineCount() const;
    QString LineAt(int index) const;

    // Replaces the text with repainting suspended, so a large document is
    // drawn once. The Unicode line and paragraph separators (U+2028, U+2029)
    // are shown as the symbols U+2424 and U+00B6: only line breaks end lines.
    void LoadText(const QString& text);

    // The pane's lines as UTF-8, for title extraction and printing.
    const TLineSource& Lines() const { return lines_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    struct TDisplayLine {
        int Start; // position in text_
        int Length;
    };

    class TPaneLines : public TLineSource {
    public:
        explicit TPaneLines(const TTextPane& pane) : pane_(pane) {}
        int Count() const override { return pane_.LineCount(); }
        std::string Line(int index) const override { return pane_.LineAt(index).toStdString(); }

    private:
        const TTextPane& pane_;
    };

    void EnsureIndex() const;
    void IndexBlock(const QTextBlock& block, int start, qreal fitWidth, const qreal* asciiWidths) const;

    TPaneLayout* layout_; // owned by the document
    TPaneLines lines_{*this};
    mutable std::vector<TDisplayLine> index_;
    mutable bool indexValid_ = false;
    // The document's text as one string, blocks separated by U+2029, taken
    // when the index is built: lines are read from it by position, without
    // walking the document's structure for each line.
    mutable QString text_;
};
