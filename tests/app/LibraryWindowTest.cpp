// The library in the real window against a real nginx: the road of a reader who fetches, loses the server,
// searches, follows a relation and starts the program again. What the library decides is tested below the
// window; here only that the window shows it.

#include "app/LibraryCommands.h"
#include "app/LibraryListModel.h"
#include "app/SearchWindow.h"
#include "app/SyncDialog.h"
#include "app/TextPane.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/RealPeers.h"
#include "tests/support/ScriptedServer.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

namespace {

std::string SharedFile(const std::string& name) { return std::string(SCRIVLET_RFC_DIR) + "/" + name; }

class LibraryWindowTest : public TWindowTest {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(SharedFile("../rfc-index-sample.xml"))) GTEST_SKIP() << "no shared folder";
        for (const char* name : {"rfc2616.txt", "rfc2109.txt", "rfc822.txt", "rfc9293.txt"})
            WriteTextFile(root_.File(name), ReadTextFile(SharedFile(name)));
        WriteTextFile(root_.File("rfc7230.txt"), "Request for Comments: 7230\n\nMessage Syntax and Routing\n");
        WriteTextFile(root_.File("rfc-index.xml"), ReadTextFile(SharedFile("../rfc-index-sample.xml")));
        nginx_ = testsupport::TRealPeer::Nginx(root_.Path());
        libraryPath_ = dir_.File("cache/scrivlet/library.db");
    }
    void StartWithServer()
    {
        Start();
        dialog_->UrlBase->setText(QString("http://127.0.0.1:%1/rfc%s.txt").arg(nginx_->Port()));
    }
    void Fetch(const std::string& typed)
    {
        form_->RFCNumber->setEditText(QString::fromStdString(typed));
        Run(form_->mOpenFromWeb);
        // The relations bar follows the pane once the event loop runs.
        QApplication::processEvents();
    }
    QString Status() const { return form_->StatusText(); }
    QString Pane() const { return form_->Memo1->toPlainText(); }

    TTempDir root_;
    std::unique_ptr<testsupport::TRealPeer> nginx_;
};

} // namespace

TEST_F(LibraryWindowTest, FetchedDocumentStaysReadableWithoutTheServerAndShowsItsRelations)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    Run(library.mUpdateIndex);
    EXPECT_EQ(Status(), QStringLiteral("索引を更新しました: 14 件"));

    Fetch("2616");
    EXPECT_TRUE(Status().endsWith(QStringLiteral("lines"))) << Status().toStdString();
    ASSERT_TRUE(library.RelationsBar->isVisible());
    EXPECT_TRUE(library.RelationsBar->text().contains(
        QStringLiteral("Obsoleted by <a href=\"rfc:7230\">7230</a>, <a href=\"rfc:7231\">7231</a>")))
        << library.RelationsBar->text().toStdString();
    EXPECT_TRUE(library.RelationsBar->text().contains(
        QStringLiteral(" \u2192 <a href=\"rfc:9110\">9110</a>, <a href=\"rfc:9112\">9112</a>")));
    // The pane starts 2 pixels below the bar.
    QWidget* client = form_->centralWidget();
    EXPECT_EQ(form_->Memo1->mapTo(client, QPoint(0, 0)).y(), library.RelationsBar->geometry().bottom() + 3);
    EXPECT_TRUE(form_->RFCNumber->itemData(0, Qt::FontRole).value<QFont>().bold());

    // A link of the bar goes through the fetch command.
    emit library.RelationsBar->linkActivated(QStringLiteral("rfc:7230"));
    WaitForFetch();
    EXPECT_TRUE(Pane().contains(QStringLiteral("Message Syntax and Routing")));
    EXPECT_EQ(form_->History().Entries()[0].substr(0, 4), "7230");
    Fetch("2616");

    // Gone from the server: the copy stays, and the status line says so once.
    Fetch("2109");
    std::filesystem::remove(root_.File("rfc2109.txt"));
    Run(library.mRefetch);
    EXPECT_TRUE(Status().endsWith(QStringLiteral(" [ライブラリ] サーバにはもうありません"))) << Status().toStdString();
    EXPECT_EQ(Status().count(QStringLiteral("[ライブラリ]")), 1);
    EXPECT_TRUE(Pane().contains(QStringLiteral("HTTP State Management Mechanism")));
    Fetch("2616");

    nginx_.reset();
    const QString text = Pane();
    Fetch("2616");
    EXPECT_TRUE(Status().endsWith(QStringLiteral("[ライブラリ]"))) << Status().toStdString();
    Run(library.mRefetch);
    EXPECT_TRUE(Status().contains(QStringLiteral("[ライブラリ] サーバに接続できませんでした: ")))
        << Status().toStdString();
    EXPECT_EQ(Pane(), text);
    EXPECT_TRUE(boxes_->Shown.empty());

    // A document the index knows nothing of has no bar.
    OpenDocument("Request for Comments: 9999\n\nUnknown\n");
    QApplication::processEvents();
    EXPECT_FALSE(library.RelationsBar->isVisible());
    EXPECT_EQ(form_->Memo1->mapTo(form_->centralWidget(), QPoint(0, 0)).y(), 40);
}

