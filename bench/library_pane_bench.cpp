// Opening a cached 420 KB RFC (RFC 2616 from the shared folder, else RFC-shaped text of that size) from the library,
// key press to shown text: the copy read from the database, its bytes turned into the pane's text, one paint and the
// displayed lines counted, at the pane size of the default window. Goal: well under 30 ms.
#include "app/LibraryListModel.h"
#include "app/PaneText.h"
#include "app/SearchWindow.h"
#include "app/TextPane.h"
#include "bench/support/BenchSupport.h"
#include "library/DocumentCache.h"
#include "library/IndexLoader.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <benchmark/benchmark.h>

namespace {

void OpenCachedDocument(benchmark::State& state)
{
    TTempDir temp;
    TLibraryDatabase database({temp.File("library.db")});
    TDocumentCache cache(database);
    TCachedDocument document;
    document.Url = "https://www.rfc-editor.org/rfc/rfc2616.txt";
    document.Body = ReadTextFile(std::string(SCRIVLET_RFC_DIR) + "/rfc2616.txt");
    if (document.Body.empty())
        document.Body = benchsupport::MakeRfcLikeDocument(420 * 1024, "Request for Comments: 2616\n", 0);
    state.counters["bytes"] = double(document.Body.size());
    if (!cache.Store(document)) return state.SkipWithError("store failed");

    TTextPane pane;
    pane.resize(624, 406);
    pane.show();
    QApplication::processEvents();
    for (auto _ : state) {
        const std::optional<TCachedDocument> found = cache.Find(document.Url);
        pane.LoadText(FileTextToPaneText(found->Body));
        pane.repaint();
        benchmark::DoNotOptimize(pane.LineCount());
    }
}
BENCHMARK(OpenCachedDocument)->Unit(benchmark::kMillisecond);

// The library window on an index of 10,000 entries: from the command to the painted list (goal: under 100 ms),
// and one key typed into its search field, the list searched again and repainted (goal: one 16 ms frame).
struct TIndexedLibrary {
    TTempDir temp;
    TLibraryDatabase database{{temp.File("library.db")}};
    TIndexedLibrary()
    {
        TIndexParser parser;
        const std::string index = benchsupport::MakeRfcIndex(10000);
        parser.Write(index.data(), int64_t(index.size()));
        if (!parser.Finish()) throw std::runtime_error(parser.Failure());
        ReplaceIndex(database, parser.Entries(), "");
    }
};

TIndexedLibrary& IndexedLibrary()
{
    static TIndexedLibrary library;
    return library;
}

void LibraryWindowOpens(benchmark::State& state)
{
    TIndexedLibrary& library = IndexedLibrary();
    int rows = 0;
    for (auto _ : state) {
        TSearchWindow window(library.database, nullptr);
        window.show();
        window.List->viewport()->repaint();
        rows = window.Model->rowCount();
        state.PauseTiming();
        window.hide();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(LibraryWindowOpens)->Unit(benchmark::kMillisecond);

void LibraryWindowKeyTyped(benchmark::State& state)
{
    TIndexedLibrary& library = IndexedLibrary();
    TSearchWindow window(library.database, nullptr);
    window.show();
    QApplication::processEvents();
    const std::string word = state.range(0) == 0 ? "transfer" : "protocol";
    size_t typed = 0;
    for (auto _ : state) {
        typed = typed % word.size() + 1;
        window.Query->setText(QString::fromStdString(word.substr(0, typed)));
        window.List->viewport()->repaint();
    }
    state.SetLabel(word);
}
BENCHMARK(LibraryWindowKeyTyped)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
