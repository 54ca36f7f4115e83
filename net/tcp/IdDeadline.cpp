#include "net/tcp/IdDeadline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

TIdCancel::TIdCancel()
{
    if (pipe2(handles_, O_CLOEXEC | O_NONBLOCK) != 0) handles_[0] = handles_[1] = -1;
}

TIdCancel::~TIdCancel()
{
    for (const int handle : handles_) {
        if (handle >= 0) close(handle);
    }
}

void TIdCancel::Cancel()
{
    if (cancelled_.exchange(true) || handles_[1] < 0) return;
    // Unchecked: the pipe is empty and non-blocking, and a poll that misses the byte still sees the flag when
    // its wait ends.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(handles_[1], &byte, 1);
}

TIdDeadline TIdDeadline::WithCancel(std::shared_ptr<const TIdCancel> cancel) const
{
    TIdDeadline deadline = *this;
    deadline.cancel_ = std::move(cancel);
    return deadline;
}

TIdDeadline TIdDeadline::At(TClock::time_point when)
{
    TIdDeadline deadline;
    deadline.limited_ = true;
    deadline.when_ = when;
    return deadline;
}

TIdDeadline TIdDeadline::Earlier(const TIdDeadline& other) const
{
    TIdDeadline earlier = *this;
    if (!limited_ || (other.limited_ && other.when_ < when_)) {
        earlier.limited_ = other.limited_;
        earlier.when_ = other.when_;
    }
    if (!earlier.cancel_) earlier.cancel_ = other.cancel_;
    return earlier;
}

int TIdDeadline::WaitMs() const
{
    if (Cancelled()) return 0;
    if (!limited_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when_ - TClock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
}

TIdDeadline DeadlineAfter(int32_t timeoutMs)
{
    if (timeoutMs == -2) return {};
    return TIdDeadline::In(std::chrono::milliseconds(std::max(timeoutMs, 0)));
}
