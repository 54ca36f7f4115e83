// TLibraryCommands: the local library in the main window. Owns the library's
// database and cache, the menu "ライブラリ" with its commands (fetch again,
// update the index, search), the relations bar above the pane and the search
// window; references the main window, whose pane, number box, status line and
// HTTP client it uses. The window calls it at four points: after the first
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
class QTimer;
class TForm1;
class TSearchWindow;

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
    QLabel* RelationsBar;
    // A fault of the library, beside the status line, where it stays.
    QLabel* FaultLabel;
    // The most text the library keeps; the documents fetched longest ago go first.
    int64_t SizeLimit = TDocumentCache::kDefaultSizeLimit;

    TLibraryDatabase& Database() { return database_; }
    TDocumentCache& Cache() { return cache_; }
    TSearchWindow* SearchWindow() const;

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
    // The status line for the shown document of bytes at url, with note after it.
    void ShowStatus(const std::string& url, size_t bytes, const QString& note);
    void RemoveHistoryEntryAt(int index);
    // Stores a fetched document within the size limit, or keeps it for a retry while another process holds the library.
    void Keep(TCachedDocument document);
    void RetryPending();

    TForm1& form_;
    TLibraryDatabase database_;
    TDocumentCache cache_;
    QPointer<TSearchWindow> search_;
    std::string currentUrl_;
    // The next library fetch asks for the document whatever the copy's age.
    bool forceNext_ = false;
    int shownNumber_ = -1;
    std::optional<TCachedDocument> pending_;
    int retries_ = 0;
    QTimer* retryTimer_ = nullptr;
};
