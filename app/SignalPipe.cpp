// Ending signals turned into a call on the GUI thread through a socket pair.
#include "app/SignalPipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t writeEnd = -1;

void OnSignal(int signal)
{
    const int saved = errno;
    const char number = char(signal);
    if (writeEnd >= 0) {
        const ssize_t written = write(writeEnd, &number, 1);
        (void)written; // a full pair already holds a wake-up
    }
    errno = saved;
}

} // namespace

TSignalPipe::TSignalPipe(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal))
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0)
        throw std::runtime_error("signal socket pair");
    writeEnd = fds_[1];
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

TSignalPipe::~TSignalPipe()
{
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    writeEnd = -1;
    delete notifier_;
    close(fds_[0]);
    close(fds_[1]);
}

void TSignalPipe::Drain()
{
    char numbers[16];
    ssize_t n = 0;
    while ((n = read(fds_[0], numbers, sizeof numbers)) > 0)
        for (ssize_t i = 0; i < n; ++i) onSignal_(numbers[i]);
}
