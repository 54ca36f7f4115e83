// Text a server, the index, a document or a file name brings into the window is shown as it is, never as
// markup: a table of hostile strings goes through every road into a widget, and the test fails when one is
// not shown verbatim or when the image file it names is opened (inotify watches it). Links from the same
// places reach the desktop's opener (a stand-in that records its arguments) only as http or https.

#include "app/ContentsPanel.h"
#include "app/LibraryCommands.h"
#include "app/LibraryListModel.h"
#include "app/ReaderView.h"
#include "app/SearchWindow.h"
#include "library/IndexLoader.h"
#include "platform/Dialogs.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/ScriptedServer.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The text a label shows, as a reader sees it, after the label has drawn itself (which loads what markup
// names).
QString ShownText(QLabel& label)
{
    label.grab();
    const bool rich =
        label.textFormat() == Qt::RichText || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()));
    if (!rich) return label.text();
    QTextDocument document;
    document.setHtml(label.text());
    return document.toPlainText();
}

// A tooltip shown as the views show theirs, and the text it shows.
QString ShownToolTip(const QString& tip)
{
    QToolTip::showText(QPoint(10, 10), tip);
    QString shown;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QTipLabel")) shown = ShownText(*static_cast<QLabel*>(widget));
    QToolTip::hideText();
    return shown;
}

class HostileTextTest : public TWindowTest {
protected:
    void SetUp() override
    {
        libraryPath_ = dir_.File("library.db");
        WriteTextFile(watched_, "not an image");
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify_, 0);
        ASSERT_GE(inotify_add_watch(inotify_, watched_.c_str(), IN_OPEN | IN_ACCESS), 0);
    }
    void TearDown() override
    {
        TWindowTest::TearDown();
        close(inotify_);
    }
    // Whether anything opened the watched file since the last look.
    bool WatchedFileOpened()
    {
        alignas(inotify_event) char events[4096];
        bool opened = false;
        while (read(inotify_, events, sizeof events) > 0) opened = true;
        return opened;
    }
    QLabel& StatusLabel() { return *form_->StatusBar1->findChildren<QLabel*>().front(); }

    const std::string watched_ = dir_.File("watched.png");
    int inotify_ = -1;
};

struct THostile {
    const char* name;
    std::string text;
    // Short enough for a reason phrase and a file name.
    bool fitsOneName;
};

std::vector<THostile> HostileStrings(const std::string& watched)
{
    return {
        {"image", "<img src=\"" + watched + "\"> gone", false},
        {"image relative", "<img src=\"watched.png\">", true},
        {"tags and entities", "<b>bold</b> &amp; &lt;x&gt; &#65; <table><tr><td>cell", true},
        {"link", "<a href=\"file:///etc/passwd\">here</a>", false},
        {"right-to-left marks", "\u202Etxt.exe\u200F <i>x</i>", true},
        {"100 KB", "<img src=\"" + watched + "\">" + std::string(100 * 1024, 'y'), false},
    };
}

} // namespace

TEST_F(HostileTextTest, EveryRoadIntoAWidgetShowsTheTextVerbatim)
{
    for (const THostile& hostile : HostileStrings(watched_)) {
        SCOPED_TRACE(hostile.name);
        const QString expected = QString::fromStdString(hostile.text);
        // The reason phrases of a document's 404 and of the index's.
        std::vector<testsupport::TConnectionScript> scripts;
        const std::string reply = "HTTP/1.1 404 " + hostile.text + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        if (hostile.fitsOneName)
            for (int i = 0; i < 2; ++i)
                scripts.push_back(testsupport::TConnectionScript().ReadHttpRequest().Send(reply));
        testsupport::TScriptedServer server(scripts);
        Start();
        if (hostile.fitsOneName) {
            dialog_->UrlBase->setText(QString("http://127.0.0.1:%1/rfc%s.txt").arg(server.Port()));
            form_->RFCNumber->setEditText(QStringLiteral("7"));
            Run(form_->mOpenFromWeb);
            EXPECT_TRUE(ShownText(StatusLabel()).contains(expected)) << StatusLabel().text().toStdString();
            Run(form_->Library->mUpdateIndex);
            EXPECT_TRUE(ShownText(StatusLabel()).contains(expected)) << StatusLabel().text().toStdString();
            EXPECT_TRUE(server.WaitDone());
        }

        // The index's title and status: the relations bar, its tooltip and the search window.
        TIndexEntry entry;
        entry.Number = 7;
        entry.Title = hostile.text;
        entry.Status = hostile.text;
        ReplaceIndex(form_->LibraryStore->Database, {entry}, "");
        // A document's heading: the contents panel's item and its tooltip.
        OpenDocument("Request for Comments: 7\n\nTitle\n\n1.  " + hostile.text + "\n\n   Text.\n");
        QApplication::processEvents();
        QLabel& bar = *form_->Library->RelationsBar;
        EXPECT_TRUE(ShownText(bar).contains(expected));
        EXPECT_TRUE(ShownToolTip(bar.toolTip()).contains(expected));
        if (!form_->Reader->Contents->isVisible()) form_->Reader->ContentsAction->trigger();
        // A heading is a short line; the longest text is no heading.
        const QList<QTreeWidgetItem*> headings =
            form_->Reader->Contents->Tree->findItems(expected, Qt::MatchContains | Qt::MatchRecursive);
        ASSERT_EQ(headings.size(), hostile.text.size() < 1000 ? 1 : 0);
        for (QTreeWidgetItem* heading : headings) EXPECT_TRUE(ShownToolTip(heading->toolTip(0)).contains(expected));
        form_->Library->mSearch->trigger();
        form_->Library->SearchWindow()->Query->setText(QStringLiteral("7"));
        const TLibraryListModel& hits = *form_->Library->SearchWindow()->Model;
        ASSERT_GE(hits.rowCount(), 1);
        EXPECT_EQ(hits.data(hits.index(0, TLibraryListModel::kTitle), Qt::DisplayRole).toString(), expected);
        form_->Library->SearchWindow()->grab();

        // A file's name: the status line after opening it (the markup's relative image is the watched file).
        if (hostile.fitsOneName && hostile.text.find('/') == std::string::npos) {
            const QString previous = QDir::currentPath();
            QDir::setCurrent(QString::fromStdString(dir_.Path()));
            OpenDocument("x\n", hostile.text);
            EXPECT_TRUE(ShownText(StatusLabel()).contains(expected)) << StatusLabel().text().toStdString();
            QDir::setCurrent(previous);
        }
        EXPECT_FALSE(WatchedFileOpened());
        Stop();
    }
}

