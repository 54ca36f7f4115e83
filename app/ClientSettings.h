// The options dialog's connection fields as plain values, for FetchSettingsOf
// (the window's fetches, a sync run on its own thread, scrivlet --sync), and
// the URLs of one RFC for a sync run. GUI thread for the first.
#pragma once

#include <string>
#include <utility>

#include "app/FetchSettings.h"

class TOptionDlg;

[[nodiscard]] TConnectionOptions ConnectionOptionsOf(const TOptionDlg& options);

// RFC number's URL under the format: {to fetch, to store (no password)}.
[[nodiscard]] std::pair<std::string, std::string> SyncUrlsOf(const std::string& urlFormat, int number);
