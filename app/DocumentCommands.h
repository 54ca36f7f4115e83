// TDocumentCommands: the commands that change what a session shows, shared by
// the window and the command line: fetch a typed number, open a file, fetch
// again, update the index. Each works on the session, the fetcher and the
// library (absent: none) and asks the rest of its host through TCommandHost;
// each returns how it ended. The session's notification tells the views; the
// commands never touch a widget. The network exchange alone goes through the
// host's RunNetwork (the window runs it on a worker thread); everything else,
// the library's database included, runs on the thread that calls the command.
#pragma once

#include "app/DocumentFetch.h"
#include "app/DocumentSession.h"
#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"
#include "net/fetch/Fetcher.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The library's database and its document cache, opened once.
// Another process holding the library keeps a write waiting this long at most:
// a lock must never freeze the window.
constexpr int kLibraryBusyTimeoutMs = 250;

struct TLibraryStore {
    explicit TLibraryStore(const std::string& path)
        : Path(path), Database({path, kLibraryBusyTimeoutMs}), Cache(Database)
    {}
    // The database file, for a run on a thread of its own (which opens it again).
    std::string Path;
    TLibraryDatabase Database;
    TDocumentCache Cache;
    // The most text the library keeps; the documents fetched longest ago go first.
    int64_t SizeLimit = TDocumentCache::kDefaultSizeLimit;
    // A document not stored while another process held the library, for a later try (Keep).
    std::optional<TCachedDocument> Pending;
    // Stores document within the size limit; while the library is locked it
    // waits in Pending. False when it was not stored now.
    [[nodiscard]] bool Keep(TCachedDocument document);
};

// What the commands ask of whoever runs them. Texts are UTF-8.
struct TCommandHost {
    // A message box over the window (the command line: standard error).
    std::function<void(const std::string& text)> Message;
    // The status line while a command runs ("accessing...").
    std::function<void(const std::string& text)> Status;
    // The options: the URL format, the history's length (may raise), the fetch settings (may raise).
    std::function<std::string()> UrlFormat;
    std::function<int()> HistCount;
    std::function<TFetchSettings()> Settings;
    // The pane's line count once it shows the document just shown, for the status line.
    std::function<int()> ShownLines;
    // The number and title as the pane shows the document just shown. Unset: from its own lines.
    std::function<std::pair<int, std::string>()> ShownNames;
    // A fault of the library, where it stays in sight. Unset: after the status line.
    std::function<void(const std::string& fault)> LibraryFault;
    // Runs work (the exchange with the network, nothing else) with a fetcher no
    // other thread touches meanwhile, then then on the calling thread. Both may
    // come later (the command has then returned Started); then may never come
    // when the host drops the command (its tab closed, the window ending).
    // Unset: work with the commands' own fetcher, then then, at once.
    std::function<void(std::function<void(TFetcher&)> work, std::function<void()> then)> RunNetwork;
    // True: documents come from the library alone and nothing touches the network. Unset: online.
    std::function<bool()> Offline;
    // Lists what text finds in the library ("BCP 14": the RFCs of a subseries). Unset: nothing is listed.
    std::function<void(const std::string& text)> ShowList;
};

enum class TCommandOutcome {
    Shown,     // the session shows the document
    Failed,    // the user was told why; the session is as it was
    Cancelled, // the status line says so; the session is as it was
    Refused,   // nothing was asked for (no number, a bad format, nothing shown to fetch again)
    Started    // the network part runs; the command's done callback tells how it ends
};

// Told how a command ended, whether at once or after its network part.
using TCommandDone = std::function<void(TCommandOutcome)>;

class TDocumentCommands {
public:
    // fetcher: the one RunNetwork's absence uses.
    TDocumentCommands(TDocumentSession& session, TFetcher& fetcher, TLibraryStore* library, TCommandHost host);

    // FetchTyped, FetchAgain and UpdateIndex return how they ended, or Started
    // while their network part runs; done (when set) is told the end either way,
    // unless the host drops the command or a failure is raised.

    // The number box's text: an entry of the history loads that entry's URL;
    // a subseries ("STD 7") is the RFC it names, or its list when it names
    // several; other text is read as a number and filled into the URL format.
    // A shown document goes to the history (one entry per number) and the
    // library, filed under the number asked for whatever its header says.
    TCommandOutcome FetchTyped(const std::string& typed, TCommandDone done = {});
    // A local file. A file that cannot be read, or is no text, raises the
    // failure (the general error report tells it) and changes nothing.
    TCommandOutcome OpenFile(const std::string& path);
    // The file a "file:///" URL names, as a place of its own (not filed in the
    // history); a file that cannot be read is said in a message box.
    TCommandOutcome ShowFileUrl(const std::string& url);
    // The shown document again: a file is read again, a fetched one asked for
    // past the library's copy. It keeps its place.
    TCommandOutcome FetchAgain(TCommandDone done = {});
    // The publisher's index into the library, from beside the URL format's server.
    TCommandOutcome UpdateIndex(TCommandDone done = {});

    // The library's fault, if one happened since it was last told, after the status line.
    void TellLibraryFault();

private:
    // How a document a command shows is named: the history entry is Prefix,
    // followed by " : " and the document's title when Titled.
    struct TNaming {
        std::string Prefix;
        bool Titled = false;
        std::string BoxText;
    };
    TCommandOutcome FetchNetwork(const std::string& url, const std::string& shownUrl, bool force, TShowHow how,
                                 const TNaming& naming, TCommandDone done);
    // The library's copy is shown; the server is asked whether it still holds.
    TCommandOutcome Revalidate(TCachedDocument cached, const TFetchSettings& settings, bool force, int filed,
                               const TNaming& naming, TCommandDone done);
    TCommandOutcome ShowFetched(const TFetchResult& fetched, const TFetchSettings& settings, const std::string& url,
                                const std::string& shownUrl, int asked, TShowHow how, const TNaming& naming);
    // A network command's ending; a failure it raises is said on the status line first.
    TCommandOutcome Reporting(const std::function<TCommandOutcome()>& ending);
    // work through RunNetwork, then then; done is told then's outcome.
    TCommandOutcome Network(std::function<void(TFetcher&)> work, std::function<TCommandOutcome()> then,
                            TCommandDone done);
    TCommandOutcome LoadLocalUrl(const std::string& url, TShowHow how, const TNaming& naming);
    // filed: the RFC number the document was asked for (0: as its lines name it).
    void ShowNamed(TDocument document, const TNaming& naming, TShowHow how, const std::string& note, int filed = 0);
    bool Offline() const { return host_.Offline && host_.Offline(); }
    // The shown document's number and title, and its line count, as the host's pane shows it.
    std::pair<int, std::string> ShownNames() const;
    int ShownLines() const;
    std::string UrlForNumber(const std::string& typed);

    TDocumentSession& session_;
    TFetcher& fetcher_;
    TLibraryStore* library_;
    TCommandHost host_;
};

// Why a URL format or URL is refused, for the message box (UTF-8).
[[nodiscard]] std::string UrlProblemMessage(TUrlProblem problem, const std::string& url);
