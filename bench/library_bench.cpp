// The library's three costs the reader feels: loading the publisher's index (10,000 entries shaped like the
// real file), a two-word search over that index plus 500 cached RFC-sized documents, and reading back a
// cached 420 KB document. Goals: under 2 s and 100 MB; under 20 ms; well under 30 ms.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>

#include "bench/support/BenchSupport.h"
#include "library/DocumentCache.h"
#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "tests/support/TempDir.h"

namespace {

const std::string& GeneratedIndex()
{
    static const std::string index = benchsupport::MakeRfcIndex(10000);
    return index;
}

void LoadIndex(TLibraryDatabase& database)
{
    const std::string& index = GeneratedIndex();
    TIndexParser parser;
    // The network hands the index over in pieces of about this size.
    const size_t piece = 64 * 1024;
    for (size_t at = 0; at < index.size(); at += piece)
        parser.Write(index.data() + at, int64_t(std::min(piece, index.size() - at)));
    if (!parser.Finish()) throw std::runtime_error(parser.Failure());
    ReplaceIndex(database, parser.Entries(), "");
}

double PeakResidentMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void BM_LoadIndex10000(benchmark::State& state)
{
    GeneratedIndex();
    for (auto _ : state) {
        TTempDir temp;
        TLibraryDatabase database({temp.File("library.db")});
        LoadIndex(database);
    }
    state.counters["index_MiB"] = double(GeneratedIndex().size()) / (1024.0 * 1024.0);
    // The whole process at its peak, the generated index text itself included.
    state.counters["peak_rss_MiB"] = PeakResidentMiB();
}
BENCHMARK(BM_LoadIndex10000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The reference RFCs beside the project, or RFC-shaped text when they are absent.
std::vector<std::string> DocumentTexts()
{
    std::vector<std::string> texts;
    const std::filesystem::path folder(SCRIVLET_RFC_DIR);
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(folder, ec)) {
        if (file.path().extension() != ".txt") continue;
        std::ifstream in(file.path(), std::ios::binary);
        texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (texts.empty()) texts.push_back(benchsupport::MakeRfcLikeDocument(130000, "RFC 9999\n", 0));
    return texts;
}

// The index plus 500 cached documents, one folder for all the read benchmarks.
struct TFilledLibrary {
    TTempDir temp;
    TLibraryDatabase database{{temp.File("library.db")}};
    std::string bigUrl;
    TFilledLibrary()
    {
        LoadIndex(database);
        TDocumentCache cache(database);
        const std::vector<std::string> texts = DocumentTexts();
        for (int i = 0; i < 500; ++i) {
            TCachedDocument document;
            document.Number = 1 + i * 17;
            document.Url = "https://www.rfc-editor.org/rfc/rfc" + std::to_string(document.Number) + ".txt";
            document.Body = texts[size_t(i) % texts.size()];
            if (!cache.Store(document)) throw std::runtime_error("store failed");
        }
        TCachedDocument big;
        big.Url = "https://www.rfc-editor.org/rfc/rfc2616.txt";
        big.Body = benchsupport::MakeRfcLikeDocument(420 * 1024, "RFC 2616\n", 0);
        if (!cache.Store(big)) throw std::runtime_error("store failed");
        bigUrl = big.Url;
    }
};

TFilledLibrary& FilledLibrary()
{
    static TFilledLibrary library;
    return library;
}

void BM_SearchTwoWords(benchmark::State& state)
{
    TFilledLibrary& library = FilledLibrary();
    const char* queries[] = {"transfer protocol", "connection header", "cookie session"};
    const char* query = queries[state.range(0)];
    size_t hits = 0;
    for (auto _ : state) hits = SearchLibrary(library.database, query).size();
    state.SetLabel(query);
    state.counters["hits"] = double(hits);
}
BENCHMARK(BM_SearchTwoWords)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ReadCached420K(benchmark::State& state)
{
    TFilledLibrary& library = FilledLibrary();
    TDocumentCache cache(library.database);
    for (auto _ : state) {
        std::optional<TCachedDocument> document = cache.Find(library.bigUrl);
        benchmark::DoNotOptimize(document);
    }
}
BENCHMARK(BM_ReadCached420K)->Unit(benchmark::kMillisecond);

// ---- the whole series ---------------------------------------------------------------------------------------
// 10,000 RFC-sized documents of about 500 MB in all, generated here (never stored in the project): the words drawn
// with the frequencies of the reference RFCs, lines and pages laid out as RFCs lay them out, sizes spread around
// 50 KB as the series' are (a few pages to a few hundred). Goals: stored with full-text indexing in under 60 s,
// the database at most 1.3 times the text; a two-word search over the index and all texts under 30 ms.
//
// With SCRIVLET_BENCH_KEEP_SERIES=<folder> the library is written to <folder>/scrivlet/library.db and kept, so
// startup_bench can start the program on it (XDG_CACHE_HOME=<folder>).

class TSeriesText {
public:
    TSeriesText()
    {
        std::map<std::string, int64_t> counts;
        for (const std::string& text : DocumentTexts()) {
            for (size_t at = 0; at < text.size();) {
                while (at < text.size() && !std::isalnum(static_cast<unsigned char>(text[at]))) ++at;
                const size_t start = at;
                while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '-'))
                    ++at;
                if (at > start) ++counts[text.substr(start, at - start)];
            }
        }
        std::vector<double> weights;
        for (const auto& [word, count] : counts) {
            words_.push_back(word);
            weights.push_back(double(count));
        }
        pick_ = std::discrete_distribution<size_t>(weights.begin(), weights.end());
    }