// The views follow the session: after Back every one of them names the document on screen.
TEST_F(LibraryWindowTest, AfterBackEveryViewNamesTheShownDocumentAndFetchAgainAsksForIt)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    Run(library.mUpdateIndex);
    Fetch("2109");
    Fetch("2616");
    QTest::keyClick(form_.get(), Qt::Key_Left, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("2109 : HTTP State Management Mechanism")))
        << form_->windowTitle().toStdString();
    EXPECT_EQ(form_->RFCNumber->currentText(), QStringLiteral("2109"));
    EXPECT_TRUE(library.RelationsBar->text().contains(QStringLiteral("<b>RFC 2109</b>")));
    EXPECT_TRUE(Pane().left(400).contains(QStringLiteral("Request for Comments: 2109")));
    EXPECT_TRUE(form_->PrintBtn->isEnabled());

    Run(library.mRefetch);
    const std::string log = nginx_->AccessLog(4);
    EXPECT_NE(log.rfind("\"GET /rfc2109.txt HTTP/1.1\" 200 "), std::string::npos);
    EXPECT_GT(log.rfind("GET /rfc2109.txt"), log.rfind("GET /rfc2616.txt"));
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("2109 : ")));

    // A failed fetch takes nothing away: the shown document still prints.
    Fetch("9999");
    EXPECT_TRUE(Pane().left(400).contains(QStringLiteral("Request for Comments: 2109")));
    EXPECT_TRUE(form_->PrintBtn->isEnabled());
}

TEST_F(LibraryWindowTest, LibraryWindowOpensOnTheWholeIndexGreysObsoleteOnesAndOpensWithEnter)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    Run(library.mUpdateIndex);
    library.mSearch->trigger();
    TSearchWindow* window = library.SearchWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->Model->rowCount(), 14);

    std::map<int, int> rows;
    for (int row = 0; row < window->Model->rowCount(); ++row) rows[window->Model->NumberAt(row)] = row;
    const QBrush greyed = window->palette().brush(QPalette::Disabled, QPalette::Text);
    const QModelIndex obsolete = window->Model->index(rows[2109], TLibraryListModel::kTitle);
    EXPECT_EQ(obsolete.data(Qt::ForegroundRole).value<QBrush>(), greyed);
    EXPECT_EQ(obsolete.data(Qt::ToolTipRole).toString(), QStringLiteral("Obsoleted by 2965 \u2192 6265"));
    EXPECT_FALSE(window->Model->index(rows[6265], TLibraryListModel::kTitle).data(Qt::ForegroundRole).isValid());

    window->HideObsolete->setChecked(true);
    EXPECT_EQ(window->Model->rowCount(), 7);
    window->HideObsolete->setChecked(false);

    window->Query->setText(QStringLiteral("2109"));
    QTest::keyClick(window->List, Qt::Key_Return);
    WaitForFetch();
    EXPECT_TRUE(Pane().contains(QStringLiteral("HTTP State Management Mechanism")));
    EXPECT_EQ(form_->History().Entries()[0].substr(0, 4), "2109");
    // The history marks it as the window does.
    EXPECT_TRUE(form_->RFCNumber->itemData(0, Qt::ToolTipRole).toString().contains(QStringLiteral("2965 \u2192 6265")));
}

