#include "library/LibrarySync.h"

#include "library/DocumentCache.h"
#include "library/LibraryDatabase.h"
#include "net/fetch/Fetcher.h"
#include "platform/SysUtils.h"

#include <array>
#include <chrono>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

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

struct TShared {
    TShared(TSyncResult& result, TSyncProgress& progress) : Result(result), Progress(progress) {}
    TSyncResult& Result;
    TSyncProgress& Progress;
    std::mutex Mutex;
};

// A document not kept after all: its counts move from the stored ones into the failures.
void Unstore(TShared& shared, int number, const std::string& url, int64_t bytes)
{
    const std::lock_guard lock(shared.Mutex);
    --shared.Result.Stored;
    shared.Result.Bytes -= bytes;
    shared.Progress.Bytes -= bytes;
    ++shared.Progress.Failed;
    shared.Result.Failures.push_back({number, url, "the library could not store it"});
}

// Stored documents are committed in batches: a commit for each would let the disk, not the server, set the pace.
// A batch ends after kBatchDocuments documents or kBatchTime, before a pause, and at the end of the run however it
// ends, so a crash loses at most one batch, which the next run fetches again. Storing thread only.
class TStoreBatch {
public:
    static constexpr size_t kBatchDocuments = 200;
    static constexpr std::chrono::seconds kBatchTime{2};

    TStoreBatch(TDocumentCache& cache, TShared& shared) : cache_(cache), shared_(shared) {}

    // Without a batch (the write lock held elsewhere) each store commits itself.
    void Store(const TCachedDocument& document)
    {
        if (!transaction_) {
            try {
                transaction_.emplace(cache_.Database());
                opened_ = std::chrono::steady_clock::now();
            } catch (const ELibraryError& e) {
                cache_.Database().NoteFault(e);
            }
        }
        if (!cache_.Store(document)) {
            Unstore(shared_, document.Number, document.Url, document.Length);
            return;
        }
        if (!transaction_) return;
        pending_.push_back({document.Number, document.Url, document.Length});
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
            for (const TPending& document : pending_) Unstore(shared_, document.Number, document.Url, document.Bytes);
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
    TShared& shared_;
    std::optional<TSqlTransaction> transaction_;
    std::chrono::steady_clock::time_point opened_;
    std::vector<TPending> pending_;
};

// Storing (the full-text index above all) costs about as much as fetching, so it runs on a thread of its own
// while the next documents arrive. The database belongs to that thread from construction to destruction; the
// fetching side hands it documents through a short queue, which holds the fetching back when storing lags.
class TStorer {
public:
    struct TTask {
        TCachedDocument Document;
        bool CommitOnly = false; // before a pause: what is stored is committed while the run waits
    };

    TStorer(TDocumentCache& cache, TShared& shared) : batch_(cache, shared), thread_([this] { Run(); }) {}
    TStorer(const TStorer&) = delete;
    TStorer& operator=(const TStorer&) = delete;

    // Stores what is queued, commits, and ends the thread.
    ~TStorer()
    {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void Push(TTask task)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queue_.size() < kQueueLength; });
        queue_.push_back(std::move(task));
        lock.unlock();
        changed_.notify_all();
    }

private:
    static constexpr size_t kQueueLength = 8;

    void Run()
    {
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty() || closed_; });
            if (queue_.empty()) break;
            TTask task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            changed_.notify_all();
            if (task.CommitOnly)
                batch_.Commit();
            else
                batch_.Store(task.Document);
        }
        batch_.Commit();
    }

    TStoreBatch batch_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TTask> queue_;
    bool closed_ = false;
    std::thread thread_;
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
    // Shared with the storing thread, under shared.Mutex; the counts are made on the fetching side and a
    // document the storing side could not keep is moved back from the stored ones into the failures.
    TSyncResult result;
    TSyncProgress progress;
    progress.Total = int(plan.size());
    TShared shared(result, progress);
    const auto started = std::chrono::steady_clock::now();
    const auto report = [&](int number) {
        TSyncProgress now;
        {
            const std::lock_guard lock(shared.Mutex);
            progress.Number = number;
            if (progress.Done > 0 && progress.Done < progress.Total) {
                const double elapsed =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                progress.SecondsLeft = int64_t(elapsed / progress.Done * (progress.Total - progress.Done) + 0.5);
            } else if (progress.Done == progress.Total) {
                progress.SecondsLeft = 0;
            }
            now = progress;
        }
        if (onProgress) onProgress(now);
    };
    auto keptOnProgress = std::move(fetcher.OnProgress);
    fetcher.OnProgress = [&](int64_t, int64_t) {
        if (!control.Cancelled()) return;
        fetcher.RequestCancel();
        throw ESyncCancelled();
    };
    {
        TStorer storer(cache, shared);
        for (const TSyncItem& item : plan) {
            report(item.Number);
            if (control.Paused()) storer.Push({{}, true});
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
                {
                    const std::lock_guard lock(shared.Mutex);
                    ++result.Stored;
                    result.Bytes += document.Length;
                    progress.Bytes += document.Length;
                    ++progress.Done;
                }
                storer.Push({std::move(document), false});
            } else {
                const std::lock_guard lock(shared.Mutex);
                ++progress.Failed;
                result.Failures.push_back({item.Number, item.StoreUrl, failure});
                ++progress.Done;
            }
        }
    } // the storing thread stores what it was handed, commits and ends here
    fetcher.OnProgress = std::move(keptOnProgress);
    fetcher.ResetCancel();
    result.Cancelled = control.Cancelled();
    report(plan.empty() || progress.Done == 0 ? 0 : plan[size_t(progress.Done - 1)].Number);
    return result;
}
