// The fetch command end to end: the real window, offscreen, against a real
// nginx serving small documents of our own (and a scripted server where a
// real one will not misbehave on purpose).
#include "WindowFixture.h"

#include "app/TextPane.h"
#include "net/http/IdHTTP.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

namespace {

const std::string kLfDocument =
    "Network Working Group\nRequest for Comments: 2223\n\n   Instructions to RFC Authors\n\nx\n";
const std::string kCrLfDocument =
    "Network Working Group\r\nRequest for Comments: 2224\r\n\r\n   Instructions to RFC Authors\r\n\r\nx\r\n";

class FetchCommandTest : public TWindowTest {
protected:
    static void SetUpTestSuite()
    {
        root_ = new TTempDir();
        std::filesystem::create_directories(root_->File("rfc"));
        std::filesystem::create_directories(root_->File("empty"));
        WriteTextFile(root_->File("rfc/rfc2223.txt"), kLfDocument);
        WriteTextFile(root_->File("rfc/rfc2224.txt"), kCrLfDocument);
        WriteTextFile(root_->File("rfc/rfc.txt"), "x\ny\nz\n");
        WriteTextFile(root_->File("empty/rfc1.txt"), "");
        nginx_ =
            testsupport::TRealPeer::Nginx(root_->Path(), "location /moved/ { return 301 /rfc/rfc2223.txt; }").release();
    }
    static void TearDownTestSuite()
    {
        delete nginx_;
        delete root_;
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(nginx_->Port()); }

    // Types text into the number box and runs the fetch command.
    void Fetch(const std::string& typed)
    {
        form_->RFCNumber->setEditText(QString::fromStdString(typed));
        form_->mOpenFromWeb->trigger();
    }
    void SetFormat(const std::string& format) { dialog_->UrlBase->setText(QString::fromStdString(format)); }
    void SetProxy(bool use, const std::string& server, const std::string& port)
    {
        dialog_->UseProxy->setChecked(use);
        dialog_->ServerName->setText(QString::fromStdString(server));
        dialog_->PortNumber->setText(QString::fromStdString(port));
    }
    std::string Status() const { return form_->StatusText().toStdString(); }
    std::string TopEntry() const { return form_->History().Count() ? form_->History().Entries()[0] : ""; }
    std::string LastBox() const { return boxes_->Shown.empty() ? "" : boxes_->Shown.back().Text.toStdString(); }
    // The window after a command: the pane takes input again and the cursor is the default one.
    void ExpectRestored() const
    {
        EXPECT_TRUE(form_->Memo1->isEnabled());
        EXPECT_EQ(form_->cursor().shape(), Qt::ArrowCursor);
    }

