// TSearchWindow: the library window. Opens on the whole index as a list
// (number, title, date, status; obsolete RFCs greyed) and narrows it as the
// search text changes and by status, stream, year and "hide obsolete"; with
// words it lists the ranked hits of the index and of stored text, with the
// matching line. Enter in the field opens the selected (else the first)
// row, Enter or a double-click on the list the row under it. The list is a
// model over the database (TLibraryListModel). References the library's
// database; owned by the main window as a child window. GUI thread.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QTableView;
class TLibraryDatabase;
class TLibraryListModel;

class TSearchWindow : public QDialog {
    Q_OBJECT
public:
    TSearchWindow(TLibraryDatabase& database, QWidget* parent);

    QLineEdit* Query;
    QComboBox* Status;
    QComboBox* Stream;
    QComboBox* Year;
    QCheckBox* HideObsolete;
    QTableView* List;
    TLibraryListModel* Model;
    QLabel* Note;
    // Opens RFC number in the main window.
    std::function<void(int number)> OnOpen;

    void RunSearch();
    // The filter's choices from the index as it now stands (after an index update).
    void RefreshChoices();

private:
    void Open(const QModelIndex& index);

    TLibraryDatabase& database_;
};
