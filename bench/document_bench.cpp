// Reading aids over document text: the outline plus every line's references
// (what the contents panel and the links need when a document arrives) and
// find-all of a common word (what the find bar needs per keystroke).
//
// Documents: rfc2616.txt as published (422 KB), and texts of 2.5, 5 and
// 10 MB made by repeating the shared RFCs end to end, so the big ones hold
// real headings, contents pages, figures and references at their usual
// density. The timings include splitting the text into lines.

#include "app/DocumentFind.h"
#include "app/DocumentOutline.h"
#include "app/DocumentReferences.h"
#include "platform/TextUtil.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

// What a newly shown document costs: lines, outline, references of every line.
std::size_t OutlineAndReferences(const std::string& text)
{
    std::vector<std::string_view> lines = SplitLines(text);
    std::size_t found = DocumentOutline(lines).size();
    for (std::string_view line : lines) found += FindReferences(line).size();
    return found;
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
