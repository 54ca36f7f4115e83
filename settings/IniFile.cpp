#include "settings/IniFile.h"

#include <algorithm>

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

bool IsQuotePair(std::string_view s)
{
    return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
}

std::string Lower(std::string_view s) { return LowerCase(std::string(s)); }

// The section name of a "[name]" line; false for any other line.
bool SectionHeader(std::string_view line, std::string_view& name)
{
    std::string_view s = TrimBlanks(line);
    if (s.empty() || s.front() != '[') return false;
    s.remove_prefix(1);
    name = TrimBlanks(s.substr(0, s.find(']')));
    return true;
}

// Splits a "key=value" line. Blank lines, comments and section headers are no
// key lines, nor is a line without '=' or with an empty key.
bool KeyLine(std::string_view line, std::string_view& key, std::string_view& rawValue)
{
    std::string_view s = TrimBlanks(line);
    if (s.empty() || s.front() == ';' || s.front() == '#' || s.front() == '[') return false;
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return false;
    key = TrimBlanks(s.substr(0, eq));
    rawValue = s.substr(eq + 1);
    return !key.empty();
}

std::string DecodeValue(std::string_view raw)
{
    std::string_view v = TrimBlanks(raw);
    if (IsQuotePair(v)) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string EncodeValue(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    const bool quote = !value.empty() && (TrimBlanks(value).size() != value.size() || IsQuotePair(value));
    return quote ? '"' + value + '"' : value;
}

// The longest prefix of s with at most maxChars UTF-8 characters. A byte that
// does not start a well-formed sequence counts as one character.
std::string Utf8Prefix(std::string_view s, std::size_t maxChars)
{
    std::size_t pos = 0;
    for (std::size_t chars = 0; pos < s.size() && chars < maxChars; ++chars)
        pos += std::max<std::size_t>(1, Utf8SequenceLength(s, pos));
    return std::string(s.substr(0, pos));
}

} // namespace

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName)
{
    std::string bytes;
    unreadable_ = !ini_store::ReadSettingsFile(fileName_, bytes);
    Index(ini_store::Decode(bytes, encoding_));
}

TIniFile::TIniFile(TInMemory, std::string_view text) : inMemory_(true) { Index(text); }

TIniFile::~TIniFile()
{
    try {
        Flush();
    } catch (const std::exception&) {
        // Pending writes at this point mean an exception is unwinding past the
        // accessor (or UpdateFile already failed); that exception is the one
        // the caller must see, and a destructor may not throw.
    }
}

void TIniFile::Index(std::string_view text)
{
    blocks_.assign(1, Block{});
    Section* current = nullptr; // element pointers of the map stay valid
    const std::vector<std::string_view> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // A line's end is what lies between it and the next line.
        const std::size_t end = static_cast<std::size_t>(lines[i].data() - text.data()) + lines[i].size();
        const std::size_t next =
            i + 1 < lines.size() ? static_cast<std::size_t>(lines[i + 1].data() - text.data()) : text.size();
        Line line{std::string(lines[i]), std::string(text.substr(end, next - end))};
        if (i == 0 && !line.end.empty()) newLine_ = line.end;
        std::string_view name, key, raw;
        if (SectionHeader(line.text, name)) {
            current = &sections_[Lower(name)];
            current->blocks.push_back(blocks_.size());
            blocks_.emplace_back();
        } else if (current != nullptr && KeyLine(line.text, key, raw)) {
            // Only the first line of a key counts, in whichever copy of the section.
            current->keys.try_emplace(Lower(key), Place{blocks_.size() - 1, blocks_.back().lines.size()});
        }
        blocks_.back().lines.push_back(std::move(line));
    }
}

const TIniFile::Section* TIniFile::FindSection(const std::string& section) const
{
    const auto found = sections_.find(Lower(section));
    return found == sections_.end() ? nullptr : &found->second;
}

