// The reading aids in the real window, offscreen: find, the contents panel,
// links (another RFC from a real nginx, a section, a web address), back and
// forward, zoom and the settings they keep. The outline and the references
// themselves are tested in the plain document tests.
#include "WindowFixture.h"

#include "app/ContentsPanel.h"
#include "app/FindBar.h"
#include "app/PaneLinks.h"
#include "app/PaneText.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "tests/support/RealPeers.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

namespace {

// Filler long enough that every heading is out of view from every other.
std::string Filler(int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i) text += "   Body text line " + std::to_string(i) + ".\n";
    return text;
}

const std::string kDocument = "Network Working Group\nRequest for Comments: 9999\n\n   A Test Document\n\n"
                              "1.  Introduction\n\n"
                              "   Chunked bodies: see RFC 2068 and Section 2; Section 3 of RFC 2068;\n"
                              "   RFC 4444 and https://example.invalid/page [7].\n\n" +
                              Filler(80) + "\f\nRFC 9999   A Test Document   June 1999\n\n2.  Details\n\n" +
                              "   chunked CHUNKED chunked\n\n" + Filler(80) + "\n   [7]  The entry.\n";

const std::string kOther = "Network Working Group\nRequest for Comments: 2068\n\n   The Other One\n\n"
                           "1.  Start\n\n" +
                           Filler(60) + "\n3.  Third\n\n" + Filler(60);

class ReaderTest : public TWindowTest {
protected:
    static void SetUpTestSuite()
    {
        root_ = new TTempDir();
        WriteTextFile(root_->File("rfc2068.txt"), kOther);
        nginx_ = testsupport::TRealPeer::Nginx(root_->Path()).release();
    }
    static void TearDownTestSuite()
    {
        delete nginx_;
        delete root_;
    }

    TReaderView& Reader() { return *form_->Reader; }
    TTextPane& Pane() { return *form_->Memo1; }
    void Open(const std::string& bytes = kDocument)
    {
        dialog_->UrlBase->setText(QStringLiteral("http://127.0.0.1:%1/rfc%s.txt").arg(nginx_->Port()));
        OpenDocument(bytes);
        QApplication::processEvents();
    }
    int LineOf(const std::string& text) const
    {
        for (int i = 0; i < form_->Memo1->SourceLineCount(); ++i)
            if (form_->Memo1->SourceLineAt(i).contains(QString::fromStdString(text))) return i;
        return -1;
    }
    // A point of the viewport that shows the position, found through the pane's own hit test.
    QPoint PointOf(int position)
    {
        QWidget* view = Pane().viewport();
        const int line = Pane().SourceLineOfPosition(position);
        for (int y = 1; y < view->height(); y += 2) {
            if (Pane().SourceLineOfPosition(Pane().PositionAt({1, y})) != line) continue;
            for (int x = 1; x < view->width(); ++x)
                if (Pane().PositionAt({x, y}) == position) return {x + 1, y};
        }
        ADD_FAILURE() << "position " << position << " not on screen";
        return {};
    }
    // Clicks the first link of the given kind; processes the follow it leads to.
    void ClickLink(TReferenceKind kind, int rfc = 0, Qt::MouseButton button = Qt::LeftButton,
                   Qt::KeyboardModifiers keys = {})
    {
        for (const TPaneLink& link : Reader().Links->Links())
            if (link.Reference.Kind == kind && (rfc == 0 || link.Reference.Rfc == rfc)) {
                QTest::mouseClick(Pane().viewport(), button, keys, PointOf(link.Start + 1));
                QApplication::processEvents();
                WaitForFetch();
                return;
            }
        ADD_FAILURE() << "no such link";
    }

    static TTempDir* root_;
    static testsupport::TRealPeer* nginx_;
};

TTempDir* ReaderTest::root_ = nullptr;
testsupport::TRealPeer* ReaderTest::nginx_ = nullptr;

