#include "app/PagewickM.h"
#include "app/ReaderView.h"

#include "app/Pagewick.h"
#include "app/TextPane.h"
#include "platform/Classes.h"
#include "platform/SysUtils.h"
#include "settings/IniFile.h"
#include "settings/PagewickDlg.h"
#include "tests/app/WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDialog>
#include <QFontInfo>
#include <QImage>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FormTest : public TWindowTest {
protected:
    void WriteIni(const std::string& text) { WriteTextFile(ini_, text); }
    std::string ReadIni() { return ReadTextFile(ini_); }
};

} // namespace

TEST_F(FormTest, FirstStartWithoutSettingsUsesDefaultsAndCentres)
{
    TForm1& form = Start();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Scrivlet Util"));
    EXPECT_EQ(form.width(), 640);
    EXPECT_EQ(form.height(), 512);
    EXPECT_EQ(form.x(), (1024 - 640) / 2);
    EXPECT_EQ(form.y(), (768 - 512) / 2);
    EXPECT_EQ(form.Memo1->font().family(), QStringLiteral("Courier New"));
    EXPECT_EQ(form.Memo1->font().pointSize(), 10);
    EXPECT_EQ(form.RFCNumber->currentText(), QString());
    EXPECT_EQ(form.RFCNumber->count(), 0);
    EXPECT_EQ(form.StatusText(), QStringLiteral("1.1.0.15"));
    EXPECT_FALSE(form.PrintBtn->isEnabled());
    EXPECT_TRUE(boxes_->Shown.empty());
    // Later activations reload nothing and keep the status bar.
    form.SetStatusText("kept");
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&form, &activate);
    EXPECT_EQ(form.StatusText(), QStringLiteral("kept"));
}

