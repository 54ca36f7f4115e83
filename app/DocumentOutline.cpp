// A plain-text RFC's headings and contents found from its own layout.
#include "app/DocumentOutline.h"

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Longer lines are body text, not titles (RFC lines stop at 72 columns).
constexpr std::size_t kMaxNumberedTitle = 72;
constexpr std::size_t kMaxPlainTitle = 60;
constexpr int kMaxPlainWords = 8;
constexpr int kMaxLevel = 9;
// How far a page footer may sit above its form feed, blank lines included.
constexpr int kFooterReach = 4;
// The most lines a page header or footer runs to.
constexpr int kFurnitureBlock = 3;
// How far in from the margin indented headings may stand.
constexpr int kMaxHeadingIndent = 8;
// A centred line's halves may differ by this many columns.
constexpr int kCentreSlack = 3;
// A table of contents whose end is not found this many lines after its title has none.
constexpr std::size_t kMaxContentsLines = 3000;

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

// Marks the page headers and footers: every line of the block after a form
// feed and of the block before one (old documents run two or three lines of
// header), wherever they start.
std::vector<bool> PageFurniture(const std::vector<TLine>& lines)
{
    std::vector<bool> furniture(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].Blank() && LooksLikePageFurniture(lines[i].Text)) furniture[i] = true;
        if (!lines[i].HasFormFeed) continue;
        std::size_t next = i;
        if (lines[i].Blank()) {
            ++next;
            while (next < lines.size() && lines[next].Blank() && !lines[next].HasFormFeed) ++next;
        }
        for (int k = 0; k < kFurnitureBlock && next < lines.size() && !lines[next].Blank(); ++k, ++next) {
            if (next != i && lines[next].HasFormFeed) break;
            furniture[next] = true;
        }
        std::size_t back = i, steps = 0;
        while (back > 0 && steps < kFooterReach && lines[back - 1].Blank() && !lines[back - 1].HasFormFeed)
            --back, ++steps;
        for (int k = 0; k < kFurnitureBlock && back > 0; ++k) {
            --back;
            if (lines[back].Blank() || lines[back].HasFormFeed) break;
            furniture[back] = true;
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

bool IsRoman(std::string_view text) { return text.find_first_not_of("IVXLC") == std::string_view::npos; }

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
        std::size_t run = pos;
        while (run < text.size() && IsUpper(text[run])) ++run;
        // "APPENDIX II" numbers in Roman; "APPENDIX B" by letter.
        if (run - pos > 1 && run - pos <= 6 && IsRoman(text.substr(pos, run - pos))) {
            number.assign(text.substr(pos, run - pos));
            pos = run;
        } else {
            number.push_back(text[pos++]);
        }
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
        while (!title.empty() && (title[0] == '-' || title[0] == ':' || title[0] == '.'))
            title = TrimLeftBlanks(title.substr(1));
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
        "Abstract",  "Status",       "Copyright", "Table",   "Acknowledg", "References",
        "Normative", "Informative",  "Author",    "Index",   "Full",       "Intellectual",
        "Appendi",   "Contributors", "Editor",    "Preface", "Security"};
    for (std::string_view word : kWords)
        if (title.size() >= word.size() && SameText(title.substr(0, word.size()), word)) return true;
    return false;
}

// The key a table of contents and a heading share: the number and the title
// in upper case, blanks collapsed, without a final period, a dotted leader or
// a page number. "1.1.  Scope ......   1" and "1.1.  SCOPE" give "1.1 SCOPE".
std::string ContentsKey(const std::string& number, std::string_view title)
{
    std::size_t end = title.size();
    bool leader = LooksLikeContentsLine(title);
    if (leader) {
        while (end > 0 && title[end - 1] != ' ' && title[end - 1] != '.') --end; // the page number
        while (end > 0 && (title[end - 1] == ' ' || title[end - 1] == '.')) --end;
    }
    while (end > 0 && (title[end - 1] == '.' || title[end - 1] == ' ')) --end;
    std::string key = number;
    key += ' ';
    bool blank = false;
    for (char c : title.substr(0, end)) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && key.back() != ' ') key += ' ';
        blank = false;
        key += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    return key;
}

// Old documents centre their headings in capitals; a centred line in other
// letters is a title, a name or an example.
bool LooksLikeCentredTitle(std::string_view text)
{
    if (!LooksLikePlainTitle(text)) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return IsUpper(c) || c == ' ' || c == '-' || c == '&'; });
}

bool IsContentsTitle(std::string_view text)
{
    return SameText(text, "Table of Contents") || SameText(text, "Contents");
}

