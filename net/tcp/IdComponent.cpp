#include "net/tcp/IdComponent.h"

#include <algorithm>

#include "net/tcp/IdStack.h"
#include "platform/SysUtils.h"

// ---- TIdBaseComponent -------------------------------------------------------

TIdBaseComponent::TIdBaseComponent(TIdBaseComponent* owner)
{
    if (owner != nullptr) {
        owner->InsertComponent(this);
    }
}

TIdBaseComponent::~TIdBaseComponent()
{
    // One link at a time: an observer may drop further links from inside Notification.
    while (!watches_.empty()) {
        TIdBaseComponent* other = watches_.back();
        watches_.pop_back();
        other->DropWatch(this);
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (owner_ != nullptr) {
        TIdBaseComponent* owner = owner_;
        owner->RemoveComponent(this);
        owner->Notification(this, opRemove);
    }
}

void TIdBaseComponent::FreeNotification(TIdBaseComponent* observer)
{
    if (observer == nullptr || observer == this) {
        return;
    }
    AddWatch(observer);
    observer->AddWatch(this);
}

void TIdBaseComponent::RemoveFreeNotification(TIdBaseComponent* observer)
{
    if (observer == nullptr) {
        return;
    }
    DropWatch(observer);
    observer->DropWatch(this);
}

void TIdBaseComponent::Notification(TIdBaseComponent*, TOperation) {}

void TIdBaseComponent::DestroyComponents()
{
    // Each child removes itself from owned_ while it is destroyed.
    while (!owned_.empty()) {
        delete owned_.back();
    }
}

void TIdBaseComponent::InsertComponent(TIdBaseComponent* component)
{
    owned_.push_back(component);
    component->owner_ = this;
}

void TIdBaseComponent::RemoveComponent(TIdBaseComponent* component)
{
    owned_.erase(std::remove(owned_.begin(), owned_.end(), component), owned_.end());
    component->owner_ = nullptr;
}

void TIdBaseComponent::AddWatch(TIdBaseComponent* other)
{
    if (std::find(watches_.begin(), watches_.end(), other) == watches_.end()) {
        watches_.push_back(other);
    }
}

void TIdBaseComponent::DropWatch(TIdBaseComponent* other)
{
    watches_.erase(std::remove(watches_.begin(), watches_.end(), other), watches_.end());
}

// ---- TIdComponent -------------------------------------------------------------

const char* StatusFormat(TIdStatus status)
{
    switch (status) {
    case hsResolving: return "Resolving hostname %s.";
    case hsConnecting: return "Connecting to %s.";
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: break;
    }
    return "%s";
}

TIdComponent::TIdComponent(TIdBaseComponent* owner) : TIdBaseComponent(owner)
{
    std::lock_guard<std::mutex> lock(StackGuard);
    // The stack is made before the count goes up: a stack that fails to start
    // must not leave a count behind that claims a stack exists.
    if (StackUsers == 0) {
        GlobalStack = StackClass();
    }
    ++StackUsers;
}

TIdComponent::~TIdComponent()
{
    std::lock_guard<std::mutex> lock(StackGuard);
    if (--StackUsers == 0) {
        delete GlobalStack;
        GlobalStack = nullptr;
    }
}

void TIdComponent::WorkStarted(TWorkMode mode, int64_t workCountMax)
{
    TWorkInfo& work = work_[mode];
    ++work.level;
    if (work.level == 1) {
        work.countMax = workCountMax;
        work.count = 0;
        if (OnWorkBegin) {
            OnWorkBegin(this, mode, workCountMax);
        }
    }
}

void TIdComponent::WorkProgress(TWorkMode mode, int64_t count)
{
    TWorkInfo& work = work_[mode];
    if (work.level < 1) {
        return;
    }
    work.count += count;
    if (OnWork) {
        OnWork(this, mode, work.count);
    }
}

void TIdComponent::WorkFinished(TWorkMode mode)
{
    TWorkInfo& work = work_[mode];
    if (work.level == 1 && OnWorkEnd) {
        OnWorkEnd(this, mode);
    }
    // An unpaired finish must not push the level below zero, or the next
    // WorkStarted would never report its begin.
    if (work.level > 0) {
        --work.level;
    }
}

void TIdComponent::ReportStatus(TIdStatus status)
{
    if (OnStatus) {
        std::string format = StatusFormat(status);
        // Formats with a "%s" and no argument report the bare text of the status.
        OnStatus(this, status, format.find('%') == std::string::npos ? format : Format(format, std::string()));
    }
}

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument)
{
    if (OnStatus) {
        std::string format = StatusFormat(status);
        OnStatus(this, status, format.find('%') == std::string::npos ? format : Format(format, argument));
    }
}
