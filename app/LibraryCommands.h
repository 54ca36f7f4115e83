// TLibraryCommands: the local library in the main window. Owns the library's
// database and cache, the menu "ライブラリ" with its commands (fetch again,
// update the index, the library window, take everything offline, storage),
// the offline switch of the menu "表示", the relations bar above the pane and
// the library's windows; references the main window, whose pane, number box,
// status line and HTTP client it uses. The window calls it at four points: after the first
// activation (show the last document), before a fetch (show the cached copy
// and ask the server about it), after a fetch (store the document) and after
// the history changed (mark cached entries). GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"

class QAction;
class QLabel;
class QMenu;
class TForm1;
class TSearchWindow;
class TStorageDialog;
class TSyncDialog;

class TLibraryCommands : public QObject {
    Q_OBJECT
public:
    // The publisher's index.
    static constexpr const char* kIndexUrl = "https://www.rfc-editor.org/rfc-index.xml";

    TLibraryCommands(TForm1& form, const std::string& databasePath);
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

    TLibraryDatabase& Database() { return database_; }
    TDocumentCache& Cache() { return cache_; }
    TSearchWindow* SearchWindow() const;
    TSyncDialog* SyncDialog() const;
    TStorageDialog* StorageDialog() const;

    // Offline for this run whatever the setting says (scrivlet --offline).
    void SetOfflineForRun();
    bool Offline() const;
    // What the fetch box's text means when it names a subseries ("STD 7"):
    // the one RFC to fetch, or 0 when the library window was opened on its
    // RFCs instead; nothing when the text names no subseries.
    std::optional<int> SubseriesChoice(const std::string& typed);

    void Started();
    // The document at url from the library: shown at once, then asked about
    // and kept or replaced; the server's failure goes to the status line.
    // Nothing when it is not in the library: the window fetches it itself.
    std::optional<bool> FetchFromLibrary(const std::string& url);
    // A document the window fetched: stored, and shown next time at start.
    void Fetched(const std::string& url, std::string body);
    void MarkHistory();

    void mRefetchClick();
    void mUpdateIndexClick();
    void mSearchClick();
    void mSyncAllClick();
    void mStorageClick();
    // The library window, showing what text finds.
    void OpenLibraryWindow(const QString& text);
    // Opens RFC number through the window's fetch command.
    void OpenNumber(int number);

protected:
    // Delete in the history list removes the entry; the bar follows the window's width.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildMenu();
    void BuildRelationsBar();
    void ShowRelations();
    void ShowFaultOnce();
    void Show(const std::string& url, const std::string& body, const QString& note);
    void RemoveHistoryEntryAt(int index);
    // The RFC a URL of the fetch's format names; 0 for any other URL.
    int NumberOfUrl(const std::string& url) const;
    // The pane now shows the document at url (called once its text is in).
    void NoteShown(const std::string& url);

    TForm1& form_;
    TLibraryDatabase database_;
    TDocumentCache cache_;
    QPointer<TSearchWindow> search_;
    QPointer<TSyncDialog> sync_;
    QPointer<TStorageDialog> storage_;
    std::string databasePath_;
    bool offlineForRun_ = false;
    // The RFC the pane's document was asked for by number, known by the head of its text.
    int numberedAs_ = 0;
    std::string numberedHead_;
    std::string currentUrl_;
    // The next library fetch asks for the document whatever the copy's age.
    bool forceNext_ = false;
};
