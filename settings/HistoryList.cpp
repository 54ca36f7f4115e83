#include "settings/HistoryList.h"

#include <charconv>
#include <chrono>
#include <unordered_map>

#include "platform/SysUtils.h"
#include "settings/IniFile.h"

namespace {

const char kSection[] = "rfcs";
const char kSentinel[] = "INVAL";

// A missing key reads as the sentinel, so both end the run.
std::vector<std::string> ReadRun(const TIniFile& ini, const char* keyFormat)
{
    std::vector<std::string> values;
    for (int k = 1;; ++k) {
        std::string value = ini.ReadString(kSection, Format(keyFormat, k), kSentinel);
        if (value == kSentinel) return values;
        values.push_back(std::move(value));
    }
}

int64_t ReadTime(const TIniFile& ini, std::size_t index)
{
    const std::string text = ini.ReadString(kSection, Format("T%2.2d", int(index) + 1), "");
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value > 0 ? value : 0;
}

// "N", "U" or "T" followed by digits only.
bool IsHistoryKey(std::string_view key)
{
    if (key.size() < 2 ||
        (key[0] != 'N' && key[0] != 'U' && key[0] != 'T' && key[0] != 'n' && key[0] != 'u' && key[0] != 't'))
        return false;
    for (char c : key.substr(1))
        if (c < '0' || c > '9') return false;
    return true;
}

using TByUrl = std::unordered_map<std::string, const THistoryItem*>;

// The first item of each URL.
TByUrl IndexByUrl(const std::vector<THistoryItem>& items)
{
    TByUrl index;
    for (const THistoryItem& item : items) index.try_emplace(item.Url, &item);
    return index;
}

// Whether item stays: not removed by the other run since the start unless used since.
bool Survives(const THistoryItem& item, const TByUrl& start, const TByUrl& other)
{
    const auto atStart = start.find(item.Url);
    if (atStart == start.end() || other.count(item.Url) != 0) return true;
    return item.LastUsed > atStart->second->LastUsed;
}

} // namespace

THistoryRead ReadHistory(const TIniFile& ini)
{
    THistoryRead result;
    const std::vector<std::string> entries = ReadRun(ini, "N%2.2d");
    if (!entries.empty()) result.FirstEntry = entries[0];
    const std::vector<std::string> urls = ReadRun(ini, "U%2.2d");
    if (entries.size() != urls.size()) {
        result.Damaged = true;
        return result;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) result.Items.push_back({entries[i], urls[i], ReadTime(ini, i)});
    return result;
}

void WriteHistory(TIniFile& ini, const std::vector<THistoryItem>& items)
{
    ini.EraseKeys(kSection, IsHistoryKey);
    for (std::size_t k = 0; k < items.size(); ++k)
        ini.WriteString(kSection, Format("N%2.2d", int(k) + 1), items[k].Entry);
    for (std::size_t k = 0; k < items.size(); ++k)
        ini.WriteString(kSection, Format("U%2.2d", int(k) + 1), items[k].Url);
    for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].LastUsed > 0)
            ini.WriteString(kSection, Format("T%2.2d", int(k) + 1), std::to_string(items[k].LastUsed));
}

int64_t HistoryNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<THistoryItem> MergeHistory(const std::vector<THistoryItem>& start, const std::vector<THistoryItem>& mine,
                                       const std::vector<THistoryItem>& theirs, std::size_t cap)
{
    const TByUrl startIndex = IndexByUrl(start), mineIndex = IndexByUrl(mine), theirIndex = IndexByUrl(theirs);
    // Each side keeps the items that survive and that the other side does not hold used later.
    const auto keep = [&](const std::vector<THistoryItem>& side, const TByUrl& own, const TByUrl& other,
                          bool winsTies) {
        std::vector<const THistoryItem*> kept;
        for (const THistoryItem& item : side) {
            if (own.at(item.Url) != &item || !Survives(item, startIndex, other)) continue;
            const auto there = other.find(item.Url);
            if (there != other.end() &&
                (there->second->LastUsed > item.LastUsed || (there->second->LastUsed == item.LastUsed && !winsTies)))
                continue;
            kept.push_back(&item);
        }
        return kept;
    };
    const std::vector<const THistoryItem*> a = keep(mine, mineIndex, theirIndex, true);
    const std::vector<const THistoryItem*> b = keep(theirs, theirIndex, mineIndex, false);
    // The merge step of a merge sort: each side's own order stays, this run's item first on a tie.
    std::vector<THistoryItem> merged;
    std::size_t i = 0, j = 0;
    while (merged.size() < cap && (i < a.size() || j < b.size())) {
        const bool takeMine = j == b.size() || (i < a.size() && a[i]->LastUsed >= b[j]->LastUsed);
        merged.push_back(takeMine ? *a[i++] : *b[j++]);
    }
    return merged;
}
