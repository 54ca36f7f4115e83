// Opening a document into the text pane and reading every displayed line,
// at the pane size of the default 640 by 512 window, for a 500 KB and a
// 10 MB file, and opening a file that is one line without blanks. The documents are generated: RFC-shaped lines of up
// to 72 characters with a form feed every 58 lines, and every 40th line too long for the pane so the wrapping path is
// measured as well. Then the memory a fetched body costs, as peak resident memory above what the process held
// before, and loading, scrolling through and painting a real RFC.
#include "app/DocumentSession.h"
#include "app/DocumentText.h"
#include "app/FindBar.h"
#include "app/PaneLinks.h"
#include "app/PaneText.h"
#include "app/PrintPreview.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "bench/support/BenchSupport.h"
#include "tests/support/TempDir.h"
#include <QScrollBar>

#include "platform/Classes.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPrinter>
#include <QSplitter>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fstream>
#include <sstream>
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

// Resident memory now and at its peak, in bytes, from /proc/self/status.
long long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(key.size()));
    return -1;
}

// Starts a new peak: writing 5 to clear_refs resets the high-water mark.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A fetched body as the window handles it: the body stream, the pane's text
// made from it, the status line's count, the title and one paint. The peak
// counter is the highest resident memory above what the process held before
// the body arrived; "held" is what remains while the document is shown.
void FetchedBody(benchmark::State& state, const std::string& document)
{
    TTextPane& pane = Pane();
    pane.LoadText(QString());
    QApplication::processEvents();
    for (auto _ : state) {
        const long long before = StatusKb("VmRSS");
        ResetPeak();
        {
            TMemoryStream body;
            body.WriteBuffer(document.data(), int64_t(document.size()));
            pane.LoadText(FileTextToPaneText(std::string_view(body.Memory(), size_t(body.Size()))));
            benchmark::DoNotOptimize(pane.LineCount());
            benchmark::DoNotOptimize(ExtractTitle(pane.Lines()));
        }
        pane.repaint();
        const long long held = StatusKb("VmRSS");
        state.counters["peak_MB"] = double(StatusKb("VmHWM") - before) / 1024;
        state.counters["held_MB"] = double(held - before) / 1024;
        // A line typed in the middle of the document: a key, then Enter.
        const auto typed = std::chrono::steady_clock::now();
        pane.Select(int(pane.Text().size() / 2), int(pane.Text().size() / 2));
        for (const auto& [key, text] : {std::pair{Qt::Key_A, "a"}, std::pair{Qt::Key_Return, "\r"}}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(text));
            QApplication::sendEvent(&pane, &press);
        }
        pane.repaint();
        state.counters["type_ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - typed).count();
        state.counters["typed_MB"] = double(StatusKb("VmRSS") - before) / 1024;
        state.counters["doc_MB"] = double(document.size()) / 1e6;
        state.PauseTiming();
        pane.LoadText(QString());
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

std::string LinesOf65(size_t bytes)
{
    const std::string line = std::string(64, 'x').replace(10, 1, " ").replace(40, 1, " ") + "\n";
    std::string text;
    text.reserve(bytes);
    while (text.size() + line.size() <= bytes) text += line;
    return text;
}

void FetchedLines65(benchmark::State& state) { FetchedBody(state, LinesOf65(size_t(state.range(0)))); }
void FetchedEmptyLines(benchmark::State& state) { FetchedBody(state, std::string(size_t(state.range(0)), '\n')); }

QString Rfc2616()
{
    QFile file(QStringLiteral(SCRIVLET_RFC_DIR "/rfc2616.txt"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return FileTextToPaneText(std::string_view(bytes.constData(), size_t(bytes.size())));
}

// Loading RFC 2616 and painting its first screen.
void Rfc2616Load(benchmark::State& state)
{
    const QString text = Rfc2616();
    if (text.isEmpty()) {
        state.SkipWithError("rfc2616.txt not found");
        return;
    }
    TTextPane& pane = Pane();
    for (auto _ : state) {
        pane.LoadText(text);
        pane.repaint();
    }
}

// The window's reading aids around a pane of the default window's size. Made
// once and never deleted, as the pane above: a static window would be
// destroyed after the application object, at exit.
struct TReaderWindow {
    TReaderWindow()
    {
        auto* client = new QWidget;
        window.setCentralWidget(client);
        pane = new TTextPane(client);
        TReaderHooks hooks;
        hooks.FetchRfc = [](int, std::function<void()>) {};
        hooks.OpenUrl = [](const QString&) {};
        hooks.Status = [](const QString&) {};
        hooks.Guarded = [](const std::function<void()>& body) { body(); };
        reader = new TReaderView(window, *pane, session, hooks);
        window.resize(640, 512);
        window.show();
        // Where the window's layout puts the reading area.
        reader->Area->setGeometry(8, 40, 624, 406);
        QApplication::processEvents();
    }
    TDocumentSession session;
    QMainWindow window;
    TTextPane* pane;
    TReaderView* reader;
};

// RFC 2616 with its reading aids in window, a reader window of the calling
// benchmark's own made on its first run; null, the run skipped, without the text.
TReaderWindow* ShowRfc2616(benchmark::State& state, TReaderWindow*& window)
{
    const QString text = Rfc2616();
    if (text.isEmpty()) {
        state.SkipWithError("rfc2616.txt not found");
        return nullptr;
    }
    if (!window) window = new TReaderWindow;
    window->pane->LoadText(text);
    window->reader->Refresh();
    return window;
}

// Paging down through RFC 2616 to its end, painting every screen: plain
// (argument 0), with its links (1), and with its links and every "the"
// highlighted as found (2: about 4800 matches).
void Rfc2616ScrollAndPaint(benchmark::State& state)
{
    static TReaderWindow* made = nullptr;
    if (!ShowRfc2616(state, made)) return;
    TReaderWindow& window = *made;
    TTextPane& pane = *window.pane;
    // Shown and hidden, so the pane is as high as with the bar in every case.
    window.reader->FindAction->trigger();
    if (state.range(0) == 2) window.reader->Find->Field->setText(QStringLiteral("the"));
    if (state.range(0) == 0) pane.SetMarks({});
    state.counters["marks"] = double(pane.Marks().size());
    pane.repaint();
    int pages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
        QApplication::sendEvent(&pane, &home);
        pane.repaint();
        state.ResumeTiming();
        pages = 0;
        for (; pages < 2000; ++pages) {
            const int before = pane.verticalScrollBar()->value();
            QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(&pane, &down);
            pane.repaint();
            if (pane.verticalScrollBar()->value() == before) break;
        }
    }
    state.counters["screens"] = pages;
    window.reader->CloseFindAction->trigger();
}

// Typing "chunked" into the find bar over RFC 2616, a key at a time: each
// key finds every match, highlights them with the links, scrolls to the
// current one and paints the pane. The time is per key.
void Rfc2616FindTyping(benchmark::State& state)
{
    static TReaderWindow* made = nullptr;
    if (!ShowRfc2616(state, made)) return;
    TReaderWindow& window = *made;
    window.reader->FindAction->trigger();
    QLineEdit* field = window.reader->Find->Field;
    const QString word = QStringLiteral("chunked");
    for (auto _ : state) {
        state.PauseTiming();
        field->clear();
        window.pane->ScrollToSourceLine(0);
        state.ResumeTiming();
        for (qsizetype i = 1; i <= word.size(); ++i) {
            field->setText(word.left(i));
            window.pane->repaint();
        }
    }
    state.counters["matches"] = window.reader->Find->MatchCount();
    state.SetItemsProcessed(state.iterations() * word.size());
    window.reader->CloseFindAction->trigger();
}

// What a newly shown RFC 2616 costs the reading aids: its lines as UTF-8,
// the outline for the contents panel and the links.
void Rfc2616ReaderScan(benchmark::State& state)
{
    const QString text = Rfc2616();
    if (text.isEmpty()) {
        state.SkipWithError("rfc2616.txt not found");
        return;
    }
    static TReaderWindow& window = *new TReaderWindow;
    for (auto _ : state) {
        state.PauseTiming();
        window.pane->LoadText(text);
        state.ResumeTiming();
        window.reader->Refresh();
    }
    state.counters["links"] = double(window.reader->Links->Links().size());
}

// A window resize with the width fitted: the reader picks the font for the
// new width and the pane lays out its rows again and paints, alternating
// between two widths so every step changes the font.
void Rfc2616FitResize(benchmark::State& state)
{
    static TReaderWindow* made = nullptr;
    if (!ShowRfc2616(state, made)) return;
    TReaderWindow& window = *made;
    window.reader->SetFitWidth(true);
    bool wide = false;
    for (auto _ : state) {
        wide = !wide;
        window.reader->Area->resize(wide ? 624 : 420, 406);
        benchmark::DoNotOptimize(window.pane->LineCount());
        window.pane->viewport()->repaint();
    }
    state.counters["points"] = window.pane->font().pointSizeF();
}

// From the preview command to its first page: the fit check over every line,
// counting the pages, and drawing the first one at the preview's size.
void Rfc2616PreviewFirstPage(benchmark::State& state)
{
    const QString text = Rfc2616();
    if (text.isEmpty()) {
        state.SkipWithError("rfc2616.txt not found");
        return;
    }
    TTextPane& pane = Pane();
    pane.LoadText(text);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPointSize(10);
    int pages = 0;
    for (auto _ : state) {
        if (!FitCheckPasses(printer, font, pane.SourceLines(),
                            [](const std::string&, const std::string&) { return true; }))
            state.SkipWithError("fit check refused");
        const TPreviewPages preview = PreviewPages(printer, font, pane.SourceLines());
        QImage sheet(560, 560 * preview.Paper.height() / preview.Paper.width(), QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        painter.scale(560.0 / preview.Paper.width(), 560.0 / preview.Paper.width());
        preview.Draw(painter, 0);
        pages = preview.Count;
    }
    state.counters["pages"] = pages;
}

} // namespace

BENCHMARK(FetchedLines65)->Arg(100 * 1000 * 1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(FetchedEmptyLines)->Arg(30 * 1000 * 1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Rfc2616Load)->Unit(benchmark::kMillisecond);
BENCHMARK(Rfc2616ScrollAndPaint)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Rfc2616FindTyping)->Unit(benchmark::kMillisecond);
BENCHMARK(Rfc2616ReaderScan)->Unit(benchmark::kMillisecond);
BENCHMARK(Rfc2616FitResize)->Unit(benchmark::kMillisecond);
BENCHMARK(Rfc2616PreviewFirstPage)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenAndShow)->Arg(500 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSingleLine)->Arg(1000 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(ReadAllLines)->Arg(500 * 1000)->Arg(10 * 1000 * 1000)->Unit(benchmark::kMillisecond);
