// TLibraryCommands: the local library's views in the main window. Owns the
// menu "ライブラリ" (its commands run through the hooks), the offline switch
// (the window puts it in its menu "表示"), the relations bar, the library
// window and the dialogs of すべて取得 and 保存状況; references the library store, the session (whose
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
class TStorageDialog;
class TSyncDialog;
struct TFetchSettings;
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
    // A link that is not an RFC's: the window's gate to the desktop's browser.
    std::function<void(const QString& link)> OpenLink;
    // The document URL format, and the fetch settings (may raise), for a sync run.
    std::function<std::string()> UrlFormat;
    std::function<TFetchSettings()> Settings;
    // The offline setting of the options (kept in the settings file); null while there are no options.
    std::function<bool*()> OfflineSetting;
    // The status line.
    std::function<void(const QString& text)> Status;
    // Asks before something is removed; true: go ahead.
    std::function<bool(const QString& question)> Confirm;
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
    QAction* mSyncAll;
    QAction* mStorage;
    // Checked: documents come from the library alone, nothing touches the network.
    QAction* mOffline;
    QLabel* RelationsBar;
    // A fault of the library, beside the status line, where it stays.
    QLabel* FaultLabel = nullptr;

    TSearchWindow* SearchWindow() const;
    TSyncDialog* SyncDialog() const;
    TStorageDialog* StorageDialog() const;

    // Offline for this run whatever the setting says (scrivlet --offline).
    void SetOfflineForRun();
    bool Offline() const;

    // At the first activation: the document shown last, from the library.
    void Started();
    // The library's copy of url, shown as a new place; false when it has none.
    bool ShowCopy(const std::string& url);
    void MarkHistory();
    // The bar names the shown document's relations; hidden without them.
    void ShowRelations();

    void mSearchClick();
    // Shows a fault of the library where it stays in sight.
    void ShowFault(const std::string& fault);
    void mSyncAllClick();
    void mStorageClick();
    // The library window, showing what text finds.
    void OpenLibraryWindow(const QString& text);

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
    QPointer<TSyncDialog> sync_;
    QPointer<TStorageDialog> storage_;
    bool offlineForRun_ = false;
};
