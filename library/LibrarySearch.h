// Searching the library, and what the index says about one RFC.
//
// Both read the database they are given and return nothing (plus the
// database's fault) when it fails. One thread.
#pragma once

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

// Hits for the words of query, best first: an RFC whose number was typed
// ("2616", "RFC2616", "rfc 2616"), then matches in the index's titles,
// authors, keywords and abstracts, then matches in the text of cached
// documents, each part ranked by relevance and every RFC listed once.
// Words match whole (with the usual English endings: "cookie" finds
// "cookies"); all of them must occur. At most limit hits.
std::vector<TLibraryHit> SearchLibrary(TLibraryDatabase& database, const std::string& query, int limit = 100);

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

// What the index says about RFC number; nothing when it does not know it,
// has not been loaded or cannot be read.
std::optional<TRelations> RelationsOf(TLibraryDatabase& database, int number);

// "RFC0822" -> "RFC 822", "STD0011" -> "STD 11"; other text as it is.
std::string DisplayDocumentId(const std::string& documentId);
