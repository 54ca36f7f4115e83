#pragma once

// What the benchmarks that measure against a server or a reference program share.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace benchsupport {

// Loopback throughput swings widely with whether the server and the client share a core, so a server starts on
// core 0 (StartOnServerCore) and every client (the benchmark's thread, and the programs it runs, which inherit
// the setting) runs on core 1.
void PinTo(int cpu);

// Makes the server with make() on core 0, then moves this thread to core 1.
template <class TMake>
auto StartOnServerCore(TMake make)
{
    PinTo(0);
    auto server = make();
    PinTo(1);
    return server;
}

// Writes a file of size bytes, every one of them fill.
void WriteFilledFile(const std::string& path, int64_t size, char fill);

// Runs the program args[0], found on PATH, with the rest as its arguments and waits for it. True when it started
// and exited with status 0.
bool RunProgram(std::vector<std::string> args);

// A document shaped like an RFC of about bytes bytes: header, then lines of 60 to 68 columns, a form feed line
// closing every 58 lines and, when longLineEvery > 0, a line too long for the pane's width that often.
std::string MakeRfcLikeDocument(std::size_t bytes, const std::string& header, int longLineEvery);

// Runs curl, silent, over HTTP/1.1 and never through a proxy the environment names, with args after that. True
// when it exited with status 0.
bool RunCurl(const std::vector<std::string>& args);

// Writes a curl configuration that fetches url count times into /dev/null: one curl run, one kept connection.
void WriteCurlUrlList(const std::string& path, const std::string& url, int count);

// The publisher's index with count entries, shaped like the published file: its elements, nesting and typical
// field lengths, some entries obsoleted by later ones.
std::string MakeRfcIndex(int count);

} // namespace benchsupport
