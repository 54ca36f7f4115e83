#include "library/IndexLoader.h"

#include "library/DocumentCache.h"
#include "net/fetch/Fetcher.h"
#include "platform/SysUtils.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <unordered_map>
#include <utility>

namespace {

// Expat joins a namespace and a local name with this; neither holds a space.
constexpr char kNamespaceSeparator = ' ';
const std::string kIndexNamespace = "https://www.rfc-editor.org/rfc-index";
const char* const kIndexLastModifiedKey = "index-last-modified";
// No field of a real entry comes near this; a longer one is cut, not kept whole.
constexpr size_t kMaxFieldBytes = 1024 * 1024;
// The published index keeps about 15 MB of text in some 10,000 entries; a
// server that sends far more is not believed, and memory stays bounded while
// the download runs. Each kept string and entry counts its own bookkeeping
// too, so millions of tiny entries cannot hide behind a small text.
constexpr size_t kMaxKeptBytes = 48 * 1024 * 1024;
// The index nests about five deep (index, entry, author, name); deeper is no
// index, and the XML parser's memory grows with every open element.
constexpr size_t kMaxDepth = 16;
// What the XML parser itself may hold at once: its buffers, open elements
// and names. A streamed index needs a small part of this; the parser scans
// an unfinished name again with every piece, so a larger bound would also
// cost time in proportion to its square.
constexpr size_t kMaxParserBytes = 8 * 1024 * 1024;
// The parser is handed at most this much at once, so its buffer stays small.
constexpr int64_t kMaxPiece = 1024 * 1024;
const char* const kTooLarge = "the index is too large";

// The XML parser's allocations, counted against one budget each parser
// owns. Each block carries its budget and size in front, so realloc and free
// find them; only a new block needs the budget of the parser being made or
// run, which TBudgetScope names for the thread.
struct TBudget {
    size_t used = 0;
    bool exhausted = false;
};
thread_local TBudget* currentBudget = nullptr;

struct alignas(std::max_align_t) TBlockHeader {
    TBudget* budget;
    size_t size;
};

class TBudgetScope {
public:
    explicit TBudgetScope(TBudget& budget) : previous_(std::exchange(currentBudget, &budget)) {}
    ~TBudgetScope() { currentBudget = previous_; }
    TBudgetScope(const TBudgetScope&) = delete;
    TBudgetScope& operator=(const TBudgetScope&) = delete;

private:
    TBudget* previous_;
};

void* Place(TBudget* budget, void* raw, size_t size)
{
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<TBlockHeader*>(raw);
    header->budget = budget;
    header->size = size;
    budget->used += size;
    return header + 1;
}

bool Affordable(const TBudget* budget, size_t more)
{
    return budget->used <= kMaxParserBytes && more <= kMaxParserBytes - budget->used;
}

void* BudgetMalloc(size_t size)
{
    TBudget* budget = currentBudget;
    if (budget == nullptr || !Affordable(budget, size)) {
        if (budget) budget->exhausted = true;
        return nullptr;
    }
    return Place(budget, std::malloc(sizeof(TBlockHeader) + size), size);
}

void BudgetFree(void* block)
{
    if (block == nullptr) return;
    auto* header = static_cast<TBlockHeader*>(block) - 1;
    header->budget->used -= header->size;
    std::free(header);
}

void* BudgetRealloc(void* block, size_t size)
{
    if (block == nullptr) return BudgetMalloc(size);
    auto* header = static_cast<TBlockHeader*>(block) - 1;
    TBudget* budget = header->budget;
    const size_t old = header->size;
    if (size > old && !Affordable(budget, size - old)) {
        budget->exhausted = true;
        return nullptr;
    }
    void* raw = std::realloc(header, sizeof(TBlockHeader) + size);
    if (raw == nullptr) return nullptr;
    budget->used -= old;
    return Place(budget, raw, size);
}

const XML_Memory_Handling_Suite kBudgetedMemory = {BudgetMalloc, BudgetRealloc, BudgetFree};

enum TRelationKind : int64_t { rkObsoletes = 0, rkObsoletedBy = 1, rkUpdates = 2, rkUpdatedBy = 3 };

// Runs of blanks, tabs and line breaks become one space; none at either end.
std::string CollapseBlanks(const std::string& text)
{
    std::string result;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            blank = !result.empty();
            continue;
        }
        if (blank) result += ' ';
        blank = false;
        result += c;
    }
    return result;
}

std::string Join(const std::vector<std::string>& items, const char* separator)
{
    std::string result;
    for (const std::string& item : items) {
        if (!result.empty()) result += separator;
        result += item;
    }
    return result;
}

