#include "net/tcp/IdIOHandler.h"

#include "net/tcp/IdException.h"
#include "net/tcp/IdStack.h"

TIdIOHandler::TIdIOHandler(TIdBaseComponent* owner) : TIdComponent(owner) {}

TIdIOHandler::~TIdIOHandler() { TIdIOHandler::CloseTransport(); }

void TIdIOHandler::ConnectTransport(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t,
                                    const TIdDeadline&)
{}

void TIdIOHandler::ReceiveExactly(void* buffer, int32_t length, const TIdDeadline& deadline)
{
    char* next = static_cast<char*>(buffer);
    for (int32_t remaining = length; remaining > 0;) {
        // The wait also lets an anti-freeze run while the peer takes its time.
        if (deadline.Passed() || !WaitReadable(deadline)) throw EIdReadTimeout();
        const int32_t n = ReceiveSome(next, remaining);
        if (n == 0) throw EIdConnClosedGracefully();
        GlobalStack->CheckSocketResult(n);
        next += n;
        remaining -= n;
    }
}

void TIdIOHandler::SendAll(const void* buffer, int32_t length)
{
    const char* next = static_cast<const char*>(buffer);
    for (int32_t remaining = length; remaining > 0;) {
        const int32_t n = SendSome(next, remaining);
        if (n == 0) throw EIdConnClosedGracefully();
        GlobalStack->CheckSocketResult(n);
        next += n;
        remaining -= n;
    }
}
