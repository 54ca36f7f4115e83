#include "net/http/IdGlobal.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

std::string Trim(const std::string& s) { return std::string(TrimBlanks(s)); }

} // namespace

// Network text here is UTF-8 or plain bytes, so there is no lead-byte set to
// honour: UTF-8 never uses a byte below 128 inside a multi-byte character,
// and a search for whole characters cannot match in the middle of one.
// An empty sub is never found; CutToken relies on that to consume its input.
int FindSubText(const std::string& sub, const std::string& text)
{
    if (sub.empty()) return 0;
    const size_t p = text.find(sub);
    return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

std::string CutToken(std::string& input, const std::string& delimiter, bool remove, bool caseSensitive)
{
    const bool nulDelimiter = delimiter.size() == 1 && delimiter[0] == '\0';
    int p;
    if (nulDelimiter) {
        const size_t at = input.find('\0');
        p = at == std::string::npos ? 0 : static_cast<int>(at) + 1;
    } else if (caseSensitive) {
        p = FindSubText(delimiter, input);
    } else {
        p = FindSubText(UpperCase(delimiter), UpperCase(input));
    }

    if (p == 0) {
        std::string result = input;
        if (remove) input.clear();
        return result;
    }
    std::string result = input.substr(0, p - 1);
    if (remove) input.erase(0, p - 1 + delimiter.size());
    return result;
}

int LastPosBefore(const std::string& sub, const std::string& text, int start)
{
    const int subLength = static_cast<int>(sub.size());
    const int textLength = static_cast<int>(text.size());
    if (start == -1) start = textLength;
    if (start >= textLength - subLength + 1) start = textLength - subLength + 1;
    for (int i = start; i >= 1; --i) {
        if (SameText(text.substr(i - 1, subLength), sub)) return i;
    }
    return 0;
}

namespace {

template <typename List>
int IndexInRange(const std::string& text, const List& list, bool caseSensitive)
{
    int index = 0;
    for (const std::string& item : list) {
        if (caseSensitive ? item == text : SameText(item, text)) return index;
        ++index;
    }
    return -1;
}

} // namespace

int IndexInList(const std::string& text, const std::vector<std::string>& list, bool caseSensitive)
{
    return IndexInRange(text, list, caseSensitive);
}

int IndexInList(const std::string& text, const TStringList& list, bool caseSensitive)
{
    return IndexInRange(text, list, caseSensitive);
}

std::string ResolvePath(const std::string& basePath, const std::string& path, char delimiter)
{
    if (!path.empty() && path[0] == delimiter) return path;
    const bool keepTrailing = path.empty() || path.back() == delimiter;

    std::string work = basePath;
    if (!work.empty() && work.back() != delimiter) work += delimiter;
    work += path;

    std::string result;
    for (size_t i = 0; i < work.size(); ++i) {
        const char c = work[i];
        if (c == delimiter) {
            if (i == 0) {
                result.assign(1, delimiter);
            } else if (result.empty() || result.back() != delimiter) {
                result += delimiter;
            }
        } else if (c == '.') {
            const bool parentStep =
                !result.empty() && result.back() == delimiter && i + 1 < work.size() && work[i + 1] == '.';
            if (parentStep) {
                result.pop_back();
                while (!result.empty() && result.back() != delimiter) result.pop_back();
                ++i;
            } else {
                result += c;
            }
        } else {
            result += c;
        }
    }

    if (result.size() != 1 && !result.empty() && result.back() == delimiter && !keepTrailing) result.pop_back();
    return result;
}

// See FindSubText: a backslash byte is always a backslash in UTF-8.
void ForwardSlashes(std::string& text) { std::replace(text.begin(), text.end(), '\\', '/'); }

bool LooksLikeIPv4(const std::string& text)
{
    std::string rest = Trim(text);
    for (int i = 0; i < 4; ++i) {
        const int32_t part = StrToIntDef(CutToken(rest, "."), -1);
        if (part < 0 || part > 255) return false;
    }
    return true;
}

bool LooksLikeHostName(const std::string& text)
{
    if (FindSubText(".", text) > 0 && text[0] == '.') return false;
    return !LooksLikeIPv4(text);
}

std::string DomainPart(const std::string& host)
{
    const int p = FindSubText(".", host);
    return p == 0 ? host : host.substr(p - 1);
}

int64_t FindInMemory(const std::string& sub, const void* memory, int64_t size)
{
    if (sub.empty() || size < static_cast<int64_t>(sub.size())) return 0;
    const char* begin = static_cast<const char*>(memory);
    const char* end = begin + size;
    const char* at = std::search(begin, end, sub.begin(), sub.end());
    return at == end ? 0 : (at - begin) + 1;
}