// RFC 822's old header names no "Request for Comments:"; fetched by number it is 822 all the same. The fetch
// box takes subseries; offline, the library alone answers.
TEST_F(LibraryWindowTest, OldHeaderSubseriesAndOffline)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    Run(library.mUpdateIndex);
    Fetch("822");
    ASSERT_TRUE(library.RelationsBar->isVisible());
    EXPECT_TRUE(library.RelationsBar->text().contains(QStringLiteral("Obsoleted by <a href=\"rfc:2822\">2822</a>")));

    Fetch("STD 7");
    EXPECT_EQ(form_->History().Entries()[0].substr(0, 4), "9293");
    EXPECT_TRUE(library.RelationsBar->text().contains(QStringLiteral("current")))
        << library.RelationsBar->text().toStdString() << Status().toStdString();
    Fetch("BCP 14");
    ASSERT_NE(library.SearchWindow(), nullptr);
    EXPECT_TRUE(library.SearchWindow()->isVisible());
    EXPECT_EQ(library.SearchWindow()->Query->text(), QStringLiteral("BCP 14"));
    EXPECT_EQ(form_->History().Entries()[0].substr(0, 4), "9293");

    library.mOffline->setChecked(true);
    Fetch("822");
    EXPECT_TRUE(Status().endsWith(QStringLiteral("[ライブラリ]"))) << Status().toStdString();
    Fetch("2616");
    EXPECT_TRUE(Status().startsWith(QStringLiteral("オフラインです"))) << Status().toStdString();
    Run(library.mUpdateIndex);
    EXPECT_TRUE(Status().startsWith(QStringLiteral("オフラインです"))) << Status().toStdString();
    // Not one request went out while offline: 822, 9293 and the index were all nginx saw.
    const std::string log = nginx_->AccessLog(3);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_TRUE(boxes_->Shown.empty());
}

// --offline holds for the run only; the switch of the menu is the setting.
TEST_F(LibraryWindowTest, OfflineForOneRunLeavesTheSettingAlone)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    library.SetOfflineForRun();
    EXPECT_TRUE(library.Offline());
    EXPECT_TRUE(library.mOffline->isChecked());
    EXPECT_FALSE(dialog_->Offline);
    library.mOffline->setChecked(false);
    EXPECT_FALSE(library.Offline());
    library.mOffline->setChecked(true);
    EXPECT_TRUE(dialog_->Offline);
}

// すべて取得 stores every RFC the server has, with its progress in the dialog; without the server what it stored opens.
TEST_F(LibraryWindowTest, SyncAllStoresEveryServedRfcAndItOpensWithoutTheServer)
{
    StartWithServer();
    TLibraryCommands& library = *form_->Library;
    library.mSyncAll->trigger();
    TSyncDialog* dialog = library.SyncDialog();
    ASSERT_NE(dialog, nullptr);
    for (int i = 0; i < 3000 && dialog->Running(); ++i) QTest::qWait(10);
    ASSERT_FALSE(dialog->Running());
    QApplication::processEvents();
    EXPECT_EQ(dialog->Bar->value(), 14);
    EXPECT_TRUE(dialog->Line->text().startsWith(QStringLiteral("5 件を保存しました")))
        << dialog->Line->text().toStdString();
    EXPECT_TRUE(dialog->Failures->toPlainText().contains(QStringLiteral("RFC 1928: HTTP/1.1 404 Not Found")));

    // Every stored copy is the sync's own test; here the fetch command finds what the window's sync filed.
    nginx_.reset();
    Fetch("9293");
    EXPECT_TRUE(Status().endsWith(QStringLiteral("[ライブラリ]"))) << Status().toStdString();
    EXPECT_TRUE(boxes_->Shown.empty());
}

TEST_F(LibraryWindowTest, StartsWithTheLastDocumentAndRemovesHistoryEntries)
{
    StartWithServer();
    Fetch("2109");
    Fetch("2616");
    const QString text = Pane();
    form_->close();
    Stop();
    nginx_.reset();

    Start();
    EXPECT_EQ(Pane(), text);
    EXPECT_TRUE(Status().endsWith(QStringLiteral("[ライブラリ]"))) << Status().toStdString();
    ASSERT_EQ(form_->History().Count(), 2);
    QAbstractItemView* list = form_->RFCNumber->view();
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(form_->History().Count(), 1);
    EXPECT_EQ(form_->RFCNumber->count(), 1);
    EXPECT_EQ(form_->History().Entries()[0].substr(0, 4), "2616");
}

