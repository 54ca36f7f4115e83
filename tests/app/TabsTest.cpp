// Tabs in the real window, offscreen: open, switch and close, each tab
// keeping its document, its place, its find state, its zoom and the text
// typed into it, and reading on while a fetch waits on a server that holds
// its answer. What a tab's session holds (places, one history) is tested
// with the session; restoring at start needs the library and is in the
// library window's tests.
#include "WindowFixture.h"

#include "app/FindBar.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "tests/support/NetTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>

namespace {

std::string Document(int number)
{
    std::string text = "Network Working Group\nRequest for Comments: " + std::to_string(number) + "\n\n   Title " +
                       std::to_string(number) + "\n\n";
    for (int i = 0; i < 300; ++i) text += "   Line " + std::to_string(i) + " of the body.\n";
    return text;
}

class TabsTest : public TWindowTest {
protected:
    void Keys(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(form_.get(), key, modifiers);
        QApplication::processEvents();
    }
    bool Shows(int number) const
    {
        return form_->Memo1->Text().contains(QStringLiteral("Request for Comments: %1\n").arg(number));
    }
};

} // namespace

TEST_F(TabsTest, EachTabKeepsItsDocumentPlaceFindAndZoom)
{
    Start();
    EXPECT_TRUE(form_->Tabs->isHidden()); // one tab: the window as it always was
    OpenDocument(Document(1945), "a.txt");
    form_->Reader->SetZoom(150);
    form_->Reader->FindAction->trigger();
    form_->Reader->Find->Field->setText(QStringLiteral("Line 1"));
    form_->Memo1->verticalScrollBar()->setValue(120);
    const int readingAt = form_->Memo1->FirstVisibleSourceLine();
    ASSERT_GT(readingAt, 20);
    const QString caption = form_->windowTitle();

    Keys(Qt::Key_T);
    ASSERT_EQ(form_->Tabs->count(), 2);
    EXPECT_FALSE(form_->Tabs->isHidden());
    EXPECT_EQ(form_->Tabs->currentIndex(), 1);
    EXPECT_TRUE(form_->Memo1->Text().isEmpty());
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Scrivlet Util"));
    EXPECT_FALSE(form_->PrintBtn->isEnabled());
    EXPECT_TRUE(form_->Reader->Find->isHidden());
    EXPECT_TRUE(form_->RFCNumber->currentText().isEmpty());
    OpenDocument(Document(2616), "b.txt");
    EXPECT_TRUE(Shows(2616));
    const bool printable = form_->PrintBtn->isEnabled();
    EXPECT_TRUE(form_->Tabs->tabText(1).contains(QStringLiteral("2616"))) << form_->Tabs->tabText(1).toStdString();
    form_->Reader->SetZoom(80);

    // Ctrl+Tab goes round to the first: its document where it was read, its find bar and zoom.
    Keys(Qt::Key_Tab);
    EXPECT_TRUE(Shows(1945));
    EXPECT_EQ(form_->Memo1->FirstVisibleSourceLine(), readingAt);
    EXPECT_EQ(form_->windowTitle(), caption);
    EXPECT_EQ(form_->Reader->Zoom(), 150);
    EXPECT_FALSE(form_->Reader->Find->isHidden());
    EXPECT_EQ(form_->Reader->Find->Field->text(), QStringLiteral("Line 1"));
    EXPECT_GT(form_->Reader->Find->MatchCount(), 0);

    Keys(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(Shows(2616));
    EXPECT_EQ(form_->Reader->Zoom(), 80);
    EXPECT_TRUE(form_->Reader->Find->isHidden());
    EXPECT_EQ(form_->PrintBtn->isEnabled(), printable);

    // Closing the second leaves the first, and the bar goes; the last tab does not close.
    Keys(Qt::Key_W);
    EXPECT_EQ(form_->Tabs->count(), 1);
    EXPECT_TRUE(form_->Tabs->isHidden());
    EXPECT_TRUE(Shows(1945));
    Keys(Qt::Key_W);
    EXPECT_EQ(form_->Tabs->count(), 1);
    EXPECT_TRUE(Shows(1945));
}

TEST_F(TabsTest, TypedTextSurvivesBackTabSwitchesAndGivesWayToFetchingAgain)
{
    Start();
    OpenDocument(Document(1945), "a.txt");
    QTest::keyClicks(form_->Memo1, QStringLiteral("NOTE"));
    OpenDocument(Document(2616), "b.txt");
    form_->Reader->BackAction->trigger();
    EXPECT_TRUE(Shows(1945));
    EXPECT_TRUE(form_->Memo1->Text().startsWith(QStringLiteral("NOTENetwork")))
        << form_->Memo1->LineAt(0).toStdString();

    // Typed after coming back, kept across a tab switch with what was there.
    QTest::keyClicks(form_->Memo1, QStringLiteral("MORE"));
    Keys(Qt::Key_T);
    OpenDocument(Document(2616), "c.txt");
    Keys(Qt::Key_Tab);
    EXPECT_TRUE(form_->Memo1->Text().startsWith(QStringLiteral("MORENOTENetwork")))
        << form_->Memo1->LineAt(0).toStdString();

    // F5 shows the file as it is, and says where the edits went.
    form_->mRefetchClick();
    EXPECT_TRUE(form_->Memo1->Text().startsWith(QStringLiteral("Network")));
    EXPECT_TRUE(form_->StatusText().endsWith(QStringLiteral(" [編集した内容は破棄しました]")))
        << form_->StatusText().toStdString();
}

// While the front tab's fetch waits, its shown document reads on and the tabs
// switch; only what would change that tab's document waits for the end. The
// result goes to the tab that fetched it, shown when that tab is in front
// again. Closing a tab ends its fetch and nothing of it comes back.
TEST_F(TabsTest, AFetchWaitsBehindTheReaderAndItsResultGoesToItsOwnTab)
{
    const std::string held = Document(2616);
    testsupport::TCheckedServer server({testsupport::TConnectionScript().ReadHttpRequest().Pause(3000).Send(
                                            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(held.size()) +
                                            "\r\nConnection: close\r\n\r\n" + held),
                                        testsupport::TConnectionScript().ReadHttpRequest().ReadToEnd()});
    Start();
    dialog_->UrlBase->setText(QStringLiteral("http://127.0.0.1:%1/rfc%s.txt").arg(server.Port()));
    OpenDocument(Document(1945), "a.txt");
    OpenDocument(Document(2000), "b.txt");
    form_->RFCNumber->setEditText(QStringLiteral("2616"));
    form_->mOpenFromWeb->trigger();
    ASSERT_TRUE(form_->Fetching());

    form_->Memo1->verticalScrollBar()->setValue(100);
    EXPECT_GT(form_->Memo1->FirstVisibleSourceLine(), 20);
    form_->Reader->FindAction->trigger();
    form_->Reader->Find->Field->setText(QStringLiteral("Line 12"));
    QApplication::processEvents();
    EXPECT_GT(form_->Reader->Find->MatchCount(), 0);
    Keys(Qt::Key_Left, Qt::AltModifier);
    form_->mOpenFromWeb->trigger();
    EXPECT_TRUE(Shows(2000));
    EXPECT_TRUE(form_->CancelBtn->isVisible());
    Keys(Qt::Key_T);
    EXPECT_FALSE(form_->CancelBtn->isVisible()); // the new tab fetches nothing
    OpenDocument(Document(3000), "c.txt");
    ASSERT_TRUE(form_->Fetching()) << "the held answer came before the test was done with the wait";

    WaitForFetch();
    EXPECT_TRUE(Shows(3000));
    EXPECT_EQ(form_->History().Count(), 3); // 2616 joins when its tab shows it
    EXPECT_EQ(server.ConnectionsServed(), 1u);
    Keys(Qt::Key_Tab);
    EXPECT_TRUE(Shows(2616));
    EXPECT_EQ(form_->Tabs->tabText(0), QStringLiteral("RFC 2616"));
    Keys(Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(Shows(2000));

    Keys(Qt::Key_Tab);
    form_->RFCNumber->setEditText(QStringLiteral("7"));
    form_->mOpenFromWeb->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.ConnectionsServed() == 2 || !server.Received(1).empty(); }));
    Keys(Qt::Key_W);
    EXPECT_FALSE(form_->Fetching());
    EXPECT_TRUE(server.WaitDone(5000)); // the connection was closed
    QApplication::processEvents();
    EXPECT_EQ(form_->Tabs->count(), 1);
    EXPECT_TRUE(Shows(2000));
    EXPECT_EQ(form_->History().Count(), 4);
}
