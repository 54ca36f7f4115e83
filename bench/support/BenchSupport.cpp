#include "bench/support/BenchSupport.h"

#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

extern char** environ;

namespace benchsupport {

void PinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::sched_setaffinity(0, sizeof(set), &set);
}

void WriteFilledFile(const std::string& path, int64_t size, char fill)
{
    std::ofstream out(path, std::ios::binary);
    const std::string block(1 << 20, fill);
    for (int64_t left = size; left > 0; left -= static_cast<int64_t>(block.size())) {
        out.write(block.data(), std::min<int64_t>(left, static_cast<int64_t>(block.size())));
    }
}

bool RunProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string MakeRfcLikeDocument(std::size_t bytes, const std::string& header, int longLineEvery)
{
    std::string text = header;
    text.reserve(bytes + 200);
    const std::string words = "the quick brown fox jumps over the lazy dog while the network works ";
    for (int line = 0; text.size() < bytes; ++line) {
        if (line % 58 == 57)
            text += "\f\n";
        else if (longLineEvery > 0 && line % longLineEvery == longLineEvery - 1)
            text += words + words + words + "\n";
        else
            text += "   " + words.substr(std::size_t(line) % 7, 60 + std::size_t(line) % 9) + "\n";
    }
    return text;
}

bool RunCurl(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"curl", "-s", "--http1.1", "--noproxy", "*"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(std::move(all));
}

void WriteCurlUrlList(const std::string& path, const std::string& url, int count)
{
    std::ofstream out(path);
    for (int i = 0; i < count; ++i) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
}

namespace {

const char* const kWords[] = {
    "transfer",  "protocol", "message",    "header",   "routing",    "cookie",         "session", "security",
    "transport", "control",  "internet",   "address",  "network",    "format",         "mail",    "server",
    "client",    "proxy",    "cache",      "resource", "identifier", "syntax",         "media",   "encoding",
    "domain",    "name",     "service",    "option",   "extension",  "authentication", "state",   "management",
    "datagram",  "stream",   "congestion", "window",   "timer",      "packet",         "routing", "registry"};

std::string Words(std::mt19937& random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += kWords[random() % std::size(kWords)];
    }
    return text;
}

std::string DocId(int number)
{
    char id[16];
    std::snprintf(id, sizeof id, "RFC%04d", number);
    return id;
}

} // namespace

std::string MakeRfcIndex(int count)
{
    std::mt19937 random(7);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<rfc-index xmlns=\"https://www.rfc-editor.org/rfc-index\">\n";
    const char* months[] = {"January", "April", "July", "October"};
    for (int n = 1; n <= count; ++n) {
        xml += "  <rfc-entry>\n    <doc-id>" + DocId(n) + "</doc-id>\n    <title>" + Words(random, 6) + "</title>\n";
        for (int a = 0, authors = 1 + int(random() % 4); a < authors; ++a)
            xml += "    <author>\n      <name>A. Author" + std::to_string(random() % 3000) + "</name>\n    </author>\n";
        xml += "    <date>\n      <month>" + std::string(months[n % 4]) + "</month>\n      <year>" +
               std::to_string(1970 + n / 200) + "</year>\n    </date>\n";
        xml += "    <format>\n      <file-format>ASCII</file-format>\n      <file-format>HTML</file-format>\n"
               "    </format>\n    <page-count>" +
               std::to_string(10 + n % 90) + "</page-count>\n";
        xml += "    <keywords>\n      <kw>" + Words(random, 1) + "</kw>\n      <kw>" + Words(random, 2) +
               "</kw>\n    </keywords>\n";
        xml += "    <abstract>\n      <p>" + Words(random, 70) + "</p>\n    </abstract>\n";
        if (n > 10 && n % 7 == 0)
            xml += "    <obsoletes>\n      <doc-id>" + DocId(n - 10) + "</doc-id>\n    </obsoletes>\n";
        if (n + 10 <= count && (n + 10) % 7 == 0)
            xml += "    <obsoleted-by>\n      <doc-id>" + DocId(n + 10) + "</doc-id>\n    </obsoleted-by>\n";
        if (n % 5 == 0) xml += "    <updated-by>\n      <doc-id>" + DocId(n + 3) + "</doc-id>\n    </updated-by>\n";
        xml += "    <current-status>PROPOSED STANDARD</current-status>\n"
               "    <publication-status>PROPOSED STANDARD</publication-status>\n    <stream>IETF</stream>\n"
               "    <area>app</area>\n    <wg_acronym>wg</wg_acronym>\n";
        if (n % 3 == 0)
            xml += "    <errata-url>https://www.rfc-editor.org/errata/rfc" + std::to_string(n) + "</errata-url>\n";
        xml += "    <doi>10.17487/" + DocId(n) + "</doi>\n  </rfc-entry>\n";
    }
    return xml + "</rfc-index>\n";
}

} // namespace benchsupport
