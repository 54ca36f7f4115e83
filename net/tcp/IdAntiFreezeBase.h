#pragma once

// An optional process-wide yield hook for the blocking waits of the transport.
//
// While an instance exists (the newest one is ActiveAntiFreeze) and is Active,
// waits on the main thread run in steps of at most IdleTimeOut milliseconds
// and call ProcessStep between the steps, so an application can keep its
// user interface alive during a blocking read or connect. Worker threads
// never yield. Without an instance every hook here is a no-op.

#include <atomic>
#include <cstdint>

#include "net/tcp/IdComponent.h"

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // Becomes ActiveAntiFreeze (replacing an earlier instance).
    explicit TIdAntiFreezeBase(TIdBaseComponent* owner = nullptr);
    // Clears ActiveAntiFreeze, whichever instance it holds.
    ~TIdAntiFreezeBase() override;

    // Lets the application handle its pending events.
    virtual void ProcessStep() = 0;

    bool Active() const { return active_; }
    void SetActive(bool value) { active_ = value; }
    bool ApplicationHasPriority() const { return applicationHasPriority_; }
    void SetApplicationHasPriority(bool value) { applicationHasPriority_ = value; }
    // Milliseconds; the longest a wait runs between two yields.
    int32_t IdleTimeOut() const { return idleTimeOut_; }
    void SetIdleTimeOut(int32_t value) { idleTimeOut_ = value; }
    bool OnlyWhenIdle() const { return onlyWhenIdle_; }
    void SetOnlyWhenIdle(bool value) { onlyWhenIdle_ = value; }

    // True when an instance exists, the caller is the main thread and the
    // instance is Active.
    static bool ShouldYield();
    // Runs ProcessStep when ShouldYield holds and the wait was idle (or the
    // hook does not insist on idleness, or the caller overrides it).
    static void YieldToApplication(bool idle, bool override);

private:
    std::atomic<bool> active_{true};
    bool applicationHasPriority_ = true;
    std::atomic<int32_t> idleTimeOut_{250};
    bool onlyWhenIdle_ = true;
};

extern std::atomic<TIdAntiFreezeBase*> ActiveAntiFreeze;
