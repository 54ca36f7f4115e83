// The references in a line of an RFC: other RFCs, sections, citations and web addresses.
#include "app/DocumentReferences.h"

#include <algorithm>
#include <optional>

namespace {

// RFC numbers have never passed five digits.
constexpr std::size_t kMaxRfcDigits = 5;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsAlnum(char c) { return IsDigit(c) || IsUpper(c) || (c >= 'a' && c <= 'z'); }
char Lower(char c) { return IsUpper(c) ? char(c - 'A' + 'a') : c; }

// A cursor over the line; every reader leaves pos unchanged when it fails.
struct TScan {
    std::string_view text;
    std::size_t pos = 0;

    bool AtEnd() const { return pos >= text.size(); }
    char Peek(std::size_t ahead = 0) const { return pos + ahead < text.size() ? text[pos + ahead] : '\0'; }
    // A word starts here when the character before it is not a letter or digit.
    bool AtWordStart() const { return pos == 0 || !IsAlnum(text[pos - 1]); }

    bool Word(std::string_view word, bool anyCaseFirst = false)
    {
        if (text.substr(pos, word.size()).size() != word.size()) return false;
        for (std::size_t k = 0; k < word.size(); ++k) {
            char c = text[pos + k];
            if (c != word[k] && !(k == 0 && anyCaseFirst && Lower(c) == Lower(word[k]))) return false;
        }
        pos += word.size();
        return true;
    }
    std::size_t Blanks()
    {
        std::size_t start = pos;
        while (!AtEnd() && text[pos] == ' ') ++pos;
        return pos - start;
    }
};

// "2616" ending where no letter or digit follows; 0 when absent.
int ReadRfcNumber(TScan& s)
{
    std::size_t start = s.pos;
    int value = 0;
    while (!s.AtEnd() && IsDigit(s.Peek()) && s.pos - start < kMaxRfcDigits + 1)
        value = value * 10 + (s.text[s.pos++] - '0');
    std::size_t digits = s.pos - start;
    if (digits == 0 || digits > kMaxRfcDigits || value == 0 || IsAlnum(s.Peek())) {
        s.pos = start;
        return 0;
    }
    return value;
}

// "RFC 2616", "RFC2616", "RFC-2616", "RFC #733", "RFCs 2616" at a word
// start; with bracket, "[RFC2616]" including both brackets.
struct TRfcToken {
    std::size_t Start = 0;
    int Number = 0;
    bool Plural = false;
};
std::optional<TRfcToken> ReadRfcToken(TScan& s)
{
    std::size_t start = s.pos;
    bool bracket = s.Peek() == '[';
    if (bracket) ++s.pos;
    if (!s.AtWordStart() || !s.Word("RFC")) {
        s.pos = start;
        return std::nullopt;
    }
    TRfcToken token{start, 0, s.Word("s")};
    if (!s.Word("-")) {
        if (s.Blanks() > 2) {
            s.pos = start;
            return std::nullopt;
        }
        s.Word("#");
    }
    token.Number = ReadRfcNumber(s);
    if (token.Number == 0 || (bracket && !s.Word("]"))) {
        s.pos = start;
        return std::nullopt;
    }
    return token;
}

// "3.2.1", "12", "A", "B.4" (letters in capitals); without a sentence's final period.
std::optional<std::string> ReadSectionNumber(TScan& s, bool letterOnly)
{
    std::size_t start = s.pos;
    if (IsUpper(s.Peek())) {
        ++s.pos;
        // "Section X.Y" stands for any section: a placeholder, not a link.
        if (s.Peek() == '.' && IsUpper(s.Peek(1))) {
            s.pos = start;
            return std::nullopt;
        }
    } else if (!letterOnly && IsDigit(s.Peek())) {
        while (IsDigit(s.Peek())) ++s.pos;
    } else {
        return std::nullopt;
    }
    while (s.Peek() == '.' && IsDigit(s.Peek(1))) {
        ++s.pos;
        while (IsDigit(s.Peek())) ++s.pos;
    }
    if (IsAlnum(s.Peek())) {
        s.pos = start;
        return std::nullopt;
    }
    return std::string(s.text.substr(start, s.pos - start));
}

// ", 2617", " and 7230", ", or 2617": what leads to the next item of a list.
bool NextListItem(TScan& s)
{
    std::size_t start = s.pos;
    bool comma = s.Word(",");
    s.Blanks();
    bool joined = s.Word("and") || s.Word("or") || s.Word("&");
    if ((!comma && !joined) || (joined && s.Blanks() == 0)) {
        s.pos = start;
        return false;
    }
    return true;
}

class TFinder {
public:
    explicit TFinder(std::string_view line) : s_{line} {}