TEST_F(ReaderTest, FindCountsHighlightsStepsAndSaysWhenNothingIsFound)
{
    Start();
    Open();
    form_->Reader->FindAction->trigger();
    TFindBar& find = *Reader().Find;
    ASSERT_TRUE(find.isVisible());
    struct Row {
        const char* typed;
        bool matchCase;
        QString count;
    } rows[] = {
        {"chunked", false, "1 / 4"},
        {"chunked", true, "1 / 2"},
        {"CHUNKED", true, "1 / 1"},
        {"chunkier", false, "見つかりません"},
        {"", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        find.MatchCase->setChecked(row.matchCase);
        QTest::keyClick(find.Field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(find.Field, QString::fromUtf8(row.typed));
        if (*row.typed == 0) find.Field->clear();
        EXPECT_EQ(find.CountText(), row.count);
        EXPECT_EQ(int(Pane().Marks().size() - Reader().Links->Marks().size()), find.MatchCount());
    }
    // Stepping wraps both ways, and the current match is kept in view.
    find.MatchCase->setChecked(false);
    Pane().ScrollToSourceLine(0);
    find.Field->setText(QStringLiteral("chunked"));
    EXPECT_EQ(find.CountText(), "1 / 4");
    const int first = Pane().FirstVisibleSourceLine();
    QTest::keyClick(form_.get(), Qt::Key_F3);
    EXPECT_EQ(find.CountText(), "2 / 4");
    EXPECT_GT(Pane().FirstVisibleSourceLine(), first);
    EXPECT_LE(Pane().FirstVisibleSourceLine(), LineOf("chunked CHUNKED"));
    QTest::keyClick(find.Field, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(find.Field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(find.CountText(), "4 / 4");
    // Esc closes: the highlights go, the current match is the selection.
    QTest::keyClick(find.Field, Qt::Key_Escape);
    EXPECT_FALSE(find.isVisible());
    EXPECT_EQ(Pane().Marks().size(), Reader().Links->Marks().size());
    EXPECT_EQ(Pane().SelectedText(), "chunked");
    EXPECT_EQ(Pane().SourceLineOfPosition(Pane().CursorPosition()), LineOf("chunked CHUNKED"));
}

TEST_F(ReaderTest, ContentsJumpsToHeadingsAndMarksTheSectionRead)
{
    Start();
    Open();
    Reader().ContentsAction->trigger();
    TContentsPanel& contents = *Reader().Contents;
    ASSERT_TRUE(contents.isVisible());
    const QList<QTreeWidgetItem*> found = contents.Tree->findItems("2  Details", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    QTreeWidgetItem* details = found[0];
    const QRect rect = contents.Tree->visualItemRect(details);
    QTest::mouseClick(contents.Tree->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), LineOf("2.  Details"));
    EXPECT_EQ(contents.Outline()[size_t(contents.Reading())].Title, "Details");
    // Scrolling back up marks the section being read.
    Pane().ScrollToSourceLine(LineOf("Body text line 3."));
    EXPECT_EQ(contents.Outline()[size_t(contents.Reading())].Title, "Introduction");
    Reader().BackAction->trigger();
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), 0);
    // Enter on a heading of the list jumps too.
    contents.Tree->setCurrentItem(details);
    QTest::keyClick(contents.Tree, Qt::Key_Return);
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), LineOf("2.  Details"));
}

