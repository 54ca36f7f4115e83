// Taking the series offline against a real nginx: what a run plans, one document the server lacks, and a
// cancel then a resume that fetches no document twice (nginx's own log is the witness).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "library/DocumentCache.h"
#include "library/LibrarySync.h"
#include "net/fetch/Fetcher.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/RealPeers.h"

namespace {

const int kSampleNumbers[] = {822, 1928, 1929, 1945, 2068, 2109, 2616, 2617, 2965, 3986, 6265, 7230, 9110, 9293};

class LibrarySync : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SharedFilesPresent()) GTEST_SKIP() << "no sample index beside the project";
        LoadIndexFile(database_, SampleIndexPath());
        for (int number : kSampleNumbers)
            if (number != kMissing)
                WriteTextFile(root_.File("rfc" + std::to_string(number) + ".txt"),
                              "Request for Comments: " + std::to_string(number) + "\n\nText\n");
        nginx_ = testsupport::TRealPeer::Nginx(root_.Path());
    }

    TSyncUrls UrlsOf() const
    {
        const std::string base = "http://127.0.0.1:" + std::to_string(nginx_->Port()) + "/rfc";
        return [base](int number) {
            const std::string url = base + std::to_string(number) + ".txt";
            return std::make_pair(url, url);
        };
    }

    // How often nginx was asked for each path.
    std::map<std::string, int> Requests(size_t expected) const
    {
        std::map<std::string, int> counts;
        std::istringstream log(nginx_->AccessLog(expected));
        for (std::string line; std::getline(log, line);) {
            const size_t start = line.find("\"GET ") + 5;
            ++counts[line.substr(start, line.find(' ', start) - start)];
        }
        return counts;
    }

    static constexpr int kMissing = 7230;
    TTempDir temp_;
    TTempDir root_;
    TLibraryDatabase database_{{temp_.File("library.db")}};
    TDocumentCache cache_{database_};
    std::unique_ptr<testsupport::TRealPeer> nginx_;
    TFetcher fetcher_;
    TFetchSettings settings_;
};

std::vector<int> NumbersOf(const std::vector<TSyncItem>& plan)
{
    std::vector<int> numbers;
    for (const TSyncItem& item : plan) numbers.push_back(item.Number);
    return numbers;
}

} // namespace

TEST_F(LibrarySync, PlansWhatIsMissingOrOlderThanTheIndexDate)
{
    const TSyncUrls urlsOf = UrlsOf();
    TCachedDocument stored;
    stored.Body = "text";
    stored.Url = urlsOf(1928).second;
    stored.FetchedAt = 1'600'000'000;
    ASSERT_TRUE(cache_.Store(stored));
    // Fetched in 1990: before the index's date for RFC 9293 (August 2022).
    stored.Url = urlsOf(9293).second;
    stored.FetchedAt = 631'152'000;
    ASSERT_TRUE(cache_.Store(stored));

    const std::vector<int> planned = NumbersOf(PlanSync(database_, urlsOf));
    EXPECT_EQ(planned, (std::vector<int>{822, 1929, 1945, 2068, 2109, 2616, 2617, 2965, 3986, 6265, 7230, 9110, 9293}));
}