const TIniFile::Line* TIniFile::FindKey(const std::string& section, const std::string& key) const
{
    const Section* s = FindSection(section);
    if (s == nullptr) return nullptr;
    const auto found = s->keys.find(Lower(key));
    return found == s->keys.end() ? nullptr : &blocks_[found->second.block].lines[found->second.line];
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    const Line* line = FindKey(section, key);
    if (line == nullptr) return Utf8Prefix(defaultValue, kMaxValueLength);
    std::string_view k, raw;
    KeyLine(line->text, k, raw);
    return Utf8Prefix(DecodeValue(raw), kMaxValueLength);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    dirty_ = true;
    Section& s = sections_[Lower(section)];
    const auto found = s.keys.find(Lower(key));
    if (found != s.keys.end()) {
        Line& line = blocks_[found->second.block].lines[found->second.line];
        std::string_view k, raw;
        KeyLine(line.text, k, raw);
        line.text = std::string(k) + "=" + EncodeValue(value);
        return;
    }
    if (s.blocks.empty()) {
        s.blocks.push_back(blocks_.size());
        blocks_.push_back(Block{{Line{"[" + section + "]", newLine_}}});
    }
    // After the section's last non-blank line, so blank lines that separate
    // it from the next section stay in between; only blank lines move down,
    // so no indexed key changes its place.
    std::vector<Line>& lines = blocks_[s.blocks.front()].lines;
    std::size_t at = lines.size();
    while (at > 1 && TrimBlanks(lines[at - 1].text).empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key + "=" + EncodeValue(value), newLine_});
    s.keys.emplace(Lower(key), Place{s.blocks.front(), at});
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const
{
    int32_t value = 0;
    return TryStrToInt(ReadString(section, key, ""), value) ? value : defaultValue;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value)
{
    WriteString(section, key, IntToStr(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section)
{
    dirty_ = true;
    const auto found = sections_.find(Lower(section));
    if (found == sections_.end()) return;
    for (std::size_t b : found->second.blocks) {
        blocks_[b].erased = true;
        blocks_[b].lines.clear();
    }
    sections_.erase(found);
}

bool TIniFile::SectionExists(const std::string& section) const
{
    const Section* s = FindSection(section);
    return s != nullptr && !s->blocks.empty();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    return FindKey(section, key) != nullptr;
}

void TIniFile::EraseKeys(const std::string& section, const std::function<bool(std::string_view key)>& erase)
{
    const auto found = sections_.find(Lower(section));
    if (found == sections_.end()) return;
    bool removed = false;
    for (std::size_t b : found->second.blocks) {
        std::vector<Line>& lines = blocks_[b].lines;
        // Line 0 is the section's header.
        for (std::size_t i = lines.size(); i-- > 1;) {
            std::string_view key, raw;
            if (!KeyLine(lines[i].text, key, raw) || !erase(key)) continue;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    if (!removed) return;
    dirty_ = true;
    // Lines moved, so every place in the index is indexed anew.
    const std::string text = Text();
    sections_.clear();
    Index(text);
}

void TIniFile::ForEachValue(const std::function<void(const std::string& section, const std::string& key,
                                                     const std::string& value)>& visit) const
{
    for (std::size_t b = 1; b < blocks_.size(); ++b) {
        const std::vector<Line>& lines = blocks_[b].lines;
        std::string_view name;
        if (lines.empty() || !SectionHeader(lines[0].text, name)) continue;
        const Section* section = FindSection(std::string(name));
        for (std::size_t i = 1; i < lines.size(); ++i) {
            std::string_view key, raw;
            if (!KeyLine(lines[i].text, key, raw)) continue;
            const auto first = section->keys.find(Lower(key));
            if (first == section->keys.end() || first->second.block != b || first->second.line != i) continue;
            visit(std::string(name), std::string(key), DecodeValue(raw));
        }
    }
}

void TIniFile::Retarget(const std::string& fileName)
{
    fileName_ = fileName;
    unreadable_ = false;
    inMemory_ = false;
    dirty_ = true;
}

void TIniFile::UpdateFile() { Flush(); }

std::string TIniFile::Text() const
{
    std::string text;
    const Line* last = nullptr;
    for (const Block& block : blocks_) {
        for (const Line& line : block.lines) {
            // A last line without a line end gets one when lines follow it.
            if (last != nullptr) text += last->end.empty() ? newLine_ : last->end;
            text += line.text;
            last = &line;
        }
    }
    if (last != nullptr) text += last->end;
    return text;
}

void TIniFile::Flush()
{
    if (!dirty_ || inMemory_) {
        dirty_ = false;
        return;
    }
    // A file that exists but could not be read is not replaced by what little
    // this accessor knows of it.
    if (unreadable_) throw EIniFileException(Format("%s に書き込めません", fileName_));
    if (!ini_store::ReplaceFile(fileName_, ini_store::Encode(Text(), encoding_), private_))
        throw EIniFileException(Format("%s に書き込めません", fileName_));
    dirty_ = false;
}
