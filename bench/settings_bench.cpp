// Program start and exit with a settings file holding a long document
// history: the start reads what the window and the options dialog read, the
// exit writes what they write and saves the file, through the real settings
// and history code. Entries are RFC-shaped ("<number> : <title>" and a URL).
#include "app/DocumentHistory.h"
#include "settings/IniFile.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

std::string Two(int k) { return k < 10 ? "0" + std::to_string(k) : std::to_string(k); }

std::string MakeSettings(int entries)
{
    std::string text = "[font]\nName=Courier New\nsize=10\n"
                       "[conf]\nURLbase=http://www.rfc-editor.org/rfc/rfc%s.txt\nHistCount=20\nUseProxy=0\n"
                       "ProxyServer=\nProxyPort=8080\n[rfcs]\n";
    for (int i = 1; i <= entries; ++i)
        text += "N" + Two(i) + "=" + std::to_string(i) + " : Hypertext Transfer Protocol -- HTTP/1.1\n";
    for (int i = 1; i <= entries; ++i)
        text += "U" + Two(i) + "=http://www.rfc-editor.org/rfc/rfc" + std::to_string(i) + ".txt\n";
    return text + "[window]\nwidth=640\nheight=512\n";
}

// What the first activation and the options dialog's creation read.
void Start(const std::string& path, TDocumentHistory& history)
{
    TIniFile ini(path);
    benchmark::DoNotOptimize(ini.ReadString("font", "Name", "Courier New"));
    benchmark::DoNotOptimize(ini.ReadInteger("font", "size", 10));
    for (const char* key : {"URLbase", "ProxyServer"}) benchmark::DoNotOptimize(ini.ReadString("conf", key, ""));
    for (const char* key : {"HistCount", "UseProxy", "ProxyPort"})
        benchmark::DoNotOptimize(ini.ReadInteger("conf", key, 0));
    benchmark::DoNotOptimize(history.Load(ini));
    benchmark::DoNotOptimize(ini.ReadInteger("window", "width", 640));
    benchmark::DoNotOptimize(ini.ReadInteger("window", "height", 512));
}

// What the exit writes, in the window's order.
void Exit(const std::string& path, const TDocumentHistory& history)
{
    TIniFile ini(path);
    ini.WriteString("font", "Name", "Courier New");
    ini.WriteInteger("font", "size", 10);
    ini.WriteString("conf", "URLbase", "http://www.rfc-editor.org/rfc/rfc%s.txt");
    ini.WriteInteger("conf", "HistCount", 20);
    ini.WriteBool("conf", "UseProxy", false);
    ini.WriteString("conf", "ProxyServer", "");
    ini.WriteString("conf", "ProxyPort", "8080");
    history.Save(ini);
    ini.WriteInteger("window", "width", 640);
    ini.WriteInteger("window", "height", 512);
    ini.UpdateFile();
}

void BM_StartWithHistory(benchmark::State& state)
{
    TTempDir dir;
    const std::string path = dir.File("Scrivlet.ini");
    WriteTextFile(path, MakeSettings(int(state.range(0))));
    for (auto _ : state) {
        TDocumentHistory history;
        Start(path, history);
        if (history.Count() != state.range(0)) state.SkipWithError("history not read whole");
    }
}

void BM_ExitWithHistory(benchmark::State& state)
{
    TTempDir dir;
    const std::string path = dir.File("Scrivlet.ini");
    const std::string text = MakeSettings(int(state.range(0)));
    WriteTextFile(path, text);
    TDocumentHistory history;
    Start(path, history);
    // The first save moves the rewritten history to the end; later ones
    // write the same file again.
    Exit(path, history);
    const std::string saved = ReadTextFile(path);
    for (auto _ : state) Exit(path, history);
    if (ReadTextFile(path) != saved || saved.size() < text.size()) state.SkipWithError("the save lost entries");
}

} // namespace

BENCHMARK(BM_StartWithHistory)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_ExitWithHistory)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->MinTime(0.5);

BENCHMARK_MAIN();
