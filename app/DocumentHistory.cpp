// The history's entries and URLs: loading, saving and the edits the commands make.
#include "app/DocumentHistory.h"

#include "app/DocumentFetch.h"

#include "platform/SysUtils.h"
#include "settings/HistoryList.h"
#include "settings/IniFile.h"

#include <vector>

TDocumentHistory::TLoadResult TDocumentHistory::Load(const TIniFile& ini)
{
    const THistoryRead read = ReadHistory(ini);
    entries_.Clear();
    urls_.Clear();
    lastUsed_.clear();
    for (const THistoryItem& item : read.Items) {
        entries_.Add(item.Entry);
        urls_.Add(item.Url);
        lastUsed_.try_emplace(item.Url, item.LastUsed);
    }
    return {read.FirstEntry, read.Damaged};
}

void TDocumentHistory::Save(TIniFile& ini) const
{
    // A line break cannot be stored in a value (it becomes a blank), a URL
    // changed that way names another file, and other control characters
    // (a NUL above all) would spoil the file: such entries live only for
    // this run.
    std::vector<THistoryItem> kept;
    for (int i = 0; i < urls_.Count(); ++i) {
        if (HasControlCharacter(urls_[i]) || HasControlCharacter(entries_[i])) continue;
        const auto used = lastUsed_.find(urls_[i]);
        kept.push_back({entries_[i], urls_[i], used == lastUsed_.end() ? 0 : used->second});
    }
    WriteHistory(ini, kept);
}

void TDocumentHistory::Used(const std::string& url) { lastUsed_[url] = HistoryNow(); }

int TDocumentHistory::LookUp(const std::string& text) const { return entries_.IndexOf(text); }

std::string TDocumentHistory::AddFetched(const std::string& typed, const std::string& title, const std::string& url,
                                         const std::function<int()>& histCount)
{
    std::string entry = WithoutControlCharacters(typed + " : " + title);
    entries_.Insert(0, entry);
    urls_.Insert(0, url);
    Used(url);
    // The same text for the same address again (typing a number twice) keeps one entry, the new one.
    for (int i = entries_.Count() - 1; i > 0; --i) {
        if (urls_[i] == url && SameText(entries_[i], entry)) {
            entries_.Delete(i);
            urls_.Delete(i);
        }
    }
    int limit = histCount();
    if (limit < 0) limit = 0;
    // Only the entry just beyond the limit goes: a longer history (from the
    // file, opened files, or a lowered limit) keeps its length.
    if (entries_.Count() > limit) {
        entries_.Delete(limit);
        urls_.Delete(limit);
    }
    return entry;
}

void TDocumentHistory::MoveToTop(int index, const std::string& typed)
{
    std::string url = urls_[index];
    entries_.Delete(index);
    urls_.Delete(index);
    entries_.Insert(0, WithoutControlCharacters(typed));
    urls_.Insert(0, url);
    Used(url);
}

void TDocumentHistory::Remove(int index)
{
    if (index < 0 || index >= Count()) return;
    entries_.Delete(index);
    urls_.Delete(index);
}

void TDocumentHistory::AddOpenedFile(int number, const std::string& title, const std::string& path)
{
    entries_.Insert(0, WithoutControlCharacters(Format("%4.4d * %s", number, title)));
    urls_.Insert(0, "file:///" + path);
    Used(urls_[0]);
}
