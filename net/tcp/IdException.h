#pragma once

// The exception tree of the network layers. Every failure of the TCP
// transport and the HTTP client is an EIdException; units further up add
// their own classes below it next to the code that raises them (URL and
// time-zone errors live in net/http).
//
// Each class with a fixed text has a default constructor giving that text
// and a constructor taking another message. Classes whose text carries a
// value build it themselves with Format. Values that a caller may want to
// inspect (reply code, socket error code, error body, the stub-error
// fields) are exposed read-only.
//
// Header-only on purpose: every network unit includes it and no unit owns
// its definitions.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/SysUtils.h"

// Message() is the whole byte string (network text may carry a NUL); what() stops at a NUL.
class EIdException : public EMessageError {
public:
    using EMessageError::EMessageError;
};

// Failures that a caller usually treats as an ordinary end, not an error.
class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
    using EIdSilentException::EIdSilentException;
};

// ---- connection errors ----------------------------------------------------

class EIdTCPConnectionError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdNotConnected : public EIdTCPConnectionError {
public:
    EIdNotConnected() : EIdTCPConnectionError("Not Connected") {}
    using EIdTCPConnectionError::EIdTCPConnectionError;
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
public:
    EIdNotEnoughDataInBuffer() : EIdTCPConnectionError("Not enough data in buffer.") {}
    using EIdTCPConnectionError::EIdTCPConnectionError;
};

class EIdNoDataToRead : public EIdTCPConnectionError {
public:
    EIdNoDataToRead() : EIdTCPConnectionError("No data to read.") {}
    using EIdTCPConnectionError::EIdTCPConnectionError;
};

// Takes the missing file's name, not a message: File "<name>" not found.
class EIdFileNotFound : public EIdTCPConnectionError {
public:
    explicit EIdFileNotFound(const std::string& fileName)
        : EIdTCPConnectionError(Format("File \"%s\" not found", fileName))
    {}
};

class EIdIOHandlerPropInvalid : public EIdTCPConnectionError {
public:
    EIdIOHandlerPropInvalid() : EIdTCPConnectionError("IOHandler value is not valid") {}
    using EIdTCPConnectionError::EIdTCPConnectionError;
};

class EIdReadTimeout : public EIdException {
public:
    EIdReadTimeout() : EIdException("Read Timeout") {}
    using EIdException::EIdException;
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
    using EIdException::EIdException;
};

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
    using EIdException::EIdException;
};

class EIdClosedSocket : public EIdException {
public:
    EIdClosedSocket() : EIdException("Disconnected.") {}
    using EIdException::EIdException;
};

class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout() : EIdException("Connect timed out.") {}
    using EIdException::EIdException;
};

// Carries the message of the connect that failed on the worker thread.
class EIdConnectException : public EIdException {
public:
    using EIdException::EIdException;
};

// ---- protocol replies -----------------------------------------------------

// A line-protocol reply outside the allowed codes: the message is the reply
// text, ReplyErrorCode the numeric reply code.
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int32_t replyCode, const std::string& message)
        : EIdException(message), replyErrorCode_(replyCode)
    {}
    int32_t ReplyErrorCode() const { return replyErrorCode_; }

private:
    int32_t replyErrorCode_;
};

// An HTTP error status: the message is the status line (HTTP/1.1 404 Not
// Found), ReplyErrorCode the status code, ErrorBody the response body as text.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
public:
    EIdHTTPProtocolException(int32_t replyCode, const std::string& message, std::string errorBody)
        : EIdProtocolReplyError(replyCode, message), errorBody_(std::move(errorBody))
    {}
    const std::string& ErrorBody() const { return errorBody_; }

private:
    std::string errorBody_;
};

// ---- socket stack ---------------------------------------------------------

// A failing socket call. ErrorCode is the Winsock-numbered code callers test
// (10061 refused, 11001 host not found, ...).
class EIdSocketError : public EIdException {
public:
    // Builds "Socket Error # <code>\r\n<baseText>"; an empty base text (a code
    // without a text of its own) leaves the message ending in CR LF.
    EIdSocketError(int32_t errorCode, const std::string& baseText)
        : EIdException(Format("Socket Error # %d\r\n%s", errorCode, baseText)), errorCode_(errorCode)
    {}

    // For a message that is already complete (the stack's error text).
    static EIdSocketError WithMessage(int32_t errorCode, const std::string& message)
    {
        return EIdSocketError(errorCode, message, CompleteMessage{});
    }

    int32_t ErrorCode() const { return errorCode_; }

private:
    struct CompleteMessage {};
    EIdSocketError(int32_t errorCode, const std::string& message, CompleteMessage)
        : EIdException(message), errorCode_(errorCode)
    {}

    int32_t errorCode_;
};

