// The library's three costs the reader feels: loading the publisher's index (10,000 entries shaped like the
// real file), a two-word search over that index plus 500 cached RFC-sized documents, and reading back a
// cached 420 KB document. Goals: under 2 s and 100 MB; under 20 ms; well under 30 ms.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "bench/support/BenchSupport.h"
#include "library/DocumentCache.h"
#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "tests/support/TempDir.h"

namespace {

const char* const kWords[] = {
    "transfer",  "protocol", "message",    "header",   "routing",    "cookie",         "session", "security",
    "transport", "control",  "internet",   "address",  "network",    "format",         "mail",    "server",
    "client",    "proxy",    "cache",      "resource", "identifier", "syntax",         "media",   "encoding",
    "domain",    "name",     "service",    "option",   "extension",  "authentication", "state",   "management",
    "datagram",  "stream",   "congestion", "window",   "timer",      "packet",         "routing", "registry"};

std::string Words(std::mt19937& random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += kWords[random() % std::size(kWords)];
    }
    return text;
}

std::string DocId(int number)
{
    char id[16];
    std::snprintf(id, sizeof id, "RFC%04d", number);
    return id;
}

// An index of count entries with the elements, nesting and typical lengths of the published file.
std::string MakeIndex(int count)
{
    std::mt19937 random(7);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<rfc-index xmlns=\"https://www.rfc-editor.org/rfc-index\">\n";
    const char* months[] = {"January", "April", "July", "October"};
    for (int n = 1; n <= count; ++n) {
        xml += "  <rfc-entry>\n    <doc-id>" + DocId(n) + "</doc-id>\n    <title>" + Words(random, 6) + "</title>\n";
        for (int a = 0, authors = 1 + int(random() % 4); a < authors; ++a)
            xml += "    <author>\n      <name>A. Author" + std::to_string(random() % 3000) + "</name>\n    </author>\n";
        xml += "    <date>\n      <month>" + std::string(months[n % 4]) + "</month>\n      <year>" +
               std::to_string(1970 + n / 200) + "</year>\n    </date>\n";
        xml += "    <format>\n      <file-format>ASCII</file-format>\n      <file-format>HTML</file-format>\n"
               "    </format>\n    <page-count>" +
               std::to_string(10 + n % 90) + "</page-count>\n";
        xml += "    <keywords>\n      <kw>" + Words(random, 1) + "</kw>\n      <kw>" + Words(random, 2) +
               "</kw>\n    </keywords>\n";
        xml += "    <abstract>\n      <p>" + Words(random, 70) + "</p>\n    </abstract>\n";
        if (n > 10 && n % 7 == 0)
            xml += "    <obsoletes>\n      <doc-id>" + DocId(n - 10) + "</doc-id>\n    </obsoletes>\n";
        if (n + 10 <= count && (n + 10) % 7 == 0)
            xml += "    <obsoleted-by>\n      <doc-id>" + DocId(n + 10) + "</doc-id>\n    </obsoleted-by>\n";
        if (n % 5 == 0) xml += "    <updated-by>\n      <doc-id>" + DocId(n + 3) + "</doc-id>\n    </updated-by>\n";
        xml += "    <current-status>PROPOSED STANDARD</current-status>\n"
               "    <publication-status>PROPOSED STANDARD</publication-status>\n    <stream>IETF</stream>\n"
               "    <area>app</area>\n    <wg_acronym>wg</wg_acronym>\n";
        if (n % 3 == 0)
            xml += "    <errata-url>https://www.rfc-editor.org/errata/rfc" + std::to_string(n) + "</errata-url>\n";
        xml += "    <doi>10.17487/" + DocId(n) + "</doi>\n  </rfc-entry>\n";
    }
    return xml + "</rfc-index>\n";
}

const std::string& GeneratedIndex()
{
    static const std::string index = MakeIndex(10000);
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

} // namespace

BENCHMARK_MAIN();
