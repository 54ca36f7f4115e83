// TLibraryCommands: the local library's views in the main window. Owns the
// menu "ライブラリ" (its commands run through the hooks), the relations bar
// and the search window; references the library store, the session (whose
// document the bar names and the library shows again at the next start), the
// number box (cached entries marked, Delete removes one) and the pane. The
// window places the bar. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QMainWindow;
class QMenu;
class QTimer;
class TDocumentSession;
class TSearchWindow;
class TTextPane;
struct TLibraryStore;

// What the library's views ask of the window.
struct TLibraryHooks {
    // Runs a command body; a failure goes to the general error report.
    std::function<void(const std::function<void()>& body)> Guarded;
    // The fetch command for an RFC number, as the number box does.
    std::function<void(int number)> OpenNumber;
    std::function<void(int index)> RemoveHistoryEntry;
    std::function<void()> FetchAgain;
    std::function<void()> UpdateIndex;
    // The bar was shown, hidden or changed its height.
    std::function<void()> LayOut;
    // A link that is not an RFC's: the window's gate to the desktop's browser.
    std::function<void(const QString& link)> OpenLink;
};

class TLibraryCommands : public QObject {
    Q_OBJECT
public:
    // The publisher's index.
    static constexpr const char* kIndexUrl = "https://www.rfc-editor.org/rfc-index.xml";

    TLibraryCommands(QMainWindow& window, QComboBox& numberBox, TTextPane& pane, TLibraryStore& store,
                     TDocumentSession& session, TLibraryHooks hooks);
    ~TLibraryCommands() override;

    QMenu* mLibrary;
    QAction* mRefetch;
    QAction* mUpdateIndex;
    QAction* mSearch;
    QLabel* RelationsBar;
    // A fault of the library, beside the status line, where it stays.
    QLabel* FaultLabel = nullptr;

    TSearchWindow* SearchWindow() const;

    // At the first activation: the document shown last, from the library.
    void Started();
    void MarkHistory();
    // The bar names the shown document's relations; hidden without them.
    void ShowRelations();

    void mSearchClick();
    // Shows a fault of the library where it stays in sight.
    void ShowFault(const std::string& fault);

protected:
    // Delete in the history list removes the entry.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildMenu();
    void BuildRelationsBar(QWidget* parent);
    void RemoveHistoryEntryAt(int index);

    QMainWindow& window_;
    QComboBox& numberBox_;
    TTextPane& pane_;
    TLibraryStore& store_;
    TDocumentSession& session_;
    TLibraryHooks hooks_;
    QPointer<TSearchWindow> search_;
    // Tries a document the library could not take (another process held it) again now and then.
    QTimer* retryTimer_ = nullptr;
    int retries_ = 0;
};