TEST_F(LibrarySync, MissingDocumentIsListedAndACancelledRunResumesWithoutFetchingTwice)
{
    TSyncControl first;
    std::vector<TSyncProgress> seen;
    const TSyncResult cut =
        RunSync(fetcher_, settings_, cache_, PlanSync(database_, UrlsOf()), first, [&](const TSyncProgress& p) {
            seen.push_back(p);
            if (p.Done == 5) first.Cancel();
        });
    EXPECT_TRUE(cut.Cancelled);
    EXPECT_EQ(cut.Stored, 5);
    EXPECT_TRUE(cut.Failures.empty());
    ASSERT_GE(seen.size(), 6u);
    EXPECT_EQ(seen[0].Total, 14);
    EXPECT_EQ(seen[0].SecondsLeft, -1);
    EXPECT_GE(seen[5].SecondsLeft, 0);
    EXPECT_EQ(seen[5].Bytes, cut.Bytes);

    TSyncControl second;
    const std::vector<TSyncItem> rest = PlanSync(database_, UrlsOf());
    EXPECT_EQ(rest.size(), 9u);
    TSyncProgress last;
    const TSyncResult resumed =
        RunSync(fetcher_, settings_, cache_, rest, second, [&](const TSyncProgress& p) { last = p; });
    EXPECT_FALSE(resumed.Cancelled);
    EXPECT_EQ(resumed.Stored, 8);
    ASSERT_EQ(resumed.Failures.size(), 1u);
    EXPECT_EQ(resumed.Failures[0].Number, kMissing);
    EXPECT_EQ(resumed.Failures[0].Reason, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(last.Done, 9);
    EXPECT_EQ(last.Failed, 1);

    for (int number : kSampleNumbers) {
        SCOPED_TRACE(number);
        const std::optional<TCachedDocument> copy = cache_.Find(UrlsOf()(number).second);
        EXPECT_EQ(copy.has_value(), number != kMissing);
        if (copy) {
            EXPECT_EQ(copy->Number, number);
        }
    }
    const std::map<std::string, int> requests = Requests(14);
    EXPECT_EQ(requests.size(), 14u);
    for (const auto& [path, count] : requests) EXPECT_EQ(count, 1) << path;
    EXPECT_EQ(PlanSync(database_, UrlsOf()).size(), 1u);
}

// A pause holds the run between documents: nothing is asked of the server until it is resumed. The storing side
// runs behind the fetching one: a document it cannot keep (larger than the library takes) still leaves the stored
// count, the bytes and the failure list agreeing once the run is over.
TEST_F(LibrarySync, PausedRunAsksNothingUntilResumedAndListsWhatItCannotKeep)
{
    constexpr int kTooLarge = 2068;
    WriteTextFile(root_.File("rfc" + std::to_string(kTooLarge) + ".txt"),
                  std::string(size_t(TDocumentCache::kMaxDocumentBytes) + 1, 'x'));
    TSyncControl control;
    TSyncProgress last;
    std::thread resumer;
    size_t requestsWhilePaused = 0;
    const TSyncResult result =
        RunSync(fetcher_, settings_, cache_, PlanSync(database_, UrlsOf()), control, [&](const TSyncProgress& p) {
            last = p;
            if (p.Done != 2 || control.Paused()) return;
            control.Pause();
            resumer = std::thread([&] {
                // Long enough for a run that ignored the pause to ask for several more documents.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                const std::string log = nginx_->AccessLog(2);
                requestsWhilePaused = size_t(std::count(log.begin(), log.end(), '\n'));
                control.Resume();
            });
        });
    resumer.join();
    EXPECT_EQ(requestsWhilePaused, 2u);
    EXPECT_FALSE(result.Cancelled);
    EXPECT_EQ(Requests(14).size(), 14u);
    EXPECT_EQ(result.Stored, 12);
    ASSERT_EQ(result.Failures.size(), 2u);
    const auto tooLarge = std::find_if(result.Failures.begin(), result.Failures.end(),
                                       [](const TSyncFailure& f) { return f.Number == kTooLarge; });
    ASSERT_NE(tooLarge, result.Failures.end());
    EXPECT_EQ(tooLarge->Reason, "the library could not store it");
    EXPECT_EQ(last.Done, 14);
    EXPECT_EQ(last.Failed, 2);
    EXPECT_EQ(last.Bytes, result.Bytes);
    EXPECT_FALSE(cache_.Find(UrlsOf()(kTooLarge).second).has_value());
    EXPECT_EQ(PlanSync(database_, UrlsOf()).size(), 2u);
}
