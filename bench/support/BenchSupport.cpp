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

} // namespace benchsupport
