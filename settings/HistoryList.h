// The document history as the settings file keeps it, section "rfcs": the
// entries, their URLs and when each was last used; and the merge of two
// runs' histories into one. Plain code, no toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TIniFile;

// One entry of the history: the number box's text, the URL it was loaded
// from, and when it was last used, in milliseconds since 1970 (UTC); 0 when
// not known (files written before the time was kept).
struct THistoryItem {
    std::string Entry;
    std::string Url;
    int64_t LastUsed = 0;
    bool operator==(const THistoryItem&) const = default;
};

struct THistoryRead {
    std::vector<THistoryItem> Items;
    // N01's value even when the history was discarded as damaged.
    std::string FirstEntry;
    // The lists of entries and URLs differ in length: Items is empty.
    bool Damaged = false;
};

// Reads section "rfcs": keys N01, N02, ... up to the first key that is
// missing or holds exactly "INVAL", then U01, U02, ... the same way, and
// T01, T02, ... for the times (a missing or unreadable time is 0).
[[nodiscard]] THistoryRead ReadHistory(const TIniFile& ini);

// Replaces the keys N.., U.. and T.. of section "rfcs" by items (all N keys,
// then all U keys, then the T keys of the items whose time is known),
// numbered from 01. Other lines of the section (keys a newer program may
// add, comments) stay as they are.
void WriteHistory(TIniFile& ini, const std::vector<THistoryItem>& items);

// The current time for LastUsed.
int64_t HistoryNow();

// The history a run leaves when another run changed the file meanwhile.
// start is the history the run read at its start, mine what it holds now,
// theirs what the file holds now. The result is the union of mine and
// theirs, one entry per URL (the one used last; this run's on a tie), newest
// first by LastUsed (each list's own order kept among equal times, this
// run's first), without the entries that one run removed since the start and
// the other did not use since, and at most cap entries.
// Example: start {a}, mine {b, a}, theirs {c, a}, b used after c: {b, c, a}.
[[nodiscard]] std::vector<THistoryItem> MergeHistory(const std::vector<THistoryItem>& start,
                                                     const std::vector<THistoryItem>& mine,
                                                     const std::vector<THistoryItem>& theirs, std::size_t cap);
