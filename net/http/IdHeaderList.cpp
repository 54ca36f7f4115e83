#include "net/http/IdHeaderList.h"

#include <algorithm>
#include <string_view>

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

const std::string kLineBreak = "\r\n";

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool IsBreakChar(char c) { return c == ' ' || c == '\t' || c == ','; }

bool IsSkippedAfterBreak(char c) { return IsBreakChar(c) || c == '\r' || c == '\n'; }

bool CrLfAt(const std::string& text, size_t pos)
{
    return pos + 1 < text.size() && text[pos] == '\r' && text[pos + 1] == '\n';
}

// Wraps text into lines of at most width bytes where a break point allows
// it, joined by CR LF + space. Columns count bytes: a line limit is about
// octets on the wire, and since break points are ASCII a multi-byte UTF-8
// character is never cut. Each byte is looked at no more than twice.
std::string WrapText(const std::string& text, int width)
{
    const size_t n = text.size();
    const size_t limit = width > 0 ? size_t(width) : 1;
    std::string out;
    out.reserve(n + n / limit * 3 + 8);

    size_t lineStart = 0;                // first byte of the current line in text
    size_t prefix = 0;                   // 1 on continuation lines: the space we added
    size_t mark = std::string::npos;     // last break point of the line
    size_t prevMark = std::string::npos; // the one before it
    bool quoted = false;
    size_t pos = 0;
    while (pos < n) {
        const char c = text[pos];
        if (CrLfAt(text, pos)) {
            // A line end already present ends the line; no break is added.
            out.append(text, lineStart, pos + 2 - lineStart);
            pos += 2;
            lineStart = pos;
            prefix = 0;
            mark = prevMark = std::string::npos;
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && IsBreakChar(c)) {
            prevMark = mark;
            mark = pos;
        }
        ++pos;
        const size_t lineLength = prefix + pos - lineStart;
        if (quoted || lineLength <= limit || mark == std::string::npos) continue;

        // A comma can't be dropped like a trailing blank, so a comma in the
        // column just past the limit gives way to the break point before it.
        size_t at = mark;
        if (at == pos - 1 && text[at] == ',' && prevMark != std::string::npos) at = prevMark;
        size_t next = at + 1;
        while (next < n && IsSkippedAfterBreak(text[next])) ++next;
        if (next >= n) break; // only break characters left: nothing to carry over
        out.append(text, lineStart, at + 1 - lineStart);
        out += "\r\n ";
        pos = lineStart = next;
        prefix = 1;
        mark = prevMark = std::string::npos;
        quoted = false; // a break point always lies outside quotes
    }
    out.append(text, lineStart, std::string::npos);
    return out;
}

} // namespace

void TIdHeaderList::AssignLines(const TStringList& source)
{
    if (&source == this) return;
    static_cast<TStringList&>(*this) = source;
}

size_t TIdHeaderList::SeparatorPos(const std::string& line) const
{
    const std::string_view sep = TrimRightBlanks(separator_);
    if (sep.empty() || sep.size() > line.size()) return std::string::npos;
    // Upper-casing the line only matters when the separator holds a letter.
    const bool upper = !namesCaseSensitive_ && std::any_of(sep.begin(), sep.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    if (!upper) return std::string_view(line).find(sep);
    // Equivalent to searching an upper-cased copy of the line, without making one.
    for (size_t i = 0; i + sep.size() <= line.size(); ++i) {
        size_t k = 0;
        while (k < sep.size() && UpperCaseChar(line[i + k]) == sep[k]) ++k;
        if (k == sep.size()) return i;
    }
    return std::string::npos;
}

bool TIdHeaderList::NameMatches(int index, const std::string& name) const
{
    const std::string& line = Strings(index);
    // The cheap test first: most lines differ in their first bytes.
    if (line.size() < name.size() || !SameText(std::string_view(line).substr(0, name.size()), name)) return false;
    const size_t p = SeparatorPos(line);
    return (p == std::string::npos ? 0 : p) == name.size();
}

std::string TIdHeaderList::NameAt(int index) const
{
    const std::string& line = Strings(index);
    const size_t p = SeparatorPos(line);
    if (p == std::string::npos) return std::string();
    std::string name = line.substr(0, p);
    return namesCaseSensitive_ ? name : UpperCase(name);
}

std::string TIdHeaderList::ValueAt(int index) const
{
    if (index < 0 || index >= Count()) return std::string();
    const std::string_view line = Strings(index);
    const size_t p = SeparatorPos(Strings(index));
    // Skips the name and exactly one byte, the ":" (a line without one
    // loses its first byte).
    const size_t from = (p == std::string::npos ? 0 : p) + 1;
    const std::string_view rest = from < line.size() ? line.substr(from) : std::string_view();
    std::string value(TrimBlanks(rest));
    if (!unfoldOnRead_ || index + 1 >= Count() || !IsContinuation(Strings(index + 1))) return value;
    // Each continuation: trim what we have, one space, the trimmed line.
    for (int i = index + 1; i < Count() && IsContinuation(Strings(i)); ++i) {
        value.erase(TrimRightBlanks(value).size());
        value += ' ';
        value += TrimBlanks(Strings(i));
    }
    return std::string(TrimBlanks(value));
}

int TIdHeaderList::IndexOfHeader(const std::string& name) const
{
    for (int i = 0; i < Count(); ++i) {
        if (NameMatches(i, name)) return i;
    }
    return -1;
}

std::string TIdHeaderList::ValueOf(const std::string& name) const { return ValueAt(IndexOfHeader(name)); }

void TIdHeaderList::SetValueOf(const std::string& name, const std::string& value)
{
    int i = IndexOfHeader(name);
    if (!value.empty()) {
        if (i < 0) i = Add(std::string());
        if (foldOnWrite_) {
            DropContinuations(i);
            ReplaceFolded(name + separator_ + value, i);
        } else {
            (*this)[i] = name + separator_ + value;
        }
    } else if (i >= 0) {
        if (foldOnWrite_) DropContinuations(i);
        Delete(i);
    }
}

void TIdHeaderList::CollectValues(const std::string& name, TStringList* destination) const
{
    if (destination == nullptr) return;
    for (int i = 0; i < Count(); ++i) {
        if (NameMatches(i, name)) destination->Add(ValueAt(i));
    }
}

TStringList TIdHeaderList::FoldText(const std::string& text) const
{
    const std::string wrapped = WrapText(text, foldWidth_);
    TStringList pieces;
    size_t start = 0;
    while (start < wrapped.size()) {
        size_t end = wrapped.find(kLineBreak, start);
        if (end == std::string::npos) end = wrapped.size();
        const std::string_view piece = std::string_view(wrapped).substr(start, end - start);
        std::string_view kept = TrimRightBlanks(piece);
        // A continuation keeps its leading space even when nothing else is
        // left of it: an empty line would end the header there.
        if (kept.empty() && piece.starts_with(' ')) kept = piece.substr(0, 1);
        pieces.Add(std::string(kept));
        start = end + kLineBreak.size();
    }
    return pieces;
}

void TIdHeaderList::ReplaceFolded(const std::string& text, int index)
{
    const TStringList pieces = FoldText(text);
    if (pieces.Count() == 0) {
        (*this)[index] = std::string();
        return;
    }
    (*this)[index] = pieces[pieces.Count() - 1];
    for (int k = pieces.Count() - 2; k >= 0; --k) Insert(index, pieces[k]);
}

void TIdHeaderList::DropContinuations(int index)
{
    while (index + 1 < Count() && IsContinuation(Strings(index + 1))) Delete(index + 1);
}
