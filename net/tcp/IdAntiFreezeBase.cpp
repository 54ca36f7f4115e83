#include "net/tcp/IdAntiFreezeBase.h"

#include <sys/syscall.h>
#include <unistd.h>

std::atomic<TIdAntiFreezeBase*> ActiveAntiFreeze{nullptr};

bool IsMainThread()
{
    // The main thread's thread id equals the process id.
    return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

TIdAntiFreezeBase::TIdAntiFreezeBase(TIdBaseComponent* owner) : TIdBaseComponent(owner)
{
    ActiveAntiFreeze.store(this);
}

TIdAntiFreezeBase::~TIdAntiFreezeBase()
{
    ActiveAntiFreeze.store(nullptr);
}

bool TIdAntiFreezeBase::ShouldYield()
{
    TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
    return hook != nullptr && IsMainThread() && hook->Active();
}

void TIdAntiFreezeBase::YieldToApplication(bool idle, bool override)
{
    if (!ShouldYield()) {
        return;
    }
    TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
    if (hook != nullptr && (idle || !hook->OnlyWhenIdle() || override) && hook->Active()) {
        hook->ProcessStep();
    }
}