TEST_F(LibraryWindowTest, TabsOpenAtExitComeBackFromTheLibrary)
{
    StartWithServer();
    Run(form_->Library->mUpdateIndex);
    Fetch("2109");
    form_->Memo1->verticalScrollBar()->setValue(200);
    const int readingAt = form_->Memo1->FirstVisibleSourceLine();
    QTest::keyClick(form_.get(), Qt::Key_T, Qt::ControlModifier);
    Fetch("2616");
    form_->close();
    Stop();
    nginx_.reset();

    Start();
    ASSERT_EQ(form_->Tabs->count(), 2);
    EXPECT_EQ(form_->Tabs->currentIndex(), 1);
    EXPECT_TRUE(Pane().left(400).contains(QStringLiteral("Request for Comments: 2616")));
    form_->mPreviousTab->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(Pane().left(400).contains(QStringLiteral("Request for Comments: 2109")));
    EXPECT_EQ(form_->Memo1->FirstVisibleSourceLine(), readingAt);
    // Not the history's newest entry (2616): the caption and the box name the copy the pane shows.
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("2109 : "))) << form_->windowTitle().toStdString();
    EXPECT_TRUE(form_->RFCNumber->currentText().startsWith(QStringLiteral("2109 : ")));
}

// Another process holding the library's write lock: the fetch goes on (the write gives up after a short
// wait), the fault stays beside the status line whatever the fetch writes there, and the document is
// stored once the lock is gone. A library that cannot be opened at start is shown the same way.
TEST_F(TWindowTest, ALockedOrBrokenLibraryNeverHidesItsFaultNorStopsTheFetch)
{
    const std::string document = "Request for Comments: 7\n\nSeven\n";
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                              std::to_string(document.size()) + "\r\n\r\n" + document;
    testsupport::TScriptedServer server({testsupport::TConnectionScript().ReadHttpRequest().Send(reply)});
    libraryPath_ = dir_.File("library.db");
    TLibraryDatabase other({libraryPath_});
    std::optional<TSqlTransaction> held(other);
    Start();
    dialog_->UrlBase->setText(QString("http://127.0.0.1:%1/rfc%s.txt").arg(server.Port()));
    form_->RFCNumber->setEditText(QStringLiteral("7"));
    Run(form_->mOpenFromWeb);
    EXPECT_TRUE(form_->StatusText().endsWith(QStringLiteral("lines"))) << form_->StatusText().toStdString();
    QLabel& fault = *form_->Library->FaultLabel;
    EXPECT_TRUE(fault.isVisible());
    EXPECT_TRUE(fault.text().startsWith(QStringLiteral("ライブラリは別のプロセスが使用中です")))
        << fault.text().toStdString();
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/rfc7.txt";
    EXPECT_FALSE(form_->LibraryStore->Cache.Contains(url));
    held.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->LibraryStore->Cache.Contains(url); }, 5000));
    Stop();

    WriteTextFile(dir_.File("broken.db"), std::string(4096, 'x'));
    libraryPath_ = dir_.File("broken.db");
    Start();
    OpenDocument("Request for Comments: 8\n\nEight\n");
    EXPECT_TRUE(form_->Library->FaultLabel->isVisible());
    EXPECT_TRUE(form_->Library->FaultLabel->text().startsWith(QStringLiteral("ライブラリのデータベースが壊れています")))
        << form_->Library->FaultLabel->text().toStdString();
}

// Esc while the library asks the server about its copy: the copy stays shown and the status line says the
// fetch was cancelled; no message box, as for any cancel.
TEST_F(TWindowTest, EscapeDuringRevalidationIsACancelNotAnError)
{
    testsupport::TCheckedServer slow(testsupport::TConnectionScript().ReadHttpRequest().ReadToEnd());
    libraryPath_ = dir_.File("library.db");
    Start();
    const std::string url = "http://127.0.0.1:" + std::to_string(slow.Port()) + "/rfc7.txt";
    TCachedDocument copy;
    copy.Url = url;
    copy.FetchedAt = 1000;
    copy.Body = "Request for Comments: 7\n\nSeven\n";
    ASSERT_TRUE(form_->LibraryStore->Cache.Store(copy));
    dialog_->UrlBase->setText(QString("http://127.0.0.1:%1/rfc%s.txt").arg(slow.Port()));
    QTimer::singleShot(300, [&] { QTest::keyClick(form_.get(), Qt::Key_Escape); });
    form_->RFCNumber->setEditText(QStringLiteral("7"));
    Run(form_->mOpenFromWeb);
    EXPECT_TRUE(slow.WaitDone(5000));
    EXPECT_TRUE(boxes_->Shown.empty());
    EXPECT_EQ(form_->StatusText().toStdString(), "取得を中止しました: " + url);
    EXPECT_TRUE(form_->Memo1->toPlainText().contains(QStringLiteral("Seven")));
}
