#include "bench/support/BenchSupport.h"

#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>

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

} // namespace benchsupport
