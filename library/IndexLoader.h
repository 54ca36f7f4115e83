// The publisher's RFC index: a streaming reader of its XML, and the load
// that replaces the stored index with what it read.
//
// TIndexParser is a write-only stream: whatever is written to it (by the
// HTTP client, or a file copy) goes straight to the XML parser, so the index
// is never held as one text. It keeps the rfc-entry elements of the index
// namespace as plain records. A document type declaration is refused
// outright: the index has none, and refusing it shuts out external entities
// and entity expansion bombs alike. Memory is bounded whatever the input: the
// nesting depth, the text kept and the XML parser's own allocations each
// have a limit, and the first step past one ends the parse. One thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/LibraryDatabase.h"
#include "net/fetch/Fetcher.h"
#include "platform/Classes.h"

struct TIndexEntry {
    int Number = 0;
    std::string Title;
    std::vector<std::string> Authors;
    std::string Date;
    std::string Status;
    std::string Stream;
    std::vector<std::string> Keywords;
    std::string Abstract;
    // Document ids as the index writes them: "RFC7230", "STD0011", "BCP0014".
    std::vector<std::string> Obsoletes;
    std::vector<std::string> ObsoletedBy;
    std::vector<std::string> Updates;
    std::vector<std::string> UpdatedBy;
    std::vector<std::string> Also;
    std::string ErrataUrl;
};

// A subseries entry of the index: "STD0007" is RFC 9293, "BCP0014" is RFCs 2119 and 8174.
struct TSubseriesEntry {
    std::string Id;
    std::vector<int> Numbers;
};

class TIndexParser : public TStream {
public:
    TIndexParser();
    ~TIndexParser() override;

    // Parses the bytes; after a failure the rest is taken and ignored.
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;

    // Ends the input. True when it was one whole index document holding at
    // least one entry; otherwise Failure() says why.
    [[nodiscard]] bool Finish();
    const std::string& Failure() const { return failure_; }
    std::vector<TIndexEntry>& Entries() { return entries_; }
    // The std-entry, bcp-entry and fyi-entry elements.
    std::vector<TSubseriesEntry>& Subseries() { return subseries_; }

private:
    void NoteParserFailure();

    struct TState;
    std::unique_ptr<TState> state_;
    std::vector<TIndexEntry> entries_;
    std::vector<TSubseriesEntry> subseries_;
    std::string failure_;
    int64_t written_ = 0;
};

// "RFC0822" -> 822; 0 for any other kind of id.
[[nodiscard]] int RfcNumberOf(const std::string& documentId);

// Replaces the stored index by entries and subseries (which add to what the
// entries' is-also lists say), with lastModified (the server's Last-Modified)
// kept for the next conditional fetch, in one transaction: a failure leaves
// the old index whole. Raises ELibraryError.
void ReplaceIndex(TLibraryDatabase& database, const std::vector<TIndexEntry>& entries, const std::string& lastModified,
                  const std::vector<TSubseriesEntry>& subseries = {});

// Whether the database holds an index.
[[nodiscard]] bool IndexLoaded(TLibraryDatabase& database);

enum class TIndexUpdateOutcome {
    iuLoaded,    // a new index replaced the old one
    iuUnchanged, // the server answered 304 to the stored Last-Modified
    iuFailed     // network, XML or database failure; the old index stays
};

struct TIndexUpdateResult {
    TIndexUpdateOutcome Outcome = TIndexUpdateOutcome::iuFailed;
    int Entries = 0;
    std::string Failure;
};

// Where the index lies beside the documents: "/rfc-index.xml" on the server
// the document URL format names, or the publisher's when it names none.
// Example: "http://127.0.0.1:8080/rfc/rfc%s.txt" -> "http://127.0.0.1:8080/rfc-index.xml".
[[nodiscard]] std::string IndexUrlBeside(const std::string& documentUrlFormat);

// Fetches the index at url through fetcher under settings, conditional on the
// Last-Modified of the stored index, and loads it: the steps below, in a row.
[[nodiscard]] TIndexUpdateResult UpdateIndex(TFetcher& fetcher, const TFetchSettings& settings,
                                             TLibraryDatabase& database, const std::string& url);

// The request for the index at url, conditional on the stored index's
// Last-Modified, without its sink; nothing when the database cannot be used
// (IndexUnusable then says so). The fetch itself touches no database, so it
// may run on another thread, with a TIndexParser as the sink.
[[nodiscard]] std::optional<TFetchRequest> IndexRequest(TLibraryDatabase& database, const std::string& url);
[[nodiscard]] TIndexUpdateResult IndexUnusable();
// Loads what the fetch of IndexRequest brought through parser into database.
[[nodiscard]] TIndexUpdateResult LoadFetchedIndex(TLibraryDatabase& database, TIndexParser& parser,
                                                  const TFetchResult& fetched);