// "June 1999" -> 1999; 0 without a year at the end.
int64_t YearOf(const std::string& date)
{
    if (date.size() < 4) return 0;
    int64_t year = 0;
    for (size_t i = date.size() - 4; i < date.size(); ++i) {
        if (date[i] < '0' || date[i] > '9') return 0;
        year = year * 10 + (date[i] - '0');
    }
    return year;
}

} // namespace

int RfcNumberOf(const std::string& documentId)
{
    if (documentId.size() < 4 || documentId.size() > 12 || documentId.compare(0, 3, "RFC") != 0) return 0;
    int number = 0;
    for (size_t i = 3; i < documentId.size(); ++i) {
        if (documentId[i] < '0' || documentId[i] > '9') return 0;
        number = number * 10 + (documentId[i] - '0');
    }
    return number;
}

// What the parser's callbacks share: the open elements of the index
// namespace (an element of another namespace counts as an empty name), the
// entry being read and its text.
struct TIndexParser::TState {
    XML_Parser parser = nullptr;
    TIndexParser* owner = nullptr;
    std::vector<std::string> path;
    std::string text;
    TIndexEntry entry;
    std::string day, month, year;
    bool sawRoot = false;
    size_t kept = 0;
    TBudget budget;
    std::unordered_map<int, size_t> positions;

    void Fail(const std::string& why)
    {
        if (owner->failure_.empty()) owner->failure_ = why;
        XML_StopParser(parser, XML_FALSE);
    }

    static bool IsSubseriesEntry(const std::string& name)
    {
        return name == "std-entry" || name == "bcp-entry" || name == "fyi-entry";
    }

    void Start(const char* name)
    {
        const std::string_view full(name);
        const size_t cut = full.find(kNamespaceSeparator);
        const bool ours = cut != std::string_view::npos && full.substr(0, cut) == kIndexNamespace;
        std::string local = ours ? std::string(full.substr(cut + 1)) : std::string();
        if (path.size() >= kMaxDepth) return Fail("the index nests deeper than an index does");
        if (!sawRoot) {
            sawRoot = true;
            if (local != "rfc-index") return Fail("not an RFC index");
        }
        if (path.size() == 1 && local == "rfc-entry") entry = TIndexEntry();
        if (path.size() == 1 && IsSubseriesEntry(local)) owner->subseries_.emplace_back();
        path.push_back(std::move(local));
        text.clear();
    }

    void End()
    {
        if (path.size() >= 3 && path[1] == "rfc-entry") EndInEntry();
        if (path.size() >= 3 && IsSubseriesEntry(path[1])) EndInSubseries();
        if (path.size() == 2 && IsSubseriesEntry(path[1]) && owner->subseries_.back().Id.empty())
            owner->subseries_.pop_back();
        if (path.size() == 2 && path[1] == "rfc-entry" && entry.Number > 0) {
            kept += sizeof(TIndexEntry);
            if (kept > kMaxKeptBytes) return Fail(kTooLarge);
            if (!month.empty() || !year.empty())
                entry.Date = CollapseBlanks((day.empty() ? "" : day + " ") + month + " " + year);
            // An id listed twice is one RFC: the later entry stands, as a second load would have it.
            const auto [at, added] = positions.try_emplace(entry.Number, owner->entries_.size());
            if (added)
                owner->entries_.push_back(std::move(entry));
            else
                owner->entries_[at->second] = std::move(entry);
            entry = TIndexEntry();
            day.clear(), month.clear(), year.clear();
        }
        path.pop_back();
        text.clear();
    }

    void EndInEntry()
    {
        const std::string value = CollapseBlanks(text);
        kept += value.size() + sizeof(std::string);
        if (kept > kMaxKeptBytes) return Fail(kTooLarge);
        const std::string& name = path.back();
        if (path.size() == 3) {
            if (name == "doc-id")
                entry.Number = RfcNumberOf(value);
            else if (name == "title")
                entry.Title = value;
            else if (name == "current-status")
                entry.Status = value;
            else if (name == "stream")
                entry.Stream = value;
            else if (name == "errata-url")
                entry.ErrataUrl = value;
            return;
        }
        if (path.size() != 4) return;
        const std::string& parent = path[2];
        if (parent == "author" && name == "name")
            entry.Authors.push_back(value);
        else if (parent == "keywords" && name == "kw")
            entry.Keywords.push_back(value);
        else if (parent == "abstract" && name == "p")
            entry.Abstract += (entry.Abstract.empty() ? "" : "\n") + value;
        else if (parent == "date" && name == "day")
            day = value;
        else if (parent == "date" && name == "month")
            month = value;
        else if (parent == "date" && name == "year")
            year = value;
        else if (name == "doc-id") {
            if (parent == "obsoletes")
                entry.Obsoletes.push_back(value);
            else if (parent == "obsoleted-by")
                entry.ObsoletedBy.push_back(value);
            else if (parent == "updates")
                entry.Updates.push_back(value);
            else if (parent == "updated-by")
                entry.UpdatedBy.push_back(value);
            else if (parent == "is-also")
                entry.Also.push_back(value);
        }
    }

