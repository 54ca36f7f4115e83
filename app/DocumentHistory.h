// The document history: the number box's display entries and the URL each
// was loaded from, as two parallel lists of equal length, index 0 the newest.
// Plain data with the operations the commands need; the main window mirrors
// Entries() into its number box after every change. GUI thread only.
#pragma once

#include "platform/Classes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

class TIniFile;

class TDocumentHistory {
public:
    // What loading found; the window shows FirstEntry in the number box
    // even when the history was discarded as damaged.
    struct TLoadResult {
        std::string FirstEntry;
        bool Damaged = false;
    };

    const TStringList& Entries() const { return entries_; }
    const TStringList& Urls() const { return urls_; }
    int Count() const { return entries_.Count(); }

    // Reads section "rfcs" (ReadHistory): lists of different lengths are
    // discarded (Damaged).
    [[nodiscard]] TLoadResult Load(const TIniFile& ini);
    // Rewrites the history keys of section "rfcs" (WriteHistory), with when
    // each entry was last used. An entry holding a control character (an
    // opened file's path) is left out: stored, it would read back as another
    // file.
    void Save(TIniFile& ini) const;

    // Index of the first entry equal to text ignoring letter case, or -1.
    [[nodiscard]] int LookUp(const std::string& text) const;

    // A document fetched for a text that is not an entry yet: the entry
    // "<typed> : <title>" and its URL go to the top; then, if the history
    // holds more than histCount() entries, the entry at index N alone is
    // removed. histCount is read after the insertion and may throw, leaving
    // the new entry in place. A negative count behaves as 0. An older entry
    // of the same text (ignoring case) and URL goes first.
    // Returns the new entry.
    std::string AddFetched(const std::string& typed, const std::string& title, const std::string& url,
                           const std::function<int()>& histCount);

    // The document of entry index was loaded again for typed text (equal to
    // that entry up to case): the entry moves to the top spelt as typed,
    // keeping its URL.
    void MoveToTop(int index, const std::string& typed);

    // Drops entry index and its URL; an index outside the list does nothing.
    void Remove(int index);

    // An opened local file: "%4.4d * %s" of number and title, URL
    // "file:///" + path. No look-up and no cap.
    void AddOpenedFile(int number, const std::string& title, const std::string& path);

private:
    // When the document of a URL was last shown (HistoryNow), for the merge
    // with what other runs saved meanwhile.
    void Used(const std::string& url);

    TStringList entries_;
    TStringList urls_;
    std::unordered_map<std::string, int64_t> lastUsed_;
};
