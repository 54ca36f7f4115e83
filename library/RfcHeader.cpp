#include "library/RfcHeader.h"

#include "library/LibraryDatabase.h"

#include <climits>
#include <vector>

namespace {

// The header, where the number stands, lies within the first lines of a document.
constexpr int kHeaderLines = 80;
constexpr size_t kHeaderBytes = 16 * 1024;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at text[at...]; 0 when none or out of range. at ends past it.
int DigitsAt(std::string_view text, size_t& at)
{
    long long number = 0;
    const size_t start = at;
    while (at < text.size() && IsDigit(text[at])) {
        number = number * 10 + (text[at] - '0');
        if (number > INT_MAX) return 0;
        ++at;
    }
    return at > start ? int(number) : 0;
}

size_t SkipBlanks(std::string_view text, size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    return at;
}

int RequestForCommentsNumber(std::string_view line)
{
    static constexpr std::string_view kMarker = "Request for Comments:";
    if (!line.starts_with(kMarker)) return 0;
    size_t at = SkipBlanks(line, kMarker.size());
    return DigitsAt(line, at);
}

// "RFC 822", "RFC #  793", "RFC:  791", "RFC# 345  NIC# 10740": the number ends the line or the left column.
int OldStyleNumber(std::string_view line)
{
    if (!line.starts_with("RFC")) return 0;
    size_t at = SkipBlanks(line, 3);
    if (at < line.size() && (line[at] == '#' || line[at] == ':')) at = SkipBlanks(line, at + 1);
    if (at == 3) return 0; // "RFC822" is how the text names another document, not a header
    const int number = DigitsAt(line, at);
    if (number == 0) return 0;
    const bool columnEnds = SkipBlanks(line, at) == line.size() || line.substr(at).starts_with("  ");
    return columnEnds ? number : 0;
}

std::vector<std::string_view> HeaderLines(std::string_view text)
{
    text = text.substr(0, kHeaderBytes);
    std::vector<std::string_view> lines;
    for (size_t at = 0; at <= text.size() && int(lines.size()) < kHeaderLines;) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

} // namespace

int HeaderRfcNumber(std::string_view text)
{
    const std::vector<std::string_view> lines = HeaderLines(text);
    // The usual header line wins wherever it stands; the older forms only count without one.
    for (std::string_view line : lines)
        if (const int number = RequestForCommentsNumber(line.substr(SkipBlanks(line, 0)))) return number;
    for (std::string_view line : lines)
        if (const int number = OldStyleNumber(line.substr(SkipBlanks(line, 0)))) return number;
    return 0;
}

int NumberFromUrl(std::string_view urlFormat, std::string_view url)
{
    const size_t hole = urlFormat.find("%s");
    if (hole == std::string_view::npos || urlFormat.find("%s", hole + 2) != std::string_view::npos) return 0;
    const std::string_view prefix = urlFormat.substr(0, hole), suffix = urlFormat.substr(hole + 2);
    if (url.size() <= prefix.size() + suffix.size() || !url.starts_with(prefix) || !url.ends_with(suffix)) return 0;
    const std::string_view digits = url.substr(prefix.size(), url.size() - prefix.size() - suffix.size());
    size_t at = 0;
    const int number = DigitsAt(digits, at);
    return at == digits.size() ? number : 0;
}

void RefileUnnumberedDocuments(TLibraryDatabase& database)
{
    TSqlStatement unnumbered(database, "SELECT id, substr(body, 1, 16384) FROM document WHERE number = 0");
    TSqlStatement refile(database, "UPDATE document SET number = ?2 WHERE id = ?1");
    std::vector<std::pair<int64_t, int>> found;
    while (unnumbered.Step())
        if (const int number = HeaderRfcNumber(unnumbered.TextView(1)))
            found.emplace_back(unnumbered.Integer(0), number);
    for (const auto& [id, number] : found) {
        refile.Bind(1, id).Bind(2, number).Step();
        refile.Reset();
    }
}