class TOutliner {
public:
    explicit TOutliner(std::span<const std::string_view> raw)
    {
        lines_.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) lines_.push_back(Prepare(raw[i], i == 0));
        furniture_ = PageFurniture(lines_);
        FindMargin();
        width_ = OrdinaryLineWidth(raw);
        ReadContents();
        FindHeadingColumns();
    }

    std::vector<TContentsEntry> TakeContents() { return std::move(entries_); }

    std::vector<THeading> Run()
    {
        std::vector<THeading> headings;
        int lastNumberedLevel = 0;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (InContents(i) || !Text(i) || !AfterBreak(i, headings)) continue;
            THeading heading;
            if ((AtHeadingColumn(i) || CentredHeading(i)) && Numbered(i, heading)) {
                lastNumberedLevel = heading.Level;
            } else if ((AtMargin(i) || CentredHeading(i)) && Plain(i, heading)) {
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
    bool AtHeadingColumn(std::size_t i) const
    {
        const int column = lines_[i].Indent - margin_;
        return column >= 0 && column <= kMaxHeadingIndent && headingColumns_[std::size_t(column)];
    }
    bool InContents(std::size_t i) const { return i > contentsFrom_ && i < contentsTo_; }

    // In the middle of the document's width, well in from the margin.
    bool Centred(std::size_t i) const
    {
        const TLine& line = lines_[i];
        const int left = line.Indent - margin_;
        const int right = width_ - line.Indent - DisplayColumns(line.Text);
        return left > kMaxHeadingIndent && right >= 0 && std::abs(left - right) <= kCentreSlack;
    }

    bool CentredHeading(std::size_t i) const
    {
        return centredHeadings_ && i >= frontPageEnd_ && Centred(i) && CapitalTitle(i);
    }

    // "PREFACE", or "1.  INTRODUCTION" by its title.
    bool CapitalTitle(std::size_t i) const
    {
        std::string number;
        std::string_view title;
        return LooksLikeCentredTitle(SplitNumbered(lines_[i].Text, number, title) ? title : lines_[i].Text);
    }

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

    // The entries of the document's own table of contents, and where it
    // stands: from its title to the line that repeats its first entry. A
    // table without a title is known by its dotted leaders alone.
    void ReadContents()
    {
        std::string firstEntry;
        std::string number;
        std::string_view title;
        // Lines between the title and the end found so far: entries only once the end is found.
        std::vector<std::string> pendingKeys;
        std::vector<TContentsEntry> pendingEntries;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (!Text(i)) continue;
            std::string_view text = lines_[i].Text;
            if (contentsFrom_ == kNone && IsContentsTitle(text)) {
                contentsFrom_ = i;
                continue;
            }
            const bool leader = LooksLikeContentsLine(text);
            const bool numbered = SplitNumbered(text, number, title);
            bool searching = contentsFrom_ != kNone && contentsTo_ == kNone;
            if (searching && i - contentsFrom_ > kMaxContentsLines) {
                contentsTo_ = contentsFrom_; // no end: the title stands alone
                searching = false;
            }
            std::string key;
            if (searching) {
                key = numbered ? ContentsKey(number, title) : ContentsKey("", text);
                if (firstEntry.empty()) {
                    firstEntry = key;
                } else if (key == firstEntry && !leader) {
                    contentsTo_ = i;
                    searching = false;
                    contents_.insert(contents_.end(), pendingKeys.begin(), pendingKeys.end());
                    entries_.insert(entries_.end(), pendingEntries.begin(), pendingEntries.end());
                }
            }
            if (!numbered || (!leader && !searching)) continue;
            if (key.empty()) key = ContentsKey(number, title);
            (leader ? contents_ : pendingKeys).push_back(std::move(key));
            (leader ? entries_ : pendingEntries).push_back({int(i), number});
        }
        if (contentsTo_ == kNone) contentsTo_ = contentsFrom_;
        std::sort(contents_.begin(), contents_.end());
        std::sort(entries_.begin(), entries_.end(),
                  [](const TContentsEntry& a, const TContentsEntry& b) { return a.Line < b.Line; });
    }

    bool Listed(const std::string& number, std::string_view title) const
    {
        return std::binary_search(contents_.begin(), contents_.end(), ContentsKey(number, title));
    }

    // Numbered titles standing alone between blank lines, counted by column;
    // the document's habit decides where headings stand. Its centred lines
    // after the front page say whether it centres headings.
    void FindHeadingColumns()
    {
        std::array<int, kMaxHeadingIndent + 1> numbered{};
        int centred = 0;
        bool frontPage = true;
        std::string number;
        std::string_view title;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].HasFormFeed) frontPage = false;
            if (i == 0 || InContents(i) || !Text(i) || !Gap(i - 1) || !Gap(i + 1)) continue;
            const int column = lines_[i].Indent - margin_;
            const bool numberedTitle = SplitNumbered(lines_[i].Text, number, title) && title.size() <= kMaxPlainTitle &&
                                       !EndsLikeSentence(title) && !LooksLikeContentsLine(title);
            if (numberedTitle && (column <= kMaxHeadingIndent || Centred(i))) frontPage = false;
            if (!frontPage && frontPageEnd_ == kNone) frontPageEnd_ = i;
            if (numberedTitle && column <= kMaxHeadingIndent)
                ++numbered[std::size_t(column)];
            else if (!frontPage && Centred(i) && CapitalTitle(i))
                ++centred;
        }
        headingColumns_[0] = true;
        for (int column = 1; column <= kMaxHeadingIndent; ++column)
            headingColumns_[std::size_t(column)] =
                numbered[std::size_t(column)] >= 3 && 2 * numbered[std::size_t(column)] >= numbered[0];
        centredHeadings_ = centred >= 2;
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
        if (LevelOf(heading.Number) > kMaxLevel || LooksLikeContentsLine(title)) return false;
        heading.Title = std::string(title);
        heading.Level = LevelOf(heading.Number);
        heading.Line = int(i);
        // The document's own contents vouch for a title that reads like a sentence.
        if (Listed(heading.Number, title)) return true;
        // An item of a list at the margin reads as a sentence; a title does not.
        if (title.size() > kMaxNumberedTitle || EndsLikeSentence(title)) return false;
        if (Gap(i + 1)) return true;
        std::string next;
        if (SplitNumbered(lines_[i + 1].Text, next, title) && AtHeadingColumn(i + 1)) return true;
        // A long title wraps onto one indented line with a blank after it; a
        // numbered item of body text runs on as a sentence.
        if (lines_[i + 1].Indent > lines_[i].Indent && Gap(i + 2) && !EndsLikeSentence(lines_[i + 1].Text) &&
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

    static constexpr std::size_t kNone = std::size_t(-1);
    std::vector<TLine> lines_;
    std::vector<bool> furniture_;
    int margin_ = 0;
    int width_ = 0;
    std::vector<std::string> contents_; // sorted keys of the table of contents
    std::vector<TContentsEntry> entries_;
    std::size_t contentsFrom_ = kNone; // the title line, then its entries up to contentsTo_
    std::size_t contentsTo_ = kNone;
    std::array<bool, kMaxHeadingIndent + 1> headingColumns_{};
    bool centredHeadings_ = false;
    std::size_t frontPageEnd_ = kNone; // the first form feed or numbered heading
};

