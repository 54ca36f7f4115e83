#pragma once

// The moment on the steady clock by which a wait must end, or none, and the cancel that may end it sooner.
//
// Time-out properties and parameters speak in milliseconds with conventions of their own (-2 for none, 0 for
// none in one property and "now" in another). Each is converted once, where it is read, with DeadlineAfter;
// every layer below (the buffered connection, the transports, the stack's readiness wait, TLS) passes the
// deadline on and asks it how long to wait. A cancel rides along: once cancelled, the deadline has passed, and a
// readiness poll that watches its wake handle ends at once. A value type, copied freely; the cancel it refers to
// is shared and may be set from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

// A cancel that any thread may set once; the waits of the deadlines that carry it end as soon as it is set.
// Owns its wake handles (a pipe that becomes readable on Cancel).
class TIdCancel {
public:
    TIdCancel();
    ~TIdCancel();
    TIdCancel(const TIdCancel&) = delete;
    TIdCancel& operator=(const TIdCancel&) = delete;

    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // Readable once cancelled; -1 when the system gave no handle (waits then notice the cancel only when they
    // end).
    int WakeHandle() const { return handles_[0]; }

private:
    std::atomic<bool> cancelled_{false};
    int handles_[2] = {-1, -1};
};

class TIdDeadline {
public:
    using TClock = std::chrono::steady_clock;

    // No limit.
    TIdDeadline() = default;
    static TIdDeadline At(TClock::time_point when);
    static TIdDeadline In(std::chrono::milliseconds span) { return At(TClock::now() + span); }

    // Whether a wait ends by itself: a time limit or a cancel.
    bool Limited() const { return limited_ || cancel_ != nullptr; }
    // The time has come, or the cancel was set.
    bool Passed() const { return Cancelled() || (limited_ && TClock::now() >= when_); }
    bool Cancelled() const { return cancel_ && cancel_->Cancelled(); }
    // The same deadline, also ended by cancel.
    TIdDeadline WithCancel(std::shared_ptr<const TIdCancel> cancel) const;
    // The handle a poll watches besides its own: readable once cancelled; -1 without a cancel.
    int CancelHandle() const { return cancel_ ? cancel_->WakeHandle() : -1; }
    // The earlier of the two, with the cancel of either; no limit only when neither has one.
    TIdDeadline Earlier(const TIdDeadline& other) const;
    // The wait for a readiness poll: whole milliseconds left rounded up, so a wait never ends before the
    // deadline; 0 once it has passed; -1 without a time limit.
    int WaitMs() const;

private:
    bool limited_ = false;
    TClock::time_point when_{};
    std::shared_ptr<const TIdCancel> cancel_;
};

// The one conversion of a time-out in milliseconds: -2 waits without limit, any other value below 1 means now.
TIdDeadline DeadlineAfter(int32_t timeoutMs);
