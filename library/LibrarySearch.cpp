#include "library/LibrarySearch.h"

#include "library/IndexLoader.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace {

// Document hits carry their matching line, found by scanning the text:
// beyond this many the scan would cost more than the list is worth.
constexpr int kMaxDocumentHits = 50;
constexpr size_t kMaxLineBytes = 200;
// Words past this many add nothing a reader can use and only slow the query.
constexpr size_t kMaxWords = 16;

struct TQuery {
    std::vector<int> Numbers;
    // The full-text expression: every word as a quoted string, all required.
    std::string Match;
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

TQuery ParseQuery(const std::string& text)
{
    TQuery query;
    size_t at = 0;
    while (at < text.size() && query.Words.size() + query.Numbers.size() < kMaxWords) {
        const size_t start = text.find_first_not_of(" \t\r\n\f", at);
        if (start == std::string::npos) break;
        const size_t end = std::min(text.find_first_of(" \t\r\n\f", start), text.size());
        const std::string word = text.substr(start, end - start);
        at = end;
        const std::string_view view(word);
        if (view.size() > 3 && (view[0] | 0x20) == 'r' && (view[1] | 0x20) == 'f' && (view[2] | 0x20) == 'c') {
            if (const int number = SmallNumber(view.substr(3))) {
                query.Numbers.push_back(number);
                continue;
            }
        }
        if (const int number = SmallNumber(view)) query.Numbers.push_back(number);
        // A word of punctuation alone holds no token and would match nothing.
        if (std::none_of(word.begin(), word.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || (c & 0x80); }))
            continue;
        query.Words.push_back(word);
        query.Match += (query.Match.empty() ? "" : " ") + Quoted(word);
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

void AddDocumentHits(TLibraryDatabase& database, const TQuery& query, THitList& hits)
{
    TSqlStatement search(database, "SELECT d.number, coalesce(r.title, d.title), coalesce(r.date, ''), "
                                   "coalesce(r.status, ''), coalesce(r.obsolete, 0), d.url, d.id "
                                   "FROM (SELECT rowid AS id, rank AS score FROM document_text "
                                   "WHERE document_text MATCH ?1 ORDER BY rank LIMIT ?2) AS m "
                                   "JOIN document d ON d.id = m.id "
                                   "LEFT JOIN rfc r ON r.number = d.number AND d.number > 0 ORDER BY m.score");
    search.Bind(1, query.Match).Bind(2, kMaxDocumentHits);
    while (search.Step()) {
        TLibraryHit* hit = hits.Add(HitFrom(search));
        if (hit == nullptr) break;
        if (hit->Line.empty()) hit->Line = MatchingLineOf(database, search.Integer(6), query.Words);
        if (hit->Url.empty()) hit->Url = search.Text(5);
    }
}

} // namespace

std::vector<TLibraryHit> SearchLibrary(TLibraryDatabase& database, const std::string& text, int limit)
{
    const TQuery query = ParseQuery(text);
    if (limit <= 0 || (query.Numbers.empty() && query.Match.empty())) return {};
    return database.Guarded(
        [&] {
            THitList hits(limit);
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
