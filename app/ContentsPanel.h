// The contents panel beside the text pane: the document's outline as a
// tree. A click or Enter on a heading asks for a jump to its line; the
// heading of the section being read is kept marked. GUI thread only.
#pragma once

#include "app/DocumentOutline.h"

#include <QWidget>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

class TContentsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TContentsPanel(QWidget* parent = nullptr);

    void SetOutline(std::vector<THeading> outline);
    const std::vector<THeading>& Outline() const { return outline_; }
    // Marks the last heading at or above the source line (none above the first).
    void ShowReading(int line);
    // Index in Outline() of the marked heading, -1 when none is.
    int Reading() const { return reading_; }

    QTreeWidget* Tree;

signals:
    void headingChosen(int line);

protected:
    void showEvent(QShowEvent* e) override;

private:
    // The tree's items, made when the panel first shows the outline: a
    // document read with the panel closed costs no item per heading.
    void Build();
    void MarkReading();

    std::vector<THeading> outline_;
    std::vector<QTreeWidgetItem*> items_; // one per heading, once built
    bool built_ = true;
    int reading_ = -1;
};