// Where the user sees each part, in the window's own coordinates.
TEST_F(ReaderTest, PanelPaneAndFindBarShareTheReadingAreaAndThePanelKeepsItsWidth)
{
    Start();
    Open();
    const auto at = [this](QWidget* part) { return QRect(part->mapTo(form_.get(), QPoint(0, 0)), part->size()); };
    const QRect alone = at(&Pane());

    // The panel takes its width from the pane's left, a 4-pixel handle between them.
    Reader().ContentsAction->trigger();
    QApplication::processEvents();
    const QRect panel = at(Reader().Contents);
    EXPECT_EQ(panel.left(), alone.left());
    EXPECT_EQ(at(&Pane()), QRect(panel.right() + 5, alone.top(), alone.width() - 204, alone.height()));

    // Dragging the handle sets the panel's width.
    QSplitterHandle* handle = Reader().Area->handle(1);
    const QPoint grip(2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(60, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(60, 0));
    EXPECT_EQ(Reader().Contents->width(), 260);

    // The find bar sits below the pane, as wide as it, 4 pixels between.
    Reader().FindAction->trigger();
    const QRect pane = at(&Pane());
    EXPECT_EQ(at(Reader().Find),
              QRect(pane.left(), pane.bottom() + 5, pane.width(), alone.bottom() - pane.bottom() - 4));
    Reader().CloseFindAction->trigger();
    EXPECT_EQ(at(&Pane()).bottom(), alone.bottom());

    // A wider window widens the pane; the panel keeps what the user chose.
    form_->resize(form_->width() + 100, form_->height());
    QApplication::processEvents();
    EXPECT_EQ(Reader().Contents->width(), 260);

    // Kept across runs.
    ASSERT_TRUE(form_->close());
    Stop();
    Start();
    EXPECT_TRUE(Reader().Contents->isVisible());
    EXPECT_EQ(Reader().Contents->width(), 260);
    // Hidden, the pane has the area to itself again.
    Reader().ContentsAction->trigger();
    QApplication::processEvents();
    EXPECT_EQ(at(&Pane()).left(), alone.left());
}

TEST_F(ReaderTest, LinksFetchJumpOrOpenAndBackAndForwardReturnToTheSamePlace)
{
    Start();
    Open();

    // The page header names the document itself: no link there.
    std::vector<std::pair<TReferenceKind, int>> kinds;
    for (const TPaneLink& link : Reader().Links->Links()) kinds.emplace_back(link.Reference.Kind, link.Reference.Rfc);
    EXPECT_EQ(kinds, (std::vector<std::pair<TReferenceKind, int>>{{TReferenceKind::Rfc, 2068},
                                                                  {TReferenceKind::Section, 0},
                                                                  {TReferenceKind::RfcSection, 2068},
                                                                  {TReferenceKind::Rfc, 4444},
                                                                  {TReferenceKind::Url, 0},
                                                                  {TReferenceKind::Citation, 0}}));

    // A drag across a link selects and follows nothing.
    const TPaneLink rfcLink = Reader().Links->Links()[0];
    QTest::mousePress(Pane().viewport(), Qt::LeftButton, {}, PointOf(rfcLink.Start));
    const QPoint end = PointOf(rfcLink.Start + rfcLink.Length);
    QMouseEvent drag(QEvent::MouseMove, end, Pane().viewport()->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Pane().viewport(), &drag);
    QTest::mouseRelease(Pane().viewport(), Qt::LeftButton, {}, end);
    QApplication::processEvents();
    EXPECT_EQ(Pane().SelectedText().size(), rfcLink.Length);
    Pane().Select(0, 0);

    ClickLink(TReferenceKind::Section);
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), LineOf("2.  Details"));
    Reader().BackAction->trigger();
    Pane().verticalScrollBar()->setValue(2);
    const int readingAt = Pane().FirstVisibleSourceLine();

    ClickLink(TReferenceKind::Rfc, 2068);
    EXPECT_TRUE(Pane().Text().startsWith("Network Working Group\nRequest for Comments: 2068"));
    EXPECT_EQ(form_->RFCNumber->currentText(), "2068");
    QTest::mouseClick(Pane().viewport(), Qt::BackButton);
    EXPECT_EQ(LineOf("Request for Comments: 9999"), 1);
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), readingAt);
    QTest::keyClick(form_.get(), Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(LineOf("Request for Comments: 2068"), 1);
    Reader().BackAction->trigger();

    ClickLink(TReferenceKind::RfcSection);
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), LineOf("3.  Third"));
    Reader().BackAction->trigger();

    // A number the server does not have: the fetch command's message, the document and places stay.
    const size_t boxes = boxes_->Shown.size();
    ClickLink(TReferenceKind::Rfc, 4444);
    ASSERT_EQ(boxes_->Shown.size(), boxes + 1);
    EXPECT_TRUE(boxes_->Shown.back().Text.contains("404"));
    EXPECT_EQ(LineOf("Request for Comments: 9999"), 1);

    // A citation jumps to its entry among the references.
    ClickLink(TReferenceKind::Citation);
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), LineOf("   [7]  The entry."));
    Reader().BackAction->trigger();

    ClickLink(TReferenceKind::Url);
    EXPECT_EQ(openedUrls_, std::vector<QString>{"https://example.invalid/page"});

    // A middle or Ctrl click opens the RFC in a tab of its own; one that cannot be fetched opens none.
    ClickLink(TReferenceKind::Rfc, 2068, Qt::MiddleButton);
    ASSERT_EQ(form_->Tabs->count(), 2);
    EXPECT_EQ(LineOf("Request for Comments: 2068"), 1);
    form_->mPreviousTab->trigger();
    EXPECT_EQ(LineOf("Request for Comments: 9999"), 1);
    ClickLink(TReferenceKind::Rfc, 4444, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(form_->Tabs->count(), 2);
    EXPECT_EQ(form_->Tabs->currentIndex(), 0);
    EXPECT_EQ(LineOf("Request for Comments: 9999"), 1);
}