    std::vector<TReference> Run()
    {
        // Only a word's first letter (or a bracket) can start a reference, and
        // that letter says which one: most of a line is passed over unread.
        HeaderNumbers();
        while (!s_.AtEnd()) {
            std::size_t before = s_.pos;
            char c = s_.Peek();
            bool found = false;
            if (c == '[') {
                found = Rfc() || Citation();
            } else if (s_.AtWordStart()) {
                switch (c) {
                case 'h': found = Url(); break;
                case 'R': found = Rfc(); break;
                case 'S':
                case 's': found = Sections("Section", false); break;
                case 'A':
                case 'a': found = Sections("Appendix", true); break;
                default: break;
                }
            }
            if (!found) s_.pos = before + 1;
        }
        return std::move(found_);
    }

private:
    void Add(std::size_t start, TReferenceKind kind, int rfc, std::string section)
    {
        found_.push_back(TReference{start, s_.pos - start, kind, rfc, std::move(section), {}, -1});
    }

    // "Obsoletes: 2068, 2069" in the header block: the numbers alone name RFCs.
    void HeaderNumbers()
    {
        s_.Blanks();
        bool label = false;
        for (std::string_view word : {"Obsoletes:", "Updates:", "Obsoleted by:", "Updated by:"})
            if (s_.Word(word)) {
                label = true;
                break;
            }
        if (!label) {
            s_.pos = 0;
            return;
        }
        s_.Blanks();
        for (;;) {
            std::size_t start = s_.pos;
            int number = ReadRfcNumber(s_);
            if (number == 0) break;
            Add(start, TReferenceKind::Rfc, number, "");
            std::size_t afterNumber = s_.pos;
            s_.Word(",");
            // Two blanks part the header's columns.
            if (s_.Blanks() > 1 || !IsDigit(s_.Peek())) {
                s_.pos = afterNumber;
                if (!NextListItem(s_)) break;
            }
        }
    }

    // "[33]", "[HTTP]", "[I-D.ietf-x]": a tag of letters, digits and "._-".
    bool Citation()
    {
        constexpr std::size_t kMaxTag = 40;
        std::size_t start = s_.pos;
        if (!s_.AtWordStart()) return false;
        ++s_.pos;
        while (!s_.AtEnd() && s_.pos - start <= kMaxTag &&
               (IsAlnum(s_.Peek()) || s_.Peek() == '.' || s_.Peek() == '_' || s_.Peek() == '-'))
            ++s_.pos;
        if (s_.pos == start + 1 || !s_.Word("]") || !IsAlnum(s_.text[start + 1])) {
            s_.pos = start;
            return false;
        }
        Add(start, TReferenceKind::Citation, 0, "");
        found_.back().Tag = std::string(s_.text.substr(start + 1, s_.pos - start - 2));
        return true;
    }

    bool Url()
    {
        std::size_t start = s_.pos;
        if (!s_.AtWordStart() || !(s_.Word("http://") || s_.Word("https://"))) return false;
        std::size_t hostStart = s_.pos;
        while (!s_.AtEnd()) {
            unsigned char c = static_cast<unsigned char>(s_.Peek());
            if (c <= ' ' || c >= 0x7F || c == '<' || c == '>' || c == '"') break;
            ++s_.pos;
        }
        // Closing punctuation belongs to the sentence; a bracket stays when
        // the address opened one itself. The balance is counted once, so an
        // address of a million ")" is still one pass.
        std::string_view url = s_.text.substr(start, s_.pos - start);
        long parens = std::count(url.begin(), url.end(), ')') - std::count(url.begin(), url.end(), '(');
        long brackets = std::count(url.begin(), url.end(), ']') - std::count(url.begin(), url.end(), '[');
        while (s_.pos > hostStart) {
            char last = s_.text[s_.pos - 1];
            if (last == ')' && parens > 0) {
                --parens;
            } else if (last == ']' && brackets > 0) {
                --brackets;
            } else if (last == '(' || last == '[' || std::string_view(".,;:!?'").find(last) == std::string_view::npos) {
                break;
            }
            --s_.pos;
        }
        if (s_.pos == hostStart) {
            s_.pos = start;
            return false;
        }
        Add(start, TReferenceKind::Url, 0, "");
        return true;
    }

    bool Rfc()
    {
        std::optional<TRfcToken> token = ReadRfcToken(s_);
        if (!token) return false;
        // "RFC 7230, Section 4" and "[RFC7230] Section 4": one span.
        std::size_t afterToken = s_.pos;
        s_.Word(",");
        s_.Blanks();
        const bool section = s_.Word("Section", true);
        if (!token->Plural && (section || s_.Word("Appendix", true))) {
            if (s_.Blanks() > 0) {
                if (std::optional<std::string> number = ReadSectionNumber(s_, !section)) {
                    Add(token->Start, TReferenceKind::RfcSection, token->Number, *number);
                    return true;
                }
            }
        }
        s_.pos = afterToken;
        const bool bracket = s_.text[token->Start] == '[';
        Add(token->Start, bracket ? TReferenceKind::Citation : TReferenceKind::Rfc, token->Number, "");
        if (bracket) found_.back().Tag = std::string(s_.text.substr(token->Start + 1, afterToken - token->Start - 2));
        if (!token->Plural) return true;
        for (;;) {
            std::size_t beforeItem = s_.pos;
            if (!NextListItem(s_)) break;
            std::size_t itemStart = s_.pos;
            int number = ReadRfcNumber(s_);
            if (number == 0) {
                s_.pos = beforeItem;
                break;
            }
            Add(itemStart, TReferenceKind::Rfc, number, "");
        }
        return true;
    }

