#pragma once

// A filter hooked into a connection: it hears about connect and disconnect and may inspect or rewrite every
// block of received and outgoing bytes.
//
// Intercepts chain through NextIntercept. Received bytes pass the innermost (last chained) intercept first,
// outgoing bytes the outermost first, so a chain of codecs undoes on receive what it did on send. A handler
// may replace the stream's content; the connection takes the stream's size afterwards. The stream is handed
// over at position 0 and set back to 0 after each handler.
//
// The intercept only references the connection it is attached to and the next intercept; it watches the next
// one and forgets it when that is destroyed. Used on the connection's thread.

#include <functional>

#include "net/tcp/IdComponent.h"
#include "platform/Classes.h"

class TIdTCPConnection;
class TIdConnectionIntercept;

using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
using TIdInterceptStreamEvent = std::function<void(TIdConnectionIntercept* ASender, TStream& AStream)>;

class TIdConnectionIntercept : public TIdBaseComponent {
public:
    explicit TIdConnectionIntercept(TIdBaseComponent* owner = nullptr);
    ~TIdConnectionIntercept() override;

    TIdInterceptNotifyEvent OnConnect;
    TIdInterceptNotifyEvent OnDisconnect;
    TIdInterceptStreamEvent OnReceive;
    TIdInterceptStreamEvent OnSend;

    TIdTCPConnection* Connection() const { return connection_; }
    TIdConnectionIntercept* NextIntercept() const { return next_; }
    void SetNextIntercept(TIdConnectionIntercept* next);
    bool IsClient() const { return isClient_; }

    // Each forwards to NextIntercept when there is one.
    virtual void ChainAttach(TIdTCPConnection* connection);
    virtual void ChainDetach();
    virtual void ChainReceived(TStream& stream);
    virtual void ChainOutgoing(TStream& stream);

    // Remembers the connection, fires OnConnect, then attaches the chain.
    virtual void AttachConnection(TIdTCPConnection* connection);
    // Detaches the chain, fires OnDisconnect, then forgets the connection.
    virtual void DetachConnection();
    // The chain filters first, then OnReceive.
    virtual void FilterReceived(TStream& stream);
    // OnSend first, then the chain.
    virtual void FilterOutgoing(TStream& stream);

protected:
    void Notification(TIdBaseComponent* component, TOperation operation) override;

private:
    TIdTCPConnection* connection_ = nullptr;
    TIdConnectionIntercept* next_ = nullptr;
    bool isClient_ = true;
};
