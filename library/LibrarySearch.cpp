#include "library/LibrarySearch.h"

#include "library/IndexLoader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

namespace {

// Document hits carry their matching line, found by scanning the text:
// beyond this many the scan would cost more than the list is worth.
constexpr int kMaxDocumentHits = 50;
constexpr size_t kMaxLineBytes = 200;
// Words past this many add nothing a reader can use and only slow the query.
constexpr size_t kMaxWords = 16;

struct TQuery {
    // Subseries ids as the index writes them: "STD0007".
    std::vector<std::string> Series;
    std::vector<int> Numbers;
    // The full-text expression over the index: every word as a quoted string, all required.
    std::string Match;
    // The same over document text, whose index keeps no positions: every token of every word, all required.
    std::string DocumentMatch;
    std::vector<std::string> Words;
};

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int SmallNumber(std::string_view digits)
{
    if (!AllDigits(digits) || digits.size() > 5) return 0;
    return std::stoi(std::string(digits));
}

// A quoted string keeps the user's text from being read as query syntax
// (NEAR, AND, column filters, "*"); inner quotes are doubled.
std::string Quoted(const std::string& word)
{
    std::string result = "\"";
    for (char c : word) {
        if (c == '"') result += '"';
        result += c;
    }
    return result + "\"";
}

bool IsWordByte(char c) { return std::isalnum(static_cast<unsigned char>(c)) || (c & 0x80); }

// "HTTP/1.1" -> "http" "1" "1" as quoted strings: the tokens the text index holds.
std::string TokenMatch(const std::string& word)
{
    std::string match;
    for (size_t at = 0; at < word.size();) {
        while (at < word.size() && !IsWordByte(word[at])) ++at;
        const size_t start = at;
        while (at < word.size() && IsWordByte(word[at])) ++at;
        if (at > start) match += (match.empty() ? "" : " ") + Quoted(word.substr(start, at - start));
    }
    return match;
}

std::vector<std::string> SplitWords(const std::string& text)
{
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size() && words.size() < kMaxWords + 1;) {
        const size_t start = text.find_first_not_of(" \t\r\n\f", at);
        if (start == std::string::npos) break;
        const size_t end = std::min(text.find_first_of(" \t\r\n\f", start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

// "STD" and "7", or "std0007" alone: the id the index writes, "STD0007"; "" for anything else.
std::string SeriesId(std::string_view name, std::string_view digits)
{
    if (name.size() != 3) return "";
    std::string upper;
    for (char c : name) upper += char(std::toupper(static_cast<unsigned char>(c)));
    if (upper != "STD" && upper != "BCP" && upper != "FYI") return "";
    const int number = SmallNumber(digits);
    if (number <= 0 || number > 9999) return "";
    char id[16];
    std::snprintf(id, sizeof id, "%s%04d", upper.c_str(), number);
    return id;
}

// The subseries id that words[i] (with words[i + 1]) names, and how many words it took; 0 when none.
size_t SeriesAt(const std::vector<std::string>& words, size_t i, std::string& id)
{
    const std::string_view word(words[i]);
    if (word.size() > 3 && !(id = SeriesId(word.substr(0, 3), word.substr(3))).empty()) return 1;
    if (i + 1 < words.size() && !(id = SeriesId(word, words[i + 1])).empty()) return 2;
    return 0;
}

TQuery ParseQuery(const std::string& text)
{
    TQuery query;
    const std::vector<std::string> words = SplitWords(text);
    for (size_t i = 0; i < words.size() && query.Words.size() + query.Numbers.size() < kMaxWords; ++i) {
        const std::string& word = words[i];
        std::string series;
        if (const size_t taken = SeriesAt(words, i, series)) {
            query.Series.push_back(series);
            i += taken - 1;
            continue;
        }
        const std::string_view view(word);
        if (view.size() > 3 && (view[0] | 0x20) == 'r' && (view[1] | 0x20) == 'f' && (view[2] | 0x20) == 'c') {
            if (const int number = SmallNumber(view.substr(3))) {
                query.Numbers.push_back(number);
                continue;
            }
        }
        if (const int number = SmallNumber(view)) query.Numbers.push_back(number);
        // A word of punctuation alone holds no token and would match nothing.
        if (std::none_of(word.begin(), word.end(), IsWordByte)) continue;
        query.Words.push_back(word);
        query.Match += (query.Match.empty() ? "" : " ") + Quoted(word);
        query.DocumentMatch += (query.DocumentMatch.empty() ? "" : " ") + TokenMatch(word);
    }
    return query;
}

bool SameLetter(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

size_t FindIgnoringCase(std::string_view text, std::string_view word)
{
    const auto found = std::search(text.begin(), text.end(), word.begin(), word.end(), SameLetter);
    return found == text.end() ? std::string_view::npos : size_t(found - text.begin());
}

// The line around the earliest searched word of text, a beginning of the
// whole body (complete tells whether it is all of it). The index matches
// word stems, so a word not found whole is looked for by its stem-like
// beginning. Nothing when no word occurs, or when the line may go on past
// the end of text.
std::optional<std::string> MatchingLine(std::string_view text, bool complete, const std::vector<std::string>& words)
{
    size_t best = std::string_view::npos;
    for (const std::string& word : words) {
        size_t at = FindIgnoringCase(text, word);
        if (at == std::string_view::npos && word.size() > 5)
            at = FindIgnoringCase(text, std::string_view(word).substr(0, word.size() - 3));
        best = std::min(best, at);
    }
    if (best == std::string_view::npos) return std::nullopt;
    const size_t begin = text.find_last_of("\r\n\f", best);
    const size_t from = begin == std::string_view::npos ? 0 : begin + 1;
    size_t end = text.find_first_of("\r\n\f", best);
    if (end == std::string_view::npos) {
        if (!complete && text.size() - from < kMaxLineBytes) return std::nullopt;
        end = text.size();
    }
    std::string_view line = text.substr(from, std::min(end - from, kMaxLineBytes));
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    return std::string(line);
}

// The matching line of a cached document, read from its beginning in
// growing pieces: the words mostly occur early (in the contents, at the
// latest), so most of a large document is never read.
std::string MatchingLineOf(TLibraryDatabase& database, int64_t id, const std::vector<std::string>& words)
{
    TSqlBlob body(database, "document", "body", id);
    std::string text;
    for (int64_t piece = 16 * 1024; int64_t(text.size()) < body.Size(); piece *= 4) {
        body.AppendTo(text, std::min(piece, body.Size() - int64_t(text.size())));
        const bool complete = int64_t(text.size()) == body.Size();
        if (std::optional<std::string> line = MatchingLine(text, complete, words)) return *line;
    }
    return "";
}

TLibraryHit HitFrom(TSqlStatement& row)
{
    TLibraryHit hit;
    hit.Number = int(row.Integer(0));
    hit.Title = row.Text(1);
    hit.Date = row.Text(2);
    hit.Status = row.Text(3);
    hit.Obsolete = row.Integer(4) != 0;
    hit.Url = row.Text(5);
    return hit;
}

// Hits in the order they are found, each RFC (or uncounted document) once.
class THitList {
public:
    explicit THitList(int limit) : limit_(size_t(limit)) {}
    bool Full() const { return hits_.size() >= limit_; }
    // The hit already listed for the same RFC, or the new one added.
    TLibraryHit* Add(TLibraryHit hit)
    {
        const auto key = hit.Number > 0 ? std::to_string(hit.Number) : "url:" + hit.Url;
        const auto found = index_.find(key);
        if (found != index_.end()) return &hits_[found->second];
        if (Full()) return nullptr;
        index_.emplace(key, hits_.size());
        hits_.push_back(std::move(hit));
        return &hits_.back();
    }
    std::vector<TLibraryHit> Take() { return std::move(hits_); }

private:
    size_t limit_;
    std::vector<TLibraryHit> hits_;
    std::map<std::string, size_t> index_;
};

void AddNumberHits(TLibraryDatabase& database, const TQuery& query, THitList& hits)
{
    TSqlStatement indexed(database, "SELECT r.number, r.title, r.date, r.status, r.obsolete, "
                                    "(SELECT url FROM document d WHERE d.number = r.number ORDER BY fetched DESC "
                                    "LIMIT 1) FROM rfc r WHERE r.number = ?1");
    TSqlStatement cached(database, "SELECT number, title, '', '', 0, url FROM document WHERE number = ?1 "
                                   "ORDER BY fetched DESC LIMIT 1");
    for (int number : query.Numbers) {
        for (TSqlStatement* source : {&indexed, &cached}) {
            source->Bind(1, number);
            const bool found = source->Step();
            if (found) hits.Add(HitFrom(*source));
            source->Reset();
            if (found) break;
        }
    }
}

void AddSeriesHits(TLibraryDatabase& database, const TQuery& query, THitList& hits)
{
    TSqlStatement members(database, "SELECT r.number, r.title, r.date, r.status, r.obsolete, "
                                    "(SELECT url FROM document d WHERE d.number = r.number ORDER BY fetched DESC "
                                    "LIMIT 1) FROM subseries s JOIN rfc r ON r.number = s.number "
                                    "WHERE s.series = ?1 ORDER BY r.number");
    for (const std::string& series : query.Series) {
        members.Bind(1, series);
        while (members.Step() && !hits.Full()) hits.Add(HitFrom(members));
        members.Reset();
    }
}

void AddIndexHits(TLibraryDatabase& database, const TQuery& query, THitList& hits, int limit)
{
    // Title words weigh most, then keywords and authors, then the abstract.
    // Ranked and cut first, so the rows and the cached-copy look-up are only made for the hits kept.
    TSqlStatement search(database, "SELECT r.number, r.title, r.date, r.status, r.obsolete, "
                                   "(SELECT url FROM document d WHERE d.number = r.number ORDER BY fetched DESC "
                                   "LIMIT 1) FROM (SELECT rowid AS id, bm25(rfc_text, 10.0, 4.0, 6.0, 1.0) AS score "
                                   "FROM rfc_text WHERE rfc_text MATCH ?1 ORDER BY score LIMIT ?2) AS m "
                                   "JOIN rfc r ON r.number = m.id ORDER BY m.score");
    search.Bind(1, query.Match).Bind(2, limit);
    while (search.Step() && !hits.Full()) hits.Add(HitFrom(search));
}

// The stored documents holding every word, newest RFC first, at most kMaxDocumentHits. Their text index keeps
// no word counts (it would be as large as the text), so there is no relevance to rank by: ranking would
// re-read every matching text, all 10,000 of them for common words. Few matches are looked up one by one; many
// are met walking the documents by number, which finds enough of them within the first few rows.
std::vector<int64_t> NewestMatchingDocuments(TLibraryDatabase& database, const TQuery& query)
{
    constexpr size_t kLookUpBelow = 1000;
    TSqlStatement matching(database, "SELECT rowid FROM document_text WHERE document_text MATCH ?1");
    matching.Bind(1, query.DocumentMatch);
    std::vector<int64_t> ids;
    while (matching.Step()) ids.push_back(matching.Integer(0));
    std::vector<std::pair<int64_t, int64_t>> found; // number, id
    if (ids.size() < kLookUpBelow) {
        TSqlStatement number(database, "SELECT number FROM document WHERE id = ?1");
        for (int64_t id : ids) {
            number.Bind(1, id);
            if (number.Step()) found.emplace_back(number.Integer(0), id);
            number.Reset();
        }
        std::sort(found.begin(), found.end(), std::greater<>());
        if (found.size() > size_t(kMaxDocumentHits)) found.resize(size_t(kMaxDocumentHits));
    } else {
        std::sort(ids.begin(), ids.end());
        TSqlStatement newest(database,
                             "SELECT number, id FROM document INDEXED BY document_number ORDER BY number DESC");
        while (found.size() < size_t(kMaxDocumentHits) && newest.Step())
            if (std::binary_search(ids.begin(), ids.end(), newest.Integer(1)))
                found.emplace_back(newest.Integer(0), newest.Integer(1));
    }
    std::vector<int64_t> result;
    for (const auto& [number, id] : found) result.push_back(id);
    return result;
}

void AddDocumentHits(TLibraryDatabase& database, const TQuery& query, THitList& hits)
{
    TSqlStatement row(database, "SELECT d.number, coalesce(r.title, d.title), coalesce(r.date, ''), "
                                "coalesce(r.status, ''), coalesce(r.obsolete, 0), d.url "
                                "FROM document d LEFT JOIN rfc r ON r.number = d.number AND d.number > 0 "
                                "WHERE d.id = ?1");
    for (int64_t id : NewestMatchingDocuments(database, query)) {
        row.Bind(1, id);
        if (row.Step()) {
            TLibraryHit* hit = hits.Add(HitFrom(row));
            if (hit == nullptr) break;
            if (hit->Line.empty()) hit->Line = MatchingLineOf(database, id, query.Words);
            if (hit->Url.empty()) hit->Url = row.Text(5);
        }
        row.Reset();
    }
}

} // namespace

std::vector<TLibraryHit> SearchLibrary(TLibraryDatabase& database, const std::string& text, int limit)
{
    const TQuery query = ParseQuery(text);
    if (limit <= 0 || (query.Numbers.empty() && query.Match.empty() && query.Series.empty())) return {};
    return database.Guarded(
        [&] {
            THitList hits(limit);
            AddSeriesHits(database, query, hits);
            AddNumberHits(database, query, hits);
            if (!query.Match.empty()) {
                AddIndexHits(database, query, hits, limit);
                AddDocumentHits(database, query, hits);
            }
            return hits.Take();
        },
        std::vector<TLibraryHit>());
}

std::optional<TRelations> RelationsOf(TLibraryDatabase& database, int number)
{
    return database.Guarded(
        [&]() -> std::optional<TRelations> {
            TSqlStatement entry(database,
                                "SELECT title, status, obsolete, also, errata_url FROM rfc WHERE number = ?1");
            entry.Bind(1, number);
            if (!entry.Step()) return std::nullopt;
            TRelations relations;
            relations.Number = number;
            relations.Title = entry.Text(0);
            relations.Status = entry.Text(1);
            relations.Obsolete = entry.Integer(2) != 0;
            relations.Also = entry.Text(3);
            relations.ErrataUrl = entry.Text(4);
            TSqlStatement related(database,
                                  "SELECT kind, other FROM relation WHERE number = ?1 ORDER BY kind, position");
            related.Bind(1, number);
            std::vector<std::string>* lists[] = {&relations.Obsoletes, &relations.ObsoletedBy, &relations.Updates,
                                                 &relations.UpdatedBy};
            while (related.Step()) {
                const int64_t kind = related.Integer(0);
                if (kind >= 0 && kind < 4) lists[kind]->push_back(related.Text(1));
            }
            return relations;
        },
        std::optional<TRelations>());
}

std::string DisplayDocumentId(const std::string& documentId)
{
    size_t digits = 0;
    while (digits < documentId.size() && std::isalpha(static_cast<unsigned char>(documentId[digits]))) ++digits;
    const std::string_view number = std::string_view(documentId).substr(digits);
    if (digits == 0 || number.size() > 9 || !AllDigits(number)) return documentId;
    return documentId.substr(0, digits) + " " + std::to_string(std::stoll(documentId.substr(digits)));
}

std::optional<std::vector<int>> SubseriesMembers(TLibraryDatabase& database, const std::string& text)
{
    const std::vector<std::string> words = SplitWords(text);
    std::string series;
    if (words.empty() || SeriesAt(words, 0, series) != words.size()) return std::nullopt;
    return database.Guarded(
        [&] {
            TSqlStatement members(database, "SELECT number FROM subseries WHERE series = ?1 ORDER BY number");
            members.Bind(1, series);
            std::vector<int> numbers;
            while (members.Step()) numbers.push_back(int(members.Integer(0)));
            return numbers;
        },
        std::vector<int>());
}

std::vector<int> BrowseIndex(TLibraryDatabase& database, const TIndexFilter& filter)
{
    return database.Guarded(
        [&] {
            TSqlStatement browse(database, "SELECT number FROM rfc WHERE (?1 = '' OR status = ?1) "
                                           "AND (?2 = '' OR stream = ?2) AND (?3 = 0 OR year = ?3) "
                                           "AND (?4 = 0 OR obsolete = 0) ORDER BY number");
            browse.Bind(1, filter.Status).Bind(2, filter.Stream).Bind(3, filter.Year);
            browse.Bind(4, filter.HideObsolete ? 1 : 0);
            std::vector<int> numbers;
            while (browse.Step()) numbers.push_back(int(browse.Integer(0)));
            return numbers;
        },
        std::vector<int>());
}

std::vector<TLibraryHit> SearchIndex(TLibraryDatabase& database, const std::string& query, const TIndexFilter& filter,
                                     int limit)
{
    std::vector<TLibraryHit> hits = SearchLibrary(database, query, limit);
    if (!filter.Any()) return hits;
    const std::vector<int> passing = BrowseIndex(database, filter);
    std::erase_if(
        hits, [&](const TLibraryHit& hit) { return !std::binary_search(passing.begin(), passing.end(), hit.Number); });
    return hits;
}

TIndexFacets IndexFacets(TLibraryDatabase& database)
{
    return database.Guarded(
        [&] {
            TIndexFacets facets;
            TSqlStatement statuses(database, "SELECT DISTINCT status FROM rfc WHERE status != '' ORDER BY status");
            while (statuses.Step()) facets.Statuses.push_back(statuses.Text(0));
            TSqlStatement streams(database, "SELECT DISTINCT stream FROM rfc WHERE stream != '' ORDER BY stream");
            while (streams.Step()) facets.Streams.push_back(streams.Text(0));
            TSqlStatement years(database, "SELECT DISTINCT year FROM rfc WHERE year > 0 ORDER BY year DESC");
            while (years.Step()) facets.Years.push_back(int(years.Integer(0)));
            return facets;
        },
        TIndexFacets());
}

TIndexRows::TIndexRows(TLibraryDatabase& database) : database_(database) {}

TIndexRows::~TIndexRows() = default;

TLibraryHit TIndexRows::Row(int number)
{
    TLibraryHit fallback;
    fallback.Number = number;
    return database_.Guarded(
        [&] {
            if (!row_)
                row_ = std::make_unique<TSqlStatement>(
                    database_, "SELECT r.number, r.title, r.date, r.status, r.obsolete, "
                               "(SELECT url FROM document d WHERE d.number = r.number ORDER BY fetched DESC "
                               "LIMIT 1) FROM rfc r WHERE r.number = ?1");
            row_->Bind(1, number);
            const TLibraryHit hit = row_->Step() ? HitFrom(*row_) : fallback;
            row_->Reset();
            return hit;
        },
        fallback);
}

std::vector<std::vector<int>> ObsoletionChain(TLibraryDatabase& database, int number)
{
    // A loop in a damaged index must not run for ever: each RFC is listed once, and the steps are bounded.
    constexpr size_t kMaxSteps = 32;
    return database.Guarded(
        [&] {
            TSqlStatement replacing(database,
                                    "SELECT other FROM relation WHERE number = ?1 AND kind = 1 ORDER BY position");
            std::vector<std::vector<int>> chain;
            std::set<int> seen{number};
            std::vector<int> step{number};
            while (!step.empty() && chain.size() < kMaxSteps) {
                std::vector<int> next;
                for (int from : step) {
                    replacing.Bind(1, from);
                    while (replacing.Step()) {
                        const int other = RfcNumberOf(replacing.Text(0));
                        if (other > 0 && seen.insert(other).second) next.push_back(other);
                    }
                    replacing.Reset();
                }
                if (!next.empty()) chain.push_back(next);
                step = std::move(next);
            }
            return chain;
        },
        std::vector<std::vector<int>>());
}

std::string ChainText(const std::vector<std::vector<int>>& chain)
{
    std::string text;
    for (const std::vector<int>& step : chain) {
        if (!text.empty()) text += " \u2192 ";
        for (size_t i = 0; i < step.size(); ++i) text += (i ? ", " : "") + std::to_string(step[i]);
    }
    return text;
}
