// Opening a cached 420 KB RFC (RFC 2616 from the shared folder, else RFC-shaped text of that size) from the library,
// key press to shown text: the copy read from the database, its bytes turned into the pane's text, one paint and the
// displayed lines counted, at the pane size of the default window. Goal: well under 30 ms.
#include "app/PaneText.h"
#include "app/TextPane.h"
#include "bench/support/BenchSupport.h"
#include "library/DocumentCache.h"
#include "tests/support/TempDir.h"

#include <QApplication>
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

} // namespace
