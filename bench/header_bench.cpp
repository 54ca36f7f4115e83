// Header handling on the request path: reading a typical response's 30
// header lines into the record, composing the program's own request, and
// folding one long value (64 KB and 1 MB, to show the folding is linear).

#include <benchmark/benchmark.h>

#include <string>

#include "net/http/IdHTTPHeaderInfo.h"

namespace {

const char* const kResponseLines[] = {
    "Date: Sun, 06 Nov 1994 08:49:37 GMT",
    "Server: nginx/1.22.1",
    "Content-Type: text/plain; charset=utf-8",
    "Content-Length: 73542",
    "Last-Modified: Sat, 05 Nov 1994 08:49:37 GMT",
    "Connection: keep-alive",
    "ETag: \"11f46-5c8a1b2e3f4d0\"",
    "Accept-Ranges: bytes",
    "Cache-Control: max-age=86400, public",
    "Expires: Mon, 07 Nov 1994 08:49:37 GMT",
    "Vary: Accept-Encoding",
    "X-Frame-Options: SAMEORIGIN",
    "X-Content-Type-Options: nosniff",
    "Strict-Transport-Security: max-age=31536000; includeSubDomains",
    "Content-Security-Policy: default-src 'self'",
    "Referrer-Policy: strict-origin-when-cross-origin",
    "Set-Cookie: session=abc123; Path=/; HttpOnly",
    "Set-Cookie: theme=dark; Path=/; Max-Age=3600",
    "Age: 120",
    "Via: 1.1 proxy.example.org",
    "X-Cache: HIT",
    "X-Served-By: cache-nrt-1",
    "X-Request-Id: 5f2b7c1e-8d3a-4b6f-9e0c-1a2b3c4d5e6f",
    "Pragma: no-cache",
    "Content-Language: en",
    "Link: <https://www.rfc-editor.org/>; rel=\"canonical\"",
    "Alt-Svc: h3=\":443\"; ma=86400",
    "Server-Timing: cdn-cache; desc=HIT",
    "Timing-Allow-Origin: *",
    "X-XSS-Protection: 0",
};

void BM_ResponseFieldsFromLines(benchmark::State& state)
{
    TIdResponseHeaderInfo response;
    for (auto _ : state) {
        response.HeaderLines().Clear();
        for (const char* line : kResponseLines) response.HeaderLines().Add(line);
        response.FieldsFromLines();
        benchmark::DoNotOptimize(response.ContentLength());
    }
}
BENCHMARK(BM_ResponseFieldsFromLines);

void BM_RequestLinesFromFields(benchmark::State& state)
{
    TIdRequestHeaderInfo request;
    TIdProxyConnectionInfo proxy;
    request.SetHost("www.rfc-editor.org");
    for (auto _ : state) {
        request.LinesFromFields();
        proxy.LinesFromFields(request.HeaderLines());
        benchmark::DoNotOptimize(request.HeaderLines().Count());
    }
}
BENCHMARK(BM_RequestLinesFromFields);

void BM_FoldText(benchmark::State& state)
{
    std::string value = "X-Long: ";
    while (value.size() < size_t(state.range(0))) value += "token" + std::to_string(value.size() % 997) + ", ";
    TIdHeaderList list;
    for (auto _ : state) {
        const TStringList pieces = list.FoldText(value);
        benchmark::DoNotOptimize(pieces.Count());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(value.size()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FoldText)->Arg(64 << 10)->Arg(1 << 20)->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
