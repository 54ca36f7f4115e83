#pragma once

// The socket stack over the system's own socket interface (POSIX sockets,
// getaddrinfo for names, poll for the readiness waits).
//
// System error numbers are translated into the stack's error codes
// (ECONNREFUSED -> 10061, ETIMEDOUT -> 10060, ...) at the moment a call
// fails; name lookups that find nothing give 11001. The code is kept per
// thread, so a worker thread's failure never overwrites the caller's.
//
// Start-up runs once per process (StackStarted): it sets SIGPIPE to be
// ignored when nobody has claimed it, because a send or a kernel file send to
// a peer that has gone must fail with a code, not end the program.

#include <atomic>

#include "net/tcp/IdStack.h"

// Set once the start-up has run; it stays set when the stack is freed, so a
// later stack skips the start-up.
extern std::atomic<bool> StackStarted;

// The stack error code for a system error number; numbers without an
// equivalent are passed on unchanged (their text is empty).
int32_t StackErrorFromErrno(int errnoValue);

class TIdStackPosix : public TIdStack {
public:
    TIdStackPosix();
    ~TIdStackPosix() override = default;

    void RefreshLocalAddresses() override;
    TIdStackSocketHandle SockAccept(TIdStackSocketHandle socket, std::string& ip, int32_t& port) override;
    int SockBind(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip) override;
    int SockClose(TIdStackSocketHandle socket) override;
    int SockConnect(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip) override;
    int SockConnectCancellable(TIdStackSocketHandle socket, int family, int32_t port, const std::string& ip,
                               int wakeHandle) override;
    int SockConnectStart(TIdStackSocketHandle socket, int32_t port, const std::string& ip) override;
    int SockConnectResult(TIdStackSocketHandle socket) override;
    int MakeWakeHandles(int handles[2]) override;
    int Wake(int writeHandle) override;
    std::string HostByName(const std::string& hostName) override;
    std::string LocalHostName() override;
    std::string HostByAddr(const std::string& ip) override;
    int32_t ServiceByName(const std::string& serviceName) override;
    TStringList ServiceByPort(int32_t port) override;
    uint16_t HostToNet16(uint16_t value) override;
    int SockListen(TIdStackSocketHandle socket, int backlog) override;
    uint16_t NetToHost16(uint16_t value) override;
    uint32_t HostToNet32(uint32_t value) override;
    uint32_t NetToHost32(uint32_t value) override;
    int SockRecv(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags) override;
    int SockRecvFrom(TIdStackSocketHandle socket, void* buffer, int32_t length, int flags, std::string& ip,
                     int32_t& port) override;
    int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                   const TIdDeadline& deadline) override;
    int SockSend(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags) override;
    int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int32_t length, int flags, const std::string& ip,
                   int32_t port) override;
    int SockSetOption(TIdStackSocketHandle socket, int level, int option, const void* value, int length) override;
    TIdStackSocketHandle SockCreate(int family, int type, int protocol) override;
    int SockShutdown(TIdStackSocketHandle socket, int how) override;
    // Code 11001 reads "Host not found."; every other code as in the table.
    std::string SocketErrorText(int32_t code) override;
    int32_t LastSocketError() override;
    void PeerAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip) override;
    void LocalAddressOf(TIdStackSocketHandle socket, int& family, int32_t& port, std::string& ip) override;
    int SockGetOption(TIdStackSocketHandle socket, int level, int option, void* value, int& length) override;
};
