// The contents panel's tree of headings, its mark of the section read and its drag grip.
#include "app/ContentsPanel.h"

#include "platform/Dialogs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>

TContentsPanel::TContentsPanel(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    Tree = new QTreeWidget(this);
    Tree->setHeaderHidden(true);
    Tree->setColumnCount(1);
    Tree->setUniformRowHeights(true);
    Tree->header()->setStretchLastSection(true);
    row->addWidget(Tree, 1);

    auto chosen = [this](QTreeWidgetItem* item) {
        if (item) emit headingChosen(outline_[size_t(item->data(0, Qt::UserRole).toInt())].Line);
    };
    connect(Tree, &QTreeWidget::itemClicked, this, chosen);
    // Enter, and a double click where the style activates on one.
    connect(Tree, &QTreeWidget::itemActivated, this, chosen);
    hide();
}

void TContentsPanel::SetOutline(std::vector<THeading> outline)
{
    outline_ = std::move(outline);
    reading_ = -1;
    items_.clear();
    Tree->clear();
    built_ = false;
    if (isVisible()) Build();
}

void TContentsPanel::showEvent(QShowEvent* e)
{
    if (!built_) Build();
    QWidget::showEvent(e);
}

void TContentsPanel::Build()
{
    built_ = true;
    // The open heading of each level; a heading goes under the nearest open
    // one of a lower level, so a gap in the levels does not lose it.
    std::vector<std::pair<int, QTreeWidgetItem*>> open;
    QList<QTreeWidgetItem*> top;
    for (size_t i = 0; i < outline_.size(); ++i) {
        const THeading& h = outline_[i];
        while (!open.empty() && open.back().first >= h.Level) open.pop_back();
        QString text = QString::fromStdString(h.Title);
        if (!h.Number.empty()) text = QString::fromStdString(h.Number) + QStringLiteral("  ") + text;
        auto* item = open.empty() ? new QTreeWidgetItem() : new QTreeWidgetItem(open.back().second);
        item->setText(0, text);
        item->setToolTip(0, PlainToolTip(text));
        item->setData(0, Qt::UserRole, int(i));
        if (open.empty()) top.append(item);
        open.emplace_back(h.Level, item);
        items_.push_back(item);
    }
    Tree->addTopLevelItems(top);
    Tree->expandAll();
    MarkReading();
}

void TContentsPanel::ShowReading(int line)
{
    auto after =
        std::upper_bound(outline_.begin(), outline_.end(), line, [](int l, const THeading& h) { return l < h.Line; });
    const int index = int(after - outline_.begin()) - 1;
    if (index == reading_) return;
    reading_ = index;
    if (built_) MarkReading();
}

void TContentsPanel::MarkReading()
{
    const QSignalBlocker quiet(Tree);
    if (reading_ < 0) {
        Tree->setCurrentItem(nullptr);
        Tree->clearSelection();
        return;
    }
    Tree->setCurrentItem(items_[size_t(reading_)]);
    Tree->scrollToItem(items_[size_t(reading_)]);
}
