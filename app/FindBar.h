// The find bar under the text pane: finds as the user types, highlights every
// match, shows which of how many is current ("3 / 17") and keeps the current
// one in view. The matches come from FindAll over the pane's source lines, so
// a match never spans a line break. GUI thread only.
#pragma once

#include "app/TextPane.h"

#include <QWidget>
#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;
struct TUtf8Lines;

class TFindBar : public QWidget {
    Q_OBJECT
public:
    // lines gives the pane's source lines as they stand.
    TFindBar(TTextPane& pane, std::function<const TUtf8Lines&()> lines, QWidget* parent = nullptr);

    // Shows the bar with its text selected and the focus in its field.
    void Open();
    // Hides the bar and its highlights; the current match becomes the pane's selection.
    void Close();
    // The next or previous match, round the end of the document.
    void Next();
    void Previous();
    // Searches the document again after it changed; the current match is the
    // first at or after where the old one was.
    void Research();

    int MatchCount() const { return int(matches_.size()); }
    // Index of the current match, -1 when there is none.
    int Current() const { return current_; }
    // "3 / 17", "見つかりません", or empty while the field is empty.
    QString CountText() const;
    // Every match, the current one in the selection's colours; empty while hidden.
    const std::vector<TPaneMark>& Marks() const { return marks_; }

    QLineEdit* Field;
    QCheckBox* MatchCase;

signals:
    void marksChanged();
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Finds the field's text anew; the current match is the first at or after from.
    void Search(int from);
    void MakeCurrent(int index);
    void ShowState();
    void ScrollToCurrent();

    TTextPane& pane_;
    std::function<const TUtf8Lines&()> lines_;
    std::vector<TPaneMark> marks_; // one per match, in document order
    std::vector<int> matches_;     // the index of each match's mark
    int current_ = -1;
    QLabel* count_;
};
