// Taking the whole series offline: which RFCs of the index the library still
// lacks (or holds in a copy older than the index's date for them), and the
// run that fetches them one after another over the fetcher's one kept-alive
// connection (direct, or through the proxy and SOCKS hop of the settings)
// and stores each as it arrives.
//
// A run commits what it stored in small batches, and at once on a pause, a
// cancel or a quit, so a crash loses at most one batch (seconds of work);
// the next plan simply leaves out what is stored, which is how a run resumes. A document that fails is
// listed and the run goes on. TSyncControl is the only part shared between
// the caller's threads: the run's thread reads it, any thread may pause,
// resume or cancel. The run stores on a thread of its own while it fetches
// the next documents; the database belongs to that thread while the run
// lasts and comes back to the caller's when RunSync returns. Everything else
// belongs to the run's thread, the client included. Times are seconds since
// the Unix epoch.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class TDocumentCache;
class TFetcher;
struct TFetchSettings;
class TLibraryDatabase;

struct TSyncItem {
    int Number = 0;
    std::string Title;
    // Where the document is fetched from, and the URL it is stored under (the first without a password).
    std::string FetchUrl;
    std::string StoreUrl;
};

// The URLs of RFC number: {fetch, store}.
using TSyncUrls = std::function<std::pair<std::string, std::string>(int number)>;

// Every RFC of the index not stored under its URL, or stored before the
// first day of the month the index dates it; in number order. Raises
// ELibraryError.
[[nodiscard]] std::vector<TSyncItem> PlanSync(TLibraryDatabase& database, const TSyncUrls& urlsOf);

// Pause, resume and cancel from any thread.
class TSyncControl {
public:
    void Pause();
    void Resume();
    void Cancel();
    bool Paused() const { return paused_; }
    bool Cancelled() const { return cancelled_; }
    // Blocks while paused; false once cancelled.
    [[nodiscard]] bool WaitWhilePaused();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> cancelled_{false};
};

struct TSyncProgress {
    int Done = 0; // stored or failed
    int Total = 0;
    int Failed = 0;
    int64_t Bytes = 0;
    // Estimated from the pace so far; -1 until one document is done.
    int64_t SecondsLeft = -1;
    // The document that comes next (or just finished, at the end).
    int Number = 0;
};

struct TSyncFailure {
    int Number = 0;
    std::string Url;
    std::string Reason;
};

struct TSyncResult {
    int Stored = 0;
    int64_t Bytes = 0;
    bool Cancelled = false;
    std::vector<TSyncFailure> Failures;
};

// Fetches and stores plan's documents in order through fetcher under
// settings. onProgress runs on the calling thread before each document and
// after the last. A cancel stops at once (a transfer under way is cut off and
// its document left out, the connection closed).
[[nodiscard]] TSyncResult RunSync(TFetcher& fetcher, const TFetchSettings& settings, TDocumentCache& cache,
                                  const std::vector<TSyncItem>& plan, TSyncControl& control,
                                  const std::function<void(const TSyncProgress&)>& onProgress);
