// Reading aids over document text: the outline plus every line's references
// (what the contents panel and the links need when a document arrives) and
// find-all of a common word (what the find bar needs per keystroke).
//
// Documents: rfc2616.txt as published (422 KB), and texts of 2.5, 5 and
// 10 MB made by repeating the shared RFCs end to end, so the big ones hold
// real headings, contents pages, figures and references at their usual
// density. The timings include splitting the text into lines.

#include "app/DocumentEncoding.h"
#include "app/DocumentFind.h"
#include "app/DocumentOutline.h"
#include "app/DocumentReferences.h"
#include "platform/TextUtil.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kRfcDir = SCRIVLET_RFC_DIR;

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The shared RFCs end to end, repeated up to at least the given size.
std::string RepeatedRfcs(std::size_t bytes)
{
    std::vector<std::string> paths;
    if (std::filesystem::exists(kRfcDir))
        for (const auto& entry : std::filesystem::directory_iterator(kRfcDir))
            if (entry.path().extension() == ".txt") paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    std::string all;
    for (const std::string& path : paths) all += ReadAll(path);
    std::string text;
    if (all.empty()) return text;
    text.reserve(bytes + all.size());
    while (text.size() < bytes) text += all;
    return text;
}

// What a newly shown document costs: lines, outline with its table of
// contents, and every link (references of each line, contents lines, citations).
std::size_t OutlineAndReferences(const std::string& text)
{
    std::vector<std::string_view> lines = SplitLines(text);
    const TDocumentLayout layout = DocumentLayout(lines);
    return layout.Headings.size() + DocumentLinks(lines, layout.Contents, 2616).size();
}

// A Japanese translation's opening, repeated to 10 MB and converted to
// Shift_JIS, as a local file of that size would hold it.
std::string ShiftJisText(std::size_t bytes)
{
    const std::string utf8 = "RFC 2616 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE8\xA8\xB3\n\n"
                             "   \xE3\x83\x8F\xE3\x82\xA4\xE3\x83\x91\xE3\x83\xBC\xE3\x83\x86\xE3\x82\xAD"
                             "\xE3\x82\xB9\xE3\x83\x88\xE8\xBB\xA2\xE9\x80\x81 (HTTP) \xE3\x81\xAF\xE3\x80\x81"
                             "\xE5\x88\x86\xE6\x95\xA3\xE5\x9E\x8B\xE3\x81\xAE\xE3\x83\x97\xE3\x83\xAD"
                             "\xE3\x83\x88\xE3\x82\xB3\xE3\x83\xAB\xE3\x81\xA7\xE3\x81\x82\xE3\x82\x8B\xE3\x80\x82\n";
    std::string text;
    while (text.size() < bytes * 3 / 2) text += utf8;
    iconv_t cd = iconv_open("SHIFT_JIS", "UTF-8");
    std::string out(text.size(), '\0');
    char* in = text.data();
    std::size_t inLeft = text.size(), outLeft = out.size();
    char* to = out.data();
    iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

void BM_OutlineAndReferencesRfc2616(benchmark::State& state)
{
    const std::string text = ReadAll(kRfcDir + "/rfc2616.txt");
    if (text.empty()) {
        state.SkipWithError("rfc2616.txt is not present");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(OutlineAndReferences(text));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(BM_OutlineAndReferencesRfc2616)->Unit(benchmark::kMillisecond);

void BM_OutlineAndReferencesBig(benchmark::State& state)
{
    const std::string text = RepeatedRfcs(std::size_t(state.range(0)) << 10);
    if (text.empty()) {
        state.SkipWithError("the shared RFCs are not present");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(OutlineAndReferences(text));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
    state.SetComplexityN(std::int64_t(text.size()));
}
// Sizes in KB: 2.5, 5 and 10 MB, to show the time grows linearly.
BENCHMARK(BM_OutlineAndReferencesBig)
    ->Arg(2560)
    ->Arg(5120)
    ->Arg(10240)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Detecting and decoding a local file of 10 MB in Shift_JIS.
void BM_DecodeShiftJis10MB(benchmark::State& state)
{
    const std::string bytes = ShiftJisText(std::size_t{10} << 20);
    for (auto _ : state) benchmark::DoNotOptimize(DecodeLocalText(bytes).Utf8.size());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
    state.counters["MB"] = double(bytes.size()) / (1 << 20);
}
BENCHMARK(BM_DecodeShiftJis10MB)->Unit(benchmark::kMillisecond);

void BM_FindAllCommonWord(benchmark::State& state)
{
    const std::string text = RepeatedRfcs(std::size_t{10} << 20);
    if (text.empty()) {
        state.SkipWithError("the shared RFCs are not present");
        return;
    }
    const std::vector<std::string_view> lines = SplitLines(text);
    const bool matchCase = state.range(0) != 0;
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = FindAll(lines, "the", matchCase).size();
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = double(matches);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
// 0: any case (the find bar's default), 1: exact case.
BENCHMARK(BM_FindAllCommonWord)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
