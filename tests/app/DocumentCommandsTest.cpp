// The commands without a window: a session, a fetcher and a host of plain
// callbacks, over documents in a temporary folder named by a "file:///" format,
// and one from a scripted server whose exchange the host runs later.
#include "app/DocumentCommands.h"

#include "tests/support/ScriptedServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class DocumentCommandsTest : public ::testing::Test {
protected:
    DocumentCommandsTest()
    {
        format_ = "file:///" + dir_.File("rfc%s.txt");
        commands_ = std::make_unique<TDocumentCommands>(session_, fetcher_, nullptr, Host());
    }
    // Messages and the status line are recorded; the URL format is format_.
    TCommandHost Host()
    {
        TCommandHost host;
        host.Message = [this](const std::string& text) { messages_.push_back(text); };
        host.Status = [this](const std::string& text) { status_ = text; };
        host.UrlFormat = [this] { return format_; };
        host.HistCount = [] { return 20; };
        host.Settings = [] { return TFetchSettings(); };
        return host;
    }
    void Write(int number, const std::string& title, const std::string& more = "")
    {
        WriteTextFile(dir_.File("rfc" + std::to_string(number) + ".txt"),
                      "Network Working Group\nRequest for Comments: " + std::to_string(number) + "\n\n   " + title +
                          "\n" + more);
    }

    TTempDir dir_;
    std::string format_;
    std::vector<std::string> messages_;
    std::string status_;
    TDocumentSession session_;
    TFetcher fetcher_;
    std::unique_ptr<TDocumentCommands> commands_;
};

} // namespace

// The spellings themselves are DocumentNumber's table; here the command files them under one entry.
TEST_F(DocumentCommandsTest, TwoSpellingsOfANumberAreOneDocumentAndOneEntry)
{
    Write(822, "Standard for ARPA Internet Text Messages");
    ASSERT_EQ(commands_->FetchTyped("822"), TCommandOutcome::Shown);
    ASSERT_EQ(commands_->FetchTyped("RFC 0822"), TCommandOutcome::Shown);
    ASSERT_EQ(session_.History().Count(), 1);
    EXPECT_EQ(session_.History().Entries()[0], "822 : Standard for ARPA Internet Text Messages");
    EXPECT_EQ(session_.History().Urls()[0], "file:///" + dir_.File("rfc822.txt"));
    EXPECT_EQ(session_.Shown()->Entry, session_.History().Entries()[0]);
    EXPECT_EQ(session_.Shown()->BoxText, "822");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DocumentCommandsTest, AFormatWithoutTheNumberIsRefusedAtFetchTime)
{
    Write(1928, "SOCKS Protocol Version 5");
    format_ = "file:///" + dir_.File("rfc1928.txt");
    EXPECT_EQ(commands_->FetchTyped("2616"), TCommandOutcome::Refused);
    EXPECT_EQ(session_.Shown(), nullptr);
    EXPECT_EQ(session_.History().Count(), 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(format_), std::string::npos) << messages_[0];
}

TEST_F(DocumentCommandsTest, FetchAgainAfterBackReadsTheShownDocumentAgainInItsPlace)
{
    Write(1945, "HTTP/1.0");
    Write(2616, "HTTP/1.1");
    ASSERT_EQ(commands_->FetchTyped("1945"), TCommandOutcome::Shown);
    ASSERT_EQ(commands_->FetchTyped("2616"), TCommandOutcome::Shown);
    ASSERT_TRUE(session_.Back());
    Write(1945, "HTTP/1.0", "revised\n");
    EXPECT_EQ(commands_->FetchAgain(), TCommandOutcome::Shown);
    EXPECT_EQ(session_.Shown()->Url, "file:///" + dir_.File("rfc1945.txt"));
    EXPECT_NE(session_.Shown()->Body.find("revised"), std::string::npos);
    EXPECT_EQ(session_.Shown()->Entry, "1945 : HTTP/1.0");
    EXPECT_TRUE(session_.CanGoForward()); // still the same place, 2616 after it
    EXPECT_EQ(session_.History().Entries()[0], "2616 : HTTP/1.1");

    // A file gone since: said, and the document read before stays.
    std::remove(dir_.File("rfc1945.txt").c_str());
    EXPECT_EQ(commands_->FetchAgain(), TCommandOutcome::Failed);
    EXPECT_EQ(messages_, std::vector<std::string>{"ファイルが読めませんでした"});
    EXPECT_NE(session_.Shown()->Body.find("revised"), std::string::npos);
}

// With a host that runs the network part later (the window: on a worker), the
// command returns Started and changes nothing until what follows the exchange
// runs; only then is the document shown, filed and its end told.
TEST_F(DocumentCommandsTest, ANetworkPartRunLaterShowsAndFilesOnlyWhenItEnds)
{
    const std::string body = "Network Working Group\nRequest for Comments: 7\n\n   Seven\n";
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    testsupport::TScriptedServer server({testsupport::TConnectionScript().ReadHttpRequest().Send(reply),
                                         testsupport::TConnectionScript().ReadHttpRequest().Send(reply)});
    format_ = "http://127.0.0.1:" + std::to_string(server.Port()) + "/rfc%s.txt";
    std::function<void(TFetcher&)> work;
    std::function<void()> then;
    TCommandHost host = Host();
    host.RunNetwork = [&](std::function<void(TFetcher&)> w, std::function<void()> t) {
        work = std::move(w);
        then = std::move(t);
    };
    TDocumentCommands commands(session_, fetcher_, nullptr, std::move(host));
    std::vector<TCommandOutcome> ended;

    ASSERT_EQ(commands.FetchTyped("7", [&](TCommandOutcome outcome) { ended.push_back(outcome); }),
              TCommandOutcome::Started);
    ASSERT_TRUE(work && then);
    TFetcher workerFetcher;
    std::thread([&] { work(workerFetcher); }).join();
    EXPECT_EQ(session_.Shown(), nullptr);
    EXPECT_EQ(session_.History().Count(), 0);
    EXPECT_TRUE(ended.empty());

    then();
    EXPECT_EQ(ended, std::vector<TCommandOutcome>{TCommandOutcome::Shown});
    ASSERT_NE(session_.Shown(), nullptr);
    EXPECT_EQ(session_.Shown()->Body, body);
    ASSERT_EQ(session_.History().Count(), 1);
    EXPECT_EQ(session_.History().Entries()[0], "7 : Seven");

    // The history changes while the entry's document is asked for again: the entry itself goes to the top.
    const std::string network = format_;
    format_ = "file:///" + dir_.File("rfc%s.txt");
    Write(822, "Mail");
    Write(1945, "HTTP/1.0");
    ASSERT_EQ(commands.FetchTyped("822"), TCommandOutcome::Shown);
    ASSERT_EQ(commands.FetchTyped("7 : Seven"), TCommandOutcome::Started);
    ASSERT_EQ(commands.FetchTyped("1945"), TCommandOutcome::Shown);
    std::thread([&] { work(workerFetcher); }).join();
    then();
    ASSERT_EQ(session_.History().Count(), 3);
    EXPECT_EQ(session_.History().Entries()[0], "7 : Seven");
    EXPECT_EQ(session_.History().Entries()[1], "1945 : HTTP/1.0");
    EXPECT_EQ(session_.History().Urls()[0], network.substr(0, network.find("%s")) + "7.txt");
}
