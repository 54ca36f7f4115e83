// TSearchWindow: the library's search window. One field and a ranked list of
// hits (number, title, date, status, the matching line of a cached copy);
// obsolete RFCs are drawn in the palette's disabled text colour. Searches as
// the text changes; Enter in the field opens the selected (else the first)
// hit, Enter or a double-click on the list the hit under it. References the
// library's database; owned by the main window as a child window. GUI thread.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TLibraryDatabase;

class TSearchWindow : public QDialog {
    Q_OBJECT
public:
    TSearchWindow(TLibraryDatabase& database, QWidget* parent);

    QLineEdit* Query;
    QTreeWidget* Hits;
    QLabel* Note;
    // Opens RFC number in the main window.
    std::function<void(int number)> OnOpen;

    void RunSearch();

private:
    void Open(QTreeWidgetItem* item);

    TLibraryDatabase& database_;
};
