// Error codes and texts of the socket stack, and the one check that turns a
// failed call into an exception.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "net/tcp/IdException.h"
#include "net/tcp/IdStackPosix.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/Loopback.h"
#include "tests/support/NetTestSupport.h"

namespace {

using testsupport::ExpectRaises;

// The stack with a chosen "last error", so the check can be driven without
// provoking each failure for real.
class TScriptedErrorStack : public TIdStackPosix {
public:
    int32_t code = 0;
    int32_t LastSocketError() override { return code; }
};

TEST(TIdStackErrors, SystemErrorsMapToTheTableCodes)
{
    struct Case {
        int errnoValue;
        int32_t code;
    };
    const Case cases[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {ECONNRESET, 10054}, {EADDRINUSE, 10048},  {ENETUNREACH, 10051},
        {EHOSTUNREACH, 10065}, {ECONNABORTED, 10053}, {EPIPE, 10058},      {ESHUTDOWN, 10058},   {ENOTSOCK, 10038},
        {EBADF, 10009},        {EINTR, 10004},        {EAGAIN, 10035},     {EINPROGRESS, 10036}, {EADDRNOTAVAIL, 10049},
        {ENOTCONN, 10057},     {EMFILE, 10024},       {ENOTEMPTY, 10066},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        EXPECT_EQ(StackErrorFromErrno(c.errnoValue), c.code);
    }
}

TEST(TIdStackErrors, SocketErrorTextFollowsTheTable)
{
    TIdStackPosix stack;
    struct Case {
        int32_t code;
        const char* message;
    };
    const Case cases[] = {
        {10061, "Socket Error # 10061\r\nConnection refused."},
        {10060, "Socket Error # 10060\r\nConnection timed out."},
        {10054, "Socket Error # 10054\r\nConnection reset by peer."},
        {10004, "Socket Error # 10004\r\nInterrupted system call."},
        {10035, "Socket Error # 10035\r\nOperation would block. "},
        {10066, "Socket Error # 10066\r\nDirectory not empty"},
        {11001, "Socket Error # 11001\r\nHost not found."},
        // Codes outside the table end right after the line break.
        {10093, "Socket Error # 10093\r\n"},
        {10003, "Socket Error # 10003\r\n"},
        {10067, "Socket Error # 10067\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(stack.SocketErrorText(c.code), c.message);
    }
}

TEST(TIdStackErrors, CheckSocketResultRaisesUnlessTheCodeIsTolerated)
{
    TScriptedErrorStack stack;
    struct Case {
        const char* name;
        int result;
        int32_t code;
        std::initializer_list<int32_t> ignore;
        bool raises;
        bool answer;
    };
    const Case cases[] = {
        {"success is not checked", 0, 10061, {}, false, false},
        {"a byte count is not a failure", 512, 10061, {}, false, false},
        {"failure without a list", -1, 10061, {}, true, false},
        {"failure with its code listed", -1, 10048, {10048}, false, true},
        {"failure with another code listed", -1, 10061, {10048}, true, false},
        {"code among several", -1, 10053, {10058, 10053}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stack.code = c.code;
        if (c.raises) {
            testsupport::ExpectSocketError([&] { stack.CheckSocketResult(c.result, c.ignore); }, c.code,
                                           stack.SocketErrorText(c.code).c_str());
        } else {
            EXPECT_EQ(stack.CheckSocketResult(c.result, c.ignore), c.answer);
        }
        if (c.result == -1) {
            EXPECT_EQ(stack.LastErrorCode(), c.code);
        }
    }
}

TEST(TIdStackErrors, RealFailureCarriesTheSystemsCode)
{
    // A bound socket that does not listen refuses every connect.
    testsupport::TRawSocket refusing;
    ASSERT_TRUE(refusing.Bound());
    TIdStackPosix stack;
    TIdStackSocketHandle socket = stack.NewSocket(Id_SOCK_STREAM, 0);
    int result = stack.SockConnect(socket, Id_PF_INET, refusing.Port(), "127.0.0.1");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(stack.LastSocketError(), 10061);
    EXPECT_TRUE(stack.CheckSocketResult(result, {10061}));
    testsupport::ExpectSocketError([&] { stack.CheckSocketResult(result); }, 10061,
                                   "Socket Error # 10061\r\nConnection refused.");
    stack.SockClose(socket);
}

TEST(TIdStackErrors, LastSocketErrorIsKeptPerThread)
{
    testsupport::TRawSocket refusing;
    TIdStackPosix stack;
    TIdStackSocketHandle socket = stack.NewSocket(Id_SOCK_STREAM, 0);
    ASSERT_EQ(stack.SockConnect(socket, Id_PF_INET, refusing.Port(), "127.0.0.1"), -1);
    int32_t otherThreadsCode = -1;
    std::thread other([&] {
        // Closing an invalid handle fails with its own code on this thread only.
        stack.SockClose(-1);
        otherThreadsCode = stack.LastSocketError();
    });
    other.join();
    EXPECT_EQ(otherThreadsCode, 10009);
    EXPECT_EQ(stack.LastSocketError(), 10061);
    stack.SockClose(socket);
}

TEST(TIdStackErrors, NewSocketFailureRaisesInvalidSocket)
{
    TIdStackPosix stack;
    // No such socket type.
    ExpectRaises<EIdInvalidSocket>([&] { stack.NewSocket(99, 0); }, "Cannot allocate socket.");
}

} // namespace
