// One run of "take everything offline", away from any window: opens its own
// connection to the library file and its own client, brings the index in
// (always, or only when none is stored), plans and fetches. Runs on whatever
// thread calls it; everything it opens is its own, so the window's thread
// may go on using the library meanwhile. Shared by ライブラリ → すべて取得 and
// `scrivlet --sync`, which also writes its progress as a text line.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "library/IndexLoader.h"
#include "library/LibrarySync.h"
#include "net/fetch/Fetcher.h"

struct TSyncRunOptions {
    std::string LibraryPath;
    TFetchSettings Settings;
    // The document URL format ("%s" for the number).
    std::string UrlFormat;
    // False: the index is fetched only when the library holds none.
    bool UpdateIndexAlways = true;
};

struct TSyncRunReport {
    // Why nothing was fetched (library unusable, no index to be had); empty when the run took place.
    std::string Stopped;
    // The index update, when one was made.
    bool IndexAsked = false;
    TIndexUpdateResult Index;
    TSyncResult Result;
};

TSyncRunReport RunLibrarySync(const TSyncRunOptions& options, TSyncControl& control,
                              const std::function<void(const TSyncProgress&)>& onProgress);

// "120/9700 documents  12.3 MB  about 4 min left" (with ", 2 failed" when some failed).
[[nodiscard]] std::string SyncProgressLine(const TSyncProgress& progress);
// 1536 -> "1.5 KB"; 0 -> "0 B".
[[nodiscard]] std::string ByteSizeText(int64_t bytes);

// scrivlet --sync: updates the index, then fetches what the library lacks,
// rewriting one progress line on out; each failure goes to err. kExitOk when
// every document of the index is stored, kExitFailed otherwise.
int SyncFromTerminal(const TSyncRunOptions& options, std::ostream& out, std::ostream& err);
