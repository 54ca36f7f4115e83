// The library window: the index as a list, narrowed as the search text and filters change.
#include "app/SearchWindow.h"

#include "app/LibraryListModel.h"
#include "library/LibrarySearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

std::string Utf8(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// The first entry of each filter box lets everything through.
void Fill(QComboBox* box, const QString& any, const QStringList& values)
{
    const QString kept = box->currentIndex() > 0 ? box->currentText() : QString();
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItem(any);
    box->addItems(values);
    box->setCurrentIndex(std::max(0, box->findText(kept)));
}

} // namespace

TSearchWindow::TSearchWindow(TLibraryDatabase& database, QWidget* parent) : QDialog(parent), database_(database)
{
    setWindowTitle(QStringLiteral("ライブラリ"));
    resize(760, 480);
    Query = new QLineEdit(this);
    Query->setPlaceholderText(QStringLiteral("語、RFC の番号、STD 7 のようなシリーズ"));
    Status = new QComboBox(this);
    Stream = new QComboBox(this);
    Year = new QComboBox(this);
    HideObsolete = new QCheckBox(QStringLiteral("廃止されたものを隠す"), this);
    Model = new TLibraryListModel(database_, palette().brush(QPalette::Disabled, QPalette::Text), this);
    List = new QTableView(this);
    List->setModel(Model);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setShowGrid(false);
    List->setWordWrap(false);
    List->verticalHeader()->hide();
    // Fixed row heights and column widths: the view never measures 10,000 rows to lay them out.
    List->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    List->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    List->horizontalHeader()->setStretchLastSection(true);
    List->horizontalHeader()->resizeSection(TLibraryListModel::kNumber, 60);
    List->horizontalHeader()->resizeSection(TLibraryListModel::kTitle, 320);
    List->horizontalHeader()->resizeSection(TLibraryListModel::kDate, 110);
    List->horizontalHeader()->resizeSection(TLibraryListModel::kStatus, 140);
    Note = new QLabel(this);
    auto* filters = new QHBoxLayout;
    filters->addWidget(Status);
    filters->addWidget(Stream);
    filters->addWidget(Year);
    filters->addWidget(HideObsolete);
    filters->addStretch(1);
    Note->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Query);
    layout->addLayout(filters);
    layout->addWidget(List, 1);
    layout->addWidget(Note);
    RefreshChoices();

    connect(Query, &QLineEdit::textChanged, this, &TSearchWindow::RunSearch);
    for (QComboBox* box : {Status, Stream, Year})
        connect(box, &QComboBox::currentIndexChanged, this, &TSearchWindow::RunSearch);
    connect(HideObsolete, &QCheckBox::toggled, this, &TSearchWindow::RunSearch);
    connect(Query, &QLineEdit::returnPressed, this, [this] {
        const QModelIndex current = List->currentIndex();
        Open(current.isValid() ? current : Model->index(0, 0));
    });
    connect(List, &QTableView::activated, this, &TSearchWindow::Open);
    RunSearch();
}

void TSearchWindow::RefreshChoices()
{
    const TIndexFacets facets = IndexFacets(database_);
    QStringList statuses, streams, years;
    for (const std::string& status : facets.Statuses) statuses << Text(status);
    for (const std::string& stream : facets.Streams) streams << Text(stream);
    for (int year : facets.Years) years << QString::number(year);
    Fill(Status, QStringLiteral("すべての状態"), statuses);
    Fill(Stream, QStringLiteral("すべてのストリーム"), streams);
    Fill(Year, QStringLiteral("すべての年"), years);
}

void TSearchWindow::RunSearch()
{
    TIndexFilter filter;
    if (Status->currentIndex() > 0) filter.Status = Utf8(Status->currentText());
    if (Stream->currentIndex() > 0) filter.Stream = Utf8(Stream->currentText());
    if (Year->currentIndex() > 0) filter.Year = Year->currentText().toInt();
    filter.HideObsolete = HideObsolete->isChecked();
    Model->Show(Utf8(Query->text()), filter);
    if (Model->rowCount() > 0) List->setCurrentIndex(Model->index(0, 0));
    const std::string fault = database_.TakeFaultMessage();
    Note->setText(fault.empty() ? QStringLiteral("%1 件").arg(Model->rowCount()) : Text(fault));
}

void TSearchWindow::Open(const QModelIndex& index)
{
    if (!index.isValid() || !OnOpen) return;
    if (const int number = Model->NumberAt(index.row())) OnOpen(number);
}
