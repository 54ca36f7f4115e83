// Searching the library, and what the index says about one RFC.
//
// Both read the database they are given and return nothing (plus the
// database's fault) when it fails. One thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/LibraryDatabase.h"

struct TLibraryHit {
    int Number = 0;
    std::string Title;
    std::string Date;
    std::string Status;
    // Another RFC obsoletes it.
    bool Obsolete = false;
    // The cached copy's URL; empty when the RFC is only in the index.
    std::string Url;
    // The first line of the cached copy holding a searched word; empty for
    // a hit in the index alone.
    std::string Line;
};

// Hits for the words of query, best first: the RFCs of a subseries typed
// ("STD 7", "BCP14", "fyi 1") and an RFC whose number was typed ("2616",
// "RFC2616", "rfc 2616"), then matches in the index's titles,
// authors, keywords and abstracts ranked by relevance, then matches in the
// text of cached documents, newest RFC first; every RFC listed once.
// Words match whole (with the usual English endings: "cookie" finds
// "cookies"); all of them must occur. At most limit hits.
[[nodiscard]] std::vector<TLibraryHit> SearchLibrary(TLibraryDatabase& database, const std::string& query,
                                                     int limit = 100);

struct TRelations {
    int Number = 0;
    std::string Title;
    std::string Status;
    bool Obsolete = false;
    // Document ids as the index writes them ("RFC7230"); see RfcNumberOf.
    std::vector<std::string> ObsoletedBy;
    std::vector<std::string> UpdatedBy;
    std::vector<std::string> Obsoletes;
    std::vector<std::string> Updates;
    std::string Also;
    std::string ErrataUrl;
};

// The RFCs of the subseries text names as a whole ("STD 7", "bcp14",
// "FYI 0001"), in number order; nothing when text names no subseries (an
// empty list when the index knows none of its RFCs).
[[nodiscard]] std::optional<std::vector<int>> SubseriesMembers(TLibraryDatabase& database, const std::string& text);

// What the library window lists without search words: every RFC of the
// index that passes the filter, in number order.
struct TIndexFilter {
    // Exactly as the index writes them; empty: any.
    std::string Status;
    std::string Stream;
    // 0: any.
    int Year = 0;
    bool HideObsolete = false;
    bool Any() const { return !Status.empty() || !Stream.empty() || Year != 0 || HideObsolete; }
};
[[nodiscard]] std::vector<int> BrowseIndex(TLibraryDatabase& database, const TIndexFilter& filter);
// The hits of SearchLibrary that pass filter (an RFC the index does not know passes no filter).
[[nodiscard]] std::vector<TLibraryHit> SearchIndex(TLibraryDatabase& database, const std::string& query,
                                                   const TIndexFilter& filter, int limit = 500);

// The values the index holds, for the filter's choices; years newest first.
struct TIndexFacets {
    std::vector<std::string> Statuses;
    std::vector<std::string> Streams;
    std::vector<int> Years;
};
[[nodiscard]] TIndexFacets IndexFacets(TLibraryDatabase& database);

// One RFC's row of the list, read by number with a statement prepared once;
// an RFC the index does not know gives a hit with its number alone.
class TIndexRows {
public:
    explicit TIndexRows(TLibraryDatabase& database);
    ~TIndexRows();
    TIndexRows(const TIndexRows&) = delete;
    TIndexRows& operator=(const TIndexRows&) = delete;
    [[nodiscard]] TLibraryHit Row(int number);

private:
    TLibraryDatabase& database_;
    std::unique_ptr<TSqlStatement> row_;
};

// The documents that replaced RFC number, step by step to the newest: the
// RFCs that obsolete it, then those that obsolete them, and so on. Each
// RFC once; empty for a current one. Example: 2109 -> {{2965}, {6265}}.
[[nodiscard]] std::vector<std::vector<int>> ObsoletionChain(TLibraryDatabase& database, int number);
// "2965 → 6265"; the RFCs of one step joined by ", ".
[[nodiscard]] std::string ChainText(const std::vector<std::vector<int>>& chain);

// What the index says about RFC number; nothing when it does not know it,
// has not been loaded or cannot be read.
[[nodiscard]] std::optional<TRelations> RelationsOf(TLibraryDatabase& database, int number);

// "RFC0822" -> "RFC 822", "STD0011" -> "STD 11"; other text as it is.
[[nodiscard]] std::string DisplayDocumentId(const std::string& documentId);