// Wide and fullwidth characters: the CJK blocks, Hangul and the fullwidth forms.
bool IsWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

std::vector<THeading> DocumentOutline(std::span<const std::string_view> lines) { return TOutliner(lines).Run(); }

TDocumentLayout DocumentLayout(std::span<const std::string_view> lines)
{
    TOutliner outliner(lines);
    TDocumentLayout layout;
    layout.Headings = outliner.Run();
    layout.Contents = outliner.TakeContents();
    return layout;
}

int DisplayColumns(std::string_view line)
{
    int columns = 0;
    for (std::size_t i = 0; i < line.size();) {
        const unsigned char byte = static_cast<unsigned char>(line[i]);
        if (byte < 0x80) {
            columns = byte == '\t' ? (columns / 8 + 1) * 8 : columns + (byte >= 0x20 ? 1 : 0);
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = Utf8SequenceLength(line, i, codePoint);
        columns += length != 0 && IsWide(codePoint) ? 2 : 1;
        i += length == 0 ? 1 : length;
    }
    return columns;
}

int OrdinaryLineWidth(std::span<const std::string_view> lines)
{
    // Counted by width, so the cut costs one pass whatever the document's size.
    constexpr int kWidest = 512;
    std::array<std::size_t, kWidest + 1> count{};
    std::size_t total = 0;
    for (std::string_view line : lines) {
        line = TrimRightBlanks(line);
        if (line.empty()) continue;
        ++count[std::size_t(std::min(DisplayColumns(line), kWidest))];
        ++total;
    }
    std::size_t allowed = total / 200; // the widest 0.5 %
    for (int width = kWidest; width > 0; --width) {
        if (count[std::size_t(width)] > allowed) return width;
        allowed -= count[std::size_t(width)];
    }
    return 0;
}
