#pragma once

// The component base of the network layers.
//
// TIdBaseComponent gives ownership and destruction notices: a component made
// with an owner is deleted by that owner, and a component that only
// references another one registers for its free notification so that it can
// drop the reference when the other one goes. Registration is mutual, so
// whichever of the two dies first, the other never holds a dangling pointer.
//
// TIdComponent adds the status and work-progress events every connection
// reports through, and keeps the process-wide socket stack (GlobalStack)
// alive: the first live TIdComponent creates it, the last one frees it.
//
// Components are used by one thread at a time; only the stack reference count
// is guarded, because components may be created and destroyed on any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TOperation { opInsert, opRemove };

class TIdBaseComponent {
public:
    explicit TIdBaseComponent(TIdBaseComponent* owner = nullptr);
    // Tells every observer (Notification(this, opRemove)), deletes the owned
    // components, then leaves the owner. The observers see the component
    // while it is being destroyed: they may compare the pointer, not use it.
    virtual ~TIdBaseComponent();

    TIdBaseComponent(const TIdBaseComponent&) = delete;
    TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;

    TIdBaseComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(owned_.size()); }

    // observer->Notification(this, opRemove) runs when this component is
    // destroyed. Registering twice has the effect of registering once.
    void FreeNotification(TIdBaseComponent* observer);
    void RemoveFreeNotification(TIdBaseComponent* observer);

protected:
    virtual void Notification(TIdBaseComponent* component, TOperation operation);
    // Points link at target and moves this component's free notification from
    // the old target to the new one, so Notification hears when it goes.
    template <class T>
    void Relink(T*& link, T* target)
    {
        if (target == link) return;
        if (link) link->RemoveFreeNotification(this);
        link = target;
        if (link) link->FreeNotification(this);
    }
    // Deletes the owned components now; a destructor that must see its owned
    // components go before its own members calls it first.
    void DestroyComponents();

private:
    void InsertComponent(TIdBaseComponent* component);
    void RemoveComponent(TIdBaseComponent* component);
    void AddWatch(TIdBaseComponent* other);
    void DropWatch(TIdBaseComponent* other);

    TIdBaseComponent* owner_ = nullptr;
    std::vector<TIdBaseComponent*> owned_;
    // Mutual free-notification links (both observers and observed).
    std::vector<TIdBaseComponent*> watches_;
};

// Connection progress, reported through OnStatus with the text of each value.
enum TIdStatus {
    hsResolving,     // "Resolving hostname %s." with the host name
    hsConnecting,    // "Connecting to %s." with the dotted quad
    hsConnected,     // "Connected."
    hsDisconnecting, // "Disconnecting."
    hsDisconnected,  // "Disconnected."
    hsStatusText,    // free text "%s"
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum TWorkMode { wmRead, wmWrite };

class TIdComponent;

using TIdStatusEvent = std::function<void(TIdComponent* sender, TIdStatus status, const std::string& statusText)>;
using TWorkBeginEvent = std::function<void(TIdComponent* sender, TWorkMode workMode, int64_t workCountMax)>;
using TWorkEvent = std::function<void(TIdComponent* sender, TWorkMode workMode, int64_t workCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* sender, TWorkMode workMode)>;

// The format text a status reports ("Resolving hostname %s." ...).
const char* StatusFormat(TIdStatus status);

class TIdComponent : public TIdBaseComponent {
public:
    // Takes a share of GlobalStack, creating it for the first component.
    // Throws whatever creating the stack throws; the count is then unchanged.
    explicit TIdComponent(TIdBaseComponent* owner = nullptr);
    ~TIdComponent() override;

    TIdStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Work reports nest: only the outermost WorkStarted/WorkFinished pair of
    // a mode fires OnWorkBegin/OnWorkEnd, and progress between them adds up
    // into one running count that OnWork reports.
    virtual void WorkStarted(TWorkMode mode, int64_t workCountMax);
    virtual void WorkProgress(TWorkMode mode, int64_t count);
    virtual void WorkFinished(TWorkMode mode);

    // Fires OnStatus with the status's text; the argument fills its "%s".
    // Nothing is formatted while OnStatus is unassigned.
    void ReportStatus(TIdStatus status);
    void ReportStatus(TIdStatus status, const std::string& argument);

    // The nesting level of a work mode (0 when no work is running).
    int32_t WorkLevel(TWorkMode mode) const { return work_[mode].level; }

private:
    struct TWorkInfo {
        int32_t level = 0;
        int64_t countMax = 0;
        int64_t count = 0;
    };
    TWorkInfo work_[2];
};
