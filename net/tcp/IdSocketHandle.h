#pragma once

// One TCP socket with its local and remote IPv4 address and port.
//
// Life: cleared (no socket) -> allocated (AllocateHandle) -> bound (BindLocal,
// local address known) -> connected (ConnectPeer, both addresses known) ->
// released (ReleaseHandle; the addresses stay until ClearHandle).
//
// Owns its socket: destroying the handle releases it. Every operation goes
// through GlobalStack, so a handle is used only while a TIdComponent lives
// (its owning transport, normally). Used by one thread at a time, except that
// a connect may run on a worker thread while the owner waits for it without
// touching the handle.

#include <cstdint>
#include <string>

#include "net/tcp/IdStack.h"

class TIdSocketHandle {
public:
    // A fresh handle is cleared; Port starts at defaultPort.
    explicit TIdSocketHandle(int32_t defaultPort = 0);
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Copies IP, Port, RemoteIP and RemotePort only.
    void Assign(const TIdSocketHandle& source);

    // Releases any socket, then creates a new one (type 1 = stream; family
    // Id_PF_INET or Id_PF_INET6).
    // Raises EIdInvalidSocket when the system gives none.
    void AllocateHandle(int type, int protocol, int family = Id_PF_INET);
    // Shuts the sending side down and closes the socket; results unchecked.
    void ReleaseHandle();
    // Forgets the socket without closing it; with clearLocal also IP and Port.
    void ClearHandle(bool clearLocal);

    // Binds IP/Port, or with Port 0 and a range ClientPortMin..ClientPortMax
    // (both non-zero) the highest free port of the range.
    // Raises EIdCouldNotBindSocket, EIdInvalidPortRange (max below min) or
    // EIdCanNotBindPortInRange; other failures raise EIdSocketError.
    void BindLocal();
    // One bind of IP/Port: false when the address is in use.
    bool TryBindLocal();
    bool BindInRange(int32_t portMin, int32_t portMax);

    // Connects to RemoteIP:RemotePort; the raw result (0 or -1), checked by
    // the caller. With wakeHandle >= 0 another thread can call the connect
    // off by making that handle readable (the result is then -1 with 10004).
    int ConnectPeer(int family, int wakeHandle = -1);
    void SetRemote(const std::string& ip, int32_t port);
    // Accepts a connection from a listening socket into this handle; false
    // when the wait was interrupted or the listening socket went away.
    bool AcceptFrom(TIdStackSocketHandle listeningSocket);

    // Waits until the deadline (one that has passed polls once) for data or
    // end of stream. Raises EIdConnClosedGracefully without a socket.
    bool IsReadable(const TIdDeadline& deadline);

    void RefreshLocal();
    void RefreshRemote();
    // Sets a socket option (level, option, value of length bytes); raises
    // EIdSocketError when the system refuses it.
    void SetOption(int level, int option, int length, int value);

    int ReceiveBytes(void* buffer, int32_t length, int flags);
    int SendBytes(const void* buffer, int32_t length, int flags);
    int ReceiveDatagram(void* buffer, int32_t length, int flags, std::string& ip, int32_t& port);

    TIdStackSocketHandle Handle() const { return handle_; }
    bool HasHandle() const { return hasHandle_; }
    const std::string& IP() const { return ip_; }
    void SetIP(const std::string& value) { ip_ = value; }
    int32_t Port() const { return port_; }
    void SetPort(int32_t value) { port_ = value; }
    const std::string& RemoteIP() const { return remoteIP_; }
    int32_t RemotePort() const { return remotePort_; }
    int32_t ClientPortMin() const { return clientPortMin_; }
    void SetClientPortMin(int32_t value) { clientPortMin_ = value; }
    int32_t ClientPortMax() const { return clientPortMax_; }
    void SetClientPortMax(int32_t value) { clientPortMax_ = value; }

private:
    TIdStackSocketHandle handle_ = Id_INVALID_SOCKET;
    bool hasHandle_ = false;
    std::string ip_;
    std::string remoteIP_;
    int32_t port_ = 0;
    int32_t remotePort_ = 0;
    int32_t clientPortMin_ = 0;
    int32_t clientPortMax_ = 0;
};