    // RFC number's text, its size drawn from the series' spread.
    std::string Document(int number)
    {
        std::mt19937 random{uint32_t(number)};
        std::lognormal_distribution<double> size(std::log(33000.0), 0.9);
        const size_t bytes = std::min<size_t>(size_t(size(random)), 800000);
        std::string text = "Network Working Group                                          A. Author\n"
                           "Request for Comments: " +
                           std::to_string(number) + "                                  Example\n\n";
        int lineOnPage = 3;
        while (text.size() < bytes) {
            std::string line = "   ";
            while (line.size() < 64) line += words_[pick_(random)] + " ";
            text += line + "\n";
            if (random() % 9 == 0) text += "\n", ++lineOnPage;
            if (++lineOnPage >= 56) {
                text += "\nAuthor                        Informational                     [Page " +
                        std::to_string(text.size() / 3000) + "]\n\f\n";
                lineOnPage = 0;
            }
        }
        return text;
    }

private:
    std::vector<std::string> words_;
    std::discrete_distribution<size_t> pick_;
};

struct TSeriesLibrary {
    TTempDir temp;
    std::string path;
    std::unique_ptr<TLibraryDatabase> database;
    int64_t textBytes = 0;
};

std::unique_ptr<TSeriesLibrary> g_series;

int64_t FileBytes(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : int64_t(size);
}

void BM_StoreSeries10000(benchmark::State& state)
{
    TSeriesText text;
    for (auto _ : state) {
        g_series = std::make_unique<TSeriesLibrary>();
        const char* keep = std::getenv("SCRIVLET_BENCH_KEEP_SERIES");
        g_series->path = keep ? std::string(keep) + "/scrivlet/library.db" : g_series->temp.File("library.db");
        std::filesystem::remove(g_series->path);
        g_series->database = std::make_unique<TLibraryDatabase>(TLibraryOptions{g_series->path});
        LoadIndex(*g_series->database);
        TDocumentCache cache(*g_series->database);
        for (int number = 1; number <= 10000; ++number) {
            state.PauseTiming();
            TCachedDocument document;
            document.Number = number;
            document.Url = "https://www.rfc-editor.org/rfc/rfc" + std::to_string(number) + ".txt";
            document.FetchedAt = 1'700'000'000;
            document.Body = text.Document(number);
            g_series->textBytes += int64_t(document.Body.size());
            state.ResumeTiming();
            if (!cache.Store(document)) return state.SkipWithError("store failed");
        }
        g_series->database->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const int64_t databaseBytes = FileBytes(g_series->path) + FileBytes(g_series->path + "-wal");
    state.counters["text_MB"] = double(g_series->textBytes) / 1e6;
    state.counters["db_MB"] = double(databaseBytes) / 1e6;
    state.counters["db_per_text"] = double(databaseBytes) / double(g_series->textBytes);
}
BENCHMARK(BM_StoreSeries10000)->Unit(benchmark::kSecond)->Iterations(1);

void BM_SeriesSearchTwoWords(benchmark::State& state)
{
    // Run alone (--benchmark_filter), the search takes the series a run before kept.
    const char* keep = std::getenv("SCRIVLET_BENCH_KEEP_SERIES");
    if (!g_series && keep && std::filesystem::exists(std::string(keep) + "/scrivlet/library.db")) {
        g_series = std::make_unique<TSeriesLibrary>();
        g_series->path = std::string(keep) + "/scrivlet/library.db";
        g_series->database = std::make_unique<TLibraryDatabase>(TLibraryOptions{g_series->path});
    }
    if (!g_series) return state.SkipWithError("the series was not stored");
    const char* queries[] = {"transfer protocol", "connection header", "security considerations", "zzzz frobnicate"};
    const char* query = queries[state.range(0)];
    size_t hits = 0;
    for (auto _ : state) hits = SearchLibrary(*g_series->database, query).size();
    state.SetLabel(query);
    state.counters["hits"] = double(hits);
}
BENCHMARK(BM_SeriesSearchTwoWords)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