TEST_F(FormTest, MenuCaptionsAndShortcuts)
{
    TForm1& form = Start();
    struct Item {
        QAction* action;
        const char* caption;
        QKeySequence keys;
    } items[] = {
        {form.mOpen, "開く(&O)", QKeySequence("Ctrl+O")},
        {form.mOpenFromWeb, "webから取得(&W)", QKeySequence("Ctrl+M")},
        {form.mPrint, "印刷(&P)", QKeySequence("Ctrl+P")},
        {form.mQuit, "終了(&X)", QKeySequence()},
        {form.mHttpConf, "httpの設定", QKeySequence("Ctrl+Alt+O")},
        {form.mFontConf, "フォントの指定", QKeySequence("Ctrl+F")},
    };
    for (const auto& item : items) {
        SCOPED_TRACE(item.caption);
        EXPECT_EQ(item.action->text(), QString::fromUtf8(item.caption));
        EXPECT_EQ(item.action->shortcut(), item.keys);
        EXPECT_TRUE(item.action->isEnabled());
    }
    EXPECT_EQ(form.N1->title(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(form.O2->title(), QStringLiteral("オプション(&O)"));
    EXPECT_TRUE(form.N2->isSeparator());
    EXPECT_TRUE(form.N3->isSeparator());
    EXPECT_EQ(form.PrintBtn->text(), QStringLiteral("印刷"));
}

TEST(CentredPosition, TruncatesTowardZero)
{
    EXPECT_EQ(CentredPosition(QSize(1024, 768), QSize(640, 512)), QPoint(192, 128));
    EXPECT_EQ(CentredPosition(QSize(1024, 768), QSize(1100, 513)), QPoint(-38, 127));
    EXPECT_EQ(CentredPosition(QSize(1024, 768), QSize(1099, 1000)), QPoint(-37, -116));
}

TEST(PlaceOnScreen, CapsToTheAvailableAreaAndKeepsTheMinimum)
{
    const QSize minimum(450, 250), screen(1024, 768);
    const QRect panelAbove(0, 24, 1024, 720);
    struct Case {
        QSize stored;
        QRect available, expected;
    } cases[] = {
        {{640, 512}, panelAbove, {192, 128, 640, 512}},
        {{300, 200}, panelAbove, {287, 259, 450, 250}},
        {{16777215, 512}, panelAbove, {0, 128, 1024, 512}},
        {{640, 2147483647}, panelAbove, {192, 24, 640, 720}},
        {{1000000, 20000}, panelAbove, {0, 24, 1024, 720}},
        {{-5, -2147483647 - 1}, panelAbove, {287, 259, 450, 250}},
        // Centred, it would overhang the panel at the bottom.
        {{1024, 730}, {0, 0, 1024, 700}, {0, 0, 1024, 700}},
        // A panel along the left edge, wider than the centring leaves.
        {{800, 600}, {300, 0, 724, 768}, {300, 84, 724, 600}},
        // Smaller than the minimum: the minimum, at the area's corner.
        {{640, 512}, {10, 20, 400, 200}, {10, 20, 450, 250}},
        {{640, 512}, QRect(), {0, 0, 640, 512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.stored.width()) + " x " + std::to_string(c.stored.height()));
        EXPECT_EQ(PlaceOnScreen(c.stored, minimum, screen, c.available), c.expected);
    }
}

TEST_F(FormTest, StoredSizesKeepTheMinimumAndStayOnTheScreen)
{
    struct Case {
        int width, height;
        QRect expected; // on the 1024 x 768 screen, 740 high without its panel
    } cases[] = {
        {300, 200, {287, 259, 450, 250}},
        {700, 400, {162, 184, 700, 400}},
        {451, 251, {286, 258, 451, 251}},
        // These crashed the window at every start.
        {16777215, 512, {0, 128, 1024, 512}},
        {640, 2147483647, {192, 0, 640, 740}},
        {1000000, 20000, {0, 0, 1024, 740}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        WriteIni("[window]\nwidth=" + std::to_string(c.width) + "\nheight=" + std::to_string(c.height) + "\n");
        TForm1& form = Start();
        EXPECT_EQ(QRect(form.pos(), form.size()), c.expected);
        Stop();
    }
}

TEST_F(FormTest, PaneKeepsItsMarginsAtTheSmallestSize)
{
    TForm1& form = Start();
    form.resize(100, 100);
    QApplication::processEvents();
    EXPECT_EQ(form.width(), 450);
    EXPECT_EQ(form.height(), 250);
    QWidget* client = form.centralWidget();
    const QRect pane(form.Memo1->mapTo(client, QPoint(0, 0)), form.Memo1->size());
    EXPECT_EQ(pane.left(), 8);
    EXPECT_EQ(pane.top(), 40);
    EXPECT_EQ(client->width() - (pane.left() + pane.width()), 8);
    EXPECT_EQ(client->height() - (pane.top() + pane.height()), 8);
    EXPECT_GT(pane.height(), 0);
}

TEST_F(FormTest, ClosingSavesEverySectionOnce)
{
    WriteIni("[extra]\nkeep=1\n[rfcs]\nN01=0822 * T\nU01=file:////x\n");
    TForm1& form = Start();
    form.resize(700, 400);
    EXPECT_TRUE(form.close());
    std::string text = ReadIni();
    for (const char* expected :
         {"[font]", "Name=Courier New", "size=10", "[conf]", "HistCount=20", "UseProxy=0", "ProxyPort=8080",
          "URLbase=https://www.rfc-editor.org/rfc/rfc%s.txt", "SocksVersion=0", "SocksPort=1080", "[window]",
          "width=700", "height=400", "N01=0822 * T", "U01=file:////x", "keep=1"}) {
        SCOPED_TRACE(expected);
        EXPECT_NE(text.find(expected), std::string::npos);
    }
    // Quitting saves and does not save again when the window then closes.
    Stop();
    TForm1& again = Start();
    again.mQuit->trigger();
    EXPECT_EQ(eventLoopEnds_, 1);
    ASSERT_EQ(std::remove(ini_.c_str()), 0);
    again.close();
    EXPECT_FALSE(std::ifstream(ini_).good());
}

TEST_F(FormTest, AFailedSaveKeepsTheWindowOpenAndWhatWasWritten)
{
    WriteIni("[font]\nName=Old\nsize=9\n[conf]\nURLbase=old%s\nHistCount=5\nUseProxy=1\nProxyServer=p\n"
             "ProxyPort=1\n[rfcs]\nN01=a\nU01=b\n[window]\nwidth=600\nheight=300\n");
    TForm1& form = Start();
    form.FontDlg.Font = DocumentFont("Noto Mono", 14);
    dialog_->UrlBase->setText("new%s");
    dialog_->HistCount->setText("ten");
    dialog_->UseProxy->setChecked(false);
    form.resize(800, 500);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_EQ(boxes_->Shown[0].Text, QStringLiteral("'ten' は整数ではありません."));
    std::string text = ReadIni();
    for (const char* expected : {"Name=Noto Mono", "size=14", "URLbase=new%s", "HistCount=5", "UseProxy=1", "N01=a",
                                 "width=600", "height=300"}) {
        SCOPED_TRACE(expected);
        EXPECT_NE(text.find(expected), std::string::npos);
    }
    // Correcting the option lets the window close.
    dialog_->HistCount->setText("12");
    EXPECT_TRUE(form.close());
    EXPECT_NE(ReadIni().find("HistCount=12"), std::string::npos);
}

// Another window saved between this one's start and its end: what this one did not change stays as the
// other left it, what it changed wins, and the history holds the documents of both.
TEST_F(FormTest, ClosingMergesWithWhatAnotherWindowSavedMeanwhile)
{
    WriteIni("[font]\nName=Old\n[conf]\nURLbase=old%s\n[rfcs]\nN01=a\nU01=ua\nT01=1\n");
    TForm1& form = Start();
    const std::string opened = OpenDocument("RFC 822\n");
    WriteIni("[font]\nName=Other\n[conf]\nURLbase=old%s\n[rfcs]\nN01=b\nN02=a\nU01=ub\nU02=ua\nT01=2\nT02=1\n");
    dialog_->UrlBase->setText("new%s");
    EXPECT_TRUE(form.close());
    TIniFile ini(ini_);
    EXPECT_EQ(ini.ReadString("font", "Name", ""), "Other");
    EXPECT_EQ(ini.ReadString("conf", "URLbase", ""), "new%s");
    EXPECT_EQ(ini.ReadString("rfcs", "U01", ""), "file:///" + opened);
    // How the two histories join is the settings store's own table.
    EXPECT_EQ(ini.ReadString("rfcs", "U02", ""), "ub");
}

// The status line names the user's file once when the settings go there, and when it was made private (which
// modes the store sets is its own table).
TEST_F(FormTest, RedirectedAndPrivateSettingsAreNamedInTheStatusLine)
{
    const std::string user = dir_.File("user.ini");
    place_ = {user, user, "", true};
    WriteTextFile(user, "[conf]\nSocksPassword=s3cret\n");
    ::chmod(user.c_str(), 0644);
    TForm1& form = Start();
    const QString path = QString::fromStdString(user);
    EXPECT_NE(form.StatusText().indexOf(QStringLiteral("開始フォルダに書き込めないため、設定は ") + path +
                                        QStringLiteral(" に保存します")),
              -1);
    EXPECT_NE(form.StatusText().indexOf(QStringLiteral("パスワードを保存するため、設定ファイル ") + path +
                                        QStringLiteral(" を本人だけが読めるようにしました")),
              -1);
}

TEST_F(FormTest, DamagedHistoryIsDiscardedWithOneMessage)
{
    WriteIni("[rfcs]\nN01=a\nN02=b\nN03=c\nU01=x\nU02=y\n");
    TForm1& form = Start();
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "message");
    EXPECT_EQ(boxes_->Shown[0].Text, QStringLiteral("履歴情報が壊れているため、履歴を破棄しました。"));
    EXPECT_EQ(form.RFCNumber->count(), 0);
    EXPECT_EQ(form.RFCNumber->currentText(), QStringLiteral("a"));
    EXPECT_EQ(form.UrlList().Count(), 0);
}

TEST_F(FormTest, FontDialogCancelChangesNothingAndConfirmIsStored)
{
    TForm1& form = Start();
    QFont before = form.Memo1->font();
    form.mFontConf->trigger();
    EXPECT_EQ(dialogs_->FontCalls, 1);
    // Offered as the pane shows it: the stand-in for the missing stored family.
    EXPECT_EQ(dialogs_->FontOffered.family(), QFontInfo(before).family());
    EXPECT_EQ(dialogs_->FontOffered.pointSize(), 10);
    EXPECT_EQ(form.Memo1->font(), before);

    QFont chosen("DejaVu Sans Mono", 16);
    dialogs_->FontAnswer = chosen;
    form.Reader->SetFitWidth(false); // else the pane may show the font smaller
    form.mFontConf->trigger();
    EXPECT_EQ(form.Memo1->font().family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(form.Memo1->font().pointSize(), 16);
    EXPECT_EQ(ReadIni().find("DejaVu"), std::string::npos); // only at exit
    form.close();
    EXPECT_NE(ReadIni().find("Name=DejaVu Sans Mono"), std::string::npos);
    EXPECT_NE(ReadIni().find("size=16"), std::string::npos);
}

// The real dialog: it fell back to its default family when offered the stored
// "Courier New", which is not installed, so OK alone changed the pane.
TEST_F(FormTest, FontDialogOkWithoutAChangeKeepsThePaneAsItIs)
{
    realDialogs_ = std::make_shared<TQtCommonDialogs>();
    TForm1& form = Start();
    const QFontInfo before(form.Memo1->font());
    QString offered;
    QTimer::singleShot(0, [&offered] {
        auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        offered = dialog->currentFont().family();
        dialog->accept();
    });
    form.mFontConf->trigger();
    EXPECT_EQ(offered, before.family());
    const QFontInfo after(form.Memo1->font());
    EXPECT_EQ(after.family(), before.family());
    EXPECT_EQ(after.pointSize(), 10);
}

// A family whose first-listed style is oblique: OK alone turned the text italic.
TEST_F(FormTest, FontDialogStartsOnTheUprightStyleUnlessTheFontIsItalic)
{
    realDialogs_ = std::make_shared<TQtCommonDialogs>();
    WriteIni("[font]\nName=DejaVu Sans Mono\nsize=10\n");
    TForm1& form = Start();
    for (bool italic : {false, true}) {
        SCOPED_TRACE(italic);
        form.FontDlg.Font.setItalic(italic);
        QTimer::singleShot(0, [] {
            if (auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget())) dialog->accept();
        });
        form.mFontConf->trigger();
        EXPECT_EQ(QFontInfo(form.Memo1->font()).italic(), italic);
        EXPECT_EQ(QFontInfo(form.Memo1->font()).family(), QStringLiteral("DejaVu Sans Mono"));
    }
}

TEST_F(FormTest, OptionsCancelRestoresAllButTheHistoryCount)
{
    TForm1& form = Start();
    QTimer::singleShot(0, [this] {
        dialog_->UrlBase->setText("x%s");
        dialog_->HistCount->setText("7");
        dialog_->UseProxy->click();
        dialog_->ServerName->setText("proxy");
        dialog_->SocksVersion->setCurrentIndex(3);
        dialog_->SocksServer->setText("socks");
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    });
    form.mHttpConf->trigger();
    EXPECT_EQ(dialog_->UrlBase->text(), QStringLiteral("https://www.rfc-editor.org/rfc/rfc%s.txt"));
    EXPECT_EQ(dialog_->HistCount->text(), QStringLiteral("7"));
    EXPECT_FALSE(dialog_->UseProxy->isChecked());
    EXPECT_FALSE(dialog_->ServerName->isEnabled());
    EXPECT_EQ(dialog_->ServerName->text(), QString());
    EXPECT_EQ(dialog_->SocksVersion->currentIndex(), 0);
    EXPECT_FALSE(dialog_->SocksUser->isEnabled());
    EXPECT_EQ(dialog_->SocksServer->text(), QString());

    // OK keeps the dialog open, with a message, while the format could not be fetched from.
    QTimer::singleShot(0, [this] {
        for (const char* format : {"htps://h/rfc%s.txt", "h/rfc%s.txt", "http://h/%9999s"}) {
            dialog_->UrlBase->setText(format);
            dialog_->OKBtn->click();
            EXPECT_TRUE(dialog_->isVisible()) << format;
        }
        dialog_->UrlBase->setText("http://y/%s");
        dialog_->OKBtn->click();
    });
    form.mHttpConf->trigger();
    EXPECT_EQ(dialog_->UrlBase->text(), QStringLiteral("http://y/%s"));
    ASSERT_EQ(boxes_->Shown.size(), 3u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "message");
}

// A folder the settings file cannot be written to says so and lets the program end both ways; with
// the user's file to fall back on, the settings go there and the message names it.
TEST_F(FormTest, AnUnwritableFolderIsReportedAndDoesNotKeepTheProgram)
{
    WriteTextFile(dir_.File("not-a-folder"), "");
    ini_ = dir_.File("not-a-folder/Scrivlet.ini");
    const std::string user = dir_.File("config/scrivlet/Scrivlet.ini");
    const struct {
        const char* name;
        std::string fallback, message;
    } rows[] = {
        {"nowhere else", "", ini_ + " に書き込めません。"},
        {"the user's file", user, "開始フォルダに書き込めなかったため、設定を " + user + " に保存しました"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        place_ = {ini_, ini_, row.fallback, false};
        TForm1& form = Start();
        form.resize(700, 400);
        EXPECT_TRUE(form.close());
        ASSERT_EQ(boxes_->Shown.size(), 1u);
        EXPECT_EQ(boxes_->Shown[0].Kind, "message");
        EXPECT_EQ(boxes_->Shown[0].Text.toStdString(), row.message);
        EXPECT_EQ(ReadTextFile(user).find("width=700") != std::string::npos, !row.fallback.empty());
        Stop();
        Start().mQuit->trigger();
        EXPECT_EQ(eventLoopEnds_, 1);
        EXPECT_EQ(boxes_->Shown.size(), 2u);
        Stop();
        eventLoopEnds_ = 0;
        boxes_->Shown.clear();
    }
}

TEST_F(FormTest, FailuresOfHandlersReachTheErrorReportWithTheirPeriod)
{
    TForm1& form = Start();
    EXPECT_FALSE(form.Guarded([] { throw std::runtime_error("Socket Error # 11001\r\nHost not found."); }));
    EXPECT_FALSE(form.Guarded([] { throw std::runtime_error("ends with a blank "); }));
    EXPECT_FALSE(form.Guarded([] { throw std::runtime_error(""); }));
    EXPECT_FALSE(form.Guarded([] { throw std::runtime_error("ends in a period."); }));
    EXPECT_FALSE(form.Guarded([] { throw std::runtime_error("abc"); }));
    ASSERT_EQ(boxes_->Shown.size(), 5u);
    EXPECT_EQ(boxes_->Shown[0].Text, QStringLiteral("Socket Error # 11001\r\nHost not found."));
    EXPECT_EQ(boxes_->Shown[1].Text, QStringLiteral("ends with a blank "));
    EXPECT_EQ(boxes_->Shown[2].Text, QString());
    EXPECT_EQ(boxes_->Shown[3].Text, QStringLiteral("ends in a period."));
    EXPECT_EQ(boxes_->Shown[4].Text, QStringLiteral("abc."));
    for (const auto& box : boxes_->Shown) EXPECT_EQ(box.Kind, "error");
}

// The report shows the whole message, bytes after a NUL included.
TEST_F(FormTest, GeneralErrorReportShowsTheWholeMessage)
{
    TForm1& form = Start();
    EXPECT_FALSE(form.Guarded([] { StrToInt(std::string("1\0", 2)); }));
    ASSERT_EQ(boxes_->Shown.size(), 1u);
    EXPECT_EQ(boxes_->Shown[0].Kind, "error");
    EXPECT_EQ(boxes_->Shown[0].Text, QString::fromUtf8("'1\0' は整数ではありません.", 36));
}

// A stored name longer than 31 units is cut whole: a character outside the
// basic plane at the cut goes entirely, and bytes that are no UTF-8 survive.
TEST_F(FormTest, StoredFontNameCutAtACharacterBoundaryAndKeptByteForByte)
{
    const std::string thirty(30, 'a');
    struct Row {
        std::string stored, family;
    } rows[] = {{thirty + "\xF0\x9F\x98\x80", thirty}, {"Mono\x82\xA0", "Mono\x82\xA0"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        WriteIni("[font]\nName=" + row.stored + "\n");
        TForm1& form = Start();
        form.close();
        EXPECT_NE(ReadIni().find("Name=" + row.family + "\n"), std::string::npos);
        Stop();
    }
}

TEST_F(FormTest, DarkPaletteKeepsTheTextReadable)
{
    const QPalette before = QApplication::palette();
    QPalette dark;
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase})
        dark.setColor(role, QColor(30, 30, 30));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    TForm1& form = Start();
    OpenDocument("MMMMMMMMMMMMMMMMMMMM\n");
    const QImage shot = form.grab().toImage();
    QApplication::setPalette(before);

    // Every part of the window: mostly dark, with light text on it.
    for (QWidget* part : std::initializer_list<QWidget*>{form.Memo1, form.RFCNumber, form.StatusBar1}) {
        const QRect area(part->mapTo(&form, QPoint(0, 0)), part->size());
        int light = 0, all = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x, ++all)
                if (QColor(shot.pixel(x, y)).lightness() > 160) ++light;
        SCOPED_TRACE(part->metaObject()->className());
        EXPECT_GT(light, 0);
        EXPECT_LT(light, all / 4);
    }
}

TEST_F(FormTest, ToolkitDialogsSpeakJapaneseOnceTheTranslationsAreLoaded)
{
    if (QLibraryInfo::path(QLibraryInfo::TranslationsPath).isEmpty() ||
        !QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm"))
        GTEST_SKIP() << "the toolkit's Japanese translations are not installed";
    InstallToolkitTranslations(*QCoreApplication::instance());
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                             QDialogButtonBox::No);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text(), QStringLiteral("はい(&Y)"));
}
