#include "net/tcp/IdIOHandler.h"

#include <algorithm>
#include <chrono>

#include "net/tcp/IdException.h"
#include "net/tcp/IdStack.h"

TIdIOHandler::TIdIOHandler(TIdBaseComponent* owner) : TIdComponent(owner) {}

TIdIOHandler::~TIdIOHandler() { TIdIOHandler::CloseTransport(); }

void TIdIOHandler::ConnectTransport(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t, int32_t)
{}

TIdDeadline DeadlineAfter(int32_t timeoutMs)
{
    if (timeoutMs == -2) return std::nullopt;
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

void TIdIOHandler::ReceiveExactly(void* buffer, int32_t length, TIdDeadline deadline)
{
    char* next = static_cast<char*>(buffer);
    for (int32_t remaining = length; remaining > 0;) {
        // The wait also lets an anti-freeze run while the peer takes its time.
        int32_t wait = -2;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) throw EIdReadTimeout();
            wait = static_cast<int32_t>(left);
        }
        if (!WaitReadable(wait)) throw EIdReadTimeout();
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
