#include "app/DocumentOutline.h"

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Longer lines are body text, not titles (RFC lines stop at 72 columns).
constexpr std::size_t kMaxNumberedTitle = 72;
constexpr std::size_t kMaxPlainTitle = 60;
constexpr int kMaxPlainWords = 8;
constexpr int kMaxLevel = 9;
// How far a page footer may sit above its form feed, blank lines included.
constexpr int kFooterReach = 4;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsAlnum(char c) { return IsDigit(c) || IsUpper(c) || (c >= 'a' && c <= 'z'); }
bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool EndsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The lines as the heading rules read them: without the byte-order mark,
// form feeds or trailing blanks, with the indentation measured.
struct TLine {
    std::string_view Text; // from the first non-blank character
    int Indent = 0;
    bool HasFormFeed = false;
    bool Blank() const { return Text.empty(); }
};

TLine Prepare(std::string_view raw, bool first)
{
    if (first && StartsWith(raw, kByteOrderMark)) raw.remove_prefix(kByteOrderMark.size());
    TLine line;
    line.HasFormFeed = raw.find('\f') != std::string_view::npos;
    std::size_t pos = 0;
    int column = 0;
    for (; pos < raw.size() && IsBlank(raw[pos]); ++pos) {
        if (raw[pos] == ' ')
            ++column;
        else if (raw[pos] == '\t')
            column = (column / 8 + 1) * 8;
    }
    line.Text = TrimRightBlanks(raw.substr(pos));
    line.Indent = column;
    return line;
}

// "... [Page 12]" and "RFC 2616   HTTP/1.1   June 1999": furniture even where a
// copy has lost its form feeds.
bool LooksLikePageFurniture(std::string_view text)
{
    if (EndsWith(text, "]")) {
        std::size_t open = text.rfind("[Page ");
        if (open != std::string_view::npos) return true;
    }
    return StartsWith(text, "RFC ") && text.find("   ") != std::string_view::npos;
}

// Marks the page headers and footers: the first text after a form feed and
// the last text before one, wherever they start.
std::vector<bool> PageFurniture(const std::vector<TLine>& lines)
{
    std::vector<bool> furniture(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].Blank() && LooksLikePageFurniture(lines[i].Text)) furniture[i] = true;
        if (!lines[i].HasFormFeed) continue;
        if (!lines[i].Blank()) {
            furniture[i] = true;
        } else {
            std::size_t next = i + 1;
            while (next < lines.size() && lines[next].Blank() && !lines[next].HasFormFeed) ++next;
            if (next < lines.size() && !lines[next].HasFormFeed) furniture[next] = true;
        }
        for (std::size_t back = i, steps = 0; back > 0 && steps < kFooterReach; ++steps) {
            --back;
            if (lines[back].HasFormFeed) break;
            if (!lines[back].Blank()) {
                furniture[back] = true;
                break;
            }
        }
    }
    return furniture;
}

// A line of the document's own table of contents: a dotted leader, or a page
// number (Arabic or lower-case Roman) after two blanks or a leader's period
// ("Purpose.....7", "Scope .7"; not "Changes from HTTP/1.0").
bool LooksLikeContentsLine(std::string_view text)
{
    if (text.find("...") != std::string_view::npos || text.find(". . .") != std::string_view::npos) return true;
    std::size_t end = text.size();
    while (end > 0 &&
           (IsDigit(text[end - 1]) || std::string_view("ivxlc").find(text[end - 1]) != std::string_view::npos))
        --end;
    if (end == text.size() || end == 0) return false;
    std::string_view rest = text.substr(0, end);
    return EndsWith(rest, "  ") || EndsWith(rest, "..") || EndsWith(rest, " .");
}

// Reads "12" or "12.3.4" (components of up to three digits) at pos.
bool ReadDottedDigits(std::string_view text, std::size_t& pos, std::string& number)
{
    std::size_t start = pos;
    for (;;) {
        std::size_t digits = 0;
        while (pos < text.size() && IsDigit(text[pos]) && digits < 4) ++pos, ++digits;
        if (digits == 0 || digits > 3) {
            pos = start;
            return false;
        }
        if (pos + 1 < text.size() && text[pos] == '.' && IsDigit(text[pos + 1])) {
            ++pos;
            continue;
        }
        number.append(text.substr(start, pos - start));
        return true;
    }
}

