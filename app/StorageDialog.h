// TStorageDialog: ライブラリ → 保存状況. How many RFCs the library holds and
// how many bytes of text against the size limit the library trims to (the
// documents read or fetched longest ago go first), and the two ways to give the space back: clear
// everything, or the documents neither read nor fetched for N days. Each
// asks first through Confirm. References the library's cache; GUI thread.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QSpinBox;
class TDocumentCache;

class TStorageDialog : public QDialog {
    Q_OBJECT
public:
    TStorageDialog(TDocumentCache& cache, int64_t sizeLimit, QWidget* parent);

    QLabel* Counts;
    QPushButton* ClearAllBtn;
    QSpinBox* Days;
    QPushButton* ClearUnreadBtn;
    // Asked before anything is removed; false keeps it. Unset: nothing is asked.
    std::function<bool(const QString& question)> Confirm;
    // Seconds since the epoch; the clock by default.
    std::function<int64_t()> Now;

    void Refresh();

private:
    void Clear(bool all);

    TDocumentCache& cache_;
    int64_t sizeLimit_;
};
