#include "library/LibrarySync.h"

#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"
#include "net/fetch/Fetcher.h"
#include "platform/SysUtils.h"

#include <array>
#include <chrono>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace {

// Thrown out of the fetcher's progress report to cut a transfer short; the fetch ends as cancelled.
struct ESyncCancelled : std::runtime_error {
    ESyncCancelled() : std::runtime_error("cancelled") {}
};

// "June 1999" -> 1999-06-01 00:00 UTC; 0 when the date is not of that form.
int64_t MonthStart(std::string_view date)
{
    static constexpr std::array<std::string_view, 12> kMonths = {"January",   "February", "March",    "April",
                                                                 "May",       "June",     "July",     "August",
                                                                 "September", "October",  "November", "December"};
    const size_t space = date.rfind(' ');
    if (space == std::string_view::npos || date.size() - space != 5) return 0;
    const int year = StrToIntDef(std::string(date.substr(space + 1)), 0);
    const std::string_view rest = date.substr(0, space);
    const std::string_view month = rest.substr(rest.rfind(' ') == std::string_view::npos ? 0 : rest.rfind(' ') + 1);
    for (size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] != month || year < 1970) continue;
        std::tm parts{};
        parts.tm_year = year - 1900;
        parts.tm_mon = int(i);
        parts.tm_mday = 1;
        return int64_t(timegm(&parts));
    }
    return 0;
}

int64_t Now() { return int64_t(std::time(nullptr)); }

// Stored documents are committed in batches: a commit for each would let the disk, not the server, set the pace.
// A batch ends after kBatchDocuments documents or kBatchTime, before a pause, and at the end of the run however it
// ends, so a crash loses at most one batch, which the next run fetches again.
class TStoreBatch {
public:
    static constexpr size_t kBatchDocuments = 200;
    static constexpr std::chrono::seconds kBatchTime{2};

    TStoreBatch(TDocumentCache& cache, TSyncResult& result, TSyncProgress& progress)
        : cache_(cache), result_(result), progress_(progress)
    {}

    // Before a document is stored. Without a batch (the write lock held elsewhere) each store commits itself.
    void Open()
    {
        if (transaction_) return;
        try {
            transaction_.emplace(cache_.Database());
            opened_ = std::chrono::steady_clock::now();
        } catch (const ELibraryError& e) {
            cache_.Database().NoteFault(e);
        }
    }

    void Stored(const TSyncItem& item, int64_t bytes)
    {
        ++result_.Stored;
        result_.Bytes += bytes;
        progress_.Bytes += bytes;
        if (!transaction_) return;
        pending_.push_back({item.Number, item.StoreUrl, bytes});
        if (pending_.size() >= kBatchDocuments || std::chrono::steady_clock::now() - opened_ >= kBatchTime) Commit();
    }

    // A commit that fails takes the batch's documents back from the stored ones into the failures.
    void Commit()
    {
        if (!transaction_) return;
        try {
            transaction_->Commit();
        } catch (const ELibraryError& e) {
            cache_.Database().NoteFault(e);
            for (const TPending& document : pending_) {
                --result_.Stored;
                result_.Bytes -= document.Bytes;
                progress_.Bytes -= document.Bytes;
                ++progress_.Failed;
                result_.Failures.push_back({document.Number, document.Url, "the library could not store it"});
            }
        }
        transaction_.reset();
        pending_.clear();
    }

private:
    struct TPending {
        int Number;
        std::string Url;
        int64_t Bytes;
    };
    TDocumentCache& cache_;
    TSyncResult& result_;
    TSyncProgress& progress_;
    std::optional<TSqlTransaction> transaction_;
    std::chrono::steady_clock::time_point opened_;
    std::vector<TPending> pending_;
};

} // namespace

std::vector<TSyncItem> PlanSync(TLibraryDatabase& database, const TSyncUrls& urlsOf)
{
    TSqlStatement entries(database, "SELECT number, title, date FROM rfc ORDER BY number");
    TSqlStatement stored(database, "SELECT fetched FROM document WHERE url = ?1");
    std::vector<TSyncItem> plan;
    while (entries.Step()) {
        TSyncItem item;
        item.Number = int(entries.Integer(0));
        item.Title = entries.Text(1);
        std::tie(item.FetchUrl, item.StoreUrl) = urlsOf(item.Number);
        stored.Bind(1, item.StoreUrl);
        const bool have = stored.Step() && stored.Integer(0) >= MonthStart(entries.TextView(2));
        stored.Reset();
        if (!have) plan.push_back(std::move(item));
    }
    return plan;
}

void TSyncControl::Pause() { paused_ = true; }

void TSyncControl::Resume()
{
    {
        const std::lock_guard lock(mutex_);
        paused_ = false;
    }
    changed_.notify_all();
}

void TSyncControl::Cancel()
{
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

bool TSyncControl::WaitWhilePaused()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !paused_ || cancelled_; });
    return !cancelled_;
}

TSyncResult RunSync(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                    const std::vector<TSyncItem>& plan, TSyncControl& control,
                    const std::function<void(const TSyncProgress&)>& onProgress)
{
    TSyncResult result;
    TSyncProgress progress;
    progress.Total = int(plan.size());
    const auto started = std::chrono::steady_clock::now();
    const auto report = [&](int number) {
        progress.Number = number;
        if (progress.Done > 0 && progress.Done < progress.Total) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            progress.SecondsLeft = int64_t(elapsed / progress.Done * (progress.Total - progress.Done) + 0.5);
        } else if (progress.Done == progress.Total) {
            progress.SecondsLeft = 0;
        }
        if (onProgress) onProgress(progress);
    };
    auto keptOnProgress = std::move(fetcher.OnProgress);
    fetcher.OnProgress = [&](int64_t, int64_t) {
        if (!control.Cancelled()) return;
        fetcher.RequestCancel();
        throw ESyncCancelled();
    };
    TStoreBatch batch(cache, result, progress);
    for (const TSyncItem& item : plan) {
        report(item.Number);
        if (control.Paused()) batch.Commit();
        if (!control.WaitWhilePaused()) break;
        const TFetchResult fetched = fetcher.Fetch(settings, {item.FetchUrl});
        if (fetched.Kind == TFetchKind::Cancelled || control.Cancelled()) break;
        std::string failure;
        if (fetched.Kind == TFetchKind::HttpError)
            failure = fetched.StatusLine;
        else if (fetched.Kind != TFetchKind::Done)
            failure = fetched.Failure;
        if (failure.empty() && fetched.Body.empty()) failure = "the server sent no text";
        if (failure.empty()) {
            TCachedDocument document = DocumentFromResponse(fetched, item.StoreUrl, Now());
            document.Number = item.Number;
            document.Title = item.Title;
            batch.Open();
            if (cache.Store(document))
                batch.Stored(item, document.Length);
            else
                failure = "the library could not store it";
        }
        if (!failure.empty()) {
            ++progress.Failed;
            result.Failures.push_back({item.Number, item.StoreUrl, failure});
        }
        ++progress.Done;
    }
    batch.Commit();
    fetcher.OnProgress = std::move(keptOnProgress);
    fetcher.ResetCancel();
    result.Cancelled = control.Cancelled();
    report(plan.empty() || progress.Done == 0 ? 0 : plan[size_t(progress.Done - 1)].Number);
    return result;
}
