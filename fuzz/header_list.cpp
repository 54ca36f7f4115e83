// Reads arbitrary lines as a header list through every read operation, then
// sets, folds and removes a header and reads it back.
// Byte 0 picks the list's settings, byte 1 the fold width; the rest is text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdHeaderList.h"
#include "platform/SysUtils.h"

namespace {

void ReadEveryLine(const TIdHeaderList& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const std::string name = list.NameAt(i);
        const std::string value = list.ValueAt(i);
        Check(name.size() <= list[i].size());
        Check(value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back())));
        // The lookups below walk the whole list; a few lines show their rules.
        if (i >= 16) continue;
        // The name of a line finds that line or an earlier one of the same name.
        const int found = list.IndexOfHeader(name);
        Check(found >= 0 && found <= i);
        Check(list.ValueOf(name) == list.ValueAt(found));
        TStringList all;
        list.CollectValues(name, &all);
        Check(all.Count() >= 1 && all[0] == list.ValueAt(found));
    }
}

void CheckFold(const TIdHeaderList& list, const std::string& text)
{
    const TStringList pieces = list.FoldText(text);
    std::string joined;
    for (const std::string& piece : pieces) joined += piece;
    Check(Solid(joined) == Solid(text));

    // Words of single spaces, each shorter than the width, always fit.
    const size_t width = size_t(list.FoldWidth());
    if (width < 4) return;
    std::string words;
    size_t run = 0;
    for (const char c : text) {
        const bool space = static_cast<unsigned char>(c) % 8 == 0 || run + 3 >= width;
        words += space ? ' ' : char('a' + static_cast<unsigned char>(c) % 26);
        run = space ? 0 : run + 1;
    }
    for (const std::string& piece : list.FoldText(words)) Check(piece.size() <= width);
}

void SetAndRemove(TIdHeaderList& list, std::string value)
{
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    if (value.empty()) return;
    const std::string name = "X-Fuzz";
    // Reading skips exactly one byte after the name, so only a separator
    // with one byte before its blanks reads back what was set.
    list.SetSeparator(": ");
    list.SetFoldOnWrite(true);
    list.SetUnfoldOnRead(true);
    const int countBefore = list.Count();
    list.SetValueOf(name, value);
    const int at = list.IndexOfHeader(name);
    Check(at >= 0);
    Check(list[at].starts_with(name));
    Check(Solid(list.ValueOf(name)) == Solid(value));
    const int countSet = list.Count();
    list.SetValueOf(name, "");
    Check(list.Count() < countSet);
    Check(list.Count() <= countBefore);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const uint8_t settings = data[0];
    const int width = data[1] % 128;
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    TIdHeaderList list;
    list.SetNamesCaseSensitive(settings & 1);
    list.SetUnfoldOnRead(settings & 2);
    list.SetFoldOnWrite(settings & 4);
    list.SetFoldWidth(width);
    static const char* const kSeparators[] = {": ", "=", ":", " : "};
    list.SetSeparator(kSeparators[(settings >> 3) & 3]);
    list.SetText(text);
    Check(list.ValueAt(-1).empty() && list.ValueAt(list.Count()).empty());

    ReadEveryLine(list);
    CheckFold(list, text);
    SetAndRemove(list, text);
    ReadEveryLine(list);
    for (int i = 0; i < list.Count(); ++i) list.DropContinuations(i);
    return 0;
}
