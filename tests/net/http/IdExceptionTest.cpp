#include "net/tcp/IdException.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

template <typename Base>
bool Derives(const std::exception& e)
{
    return dynamic_cast<const Base*>(&e) != nullptr;
}

struct TreeCase {
    const char* name;
    std::function<void()> raise;
    const char* message;
    std::function<bool(const std::exception&)> inBranch;
};

// Every class with a text of its own, its exact text and the branch of the
// tree a caller catches it by.
TEST(EIdException, ClassesCarryTheirTextsAndSitInTheirBranch)
{
    const TreeCase cases[] = {
        {"ConnClosedGracefully", [] { throw EIdConnClosedGracefully(); }, "Connection Closed Gracefully.",
         Derives<EIdSilentException>},
        {"NotConnected", [] { throw EIdNotConnected(); }, "Not Connected", Derives<EIdTCPConnectionError>},
        {"NotEnoughDataInBuffer", [] { throw EIdNotEnoughDataInBuffer(); }, "Not enough data in buffer.",
         Derives<EIdTCPConnectionError>},
        {"NoDataToRead", [] { throw EIdNoDataToRead(); }, "No data to read.", Derives<EIdTCPConnectionError>},
        {"FileNotFound", [] { throw EIdFileNotFound("/tmp/x.txt"); }, "File \"/tmp/x.txt\" not found",
         Derives<EIdTCPConnectionError>},
        {"IOHandlerPropInvalid", [] { throw EIdIOHandlerPropInvalid(); }, "IOHandler value is not valid",
         Derives<EIdTCPConnectionError>},
        {"ReadTimeout", [] { throw EIdReadTimeout(); }, "Read Timeout", Derives<EIdException>},
        {"MaxLineLength", [] { throw EIdReadLnMaxLineLengthExceeded(); }, "Max line length exceeded.",
         Derives<EIdException>},
        {"AlreadyConnected", [] { throw EIdAlreadyConnected(); }, "Already connected.", Derives<EIdException>},
        {"ClosedSocket", [] { throw EIdClosedSocket(); }, "Disconnected.", Derives<EIdException>},
        {"ConnectTimeout", [] { throw EIdConnectTimeout(); }, "Connect timed out.", Derives<EIdException>},
        {"StackInitializationFailed", [] { throw EIdStackInitializationFailed(); }, "Winsock Initialization Error.",
         Derives<EIdStackError>},
        {"StackSetSizeExceeded", [] { throw EIdStackSetSizeExceeded(); }, "Set Size Exceeded.", Derives<EIdStackError>},
        {"InvalidSocket", [] { throw EIdInvalidSocket(); }, "Cannot allocate socket.", Derives<EIdException>},
        {"InvalidServiceName", [] { throw EIdInvalidServiceName("gopherx"); }, "gopherx is not a valid service.",
         Derives<EIdException>},
        {"CouldNotBindSocket", [] { throw EIdCouldNotBindSocket(); },
         "Could not bind socket. Address and port are already in use.", Derives<EIdSocketHandleError>},
        {"InvalidPortRange", [] { throw EIdInvalidPortRange(5000, 4999); }, "Invalid Port Range (5000 - 4999)",
         Derives<EIdSocketHandleError>},
        {"CanNotBindPortInRange", [] { throw EIdCanNotBindPortInRange(6000, 6010); },
         "Can not bind in port range (6000 - 6010)", Derives<EIdSocketHandleError>},
        {"SocksRequestFailed", [] { throw EIdSocksRequestFailed(); }, "Request rejected or failed.",
         Derives<EIdSocksError>},
        {"SocksRequestServerFailed", [] { throw EIdSocksRequestServerFailed(); },
         "Request rejected because SOCKS server cannot connect.", Derives<EIdSocksError>},
        {"SocksRequestIdentFailed", [] { throw EIdSocksRequestIdentFailed(); },
         "Request rejected because the client program and identd report different user-ids.", Derives<EIdSocksError>},
        {"SocksUnknownError", [] { throw EIdSocksUnknownError(); }, "Unknown socks error.", Derives<EIdSocksError>},
        {"SocksServerRespondError", [] { throw EIdSocksServerRespondError(); }, "Socks server did not respond.",
         Derives<EIdSocksError>},
        {"SocksAuthMethodError", [] { throw EIdSocksAuthMethodError(); }, "Invalid socks authentication method.",
         Derives<EIdSocksError>},
        {"SocksAuthError", [] { throw EIdSocksAuthError(); }, "Authentication error to socks server.",
         Derives<EIdSocksError>},
        {"SocksServerGeneralError", [] { throw EIdSocksServerGeneralError(); }, "General SOCKS server failure.",
         Derives<EIdSocksError>},
        {"SocksServerPermissionError", [] { throw EIdSocksServerPermissionError(); },
         "Connection not allowed by ruleset.", Derives<EIdSocksError>},
        {"SocksServerNetUnreachableError", [] { throw EIdSocksServerNetUnreachableError(); }, "Network unreachable.",
         Derives<EIdSocksError>},
        {"SocksServerHostUnreachableError", [] { throw EIdSocksServerHostUnreachableError(); }, "Host unreachable.",
         Derives<EIdSocksError>},
        {"SocksServerConnectionRefusedError", [] { throw EIdSocksServerConnectionRefusedError(); },
         "Connection refused.", Derives<EIdSocksError>},
        {"SocksServerTTLExpiredError", [] { throw EIdSocksServerTTLExpiredError(); }, "TTL expired.",
         Derives<EIdSocksError>},
        {"SocksServerCommandError", [] { throw EIdSocksServerCommandError(); }, "Command not supported.",
         Derives<EIdSocksError>},
        {"SocksServerAddressError", [] { throw EIdSocksServerAddressError(); }, "Address type not supported.",
         Derives<EIdSocksError>},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised";
        } catch (const EIdException& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(e.Message(), c.message);
            EXPECT_TRUE(c.inBranch(e));
        }
    }
}

