// Printing speed against a common text-to-print converter.
//
// The same plain-text document goes through our page layout into a PDF file
// (in this process, and as a fresh process of this binary so start-up counts
// as it does for the other tools) and through paps (text to PostScript) and
// enscript piped into ps2pdf (text to PDF). Documents: a generated one of 200
// form-feed pages, and rfc2616.txt (177 pages) when the sample is present.
//
//   print_bench [benchmark flags]
//   print_bench --print-pdf <text file> <pdf file>   (the child mode)

#include "app/DocumentText.h"
#include "print/PrintQt.h"
#include "tests/support/TempDir.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char* const kSampleRfc = SCRIVLET_RFC_DIR "/rfc2616.txt";
const int kGeneratedPages = 200;

struct TDocument {
    std::string name;
    std::string path; // the text on disk, for the tools
    std::string text;
};

// Pages shaped like a published RFC page: 56 lines of at most 72 columns,
// a footer line, then a form feed line carrying the next page's header.
std::string GeneratedText(int pages)
{
    static const char* const words[] = {"the",  "client", "MUST",    "send",     "a",     "request", "header", "field",
                                        "with", "each",   "message", "response", "proxy", "server",  "cache"};
    std::string text;
    unsigned seed = 12345;
    for (int page = 1; page <= pages; ++page) {
        if (page > 1) text += "\fRFC 9999            Generated Sample Document          June 2024\n";
        for (int line = 1; line < 56; ++line) {
            std::string row = (line % 9 == 0) ? "" : "   ";
            while (line % 9 != 0 && row.size() < 60) {
                seed = seed * 1103515245u + 12345u;
                row += words[(seed >> 16) % 15];
                row += ' ';
            }
            text += row + "\n";
        }
        text += "Author                      Standards Track                [Page " + std::to_string(page) + "]\n";
    }
    return text;
}

QFont DocumentFont() { return QFont("DejaVu Sans Mono", 10); }

bool PrintFileToPdf(const std::string& textPath, const std::string& pdfPath)
{
    const TStringLines lines(FileLines(ReadTextFile(textPath)));
    return PrintLinesToPdf(pdfPath, DocumentFont(), lines, [](const std::string&, const std::string&) { return true; });
}

double ChildrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Runs a tool per iteration. Besides the wall time it reports the CPU time the
// tool's processes used (child_cpu_ms), which other load on the machine
// disturbs less than the wall time.
void RunCommand(benchmark::State& state, const std::string& command)
{
    const double before = ChildrenCpuMs();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    state.counters["child_cpu_ms"] = (ChildrenCpuMs() - before) / static_cast<double>(state.iterations());
}

std::string g_self;    // this executable, for the child mode
std::string g_workDir; // temporary files of this run

void BM_PrintPdfInProcess(benchmark::State& state, const TDocument* doc)
{
    const std::string pdf = g_workDir + "/inproc.pdf";
    for (auto _ : state) {
        const TStringLines lines(FileLines(doc->text));
        PrintLinesToPdf(pdf, DocumentFont(), lines, [](const std::string&, const std::string&) { return true; });
    }
}

void BM_PrintPdfProcess(benchmark::State& state, const TDocument* doc)
{
    RunCommand(state, "'" + g_self + "' --print-pdf '" + doc->path + "' '" + g_workDir + "/child.pdf'");
}

void BM_PapsPostScript(benchmark::State& state, const TDocument* doc)
{
    RunCommand(state, "paps --font='Monospace 10' '" + doc->path + "' > '" + g_workDir + "/paps.ps' 2>/dev/null");
}

void BM_EnscriptPs2pdf(benchmark::State& state, const TDocument* doc)
{
    RunCommand(state,
               "enscript -q -B -f Courier10 -o - '" + doc->path + "' | ps2pdf - '" + g_workDir + "/enscript.pdf'");
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 4 && std::string(argv[1]) == "--print-pdf") {
        QGuiApplication app(argc, argv);
        return PrintFileToPdf(argv[2], argv[3]) ? 0 : 1;
    }
    QGuiApplication app(argc, argv);

    const TTempDir workDir;
    g_workDir = workDir.Path();
    g_self = "/proc/self/exe";
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) g_self.assign(self, static_cast<size_t>(n));

    std::vector<TDocument> docs;
    docs.push_back({"generated200", g_workDir + "/generated.txt", GeneratedText(kGeneratedPages)});
    WriteTextFile(docs.back().path, docs.back().text);
    if (std::ifstream(kSampleRfc)) docs.push_back({"rfc2616", kSampleRfc, ReadTextFile(kSampleRfc)});

    const std::pair<const char*, void (*)(benchmark::State&, const TDocument*)> ways[] = {
        {"PrintPdfInProcess", BM_PrintPdfInProcess},
        {"PrintPdfProcess", BM_PrintPdfProcess},
        {"PapsPostScript", BM_PapsPostScript},
        {"EnscriptPs2pdf", BM_EnscriptPs2pdf},
    };
    for (const TDocument& doc : docs) {
        for (const auto& [way, run] : ways) {
            benchmark::RegisterBenchmark((std::string(way) + "/" + doc.name).c_str(), run, &doc)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
