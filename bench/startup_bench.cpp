// Start to first painted window, for a fresh process each time.
//
// Each iteration starts this binary again in its child mode, which runs the
// program's own start (RunScrivlet, the same code as scrivlet) in an empty
// folder; a hook installed when the application object is created sees the
// first paint of the main window, lets the toolkit put it on screen, and ends
// the child with the milliseconds since the parent started it. The window
// never closes, so no settings file is written.
//
//   startup_bench [benchmark flags]          (offscreen; set QT_QPA_PLATFORM=xcb under Xvfb)
//   startup_bench --first-paint <start ns>   (the child mode)

#include "app/Pagewick.h"
#include "tests/support/TempDir.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t g_startNs = 0;
int g_resultFd = -1;

class TFirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!done_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
            qobject_cast<QMainWindow*>(static_cast<QWidget*>(watched)->window()) != nullptr) {
            done_ = true;
            // Runs once the paint that is under way has been flushed to the window.
            QTimer::singleShot(0, [] {
                const int64_t elapsed = NowNs() - g_startNs;
                (void)!write(g_resultFd, &elapsed, sizeof elapsed);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    bool done_ = false;
};

void InstallFirstPaintHook()
{
    if (g_resultFd < 0) return;
    QCoreApplication::instance()->installEventFilter(new TFirstPaint);
}
Q_COREAPP_STARTUP_FUNCTION(InstallFirstPaintHook)

std::string g_self;

void BM_StartToFirstPaint(benchmark::State& state)
{
    const TTempDir folder;
    // The child's own CPU time, which other load on the machine disturbs less than the wall time.
    double cpuMs = 0;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) return state.SkipWithError("pipe");
        const int64_t start = NowNs();
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            if (chdir(folder.Path().c_str()) != 0) _exit(3);
            const std::string startText = std::to_string(start), fdText = std::to_string(fds[1]);
            execl(g_self.c_str(), g_self.c_str(), "--first-paint", startText.c_str(), fdText.c_str(), nullptr);
            _exit(4);
        }
        close(fds[1]);
        int64_t elapsed = 0;
        const bool got = read(fds[0], &elapsed, sizeof elapsed) == sizeof elapsed;
        close(fds[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
        cpuMs += ms(usage.ru_utime) + ms(usage.ru_stime);
        if (!got) return state.SkipWithError("the child did not paint");
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    state.counters["child_cpu_ms"] = cpuMs / double(state.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 4 && std::string(argv[1]) == "--first-paint") {
        g_startNs = std::stoll(argv[2]);
        g_resultFd = std::stoi(argv[3]);
        char* programArgs[] = {argv[0], nullptr};
        return RunScrivlet(1, programArgs);
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    g_self.assign(self, n > 0 ? size_t(n) : 0);
    benchmark::RegisterBenchmark("StartToFirstPaint", BM_StartToFirstPaint)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
