#include "net/tcp/IdAntiFreezeBase.h"

#include "platform/ProcessUtil.h"

std::atomic<TIdAntiFreezeBase*> ActiveAntiFreeze{nullptr};

TIdAntiFreezeBase::TIdAntiFreezeBase(TIdBaseComponent* owner) : TIdBaseComponent(owner)
{
    ActiveAntiFreeze.store(this);
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() { ActiveAntiFreeze.store(nullptr); }

bool TIdAntiFreezeBase::ShouldYield()
{
    TIdAntiFreezeBase* hook = ActiveAntiFreeze.load();
    return hook != nullptr && InMainThread() && hook->Active();
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