    void EndInSubseries()
    {
        TSubseriesEntry& subseries = owner->subseries_.back();
        const std::string value = CollapseBlanks(text);
        kept += value.size() + 16;
        if (kept > kMaxKeptBytes) return Fail("the index is too large");
        if (path.size() == 3 && path[2] == "doc-id") subseries.Id = value;
        if (path.size() == 4 && path[2] == "is-also" && path[3] == "doc-id")
            if (const int number = RfcNumberOf(value)) subseries.Numbers.push_back(number);
    }

    void Characters(const char* data, int length)
    {
        if (path.size() < 3 || (path[1] != "rfc-entry" && !IsSubseriesEntry(path[1]))) return;
        text.append(data, std::min(size_t(length), kMaxFieldBytes - std::min(kMaxFieldBytes, text.size())));
    }
};

TIndexParser::TIndexParser() : state_(std::make_unique<TState>())
{
    state_->owner = this;
    const TBudgetScope scope(state_->budget);
    state_->parser = XML_ParserCreate_MM(nullptr, &kBudgetedMemory, &kNamespaceSeparator);
    if (state_->parser == nullptr) throw std::bad_alloc();
    XML_SetUserData(state_->parser, state_.get());
    XML_SetElementHandler(
        state_->parser,
        [](void* data, const XML_Char* name, const XML_Char**) { static_cast<TState*>(data)->Start(name); },
        [](void* data, const XML_Char*) { static_cast<TState*>(data)->End(); });
    XML_SetCharacterDataHandler(state_->parser, [](void* data, const XML_Char* text, int length) {
        static_cast<TState*>(data)->Characters(text, length);
    });
    XML_SetStartDoctypeDeclHandler(state_->parser,
                                   [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
                                       static_cast<TState*>(data)->Fail("document type declaration refused");
                                   });
}

TIndexParser::~TIndexParser() { XML_ParserFree(state_->parser); }

void TIndexParser::NoteParserFailure()
{
    if (!failure_.empty()) return;
    if (state_->budget.exhausted || XML_GetErrorCode(state_->parser) == XML_ERROR_NO_MEMORY)
        failure_ = kTooLarge;
    else
        failure_ = Format("line %d: %s", int64_t(XML_GetCurrentLineNumber(state_->parser)),
                          XML_ErrorString(XML_GetErrorCode(state_->parser)));
}

int64_t TIndexParser::Write(const void* buffer, int64_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    const TBudgetScope scope(state_->budget);
    for (int64_t done = 0; done < count && failure_.empty();) {
        const int piece = int(std::min<int64_t>(count - done, kMaxPiece));
        if (XML_Parse(state_->parser, bytes + done, piece, XML_FALSE) != XML_STATUS_OK) NoteParserFailure();
        done += piece;
    }
    written_ += count;
    return count;
}

int64_t TIndexParser::Read(void*, int64_t) { return 0; }

int64_t TIndexParser::Seek(int64_t, TSeekOrigin) { return written_; }

void TIndexParser::SetSize(int64_t) {}

bool TIndexParser::Finish()
{
    const TBudgetScope scope(state_->budget);
    if (failure_.empty() && XML_Parse(state_->parser, nullptr, 0, XML_TRUE) != XML_STATUS_OK) NoteParserFailure();
    if (failure_.empty() && entries_.empty()) failure_ = "no rfc-entry in the index";
    return failure_.empty();
}