TEST(EIdException, SilentAndConnectionBranchesStayApart)
{
    const EIdConnClosedGracefully closed;
    EXPECT_FALSE(Derives<EIdTCPConnectionError>(closed));
    const EIdReadTimeout timeout;
    EXPECT_FALSE(Derives<EIdTCPConnectionError>(timeout));
    EXPECT_FALSE(Derives<EIdSilentException>(timeout));
    const EIdStackInitializationFailed stack;
    EXPECT_FALSE(Derives<EIdSocketHandleError>(stack));
    // Everything is a std::runtime_error for code outside the network layers.
    EXPECT_TRUE(Derives<std::runtime_error>(closed));
}

TEST(EIdSocketError, FormatsCodeAndTextOnTwoLines)
{
    struct Case {
        int32_t code;
        const char* text;
        const char* message;
    } cases[] = {
        {11001, "Host not found.", "Socket Error # 11001\r\nHost not found."},
        {10061, "Connection refused.", "Socket Error # 10061\r\nConnection refused."},
        // A code without a text of its own still ends in CR LF.
        {10093, "", "Socket Error # 10093\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const EIdSocketError e(c.code, c.text);
        EXPECT_STREQ(e.what(), c.message);
        EXPECT_EQ(e.ErrorCode(), c.code);
    }

    const EIdSocketError whole =
        EIdSocketError::WithMessage(10054, "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_STREQ(whole.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(whole.ErrorCode(), 10054);
}

TEST(EIdWS2StubError, JoinsTitleAndSystemTextUnlessTheCodeIsZero)
{
    const EIdWS2StubError failed(10093, "Socket library not started.",
                                 "Error on call Winsock2 library function socket");
    EXPECT_STREQ(failed.what(), "Error on call Winsock2 library function socket: Socket library not started.");
    EXPECT_EQ(failed.SystemErrorCode(), 10093);
    EXPECT_EQ(failed.SystemErrorText(), "Socket library not started.");
    EXPECT_EQ(failed.ErrorTitle(), "Error on call Winsock2 library function socket");

    const EIdWS2StubError noCode(0, "ignored", "Error on loading Winsock2 library (WS2_32.DLL)");
    EXPECT_STREQ(noCode.what(), "Error on loading Winsock2 library (WS2_32.DLL)");
}

TEST(EIdHTTPProtocolException, CarriesCodeStatusLineAndBody)
{
    try {
        throw EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "<html>gone</html>");
    } catch (const EIdProtocolReplyError& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(e.ReplyErrorCode(), 404);
        const auto* http = dynamic_cast<const EIdHTTPProtocolException*>(&e);
        ASSERT_NE(http, nullptr);
        EXPECT_EQ(http->ErrorBody(), "<html>gone</html>");
    }
}

TEST(EIdException, FixedTextClassesAcceptAnotherMessage)
{
    const EIdReadTimeout custom("waited too long");
    EXPECT_STREQ(custom.what(), "waited too long");
    const EIdInvalidPortRange text("Invalid Port Range (x)");
    EXPECT_STREQ(text.what(), "Invalid Port Range (x)");
}

// Network text can carry a NUL byte; the message keeps everything after it.
TEST(EIdException, MessageKeepsBytesAfterANul)
{
    using namespace std::string_literals;
    const EIdProtocolReplyError e(500, "bad\0tail"s);
    EXPECT_EQ(e.Message(), "bad\0tail"s);
    EXPECT_EQ(ExceptionMessage(e), "bad\0tail"s);
    EXPECT_STREQ(e.what(), "bad");
}

} // namespace