// Splits "3.10.7.4.  Title", "A.1  Title" or "Appendix B.  Title" into number
// and title. False when the line does not start with a section number
// followed by a blank and some text.
bool SplitNumbered(std::string_view text, std::string& number, std::string_view& title)
{
    number.clear();
    std::size_t pos = 0;
    bool needsBlank = true;
    if (StartsWith(text, "Appendix ") || StartsWith(text, "APPENDIX ")) {
        pos = 9;
        if (pos >= text.size() || !IsUpper(text[pos])) return false;
        number.push_back(text[pos++]);
        if (pos + 1 < text.size() && text[pos] == '.' && IsDigit(text[pos + 1])) {
            ++pos;
            number.push_back('.');
            if (!ReadDottedDigits(text, pos, number)) return false;
        }
        if (pos < text.size() && (text[pos] == '.' || text[pos] == ':')) ++pos;
        if (pos < text.size() && IsAlnum(text[pos])) return false;
        needsBlank = false; // "Appendix A" alone is a heading
    } else if (IsUpper(text[0])) {
        // "A." or "A.1" but never a bare "A": that starts a sentence.
        if (text.size() < 3 || text[1] != '.') return false;
        number.push_back(text[0]);
        pos = 2;
        if (IsDigit(text[pos])) {
            number.push_back('.');
            if (!ReadDottedDigits(text, pos, number)) return false;
            if (pos < text.size() && text[pos] == '.') ++pos;
        }
    } else {
        if (!ReadDottedDigits(text, pos, number)) return false;
        if (pos < text.size() && text[pos] == '.') ++pos;
    }
    if (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') return false;
    title = TrimBlanks(text.substr(pos));
    if (!needsBlank) {
        while (!title.empty() && (title[0] == '-' || title[0] == ':')) title = TrimLeftBlanks(title.substr(1));
        return true;
    }
    return !title.empty();
}

int LevelOf(const std::string& number) { return 1 + int(std::count(number.begin(), number.end(), '.')); }

bool EndsLikeSentence(std::string_view title)
{
    return !title.empty() && std::string_view(".,;").find(title.back()) != std::string_view::npos;
}

// Unnumbered headings: a few capitalised words, without the colon of a label
// ("Note:"), the punctuation of code or prose, or the wide gaps of a two-column
// header.
bool LooksLikePlainTitle(std::string_view text)
{
    if (text.size() > kMaxPlainTitle || !IsUpper(text[0])) return false;
    if (text.find(':') != std::string_view::npos || text.find("  ") != std::string_view::npos) return false;
    if (std::string_view(".,;({[=").find(text.back()) != std::string_view::npos) return false;
    if (StartsWith(text, "RFC ") || StartsWith(text, "RFC#") || StartsWith(text, "Figure ")) return false;
    for (char c : text)
        if (std::string_view("\";{}=<>|*").find(c) != std::string_view::npos) return false;
    return std::count(text.begin(), text.end(), ' ') < kMaxPlainWords;
}

// Front and back matter that stays at the top level wherever it appears.
bool IsTopLevelMatter(std::string_view title)
{
    static constexpr std::array<std::string_view, 17> kWords = {
        "Abstract",   "Status",       "Copyright", "Table",   "Acknowledg", "References",
        "Normative",  "Informative",  "Author",    "Index",   "Full",       "Intellectual",
        "Appendices", "Contributors", "Editor",    "Preface", "Security"};
    for (std::string_view word : kWords)
        if (title.size() >= word.size() && SameText(title.substr(0, word.size()), word)) return true;
    return false;
}

class TOutliner {
public:
    explicit TOutliner(std::span<const std::string_view> raw)
    {
        lines_.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) lines_.push_back(Prepare(raw[i], i == 0));
        furniture_ = PageFurniture(lines_);
        FindMargin();
    }

    std::vector<THeading> Run()
    {
        std::vector<THeading> headings;
        int lastNumberedLevel = 0;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (!AtMargin(i) || !AfterBreak(i, headings)) continue;
            THeading heading;
            if (Numbered(i, heading)) {
                lastNumberedLevel = heading.Level;
            } else if (Plain(i, heading)) {
                heading.Level = IsTopLevelMatter(heading.Title) ? 1 : std::min(lastNumberedLevel + 1, kMaxLevel);
                if (heading.Level == 1) lastNumberedLevel = 0;
            } else {
                continue;
            }
            headings.push_back(std::move(heading));
        }
        return headings;
    }

private:
    bool Text(std::size_t i) const { return i < lines_.size() && !lines_[i].Blank() && !furniture_[i]; }
    bool Gap(std::size_t i) const { return i >= lines_.size() || lines_[i].Blank() || furniture_[i]; }
    bool AtMargin(std::size_t i) const { return Text(i) && lines_[i].Indent == margin_; }

    // The smallest indentation of any text: most RFCs start at column 0, a few
    // old ones indent the whole page.
    void FindMargin()
    {
        bool any = false;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (!Text(i)) continue;
            margin_ = any ? std::min(margin_, lines_[i].Indent) : lines_[i].Indent;
            any = true;
        }
    }

    // A heading follows a blank line, a page break or the heading just found.
    bool AfterBreak(std::size_t i, const std::vector<THeading>& headings) const
    {
        if (i == 0 || Gap(i - 1)) return true;
        return !headings.empty() && headings.back().Line == int(i - 1);
    }

    bool Numbered(std::size_t i, THeading& heading) const
    {
        std::string_view title;
        if (!SplitNumbered(lines_[i].Text, heading.Number, title)) return false;
        // An item of a list at the margin reads as a sentence; a title does not.
        if (title.size() > kMaxNumberedTitle || LooksLikeContentsLine(title) || EndsLikeSentence(title)) return false;
        if (LevelOf(heading.Number) > kMaxLevel) return false;
        heading.Title = std::string(title);
        heading.Level = LevelOf(heading.Number);
        heading.Line = int(i);
        if (Gap(i + 1)) return true;
        std::string next;
        if (SplitNumbered(lines_[i + 1].Text, next, title) && AtMargin(i + 1)) return true;
        // A long title wraps onto one indented line with a blank after it; a
        // numbered item of body text runs on as a sentence.
        if (lines_[i + 1].Indent > margin_ && Gap(i + 2) && !EndsLikeSentence(lines_[i + 1].Text) &&
            heading.Title.size() + lines_[i + 1].Text.size() < 2 * kMaxNumberedTitle) {
            heading.Title += ' ';
            heading.Title += lines_[i + 1].Text;
            return true;
        }
        return false;
    }

    bool Plain(std::size_t i, THeading& heading) const
    {
        std::string_view text = lines_[i].Text;
        if (!Gap(i + 1) || !LooksLikePlainTitle(text) || LooksLikeContentsLine(text)) return false;
        heading.Number.clear();
        heading.Title = std::string(text);
        heading.Line = int(i);
        return true;
    }

    std::vector<TLine> lines_;
    std::vector<bool> furniture_;
    int margin_ = 0;
};

} // namespace

std::vector<THeading> DocumentOutline(std::span<const std::string_view> lines) { return TOutliner(lines).Run(); }