    static TTempDir* root_;
    static testsupport::TRealPeer* nginx_;
};

TTempDir* FetchCommandTest::root_ = nullptr;
testsupport::TRealPeer* FetchCommandTest::nginx_ = nullptr;

TEST_F(FetchCommandTest, EachRoadEndsWithItsStatusMessageHistoryAndPrintButton)
{
    struct Row {
        std::string name, format, typed;
        bool useProxy;
        std::string path;   // of the URL the format gives, after the server's address
        std::string status; // "{url}" stands for the URL the format gives
        std::string box;    // last message box text, "" for none
        std::string top;    // newest history entry afterwards, "" for none
        bool printEnabled;
    };
    const std::string notFound = "指定のRFCが見つかりませんでした。\r\nERR:";
    const std::string rfc = Base() + "/rfc/rfc%s.txt";
    const std::vector<Row> rows = {
        {"LF body", rfc, "2223", false, "/rfc/rfc2223.txt", "{url}: contains... 84 chars/6 lines", "",
         "2223 : Instructions to RFC Authors", true},
        {"CR LF pair ends one line", rfc, "2224abc", false, "/rfc/rfc2224.txt", "{url}: contains... 90 chars/6 lines",
         "", "2224abc : Instructions to RFC Authors", true},
        {"no digits", rfc, "abc", false, "/rfc/rfc.txt", "{url}: contains... 6 chars/3 lines", "", "abc : ", true},
        {"empty body keeps the pane", Base() + "/empty/rfc%s.txt", "1", false, "/empty/rfc1.txt",
         "{url}: contains... 0 chars/0 lines", "", "1 : ", true},
        {"proxy ticked without a server goes direct", rfc, "2223", true, "/rfc/rfc2223.txt",
         "{url}: contains... 84 chars/6 lines", "", "2223 : Instructions to RFC Authors", true},
        {"error status", rfc, "9999", false, "/rfc/rfc9999.txt", "accessing... {url}",
         notFound + "HTTP/1.1 404 Not Found", "", false},
        {"redirect not followed", Base() + "/moved/rfc%s.txt", "1", false, "/moved/rfc1.txt", "accessing... {url}",
         notFound + "HTTP/1.1 301 Moved Permanently", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Start();
        SetFormat(row.format);
        SetProxy(row.useProxy, "", "8080");
        const std::string url = Base() + row.path;
        Fetch(row.typed);
        std::string status = row.status;
        status.replace(status.find("{url}"), 5, url);
        EXPECT_EQ(Status(), status);
        EXPECT_EQ(LastBox(), row.box);
        EXPECT_EQ(TopEntry(), row.top);
        EXPECT_EQ(form_->PrintBtn->isEnabled(), row.printEnabled);
        ExpectRestored();
        Stop();
        boxes_->Shown.clear();
    }
}

TEST_F(FetchCommandTest, UnresolvableHostGivesTheServerMessage)
{
    Start();
    SetFormat("http://no-such-host.invalid/rfc%s.txt");
    Fetch("1");
    EXPECT_EQ(LastBox(), "サーバにアクセスできませんでした。\r\nERR:Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(Status(), "accessing... http://no-such-host.invalid/rfc1.txt");
    EXPECT_FALSE(form_->PrintBtn->isEnabled());
    ExpectRestored();
}

// The number box has the focus, not its edit field: Enter there must fetch.
TEST_F(FetchCommandTest, EnterInTheNumberBoxFetches)
{
    Start();
    SetFormat(Base() + "/rfc/rfc%s.txt");
    form_->RFCNumber->setEditText("2223");
    QTest::keyClick(form_->RFCNumber, Qt::Key_Return);
    EXPECT_EQ(TopEntry(), "2223 : Instructions to RFC Authors");
    EXPECT_EQ(form_->History().Count(), 1);
}

TEST_F(FetchCommandTest, HistoryEntryKeepsItsUrlAfterTheFormatChanged)
{
    Start();
    SetFormat(Base() + "/rfc/rfc%s.txt");
    Fetch("2223");
    SetFormat("http://127.0.0.1:1/nothing%s");
    Fetch("abc"); // a second entry, so the reused one has to move
    boxes_->Shown.clear();
    Fetch("2223 : INSTRUCTIONS to RFC Authors");
    EXPECT_EQ(LastBox(), "");
    EXPECT_EQ(TopEntry(), "2223 : INSTRUCTIONS to RFC Authors");
    EXPECT_EQ(form_->UrlList()[0], Base() + "/rfc/rfc2223.txt");
}

TEST_F(FetchCommandTest, FileFormatLoadsLocallyButFileWithCapitalGoesToTheClient)
{
    Start();
    WriteTextFile(dir_.File("doc7.txt"), kLfDocument);
    SetFormat("file:///" + dir_.File("doc%s.txt"));
    Fetch("7");
    EXPECT_EQ(Status(), "accessing... file:///" + dir_.File("doc7.txt"));
    EXPECT_EQ(TopEntry(), "7 : Instructions to RFC Authors");
    EXPECT_TRUE(form_->PrintBtn->isEnabled());

    // "File" is no local file: the client knows no such protocol, and the
    // failure goes to the general error report with the window restored.
    SetFormat("File:///" + dir_.File("doc%s.txt"));
    Fetch("7");
    ASSERT_FALSE(boxes_->Shown.empty());
    EXPECT_EQ(boxes_->Shown.back().Kind, "error");
    EXPECT_EQ(form_->History().Count(), 1);
    ExpectRestored();
}

TEST_F(FetchCommandTest, RejectedFormatChangesNothing)
{
    Start();
    form_->SetStatusText("before");
    SetFormat(Base() + "/rfc/rfc%d.txt");
    Fetch("2223");
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_EQ(Status(), "before");
    ExpectRestored();
}

TEST_F(FetchCommandTest, ProxyGetsTheAbsoluteUrl)
{
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nx\ny\n";
    testsupport::TCheckedServer proxy({testsupport::TConnectionScript().ReadHttpRequest().Send(reply)});
    Start();
    SetFormat("http://docs.example:8080/rfc/rfc%s.txt");
    SetProxy(true, "127.0.0.1", std::to_string(proxy.Port()));
    Fetch("42");
    ASSERT_TRUE(proxy.WaitDone());
    const std::string request = proxy.Received(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET http://docs.example:8080/rfc/rfc42.txt HTTP/1.1");
    EXPECT_EQ(Status(), "http://docs.example:8080/rfc/rfc42.txt: contains... 4 chars/2 lines");
}

TEST_F(FetchCommandTest, HttpsDocumentFromAServerTheHandlerTrusts)
{
    testsupport::TTestCertificates certificates;
    auto server = testsupport::TRealPeer::NginxTls(root_->Path(), certificates.Cert("good"), certificates.Key("good"));
    Start();
    form_->IdSSLIOHandlerSocket1->SetCAFile(certificates.CAFile());
    const std::string base = "https://127.0.0.1:" + std::to_string(server->Port());
    SetFormat(base + "/rfc/rfc%s.txt");
    Fetch("2223");
    EXPECT_EQ(LastBox(), "");
    EXPECT_EQ(Status(), base + "/rfc/rfc2223.txt: contains... 84 chars/6 lines");
    EXPECT_EQ(TopEntry(), "2223 : Instructions to RFC Authors");
}

TEST_F(FetchCommandTest, SilentServerTimesOutAndTheWindowComesBack)
{
    testsupport::TScriptedServer silent({testsupport::TConnectionScript().ReadHttpRequest().Pause(3000)});
    Start();
    form_->IdHTTP1->SetReadTimeout(300);
    SetFormat("http://127.0.0.1:" + std::to_string(silent.Port()) + "/rfc%s.txt");
    Fetch("1");
    ASSERT_FALSE(boxes_->Shown.empty());
    EXPECT_EQ(boxes_->Shown.back().Kind, "error");
    EXPECT_EQ(form_->History().Count(), 0);
    ExpectRestored();
}

} // namespace
