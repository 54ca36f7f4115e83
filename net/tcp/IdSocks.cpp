#include "net/tcp/IdSocks.h"

#include <arpa/inet.h>

#include <cstdint>
#include <string>

#include "net/tcp/IdIOHandler.h"
#include "net/tcp/IdStack.h"

namespace {

constexpr char kCommandConnect = 1;
constexpr std::size_t kMaxField = 255; // a one-byte length field
constexpr uint8_t kSocks4Granted = 90;
constexpr char kMethodNone = 0;
constexpr char kMethodUserPass = 2;
constexpr char kUserPassVersion = 1;
constexpr char kAddressIPv4 = 1;
constexpr char kAddressDomain = 3;
constexpr char kAddressIPv6 = 4;

void CheckField(const std::string& text, const char* what)
{
    if (text.size() > kMaxField) {
        throw EIdSocksError(std::string("SOCKS ") + what + " is longer than 255 bytes.");
    }
}

// A SOCKS 4 field ends at its first NUL; one inside would cut it short on the server's side.
void CheckNulTerminated(const std::string& text, const char* what)
{
    CheckField(text, what);
    if (text.find('\0') != std::string::npos) {
        throw EIdSocksError(std::string("SOCKS ") + what + " holds a NUL byte.");
    }
}

void AppendPort(std::string& message, int32_t port)
{
    message += static_cast<char>((port >> 8) & 0xFF);
    message += static_cast<char>(port & 0xFF);
}

void AppendCounted(std::string& message, const std::string& text)
{
    message += static_cast<char>(text.size());
    message += text;
}

[[noreturn]] void RaiseSocks4Reply(uint8_t code)
{
    switch (code) {
    case 91: throw EIdSocksRequestFailed();
    case 92: throw EIdSocksRequestServerFailed();
    case 93: throw EIdSocksRequestIdentFailed();
    default: throw EIdSocksUnknownError();
    }
}

[[noreturn]] void RaiseSocks5Reply(uint8_t code)
{
    switch (code) {
    case 1: throw EIdSocksServerGeneralError();
    case 2: throw EIdSocksServerPermissionError();
    case 3: throw EIdSocksServerNetUnreachableError();
    case 4: throw EIdSocksServerHostUnreachableError();
    case 5: throw EIdSocksServerConnectionRefusedError();
    case 6: throw EIdSocksServerTTLExpiredError();
    case 7: throw EIdSocksServerCommandError();
    case 8: throw EIdSocksServerAddressError();
    default: throw EIdSocksUnknownError();
    }
}

// One negotiation on a transport, with one deadline for all its receives.
class TSocksExchange {
public:
    TSocksExchange(TIdIOHandler* transport, const TIdDeadline& deadline) : transport_(transport), deadline_(deadline)
    {
        if (transport_ == nullptr) throw EIdSocksError("SOCKS negotiation without a transport.");
    }

    void Send(const std::string& message) { transport_->SendAll(message.data(), static_cast<int32_t>(message.size())); }

    // Exactly n bytes; the time-out of the connect when the limit passes.
    std::string Receive(std::size_t n)
    {
        std::string reply(n, '\0');
        try {
            transport_->ReceiveExactly(reply.data(), static_cast<int32_t>(n), deadline_);
        } catch (const EIdReadTimeout&) {
            throw EIdConnectTimeout();
        }
        return reply;
    }

    // For SOCKS 5, whose replies that cannot be received all read as one error; the time-out stays itself.
    std::string ReceiveOrNoResponse(std::size_t n)
    {
        try {
            return Receive(n);
        } catch (const EIdConnectTimeout&) {
            throw;
        } catch (const std::exception&) {
            throw EIdSocksServerRespondError();
        }
    }

private:
    TIdIOHandler* transport_;
    TIdDeadline deadline_;
};

// The 16 bytes of an IPv6 literal (in URL brackets or bare), or false for any other host.
bool IPv6Bytes(const std::string& host, std::string& bytes)
{
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
    if (!TIdStack::IsIPv6Literal(bare)) return false;
    bytes.assign(16, '\0');
    return inet_pton(AF_INET6, bare.c_str(), bytes.data()) == 1;
}

uint8_t Byte(const std::string& reply, std::size_t offset) { return static_cast<uint8_t>(reply[offset]); }

} // namespace

