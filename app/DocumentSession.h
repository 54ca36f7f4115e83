// TDocumentSession: the one owner of what a window shows. It holds the shown
// document, the places visited in it and before it (back and forward) and the
// document history. Each tab's document and places are exchanged into it when
// the tab comes to the front; the history is one list for all of them. It has one writer per change (Show,
// JumpTo, SetStatus, Back, Forward, the history edits) and one notification:
// every view (pane, caption, number box, status line, print action, relations
// bar, reading aids, the library's "last shown") follows Subscribe's callbacks
// and reads the state back from here. Plain code, no window; one thread.
#pragma once

#include "app/DocumentHistory.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TIniFile;

enum class TDocumentOrigin {
    Network, // fetched over http or https
    Library, // shown from the library's copy
    File     // read from a local file (opened, or through a "file:///" URL)
};

struct TDocument {
    // The bytes as fetched or read; they never change once shown (fetching
    // again makes a new document), so views may read them in place.
    std::string Body;
    // Where it came from, as shown and stored: never with a password;
    // "file:///" + path for a local file.
    std::string Url;
    TDocumentOrigin Origin = TDocumentOrigin::Network;
    // The RFC number its header names, 0 when none; its title line.
    int Number = 0;
    std::string Title;
    // The history entry that names it (the window's caption) and the number
    // box's text for it.
    std::string Entry;
    std::string BoxText;
    // The pane's text as the reader left it after editing it (UTF-8, lines
    // ended by "\n"), shown instead of Body when the document is come back
    // to; absent for a document nobody edited, so it costs nothing then.
    // Fetching the document again drops it with the old text.
    std::optional<std::string> Edited;
};

// What changed; the views read the rest from the session.
enum class TSessionChange {
    Document, // another document (or the same one again) is shown; a place changed with it
    Place,    // the same document at another line
    Status,   // only the status line's text
    Names,    // the shown document's number, title, entry or box text
    History   // the history list
};

enum class TShowHow {
    NewPlace,    // a place of its own after the current one; later places go
    ReplaceHere, // takes the current place's document (fetched again), keeping its line
};

class TDocumentSession {
    struct TPlace {
        std::shared_ptr<TDocument> Document; // places in one document share it
        int Line = 0;
        std::string Status;
    };

public:
    using TListener = std::function<void(TSessionChange)>;
    // The document and places of one tab, held outside the session while another tab shows.
    class TPlaces {
        friend class TDocumentSession;
        std::vector<TPlace> places_;
        int place_ = -1;

    public:
        // Null when the tab shows nothing yet.
        const TDocument* Shown() const;
        int Line() const;
    };

    // Views subscribe once; each is called after every change, in order.
    void Subscribe(TListener listener) { listeners_.push_back(std::move(listener)); }
    // Asks the pane where the reader is (a source line, 0-based) before a
    // place is left, so coming back finds the same line. Unset: line 0.
    std::function<int()> ReadingLine;
    // Asked with ReadingLine: the pane's text (UTF-8) when the reader edited
    // it since it last gave it, kept for the document left. Unset: no edits.
    std::function<std::optional<std::string>()> EditedText;

    void Show(TDocument document, std::string status, TShowHow how = TShowHow::NewPlace);
    // A new place at line of the shown document (a section, a heading);
    // nothing without a document.
    void JumpTo(int line);
    // The current place's line, without a new place.
    void SetLine(int line);
    // Names the shown document (as its pane shows it): number, title, history entry and box text.
    void Name(int number, std::string title, std::string entry, std::string boxText);
    // The status line of the current place: shown again when it is come back to.
    void SetStatus(std::string status);
    // False (nothing changes) at the first or last place.
    bool Back();
    bool Forward();

    // Hands out the document and places shown (the reading line noted) and
    // shows those of places instead; the views follow as for a new document.
    // The history stays: it is one list whichever tab shows.
    [[nodiscard]] TPlaces Exchange(TPlaces places);

    // Null before any document.
    const TDocument* Shown() const;
    // The shown document's bytes, held for as long as the caller keeps them,
    // whatever is shown meanwhile. Null before any document.
    std::shared_ptr<const std::string> ShownBody() const;
    int Line() const;
    const std::string& Status() const;
    bool CanGoBack() const { return place_ > 0; }
    bool CanGoForward() const { return place_ + 1 < int(places_.size()); }
    int PlaceCount() const { return int(places_.size()); }

    const TDocumentHistory& History() const { return history_; }
    [[nodiscard]] TDocumentHistory::TLoadResult LoadHistory(const TIniFile& ini);
    void SaveHistory(TIniFile& ini) const { history_.Save(ini); }
    // The history edits of TDocumentHistory, followed by a History change.
    std::string AddFetched(const std::string& typed, const std::string& title, const std::string& url,
                           const std::function<int()>& histCount);
    void MoveToTop(int index, const std::string& typed);
    void RemoveHistoryEntry(int index);
    void AddOpenedFile(int number, const std::string& title, const std::string& path);

private:
    // Notes where the current place was read and, unless its document is
    // about to be replaced, the edits made in it.
    void NoteLeaving(bool keepEdits = true);
    void Go(int index);
    void Tell(TSessionChange change);

    std::vector<TPlace> places_;
    int place_ = -1;
    TDocumentHistory history_;
    std::vector<TListener> listeners_;
};

// A document named from its own lines: Number from the header's "Request for
// Comments:" line, Title the title line.
[[nodiscard]] TDocument NamedDocument(std::string body, std::string url, TDocumentOrigin origin);