// The real message boxes, which carry server replies and file names.
TEST_F(HostileTextTest, MessageBoxesShowTheTextVerbatim)
{
    TQtMessageBoxes boxes;
    for (const THostile& hostile : HostileStrings(watched_)) {
        SCOPED_TRACE(hostile.name);
        QString shown;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            for (QLabel* label : box->findChildren<QLabel*>())
                if (!label->text().isEmpty()) shown += ShownText(*label);
            box->close();
        });
        boxes.ShowMessage(nullptr, QString::fromStdString(hostile.text));
        EXPECT_TRUE(shown.contains(QString::fromStdString(hostile.text)));
        EXPECT_FALSE(WatchedFileOpened());
    }
}

// Links from the index (the relations bar's errata link) and documents: only http and https reach the
// desktop's opener, as its one argument; anything else is named on the status line, and an "rfc:" link
// that names no number fetches nothing.
TEST_F(HostileTextTest, OnlyWebLinksReachTheOpenerAsOneArgument)
{
    const std::string record = dir_.File("opened.txt");
    const std::string opener = dir_.File("opener.sh");
    WriteTextFile(opener,
                  "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" >>'" + record + "'\nprintf '\\n' >>'" + record + "'\n");
    ASSERT_EQ(chmod(opener.c_str(), 0700), 0);
    struct TRow {
        const char* link;
        const char* argument; // nullptr: not opened
    } rows[] = {
        {"https://www.rfc-editor.org/errata/rfc2616", "https://www.rfc-editor.org/errata/rfc2616"},
        {"HTTP://h.example/a?b=c#d", "HTTP://h.example/a?b=c#d"},
        {"https://h.example/caf\u00e9", "https://h.example/caf%C3%A9"},
        {"file:///etc/passwd", nullptr},
        {"javascript:alert(1)", nullptr},
        {"data:text/html,<script>x</script>", nullptr},
        {"smb://host/share", nullptr},
        {"mailto:a@b.example?attach=/etc/passwd", nullptr},
        {"frobnicate://x", nullptr},
        {"/etc/passwd", nullptr},
        {"--version", nullptr},
        {"https://", nullptr},
        {"https://h.example/a b --version", nullptr},
        {"https://h.example/\nx", nullptr},
        {"rfc:abc", nullptr},
        {"rfc:", nullptr},
    };
    Start();
    // Replaces the fixture's recorder: the production launcher starts the stand-in.
    const auto launch = DesktopOpener(QString::fromStdString(opener));
    std::vector<std::string> expected;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.link);
        form_->RFCNumber->setEditText(QStringLiteral("unchanged"));
        emit form_->Library->RelationsBar->linkActivated(QString::fromUtf8(row.link));
        WaitForFetch();
        for (const QString& url : openedUrls_) launch(url);
        openedUrls_.clear();
        if (row.argument) expected.push_back(std::string("1|") + row.argument + "|");
        EXPECT_EQ(form_->RFCNumber->currentText(), QStringLiteral("unchanged"));
    }
    // The stand-ins run detached; wait for the ones started, then a little for any that should not be.
    const auto read = [&] {
        std::vector<std::string> lines;
        std::ifstream file(record);
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    };
    for (int waited = 0; waited < 5000 && read().size() < expected.size(); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::string> recorded = read();
    std::sort(recorded.begin(), recorded.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(recorded, expected);
}
