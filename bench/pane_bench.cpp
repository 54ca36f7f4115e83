// Opening a document into the text pane and reading every displayed line,
// at the pane size of the default 640 by 512 window, for a 500 KB and a
// 10 MB file, and opening a file that is one line without blanks. The documents are generated: RFC-shaped lines of up
// to 72 characters with a form feed every 58 lines, and every 40th line too long for the pane so the wrapping path is
// measured as well.
#include "app/DocumentText.h"
#include "app/PaneText.h"
#include "app/TextPane.h"
#include "bench/support/BenchSupport.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <string>
#include <unistd.h>

namespace {

std::string MakeDocument(size_t bytes) { return benchsupport::MakeRfcLikeDocument(bytes, "", 40); }

std::string WriteTemp(const std::string& bytes)
{
    static const TTempDir folder;
    static int count = 0;
    const std::string path = folder.File("document" + std::to_string(++count) + ".txt");
    WriteTextFile(path, bytes);
    return path;
}

TTextPane& Pane()
{
    static TTextPane* pane = [] {
        auto* p = new TTextPane;
        p->resize(624, 406);
        p->show();
        QApplication::processEvents();
        return p;
    }();
    return *pane;
}

// Reading the file, turning its bytes into the pane's text, one paint, and
// counting the displayed lines.
void Open(benchmark::State& state, const std::string& document)
{
    const std::string path = WriteTemp(document);
    TTextPane& pane = Pane();
    for (auto _ : state) {
        std::string bytes;
        if (!ReadDocumentFile(path, bytes)) {
            state.SkipWithError("unreadable");
            break;
        }
        pane.LoadText(FileTextToPaneText(bytes));
        pane.repaint();
        benchmark::DoNotOptimize(pane.LineCount());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    unlink(path.c_str());
}

void OpenAndShow(benchmark::State& state) { Open(state, MakeDocument(size_t(state.range(0)))); }

// One line without a blank, as a hostile or binary file may have: the
// toolkit alone would wrap it in time growing with the square of its length.
void OpenSingleLine(benchmark::State& state) { Open(state, std::string(size_t(state.range(0)), 'x')); }

// Counting and reading every displayed line of a freshly loaded text, as
// printing and the title extraction do.
void ReadAllLines(benchmark::State& state)
{
    const QString text = FileTextToPaneText(MakeDocument(size_t(state.range(0))));
    TTextPane& pane = Pane();
    long long lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        pane.LoadText(text);
        state.ResumeTiming();
        const TLineSource& source = pane.Lines();
        const int count = source.Count();
        size_t total = 0;
        for (int i = 0; i < count; ++i) total += source.Line(i).size();
        benchmark::DoNotOptimize(total);
        lines = count;
    }
    state.counters["lines"] = double(lines);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(OpenAndShow)->Arg(500 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSingleLine)->Arg(1000 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(ReadAllLines)->Arg(500 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond);
