#include "platform/ProcessUtil.h"

#include <chrono>
#include <filesystem>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

int MinOf(int a, int b) { return a < b ? a : b; }

void SleepMs(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool InMainThread()
{
    // The thread the process started with has the process id as its thread id,
    // which holds however early this is asked (even during static start-up).
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

const std::string& TempDirectory()
{
    static const std::string directory = [] {
        std::error_code error;
        std::string dir = std::filesystem::temp_directory_path(error).string();
        if (error || dir.empty()) dir = "/tmp";
        if (dir.back() != '/') dir += '/';
        return dir;
    }();
    return directory;
}
