// TLibraryListModel: the library window's list as a model over the database.
// Without search words it holds only the numbers of the index's RFCs that
// pass the filter and reads each row when the view asks for it (a statement
// prepared once, the rows read lately kept), so the whole series of about
// 10,000 RFCs opens at once and scrolls without 10,000 widgets. With words
// (or a subseries such as "STD 7") it holds the search's ranked hits.
// Obsolete RFCs are drawn in the palette's disabled text colour and name
// their replacements, to the newest, in their tooltip. References the
// database; GUI thread.
#pragma once

#include <QAbstractTableModel>
#include <QBrush>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/LibrarySearch.h"

class TLibraryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { kNumber, kTitle, kDate, kStatus, kLine, kColumns };

    TLibraryListModel(TLibraryDatabase& database, const QBrush& greyed, QObject* parent);

    // Lists what query and filter give.
    void Show(const std::string& query, const TIndexFilter& filter);
    // The RFC number of row; 0 for a document the index does not number.
    int NumberAt(int row) const;
    bool Browsing() const { return browsing_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TLibraryHit& HitAt(int row) const;

    TLibraryDatabase& database_;
    QBrush greyed_;
    mutable TIndexRows rows_;
    bool browsing_ = true;
    std::vector<int> numbers_;
    std::vector<TLibraryHit> hits_;
    mutable std::unordered_map<int, TLibraryHit> read_;
};

// "Obsoleted by 2965 → 6265", or "current" when nothing obsoletes it; empty for an RFC the index does not know.
QString CurrencyText(TLibraryDatabase& database, int number);