TEST_F(ReaderTest, ZoomScalesThePaneOnlyAndIsRemembered)
{
    Start();
    Reader().SetFitWidth(false);
    const qreal base = form_->FontDlg.Font.pointSizeF();
    const QFont chosen = form_->FontDlg.Font;
    // Key 0: the wheel turned two notches towards the reader.
    const std::pair<int, int> rows[] = {
        {Qt::Key_Plus, 110}, {Qt::Key_Equal, 125}, {Qt::Key_0, 100}, {Qt::Key_Minus, 90}, {0, 67}};
    for (const auto& [key, zoom] : rows) {
        SCOPED_TRACE(zoom);
        if (key != 0) {
            QTest::keyClick(form_.get(), Qt::Key(key), Qt::ControlModifier);
        } else {
            QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), {}, {0, -240}, Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(Pane().viewport(), &wheel);
        }
        EXPECT_EQ(Reader().Zoom(), zoom);
        EXPECT_NEAR(Pane().font().pointSizeF(), base * zoom / 100, 0.01);
        EXPECT_EQ(form_->FontDlg.Font, chosen);
    }
    ASSERT_TRUE(form_->close());
    Stop();
    Start();
    EXPECT_EQ(Reader().Zoom(), 67);
    EXPECT_FALSE(Reader().FitWidth());
}

// RFC 2616 in the window of the first start with the contents panel open:
// its 72-column lines never wrap, so no word is broken. Fitting gives way to
// the zoom down to a readable size and scrolls sideways below it; without
// fitting, a zoom step scrolls sideways too.
TEST_F(ReaderTest, FittingTheWidthBreaksNoWordOfRfc2616)
{
    const std::string path = std::string(SCRIVLET_RFC_DIR) + "/rfc2616.txt";
    if (!std::ifstream(path).good()) GTEST_SKIP() << "reference texts not present";
    Start();
    form_->resize(640, 512);
    Reader().ContentsAction->trigger();
    form_->OpenFile(QString::fromStdString(path));
    Reader().Refresh();
    ASSERT_TRUE(Reader().Contents->isVisible());
    ASSERT_TRUE(Reader().FitWidth());
    for (const bool fit : {true, false}) {
        SCOPED_TRACE(fit);
        Reader().SetFitWidth(fit);
        Reader().ZoomIn();
        EXPECT_EQ(Pane().LineCount(), Pane().SourceLineCount());
        const bool fits = 72 * TTextPane::ColumnWidth(Pane().font()) <= Pane().AvailableTextWidth();
        EXPECT_EQ(Pane().horizontalScrollBar()->maximum() > 0, !fits);
        if (fit) {
            EXPECT_TRUE(fits || Pane().font().pointSizeF() <= 7.01) << Pane().font().pointSizeF();
        }
        Reader().ZoomOut();
    }
    // Word wrap as the window always had it breaks the lines at its width.
    Reader().SetWordWrap(true);
    EXPECT_GT(Pane().LineCount(), Pane().SourceLineCount());
}

