#pragma once

// Test support that knows the transport (include only from tests that link net_tcp and GoogleTest): the
// counting anti-freeze, the scripted server as tests use it, which checks itself when it goes, and the check
// of a failing socket call.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdException.h"
#include "tests/support/ScriptedServer.h"

namespace testsupport {

// An anti-freeze that counts its yields.
class TCountingAntiFreeze : public TIdAntiFreezeBase {
public:
    void ProcessStep() override { ++steps; }
    int steps = 0;
};

// The scripted server that fails the running test when it goes while a failure inside it went unseen: a
// socket call that failed or a read step the client never satisfied (Error()), or a script not played to
// its end (WaitDone()). Declare it before the client, so the client has closed when this runs; a test that
// has failed already is not checked again.
class TCheckedServer : public TScriptedServer {
public:
    using TScriptedServer::TScriptedServer;
    explicit TCheckedServer(TConnectionScript script) : TScriptedServer({std::move(script)}) {}
    ~TCheckedServer()
    {
        if (unchecked_ || ::testing::Test::HasFailure()) return;
        EXPECT_TRUE(WaitDone()) << "the scripted server did not play its scripts to the end";
        EXPECT_EQ(Error(), "") << "a failure inside the scripted server";
    }
    // For a test that leaves the server mid-script on purpose.
    void Uncheck() { unchecked_ = true; }

private:
    bool unchecked_ = false;
};

// Runs action and expects it to raise a socket error with this code and, when message is given, this text.
template <class Action>
void ExpectSocketError(Action&& action, int32_t code, const char* message = nullptr)
{
    try {
        action();
        ADD_FAILURE() << "no socket error";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), code);
        if (message) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

} // namespace testsupport
