#include "net/tcp/IdDeadline.h"

#include <algorithm>
#include <limits>

TIdDeadline TIdDeadline::At(TClock::time_point when)
{
    TIdDeadline deadline;
    deadline.limited_ = true;
    deadline.when_ = when;
    return deadline;
}

TIdDeadline TIdDeadline::Earlier(const TIdDeadline& other) const
{
    if (!limited_) return other;
    if (!other.limited_) return *this;
    return when_ <= other.when_ ? *this : other;
}

int TIdDeadline::WaitMs() const
{
    if (!limited_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when_ - TClock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
}

TIdDeadline DeadlineAfter(int32_t timeoutMs)
{
    if (timeoutMs == -2) return {};
    return TIdDeadline::In(std::chrono::milliseconds(std::max(timeoutMs, 0)));
}
