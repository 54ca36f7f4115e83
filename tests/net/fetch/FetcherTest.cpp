// The fetcher against the scripted server: each way a fetch ends is its own
// result kind, validators go out only when asked for, the redirect policy is
// asked for every hop, and a cancel closes the connection.
#include "net/fetch/Fetcher.h"

#include "net/http/IdHTTP.h"

#include "tests/support/Loopback.h"
#include "tests/support/NetTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

using testsupport::TCheckedServer;
using testsupport::TConnectionScript;

namespace {

const std::string kDocument = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nETag: \"v1\"\r\n"
                              "Last-Modified: Sun, 13 Sep 2020 12:26:40 GMT\r\n\r\nhello";

std::string Url(int port, const std::string& path = "/rfc1.txt")
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

} // namespace

TEST(TFetcher, EachEndingIsItsOwnKind)
{
    const struct {
        const char* name;
        TConnectionScript script;
        int maxBytes;
        int timeLimit;
        TFetchKind kind;
        int code;
        const char* body;
    } rows[] = {
        {"error status",
         TConnectionScript().ReadHttpRequest().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno"), 64, 10,
         TFetchKind::HttpError, 404, ""},
        {"not modified", TConnectionScript().ReadHttpRequest().Send("HTTP/1.1 304 Not Modified\r\n\r\n"), 64, 10,
         TFetchKind::NotModified, 304, ""},
        {"one byte past the size limit", TConnectionScript().ReadHttpRequest().Send(kDocument), 4, 10,
         TFetchKind::TooLarge, 0, ""},
        {"exactly the size limit", TConnectionScript().ReadHttpRequest().Send(kDocument), 5, 10, TFetchKind::Done, 200,
         "hello"},
        {"hang-up inside the header",
         TConnectionScript().ReadHttpRequest().Send("HTTP/1.1 200 OK\r\nContent-Le").Close(), 64, 10,
         TFetchKind::ClosedInHeader, 0, ""},
        {"whole-fetch time limit",
         TConnectionScript()
             .ReadHttpRequest()
             .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nh")
             .Pause(1500)
             .Close(),
         64, 1, TFetchKind::TimeLimit, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TCheckedServer server(row.script);
        TFetcher fetcher;
        TFetchSettings settings;
        settings.MaxBytes = row.maxBytes;
        settings.TimeLimitSeconds = row.timeLimit;
        const TFetchResult result = fetcher.Fetch(settings, Url(server.Port()));
        EXPECT_EQ(result.Kind, row.kind) << result.Failure;
        EXPECT_EQ(result.Code, row.code);
        EXPECT_EQ(result.Body, row.body);
        EXPECT_EQ(result.Failure.empty(), row.kind == TFetchKind::Done);
        fetcher.Client().CloseConnection();
        server.WaitDone(5000);
    }
}

TEST(TFetcher, DocumentComesWithItsValidatorsAndValidatorsGoOutOnlyWhenGiven)
{
    TCheckedServer server(
        std::vector<TConnectionScript>{TConnectionScript().ReadHttpRequest().Send(kDocument).ReadHttpRequest().Send(
            "HTTP/1.1 304 Not Modified\r\n\r\n")});
    TFetcher fetcher;
    const TFetchSettings settings;
    const TFetchResult first = fetcher.Fetch(settings, Url(server.Port()));
    ASSERT_EQ(first.Kind, TFetchKind::Done) << first.Failure;
    EXPECT_EQ(first.ETag, "\"v1\"");
    EXPECT_EQ(first.LastModified, "Sun, 13 Sep 2020 12:26:40 GMT");
    EXPECT_EQ(first.FinalUrl, Url(server.Port()));

    TFetchRequest again(Url(server.Port()));
    again.IfNoneMatch = first.ETag;
    again.IfModifiedSince = first.LastModified;
    EXPECT_EQ(fetcher.Fetch(settings, again).Kind, TFetchKind::NotModified);
    fetcher.Client().CloseConnection();
    ASSERT_TRUE(server.WaitDone(5000));
    const std::string sent = server.Received(0);
    const size_t second = sent.find("GET", 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(sent.substr(0, second).find("If-None-Match"), std::string::npos);
    EXPECT_NE(sent.find("If-None-Match: \"v1\"\r\n", second), std::string::npos);
    EXPECT_NE(sent.find("If-Modified-Since: Sun, 13 Sep 2020 12:26:40 GMT\r\n", second), std::string::npos);
}

TEST(TFetcher, ThePolicyDecidesEveryRedirect)
{
    const std::string moved = "HTTP/1.1 301 Moved Permanently\r\nLocation: /new.txt\r\nContent-Length: 0\r\n\r\n";
    for (const bool allowed : {true, false}) {
        SCOPED_TRACE(allowed ? "followed" : "refused");
        TCheckedServer server(allowed
                                  ? TConnectionScript().ReadHttpRequest().Send(moved).ReadHttpRequest().Send(kDocument)
                                  : TConnectionScript().ReadHttpRequest().Send(moved));
        TFetcher fetcher;
        TFetchSettings settings;
        std::vector<std::string> asked;
        settings.RedirectAllowed = [&](std::string_view from, std::string_view location) {
            asked.push_back(std::string(from) + " -> " + std::string(location));
            return allowed;
        };
        const TFetchResult result = fetcher.Fetch(settings, Url(server.Port()));
        // The policy judges the Location as the connection would take it: resolved against the URL it came from.
        EXPECT_EQ(asked, std::vector<std::string>{Url(server.Port()) + " -> http://127.0.0.1:" +
                                                  std::to_string(server.Port()) + "/new.txt"});
        EXPECT_EQ(result.Kind, allowed ? TFetchKind::Done : TFetchKind::HttpError);
        EXPECT_EQ(result.Code, allowed ? 200 : 301);
        fetcher.Client().CloseConnection();
        server.WaitDone(5000);
    }
}

TEST(TFetcher, NoServerAndCancelAreResultsAndACancelClosesTheConnection)
{
    TFetcher fetcher;
    const TFetchSettings settings;
    const TFetchResult refused = fetcher.Fetch(settings, Url(testsupport::FreeLoopbackPort()));
    EXPECT_EQ(refused.Kind, TFetchKind::NoServer);
    EXPECT_FALSE(refused.SocksAnswered);

    // The window's anti-freeze ends a wait by raising; the fetcher knows the cancel by its flag.
    TCheckedServer server(std::vector<TConnectionScript>{TConnectionScript()
                                                             .ReadHttpRequest()
                                                             .Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello")
                                                             .Pause(300)
                                                             .Send("world")
                                                             .ReadToEnd(),
                                                         TConnectionScript().ReadHttpRequest().Send(kDocument)});
    fetcher.OnProgress = [&fetcher](int64_t, int64_t) {
        fetcher.RequestCancel();
        throw std::runtime_error("cancelled in a wait");
    };
    EXPECT_EQ(fetcher.Fetch(settings, Url(server.Port())).Kind, TFetchKind::Cancelled);
    fetcher.OnProgress = nullptr;
    fetcher.ResetCancel();
    // The next fetch starts on a connection of its own.
    const TFetchResult next = fetcher.Fetch(settings, Url(server.Port()));
    EXPECT_EQ(next.Kind, TFetchKind::Done) << next.Failure;
    fetcher.Client().CloseConnection();
    EXPECT_TRUE(server.WaitDone(5000));
    EXPECT_EQ(server.ConnectionsServed(), 2u);
}

// The window cancels from its own thread while a worker's fetch waits: on a
// server that holds its answer, or on a connect that is never answered. The
// wait ends at once, also when the cancel came before the fetch began.
TEST(TFetcher, ACancelFromAnotherThreadEndsAWaitingFetchPromptly)
{
    // Cancelled while the answer is awaited, before the fetch begins, while the connect is unanswered.
    enum TWait { HeldAnswer, BeforeStart, HungConnect };
    for (const TWait wait : {HeldAnswer, BeforeStart, HungConnect}) {
        SCOPED_TRACE(wait);
        testsupport::TScriptedServer held({TConnectionScript().ReadHttpRequest().Pause(60000)});
        testsupport::TRawSocket full;
        if (wait == HungConnect) {
            ASSERT_TRUE(full.FillBacklog());
        }
        TFetcher fetcher;
        if (wait == BeforeStart) fetcher.RequestCancel();
        TFetchResult result;
        const auto started = std::chrono::steady_clock::now();
        std::thread worker(
            [&] { result = fetcher.Fetch(TFetchSettings(), Url(wait == HungConnect ? full.Port() : held.Port())); });
        if (wait == HeldAnswer) {
            // Cancelled once the request has arrived, so the fetch is inside its wait for the answer.
            for (int i = 0; i < 500 && held.Received(0).find("\r\n\r\n") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (wait == HungConnect) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        fetcher.RequestCancel();
        worker.join();
        EXPECT_EQ(result.Kind, TFetchKind::Cancelled) << result.Failure;
        // Far below the 30 s a silent server or an unanswered connect is given.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
}