// Ctrl+G 42 in RFC 2616 shows its page 42 and the status line names it; the
// reading position is kept in the library and found again after a restart,
// and selecting offers the text as the desktop's primary selection.
TEST_F(ReaderTest, PagesAndTheReadingPositionOutliveTheRun)
{
    const std::string path = std::string(SCRIVLET_RFC_DIR) + "/rfc2616.txt";
    if (!std::ifstream(path).good()) GTEST_SKIP() << "reference texts not present";
    libraryPath_ = dir_.File("library.db");
    Start();
    form_->OpenFile(QString::fromStdString(path));
    QTimer::singleShot(0, [] {
        auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(ask, nullptr);
        ask->setIntValue(42);
        ask->accept();
    });
    Reader().GoToPageAction->trigger();
    const int top = Pane().FirstVisibleSourceLine();
    EXPECT_TRUE(Pane().SourceLineAt(top).startsWith(QChar('\f')));
    EXPECT_EQ(Reader().PageBeingRead(), 42);
    bool named = false;
    for (QLabel* label : form_->statusBar()->findChildren<QLabel*>()) named |= label->text() == "[Page 42]";
    EXPECT_TRUE(named);
    EXPECT_FALSE(Reader().GoToPage(177));
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), top);

    if (QApplication::clipboard()->supportsSelection()) {
        Pane().Select(Pane().SourceLineStart(top + 1), Pane().SourceLineStart(top + 1) + 8);
        EXPECT_EQ(QApplication::clipboard()->text(QClipboard::Selection), QStringLiteral("RFC 2616"));
    }

    ASSERT_TRUE(form_->close());
    Stop();
    Start();
    form_->OpenFile(QString::fromStdString(path));
    EXPECT_EQ(Pane().FirstVisibleSourceLine(), top);
    EXPECT_EQ(Reader().PageBeingRead(), 42);
}

// Matches are found in UTF-8 and drawn at UTF-16 positions of the pane.
TEST(FindBarTest, HighlightsCoverExactlyTheCharactersFound)
{
    struct Row {
        const char* text;
        const char* needle;
        std::vector<std::pair<int, int>> marks; // start, length
    } rows[] = {
        {"Grüße x x", "x", {{6, 1}, {8, 1}}},
        {"Grüße x", "ße", {{3, 2}}},
        {"\xF0\x9F\x98\x80 ab\nAB ab", "ab", {{3, 2}, {6, 2}, {9, 2}}}, // the emoji takes two units
        {"ÄB äb", "äb", {{3, 2}}},                                      // only A-Z fold
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        TTextPane pane;
        pane.LoadText(QString::fromUtf8(row.text));
        const TUtf8Lines lines(pane);
        TFindBar bar(pane, [&lines]() -> const TUtf8Lines& { return lines; });
        bar.Open();
        bar.Field->setText(QString::fromUtf8(row.needle));
        std::vector<std::pair<int, int>> marks;
        for (const TPaneMark& m : bar.Marks()) marks.emplace_back(m.Start, m.Length);
        EXPECT_EQ(marks, row.marks);
    }
}

// The lines are those of the pane either way; the document's own bytes are read in place only while the pane
// shows them unchanged.
TEST(Utf8LinesTest, ReadsTheDocumentInPlaceOnlyWhileThePaneShowsItUnchanged)
{
    const auto body = std::make_shared<const std::string>("RFC 2616\n\n   HTTP\n");
    TTextPane pane;
    pane.LoadText(FileTextToPaneText(*body));
    TUtf8Lines lines;
    lines.Read(pane, body);
    const std::vector<std::string_view> expected = {"RFC 2616", "", "   HTTP"};
    EXPECT_EQ(lines.Lines(), expected);
    EXPECT_EQ(lines.Lines()[0].data(), body->data());

    pane.Select(0, 0);
    pane.InsertText(QStringLiteral("x"));
    lines.Read(pane, body);
    EXPECT_EQ(lines.Lines()[0], "xRFC 2616");
}

TEST(PagePaneTest, AFormFeedLineIsARuleAcrossThePaneAndStaysInTheText)
{
    TTextPane pane;
    pane.resize(300, 120);
    pane.LoadText(QStringLiteral("above\n\f\nbelow\n"));
    pane.show();
    QApplication::processEvents();
    const QImage image = pane.viewport()->grab().toImage();
    const QRgb rule = pane.palette().color(QPalette::Active, QPalette::Mid).rgb();
    int ruled = 0;
    for (int y = 0; y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x) run += image.pixel(x, y) == rule;
        if (run > image.width() * 9 / 10) ++ruled;
    }
    EXPECT_EQ(ruled, 1);
    EXPECT_EQ(pane.SourceLineAt(1), "\f");
}

} // namespace
