#pragma once

// What the HTTP client tests share: the scripted server, and one line that describes how a call ended, so a table row
// can state the expected outcome as text.

#include <string>
#include <vector>

#include "net/http/IdHTTP.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/GoldenExchange.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/StreamText.h"

namespace httptest {

using testsupport::StreamText;
using testsupport::TConnectionScript;
using testsupport::TGoldenExchange;
// Checks itself when it goes: every script played to its end, no failure inside it.
using TScriptedServer = testsupport::TCheckedServer;

inline void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The exception as a tag and its message: "HTTP 404: <status line> | <error body>", "closed",
// "bad: <message>", "socket <code>", ..., "EIdException: <message>" for the rest of the tree.
inline std::string Describe(const std::exception& failure)
{
    if (auto* e = dynamic_cast<const EIdHTTPProtocolException*>(&failure)) {
        return "HTTP " + std::to_string(e->ReplyErrorCode()) + ": " + e->Message() + " | " + e->ErrorBody();
    }
    if (dynamic_cast<const EIdConnClosedGracefully*>(&failure)) return "closed";
    if (dynamic_cast<const EIdHTTPClosedInHeader*>(&failure)) return "closed in header: " + std::string(failure.what());
    if (dynamic_cast<const EIdHTTPTimeLimit*>(&failure)) return "time limit: " + std::string(failure.what());
    if (dynamic_cast<const EIdHTTPBadResponse*>(&failure)) return "bad: " + std::string(failure.what());
    if (auto* e = dynamic_cast<const EIdSocketError*>(&failure)) return "socket " + std::to_string(e->ErrorCode());
    if (dynamic_cast<const EIdUnknownProtocol*>(&failure)) return "unknown protocol: " + std::string(failure.what());
    if (dynamic_cast<const EIdIOHandlerPropInvalid*>(&failure)) return "handler: " + std::string(failure.what());
    if (dynamic_cast<const EIdReadLnMaxLineLengthExceeded*>(&failure)) return "line: " + std::string(failure.what());
    if (dynamic_cast<const EIdException*>(&failure)) return "EIdException: " + std::string(failure.what());
    return std::string("other: ") + failure.what();
}

// Runs call and describes how it ended.
template <typename TCall>
std::string Outcome(TCall call)
{
    return testsupport::HowItEnded(call, Describe, "ok");
}

} // namespace httptest
