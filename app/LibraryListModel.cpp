// The library window's list, read from the database row by row as the view asks.
#include "app/LibraryListModel.h"

namespace {

// Rows read for the view are kept up to this many; a long scroll starts afresh.
constexpr size_t kMaxKeptRows = 4096;

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

} // namespace

QString CurrencyText(TLibraryDatabase& database, int number)
{
    const std::optional<TRelations> relations = RelationsOf(database, number);
    if (!relations) return QString();
    const std::vector<std::vector<int>> chain = ObsoletionChain(database, number);
    if (chain.empty()) return QStringLiteral("current");
    return QStringLiteral("Obsoleted by ") + Text(ChainText(chain));
}

TLibraryListModel::TLibraryListModel(TLibraryDatabase& database, const QBrush& greyed, QObject* parent)
    : QAbstractTableModel(parent), database_(database), greyed_(greyed), rows_(database)
{}

void TLibraryListModel::Show(const std::string& query, const TIndexFilter& filter)
{
    beginResetModel();
    read_.clear();
    hits_.clear();
    numbers_.clear();
    browsing_ = query.find_first_not_of(" \t") == std::string::npos;
    if (browsing_)
        numbers_ = BrowseIndex(database_, filter);
    else
        hits_ = SearchIndex(database_, query, filter);
    endResetModel();
}

int TLibraryListModel::NumberAt(int row) const
{
    if (row < 0 || row >= rowCount()) return 0;
    return browsing_ ? numbers_[size_t(row)] : hits_[size_t(row)].Number;
}

int TLibraryListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) return 0;
    return int(browsing_ ? numbers_.size() : hits_.size());
}

int TLibraryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

const TLibraryHit& TLibraryListModel::HitAt(int row) const
{
    if (!browsing_) return hits_[size_t(row)];
    const int number = numbers_[size_t(row)];
    if (const auto found = read_.find(number); found != read_.end()) return found->second;
    if (read_.size() >= kMaxKeptRows) read_.clear();
    return read_.emplace(number, rows_.Row(number)).first->second;
}

QVariant TLibraryListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    const TLibraryHit& hit = HitAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case kNumber: return hit.Number > 0 ? QVariant(hit.Number) : QVariant();
        case kTitle: return Text(hit.Title);
        case kDate: return Text(hit.Date);
        case kStatus: return Text(hit.Status);
        case kLine: return Text(hit.Line);
        }
        break;
    case Qt::ForegroundRole:
        if (hit.Obsolete) return greyed_;
        break;
    case Qt::ToolTipRole:
        if (hit.Obsolete) return CurrencyText(database_, hit.Number);
        break;
    }
    return QVariant();
}

QVariant TLibraryListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    switch (section) {
    case kNumber: return QStringLiteral("RFC");
    case kTitle: return QStringLiteral("タイトル");
    case kDate: return QStringLiteral("日付");
    case kStatus: return QStringLiteral("状態");
    case kLine: return QStringLiteral("一致した行");
    }
    return QVariant();
}