    // "Section 3.2", "Sections 3 and 4", "Appendix B", with an optional
    // " of [RFC7230]" that moves every number of the list to that RFC.
    bool Sections(std::string_view keyword, bool letterOnly)
    {
        std::size_t start = s_.pos;
        if (!s_.AtWordStart() || !s_.Word(keyword, true)) return false;
        bool plural = s_.Word("s");
        if (s_.Blanks() == 0) {
            s_.pos = start;
            return false;
        }
        std::optional<std::string> first = ReadSectionNumber(s_, letterOnly);
        if (!first) {
            s_.pos = start;
            return false;
        }
        std::size_t firstAt = found_.size();
        Add(start, TReferenceKind::Section, 0, *first);
        while (plural) {
            std::size_t beforeItem = s_.pos;
            if (!NextListItem(s_)) break;
            std::size_t itemStart = s_.pos;
            std::optional<std::string> next = ReadSectionNumber(s_, letterOnly);
            if (!next) {
                s_.pos = beforeItem;
                break;
            }
            Add(itemStart, TReferenceKind::Section, 0, *next);
        }
        OfAnotherDocument(firstAt);
        return true;
    }

    // " of RFC 7230" / " of [RFC7230]" after a list of sections found_[from..].
    void OfAnotherDocument(std::size_t from)
    {
        std::size_t afterList = s_.pos;
        if (s_.Blanks() == 0 || !s_.Word("of") || s_.Blanks() == 0) {
            s_.pos = afterList;
            return;
        }
        if (std::optional<TRfcToken> token = ReadRfcToken(s_)) {
            for (std::size_t k = from; k < found_.size(); ++k) {
                found_[k].Kind = TReferenceKind::RfcSection;
                found_[k].Rfc = token->Number;
            }
            found_.back().Length = s_.pos - found_.back().Offset;
            return;
        }
        // A tag that names some other document: its section is not ours.
        if (s_.Peek() == '[') found_.resize(from);
        s_.pos = afterList;
    }

    TScan s_;
    std::vector<TReference> found_;
};

} // namespace

std::vector<TReference> FindReferences(std::string_view line) { return TFinder(line).Run(); }

std::vector<TDocumentLink> DocumentLinks(std::span<const std::string_view> lines,
                                         std::span<const TContentsEntry> contents, int ownNumber)
{
    // Where each tag's entry starts: the last line that begins with it.
    std::vector<std::pair<std::string_view, int>> entries;
    for (std::size_t line = 0; line < lines.size(); ++line) {
        std::string_view text = lines[line];
        const std::size_t open = text.find_first_not_of(" \t");
        if (open == std::string_view::npos || text[open] != '[') continue;
        const std::size_t close = text.find(']', open);
        if (close == std::string_view::npos ||
            (close + 1 < text.size() && text[close + 1] != ' ' && text[close + 1] != '\t'))
            continue;
        entries.emplace_back(text.substr(open + 1, close - open - 1), int(line));
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto entryOf = [&](const std::string& tag) {
        auto after = std::upper_bound(entries.begin(), entries.end(), std::string_view(tag),
                                      [](std::string_view t, const auto& e) { return t < e.first; });
        return after != entries.begin() && (after - 1)->first == tag ? (after - 1)->second : -1;
    };

    std::vector<TDocumentLink> links;
    std::size_t nextEntry = 0;
    for (std::size_t line = 0; line < lines.size(); ++line) {
        const std::string_view text = lines[line];
        if (nextEntry < contents.size() && contents[nextEntry].Line == int(line)) {
            const std::size_t first = text.find_first_not_of(" \t");
            const std::size_t last = text.find_last_not_of(" \t");
            TReference r{first, last + 1 - first, TReferenceKind::Section, 0, contents[nextEntry].Number, {}, -1};
            links.push_back({int(line), std::move(r)});
            ++nextEntry;
            continue;
        }
        const bool header = line > 0 && !lines[line - 1].empty() && lines[line - 1][0] == '\f';
        for (TReference& r : FindReferences(text)) {
            if (header && r.Kind == TReferenceKind::Rfc && r.Rfc == ownNumber) continue;
            if (r.Kind == TReferenceKind::Citation) {
                r.EntryLine = entryOf(r.Tag);
                const bool ownLabel = r.EntryLine == int(line) && text.find_first_not_of(" \t") == r.Offset;
                if (ownLabel || r.EntryLine < 0) {
                    if (r.Rfc == 0) continue;
                    r.Kind = TReferenceKind::Rfc;
                    r.Tag.clear();
                    r.EntryLine = -1;
                }
            }
            links.push_back({int(line), std::move(r)});
        }
    }
    return links;
}
