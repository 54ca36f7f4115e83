#pragma once

// The moment on the steady clock by which a wait must end, or none.
//
// Time-out properties and parameters speak in milliseconds with conventions of their own (-2 for none, 0 for
// none in one property and "now" in another). Each is converted once, where it is read, with DeadlineAfter;
// every layer below (the buffered connection, the transports, the stack's readiness wait, TLS) passes the
// deadline on and asks it how long to wait. A value type, copied freely; thread-neutral.

#include <chrono>
#include <cstdint>

class TIdDeadline {
public:
    using TClock = std::chrono::steady_clock;

    // No limit.
    TIdDeadline() = default;
    static TIdDeadline At(TClock::time_point when);
    static TIdDeadline In(std::chrono::milliseconds span) { return At(TClock::now() + span); }

    bool Limited() const { return limited_; }
    bool Passed() const { return limited_ && TClock::now() >= when_; }
    // The earlier of the two; no limit only when neither has one.
    TIdDeadline Earlier(const TIdDeadline& other) const;
    // The wait for a readiness poll: whole milliseconds left rounded up, so a wait never ends before the
    // deadline; 0 once it has passed; -1 without a limit.
    int WaitMs() const;

private:
    bool limited_ = false;
    TClock::time_point when_{};
};

// The one conversion of a time-out in milliseconds: -2 waits without limit, any other value below 1 means now.
TIdDeadline DeadlineAfter(int32_t timeoutMs);
