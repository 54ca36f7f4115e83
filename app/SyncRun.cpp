// One sync run away from any window, and its progress line for a terminal.
#include "app/SyncRun.h"

#include "app/ClientSettings.h"
#include "app/CommandLine.h"
#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"
#include "platform/SysUtils.h"

#include <ostream>

namespace {

std::string TimeLeftText(int64_t seconds)
{
    if (seconds < 0) return "";
    if (seconds < 60) return Format("about %d s left", seconds);
    if (seconds < 3600) return Format("about %d min left", (seconds + 30) / 60);
    return Format("about %d h %d min left", seconds / 3600, (seconds % 3600 + 30) / 60);
}

} // namespace

std::string ByteSizeText(int64_t bytes)
{
    if (bytes < 1024) return Format("%d B", bytes);
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) value /= 1024, ++unit;
    // One decimal, rounded, from integers: the formatter has no floating point.
    const int64_t tenths = int64_t(value * 10 + 0.5);
    return Format("%d.%d %s", tenths / 10, tenths % 10, units[unit]);
}

std::string SyncProgressLine(const TSyncProgress& progress)
{
    std::string line =
        Format("%d/%d documents  %s", int64_t(progress.Done), int64_t(progress.Total), ByteSizeText(progress.Bytes));
    if (progress.Failed > 0) line += Format(", %d failed", int64_t(progress.Failed));
    if (const std::string left = TimeLeftText(progress.Done < progress.Total ? progress.SecondsLeft : -1);
        !left.empty())
        line += "  " + left;
    return line;
}

TSyncRunReport RunLibrarySync(const TSyncRunOptions& options, TSyncControl& control,
                              const std::function<void(const TSyncProgress&)>& onProgress)
{
    TSyncRunReport report;
    TLibraryDatabase database({options.LibraryPath});
    if (!database.Usable()) {
        report.Stopped = database.TakeFaultMessage();
        return report;
    }
    TFetcher fetcher;
    if (options.UpdateIndexAlways || !IndexLoaded(database)) {
        report.IndexAsked = true;
        report.Index = UpdateIndex(fetcher, options.Settings, database, IndexUrlBeside(options.UrlFormat));
        if (report.Index.Outcome == TIndexUpdateOutcome::iuFailed && !IndexLoaded(database)) {
            report.Stopped = "the index could not be fetched: " + report.Index.Failure;
            return report;
        }
    }
    std::vector<TSyncItem> plan;
    try {
        plan = PlanSync(database, [&](int number) { return SyncUrlsOf(options.UrlFormat, number); });
    } catch (const ELibraryError& e) {
        report.Stopped = e.what();
        return report;
    }
    TDocumentCache cache(database);
    report.Result = RunSync(fetcher, options.Settings, cache, plan, control, onProgress);
    return report;
}

int SyncFromTerminal(const TSyncRunOptions& options, std::ostream& out, std::ostream& err)
{
    TSyncControl control;
    size_t shown = 0;
    const TSyncRunReport report = RunLibrarySync(options, control, [&](const TSyncProgress& progress) {
        // The line is rewritten in place; blanks cover what a longer line before it left.
        const std::string line = SyncProgressLine(progress);
        out << '\r' << line << std::string(shown > line.size() ? shown - line.size() : 0, ' ') << std::flush;
        shown = line.size();
    });
    if (shown > 0) out << std::endl;
    if (report.IndexAsked && report.Index.Outcome == TIndexUpdateOutcome::iuFailed)
        err << "scrivlet: the index was not updated: " << report.Index.Failure << std::endl;
    if (!report.Stopped.empty()) {
        err << "scrivlet: " << report.Stopped << std::endl;
        return kExitFailed;
    }
    for (const TSyncFailure& failure : report.Result.Failures)
        err << "scrivlet: RFC " << failure.Number << " (" << failure.Url << "): " << failure.Reason << std::endl;
    out << Format("%d stored (%s), %d failed", int64_t(report.Result.Stored), ByteSizeText(report.Result.Bytes),
                  int64_t(report.Result.Failures.size()))
        << std::endl;
    return report.Result.Failures.empty() && !report.Result.Cancelled ? kExitOk : kExitFailed;
}
