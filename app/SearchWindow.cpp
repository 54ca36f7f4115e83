#include "app/SearchWindow.h"

#include "library/LibrarySearch.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum TColumn { kNumber, kTitle, kDate, kStatus, kLine, kColumns };

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

} // namespace

TSearchWindow::TSearchWindow(TLibraryDatabase& database, QWidget* parent) : QDialog(parent), database_(database)
{
    setWindowTitle(QStringLiteral("ライブラリを検索"));
    resize(720, 420);
    Query = new QLineEdit(this);
    Query->setPlaceholderText(QStringLiteral("語または RFC の番号"));
    Hits = new QTreeWidget(this);
    Hits->setColumnCount(kColumns);
    Hits->setHeaderLabels({QStringLiteral("RFC"), QStringLiteral("タイトル"), QStringLiteral("日付"),
                           QStringLiteral("状態"), QStringLiteral("一致した行")});
    Hits->setRootIsDecorated(false);
    Hits->setUniformRowHeights(true);
    Hits->header()->resizeSection(kNumber, 60);
    Hits->header()->resizeSection(kTitle, 260);
    Note = new QLabel(this);
    Note->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Query);
    layout->addWidget(Hits, 1);
    layout->addWidget(Note);

    connect(Query, &QLineEdit::textChanged, this, &TSearchWindow::RunSearch);
    connect(Query, &QLineEdit::returnPressed, this,
            [this] { Open(Hits->currentItem() ? Hits->currentItem() : Hits->topLevelItem(0)); });
    connect(Hits, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { Open(item); });
}

void TSearchWindow::RunSearch()
{
    const QByteArray query = Query->text().toUtf8();
    const std::vector<TLibraryHit> hits =
        SearchLibrary(database_, std::string(query.constData(), size_t(query.size())));
    Hits->clear();
    const QBrush greyed = palette().brush(QPalette::Disabled, QPalette::Text);
    for (const TLibraryHit& hit : hits) {
        auto* item = new QTreeWidgetItem(Hits);
        item->setText(kNumber, hit.Number > 0 ? QString::number(hit.Number) : QString());
        item->setText(kTitle, Text(hit.Title));
        item->setText(kDate, Text(hit.Date));
        item->setText(kStatus, Text(hit.Status));
        item->setText(kLine, Text(hit.Line));
        item->setData(kNumber, Qt::UserRole, hit.Number);
        if (hit.Obsolete)
            for (int column = 0; column < kColumns; ++column) item->setForeground(column, greyed);
    }
    if (Hits->topLevelItemCount() > 0) Hits->setCurrentItem(Hits->topLevelItem(0));
    const std::string fault = database_.TakeFaultMessage();
    if (!fault.empty())
        Note->setText(Text(fault));
    else
        Note->setText(query.trimmed().isEmpty() ? QString() : QStringLiteral("%1 件").arg(hits.size()));
}

void TSearchWindow::Open(QTreeWidgetItem* item)
{
    if (item == nullptr || !OnOpen) return;
    const int number = item->data(kNumber, Qt::UserRole).toInt();
    if (number > 0) OnOpen(number);
}
