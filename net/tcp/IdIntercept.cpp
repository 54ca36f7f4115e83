#include "net/tcp/IdIntercept.h"

TIdConnectionIntercept::TIdConnectionIntercept(TIdBaseComponent* owner) : TIdBaseComponent(owner) {}

TIdConnectionIntercept::~TIdConnectionIntercept() = default;

void TIdConnectionIntercept::SetNextIntercept(TIdConnectionIntercept* next) { Relink(next_, next); }

void TIdConnectionIntercept::Notification(TIdBaseComponent* component, TOperation operation)
{
    TIdBaseComponent::Notification(component, operation);
    if (operation == opRemove && component == next_) next_ = nullptr;
}

void TIdConnectionIntercept::ChainAttach(TIdTCPConnection* connection)
{
    if (next_) next_->AttachConnection(connection);
}

void TIdConnectionIntercept::ChainDetach()
{
    if (next_) next_->DetachConnection();
}

void TIdConnectionIntercept::ChainReceived(TStream& stream)
{
    if (next_) next_->FilterReceived(stream);
}

void TIdConnectionIntercept::ChainOutgoing(TStream& stream)
{
    if (next_) next_->FilterOutgoing(stream);
}

void TIdConnectionIntercept::AttachConnection(TIdTCPConnection* connection)
{
    connection_ = connection;
    if (OnConnect) OnConnect(this);
    ChainAttach(connection);
}

void TIdConnectionIntercept::DetachConnection()
{
    ChainDetach();
    if (OnDisconnect) OnDisconnect(this);
    connection_ = nullptr;
}

void TIdConnectionIntercept::FilterReceived(TStream& stream)
{
    ChainReceived(stream);
    if (OnReceive) {
        OnReceive(this, stream);
        stream.SetPosition(0);
    }
}

void TIdConnectionIntercept::FilterOutgoing(TStream& stream)
{
    if (OnSend) {
        OnSend(this, stream);
        stream.SetPosition(0);
    }
    ChainOutgoing(stream);
}