void TIdSocksInfo::Negotiate(const std::string& host, int32_t port, const TIdDeadline& deadline)
{
    switch (version_) {
    case svNoSocks: return;
    case svSocks4:
    case svSocks4A: NegotiateV4(host, port, deadline); return;
    case svSocks5: NegotiateV5(host, port, deadline); return;
    }
}

void TIdSocksInfo::NegotiateV4(const std::string& host, int32_t port, const TIdDeadline& deadline)
{
    CheckNulTerminated(username_, "user id");
    // A request carries four address bytes, and a 4A name is a name, not an address.
    std::string v6;
    if (IPv6Bytes(host, v6)) throw EIdSocksError("SOCKS 4 cannot carry an IPv6 address.");
    const bool remoteName = version_ == svSocks4A;
    if (remoteName) CheckNulTerminated(host, "host name");
    // 0.0.0.1 asks the server to resolve the name sent after the user id; plain SOCKS 4 resolves here, so a
    // name that does not resolve fails before anything is sent.
    const TIdIPv4Bytes address =
        remoteName ? TIdIPv4Bytes{0, 0, 0, 1} : GlobalStack->ParseIPv4(GlobalStack->ResolveHostName(host));
    TSocksExchange exchange(transport_, deadline);
    std::string request = {4, kCommandConnect};
    AppendPort(request, port);
    request.append(address.begin(), address.end());
    request += username_;
    request += '\0';
    if (remoteName) {
        request += host;
        request += '\0';
    }
    exchange.Send(request);
    const std::string reply = exchange.Receive(8);
    if (Byte(reply, 1) != kSocks4Granted) RaiseSocks4Reply(Byte(reply, 1));
}

void TIdSocksInfo::NegotiateV5(const std::string& host, int32_t port, const TIdDeadline& deadline)
{
    const bool withPassword = authentication_ == saUsernamePassword;
    if (withPassword) {
        CheckField(username_, "user name");
        CheckField(password_, "password");
    }
    std::string v6;
    const bool literal6 = IPv6Bytes(host, v6);
    if (!literal6) CheckField(host, "host name");
    TSocksExchange exchange(transport_, deadline);

    const char method = withPassword ? kMethodUserPass : kMethodNone;
    exchange.Send(std::string{5, 1, method});
    const std::string chosen = exchange.ReceiveOrNoResponse(2);
    // 255 means no offered method is acceptable; it never equals the one offered.
    if (chosen[1] != method) throw EIdSocksAuthMethodError();

    if (withPassword) {
        std::string login(1, kUserPassVersion);
        AppendCounted(login, username_);
        AppendCounted(login, password_);
        exchange.Send(login);
        if (exchange.ReceiveOrNoResponse(2)[1] != 0) throw EIdSocksAuthError();
    }

    // The target goes as a name, also a dotted quad: the server resolves it. An IPv6 literal is no name (a
    // server would look up its bracketed text), so it goes as an address (RFC 1928 section 5).
    std::string request = {5, kCommandConnect, 0, literal6 ? kAddressIPv6 : kAddressDomain};
    if (literal6) {
        request += v6;
    } else {
        AppendCounted(request, host);
    }
    AppendPort(request, port);
    exchange.Send(request);
    // Version, reply code, reserved, address type and the first byte of the bound address.
    const std::string reply = exchange.ReceiveOrNoResponse(5);
    if (reply[1] != 0) RaiseSocks5Reply(Byte(reply, 1));
    // The rest of the bound address and port, unused but read so the tunnel starts clean. For a name the
    // byte already read is its length, so the name and the port follow whole.
    std::size_t rest = 0;
    switch (reply[3]) {
    case kAddressIPv4: rest = 4 + 2 - 1; break;
    case kAddressDomain: rest = Byte(reply, 4) + 2; break;
    case kAddressIPv6: rest = 16 + 2 - 1; break;
    default: throw EIdSocksUnknownError();
    }
    exchange.ReceiveOrNoResponse(rest);
}