void ReplaceIndex(TLibraryDatabase& database, const std::vector<TIndexEntry>& entries, const std::string& lastModified,
                  const std::vector<TSubseriesEntry>& subseries)
{
    TSqlTransaction transaction(database);
    database.Execute("DELETE FROM relation; DELETE FROM rfc; DELETE FROM subseries;");
    TSqlStatement rfc(database, "INSERT OR REPLACE INTO rfc(number, title, authors, date, status, stream, keywords, "
                                "abstract, also, errata_url, obsolete, year) "
                                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    TSqlStatement member(database, "INSERT OR IGNORE INTO subseries(series, number) VALUES (?1, ?2)");
    const auto addMember = [&](const std::string& series, int number) {
        member.Bind(1, series).Bind(2, number).Step();
        member.Reset();
    };
    TSqlStatement relation(database,
                           "INSERT OR REPLACE INTO relation(number, kind, position, other) VALUES (?1, ?2, ?3, ?4)");
    const auto relate = [&](int number, TRelationKind kind, const std::vector<std::string>& others) {
        for (size_t i = 0; i < others.size(); ++i) {
            relation.Bind(1, number).Bind(2, kind).Bind(3, int64_t(i)).Bind(4, others[i]).Step();
            relation.Reset();
        }
    };
    for (const TIndexEntry& entry : entries) {
        rfc.Bind(1, entry.Number).Bind(2, entry.Title).Bind(3, Join(entry.Authors, ", ")).Bind(4, entry.Date);
        rfc.Bind(5, entry.Status).Bind(6, entry.Stream).Bind(7, Join(entry.Keywords, ", ")).Bind(8, entry.Abstract);
        rfc.Bind(9, Join(entry.Also, ", ")).Bind(10, entry.ErrataUrl).Bind(11, entry.ObsoletedBy.empty() ? 0 : 1);
        rfc.Bind(12, YearOf(entry.Date)).Step();
        rfc.Reset();
        for (const std::string& also : entry.Also) addMember(also, entry.Number);
        relate(entry.Number, rkObsoletes, entry.Obsoletes);
        relate(entry.Number, rkObsoletedBy, entry.ObsoletedBy);
        relate(entry.Number, rkUpdates, entry.Updates);
        relate(entry.Number, rkUpdatedBy, entry.UpdatedBy);
    }
    for (const TSubseriesEntry& series : subseries)
        for (int number : series.Numbers) addMember(series.Id, number);
    database.Execute("INSERT INTO rfc_text(rfc_text) VALUES ('rebuild')");
    database.WriteMeta(kIndexLastModifiedKey, lastModified);
    transaction.Commit();
}

std::string IndexUrlBeside(const std::string& documentUrlFormat)
{
    for (const char* scheme : {"http://", "https://"}) {
        const size_t length = std::char_traits<char>::length(scheme);
        if (documentUrlFormat.size() <= length || !SameText(documentUrlFormat.substr(0, length), scheme)) continue;
        const size_t pathStart = documentUrlFormat.find('/', length);
        const std::string origin = documentUrlFormat.substr(0, pathStart);
        if (origin.find('%') == std::string::npos) return origin + "/rfc-index.xml";
    }
    return "https://www.rfc-editor.org/rfc-index.xml";
}

bool IndexLoaded(TLibraryDatabase& database)
{
    return database.Guarded(
        [&] {
            TSqlStatement any(database, "SELECT 1 FROM rfc LIMIT 1");
            return any.Step();
        },
        false);
}

std::optional<TFetchRequest> IndexRequest(TLibraryDatabase& database, const std::string& url)
{
    if (!database.Usable()) return std::nullopt;
    TFetchRequest request;
    request.Url = url;
    if (IndexLoaded(database))
        request.IfModifiedSince =
            database.Guarded([&] { return database.ReadMeta(kIndexLastModifiedKey); }, std::string());
    return request;
}

TIndexUpdateResult IndexUnusable()
{
    TIndexUpdateResult result;
    result.Failure = "the library database cannot be used";
    return result;
}

TIndexUpdateResult UpdateIndex(TFetcher& fetcher, const TFetchSettings& settings, TLibraryDatabase& database,
                               const std::string& url)
{
    std::optional<TFetchRequest> request = IndexRequest(database, url);
    if (!request) return IndexUnusable();
    TIndexParser parser;
    request->Sink = &parser;
    return LoadFetchedIndex(database, parser, fetcher.Fetch(settings, *request));
}

TIndexUpdateResult LoadFetchedIndex(TLibraryDatabase& database, TIndexParser& parser, const TFetchResult& fetched)
{
    TIndexUpdateResult result;
    if (fetched.Kind == TFetchKind::NotModified) {
        result.Outcome = TIndexUpdateOutcome::iuUnchanged;
        return result;
    }
    if (fetched.Kind != TFetchKind::Done) {
        result.Failure = fetched.Failure;
        return result;
    }
    if (!parser.Finish()) {
        result.Failure = parser.Failure();
        return result;
    }
    try {
        ReplaceIndex(database, parser.Entries(), fetched.LastModified, parser.Subseries());
    } catch (const ELibraryError& e) {
        database.NoteFault(e);
        result.Failure = e.what();
        return result;
    }
    result.Outcome = TIndexUpdateOutcome::iuLoaded;
    result.Entries = int(parser.Entries().size());
    return result;
}