// The socket library could not be loaded or a function of it not be called.
// The message is "<title>: <system text>", or the title alone for code 0.
class EIdWS2StubError : public EIdException {
public:
    EIdWS2StubError(int32_t systemErrorCode, std::string systemErrorText, std::string errorTitle)
        : EIdException(systemErrorCode != 0 ? errorTitle + ": " + systemErrorText : errorTitle),
          systemErrorCode_(systemErrorCode), systemErrorText_(std::move(systemErrorText)),
          errorTitle_(std::move(errorTitle))
    {}

    int32_t SystemErrorCode() const { return systemErrorCode_; }
    const std::string& SystemErrorText() const { return systemErrorText_; }
    const std::string& ErrorTitle() const { return errorTitle_; }

private:
    int32_t systemErrorCode_;
    std::string systemErrorText_;
    std::string errorTitle_;
};

class EIdStackError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
public:
    EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
    using EIdStackError::EIdStackError;
};

class EIdStackSetSizeExceeded : public EIdStackError {
public:
    EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
    using EIdStackError::EIdStackError;
};

class EIdInvalidSocket : public EIdException {
public:
    EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
    using EIdException::EIdException;
};

// Takes the service name, not a message: "<name> is not a valid service."
class EIdInvalidServiceName : public EIdException {
public:
    explicit EIdInvalidServiceName(const std::string& serviceName)
        : EIdException(Format("%s is not a valid service.", serviceName))
    {}
};

class EIdSocketHandleError : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
public:
    EIdCouldNotBindSocket() : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
    using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdInvalidPortRange : public EIdSocketHandleError {
public:
    EIdInvalidPortRange(int32_t portMin, int32_t portMax)
        : EIdSocketHandleError(Format("Invalid Port Range (%d - %d)", portMin, portMax))
    {}
    using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
    EIdCanNotBindPortInRange(int32_t portMin, int32_t portMax)
        : EIdSocketHandleError(Format("Can not bind in port range (%d - %d)", portMin, portMax))
    {}
    using EIdSocketHandleError::EIdSocketHandleError;
};

// ---- SOCKS negotiation ----------------------------------------------------

class EIdSocksError : public EIdException {
public:
    using EIdException::EIdException;
};

// SOCKS 4 reply codes 91, 92, 93 and anything unknown.
class EIdSocksRequestFailed : public EIdSocksError {
public:
    EIdSocksRequestFailed() : EIdSocksError("Request rejected or failed.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksRequestServerFailed : public EIdSocksError {
public:
    EIdSocksRequestServerFailed() : EIdSocksError("Request rejected because SOCKS server cannot connect.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksRequestIdentFailed : public EIdSocksError {
public:
    EIdSocksRequestIdentFailed()
        : EIdSocksError("Request rejected because the client program and identd report different user-ids.")
    {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksUnknownError : public EIdSocksError {
public:
    EIdSocksUnknownError() : EIdSocksError("Unknown socks error.") {}
    using EIdSocksError::EIdSocksError;
};

// SOCKS 5 method selection, authentication and reply codes 1 to 8.
class EIdSocksServerRespondError : public EIdSocksError {
public:
    EIdSocksServerRespondError() : EIdSocksError("Socks server did not respond.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksAuthMethodError : public EIdSocksError {
public:
    EIdSocksAuthMethodError() : EIdSocksError("Invalid socks authentication method.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksAuthError : public EIdSocksError {
public:
    EIdSocksAuthError() : EIdSocksError("Authentication error to socks server.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerGeneralError : public EIdSocksError {
public:
    EIdSocksServerGeneralError() : EIdSocksError("General SOCKS server failure.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerPermissionError : public EIdSocksError {
public:
    EIdSocksServerPermissionError() : EIdSocksError("Connection not allowed by ruleset.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerNetUnreachableError : public EIdSocksError {
public:
    EIdSocksServerNetUnreachableError() : EIdSocksError("Network unreachable.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerHostUnreachableError : public EIdSocksError {
public:
    EIdSocksServerHostUnreachableError() : EIdSocksError("Host unreachable.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerConnectionRefusedError : public EIdSocksError {
public:
    EIdSocksServerConnectionRefusedError() : EIdSocksError("Connection refused.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerTTLExpiredError : public EIdSocksError {
public:
    EIdSocksServerTTLExpiredError() : EIdSocksError("TTL expired.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerCommandError : public EIdSocksError {
public:
    EIdSocksServerCommandError() : EIdSocksError("Command not supported.") {}
    using EIdSocksError::EIdSocksError;
};

class EIdSocksServerAddressError : public EIdSocksError {
public:
    EIdSocksServerAddressError() : EIdSocksError("Address type not supported.") {}
    using EIdSocksError::EIdSocksError;
};
