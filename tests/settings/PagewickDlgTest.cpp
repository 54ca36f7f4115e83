#include "settings/PagewickDlg.h"

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/SysUtils.h"
#include "settings/IniFile.h"
#include "settings/SettingText.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::ExpectRaises;

const QString kDefaultUrl = QStringLiteral("https://www.rfc-editor.org/rfc/rfc%s.txt");

class OptionDlgTest : public ::testing::Test {
protected:
    TTempDir dir_;
    const std::string path_ = dir_.File("Scrivlet.ini");
};

// Does what the main window's options command does: keep, show modally, and
// restore on anything but OK. whileShown runs inside the modal loop.
int RunOptionsCommand(TOptionDlg& dlg, const std::function<void()>& whileShown)
{
    dlg.KeepValues();
    QTimer::singleShot(0, &dlg, whileShown);
    const int result = dlg.exec();
    if (result != QDialog::Accepted) dlg.RestoreValues();
    return result;
}

QWidget* FocusOf(TOptionDlg& dlg) { return dlg.focusWidget() ? dlg.focusWidget() : &dlg; }

TEST_F(OptionDlgTest, WithoutSettingsFileShowsTheDefaults)
{
    TOptionDlg dlg(path_);
    EXPECT_EQ(dlg.UrlBase->text(), kDefaultUrl);
    EXPECT_EQ(dlg.HistCount->text(), "20");
    EXPECT_FALSE(dlg.UseProxy->isChecked());
    EXPECT_EQ(dlg.ServerName->text(), "");
    EXPECT_FALSE(dlg.ServerName->isEnabled());
    EXPECT_EQ(dlg.PortNumber->text(), "8080");
    EXPECT_FALSE(dlg.PortNumber->isEnabled());
    EXPECT_EQ(dlg.GetHistCount(), 20);
}

TEST_F(OptionDlgTest, LoadsSectionConfIntoTheControls)
{
    const struct {
        const char* name;
        std::string file;
        QString url, hist, server, port;
        bool useProxy;
        int fetchTimeLimit = 300;
    } cases[] = {
        {"all keys",
         "[conf]\nURLbase=http://h/%s\nHistCount=5\nUseProxy=1\nProxyServer=px\nProxyPort=3128\nFetchTimeLimit=60\n",
         "http://h/%s", "5", "px", "3128", true, 60},
        {"a fetch time limit of none falls back", "[conf]\nFetchTimeLimit=0\n", kDefaultUrl, "20", "", "8080", false},
        {"history count not a number", "[conf]\nHistCount=abc\n", kDefaultUrl, "20", "", "8080", false},
        {"use proxy 2 is checked", "[conf]\nUseProxy=2\n", kDefaultUrl, "20", "", "8080", true},
        {"use proxy not a number", "[conf]\nUseProxy=yes\n", kDefaultUrl, "20", "", "8080", false},
        {"hexadecimal port", "[conf]\nProxyPort=0x1F90\n", kDefaultUrl, "20", "", "8080", false},
        {"hexadecimal count", "[conf]\nHistCount=$1F\n", kDefaultUrl, "31", "", "8080", false},
        {"count out of range", "[conf]\nHistCount=4294967296\n", kDefaultUrl, "20", "", "8080", false},
        {"port with letters", "[conf]\nProxyPort=80a\n", kDefaultUrl, "20", "", "8080", false},
        {"empty url is kept", "[conf]\nURLbase=\n", "", "20", "", "8080", false},
        {"other spelling", "[CONF]\nurlbase=x\nhistcount=7\n", "x", "7", "", "8080", false},
        {"other sections only", "[font]\nName=Mono\n[window]\nwidth=1\n", kDefaultUrl, "20", "", "8080", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(path_, c.file);
        TOptionDlg dlg(path_);
        EXPECT_EQ(dlg.UrlBase->text(), c.url);
        EXPECT_EQ(dlg.HistCount->text(), c.hist);
        EXPECT_EQ(dlg.UseProxy->isChecked(), c.useProxy);
        EXPECT_EQ(dlg.ServerName->text(), c.server);
        EXPECT_EQ(dlg.PortNumber->text(), c.port);
        EXPECT_EQ(dlg.ServerName->isEnabled(), c.useProxy);
        EXPECT_EQ(dlg.PortNumber->isEnabled(), c.useProxy);
        EXPECT_EQ(dlg.FetchTimeLimit, c.fetchTimeLimit);
    }
}

TEST_F(OptionDlgTest, CheckBoxEnablesBothProxyFieldsAndKeepsTheirText)
{
    TOptionDlg dlg(path_);
    dlg.ServerName->setText("proxy.local");
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (bool expected : {true, false, true}) {
        SCOPED_TRACE(expected ? "checked" : "unchecked");
        QTest::mouseClick(dlg.UseProxy, Qt::LeftButton);
        EXPECT_EQ(dlg.UseProxy->isChecked(), expected);
        EXPECT_EQ(dlg.ServerName->isEnabled(), expected);
        EXPECT_EQ(dlg.PortNumber->isEnabled(), expected);
        EXPECT_EQ(dlg.ServerName->text(), "proxy.local");
        EXPECT_EQ(dlg.PortNumber->text(), "8080");
    }
    // A change made from code updates the fields just as a click does.
    dlg.UseProxy->setChecked(false);
    EXPECT_FALSE(dlg.ServerName->isEnabled());
    EXPECT_FALSE(dlg.PortNumber->isEnabled());
}

TEST_F(OptionDlgTest, CancelRestoresAllButTheHistoryCountAndOkKeepsEverything)
{
    struct Case {
        const char* name;
        std::function<void(TOptionDlg&)> close;
        bool accepted;
    };
    const Case cases[] = {
        {"Escape", [](TOptionDlg& d) { QTest::keyClick(FocusOf(d), Qt::Key_Escape); }, false},
        {"Cancel button", [](TOptionDlg& d) { QTest::mouseClick(d.CancelBtn, Qt::LeftButton); }, false},
        {"close box", [](TOptionDlg& d) { d.close(); }, false},
        {"OK button", [](TOptionDlg& d) { QTest::mouseClick(d.OKBtn, Qt::LeftButton); }, true},
        {"Enter in an edit field",
         [](TOptionDlg& d) {
             d.UrlBase->setFocus();
             QTest::keyClick(d.UrlBase, Qt::Key_Return);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(path_, "[conf]\nURLbase=old/%s\nHistCount=20\nUseProxy=0\nProxyServer=oldhost\nProxyPort=8080\n");
        TOptionDlg dlg(path_);
        const int result = RunOptionsCommand(dlg, [&] {
            dlg.UrlBase->setText("new/%s");
            dlg.HistCount->setText("7");
            dlg.UseProxy->setChecked(true);
            dlg.ServerName->setText("newhost");
            dlg.PortNumber->setText("3128");
            c.close(dlg);
        });
        EXPECT_EQ(result, c.accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.UrlBase->text(), c.accepted ? "new/%s" : "old/%s");
        EXPECT_EQ(dlg.UseProxy->isChecked(), c.accepted);
        EXPECT_EQ(dlg.ServerName->text(), c.accepted ? "newhost" : "oldhost");
        EXPECT_EQ(dlg.PortNumber->text(), c.accepted ? "3128" : "8080");
        EXPECT_EQ(dlg.ServerName->isEnabled(), c.accepted);
        EXPECT_EQ(dlg.PortNumber->isEnabled(), c.accepted);
        EXPECT_EQ(dlg.HistCount->text(), "7");
        // The dialog never writes the file itself.
        EXPECT_EQ(ReadTextFile(path_),
                  "[conf]\nURLbase=old/%s\nHistCount=20\nUseProxy=0\nProxyServer=oldhost\nProxyPort=8080\n");
    }
}

TEST_F(OptionDlgTest, GetHistCountConvertsOrRaises)
{
    const struct {
        const char* text;
        int expected; // used when message is null
        const char* message;
    } cases[] = {
        {"12", 12, nullptr},
        {" +12", 12, nullptr},
        {"-3", -3, nullptr},
        {"$1F", 31, nullptr},
        {"0X1f", 31, nullptr},
        {"0", 0, nullptr},
        {"", 0, "'' は整数ではありません"},
        {"ten", 0, "'ten' は整数ではありません"},
        {"12 ", 0, "'12 ' は整数ではありません"},
        {"2147483648", 0, "'2147483648' は整数ではありません"},
    };
    TOptionDlg dlg(path_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        dlg.HistCount->setText(QString::fromUtf8(c.text));
        if (c.message == nullptr) {
            EXPECT_EQ(dlg.GetHistCount(), c.expected);
            continue;
        }
        ExpectRaises<EConvertError>([&] { dlg.GetHistCount(); }, c.message);
    }
}

TEST_F(OptionDlgTest, SaveConfWritesTheKeys)
{
    const std::string noSocks =
        "SocksVersion=0\nSocksServer=\nSocksPort=1080\nSocksUser=\nSocksPassword=\nFetchTimeLimit=300\nOffline=0\n";
    const struct {
        const char* name;
        QString url, hist, server, port;
        bool useProxy;
        std::string expected;
        int socks = 0;
        QString socksServer = {}, socksUser = {};
    } cases[] = {
        {"plain", "u/%s", "12", "px", "3128", true,
         "[conf]\nURLbase=u/%s\nHistCount=12\nUseProxy=1\nProxyServer=px\nProxyPort=3128\n" + noSocks},
        {"count stored as its decimal value, port as typed", "u", "0x10", "", " 80a", false,
         "[conf]\nURLbase=u\nHistCount=16\nUseProxy=0\nProxyServer=\nProxyPort=\" 80a\"\n" + noSocks},
        {"SOCKS 5 with a login", "u", "1", "", "1", false,
         "[conf]\nURLbase=u\nHistCount=1\nUseProxy=0\nProxyServer=\nProxyPort=1\nSocksVersion=3\nSocksServer=sx\n"
         "SocksPort=1080\nSocksUser=me\nSocksPassword=\nFetchTimeLimit=300\nOffline=0\n",
         3, "sx", "me"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path_);
        TOptionDlg dlg(path_);
        dlg.UrlBase->setText(c.url);
        dlg.HistCount->setText(c.hist);
        dlg.UseProxy->setChecked(c.useProxy);
        dlg.ServerName->setText(c.server);
        dlg.PortNumber->setText(c.port);
        dlg.SocksVersion->setCurrentIndex(c.socks);
        dlg.SocksServer->setText(c.socksServer);
        dlg.SocksUser->setText(c.socksUser);
        TIniFile ini(path_);
        dlg.SaveConf(ini);
        ini.UpdateFile();
        EXPECT_EQ(ReadTextFile(path_), c.expected);
        // And what was stored loads back.
        TOptionDlg again(path_);
        EXPECT_EQ(again.UrlBase->text(), c.url);
        EXPECT_EQ(again.UseProxy->isChecked(), c.useProxy);
        EXPECT_EQ(again.ServerName->text(), c.server);
        EXPECT_EQ(again.SocksVersion->currentIndex(), c.socks);
        EXPECT_EQ(again.SocksServer->text(), c.socksServer);
        EXPECT_EQ(again.SocksUser->isEnabled(), c.socks == 3);
    }
}

TEST_F(OptionDlgTest, SaveStoppedByABadHistoryCountKeepsTheLaterKeys)
{
    const std::string before = "[font]\nName=Old\nsize=10\n"
                               "[conf]\nURLbase=old/%s\nHistCount=20\nUseProxy=0\nProxyServer=oldhost\nProxyPort=8080\n"
                               "[rfcs]\nN01=2223 : T\nU01=http://h/2223\n"
                               "[window]\nwidth=640\nheight=512\n";
    WriteTextFile(path_, before);
    TOptionDlg dlg(path_);
    dlg.UrlBase->setText("new/%s");
    dlg.HistCount->setText("ten");
    dlg.UseProxy->setChecked(true);
    dlg.ServerName->setText("newhost");
    dlg.PortNumber->setText("3128");

    // The order of the window's state save: font, options, history, window.
    std::string message;
    try {
        TIniFile ini(path_);
        ini.WriteString("font", "Name", "New");
        ini.WriteInteger("font", "size", 12);
        dlg.SaveConf(ini);
        ini.EraseSection("rfcs");
        ini.WriteInteger("window", "width", 800);
        ini.UpdateFile();
    } catch (const EConvertError& e) {
        message = e.what();
    }
    EXPECT_EQ(message, "'ten' は整数ではありません");
    EXPECT_EQ(ReadTextFile(path_),
              "[font]\nName=New\nsize=12\n"
              "[conf]\nURLbase=new/%s\nHistCount=20\nUseProxy=0\nProxyServer=oldhost\nProxyPort=8080\n"
              "[rfcs]\nN01=2223 : T\nU01=http://h/2223\n"
              "[window]\nwidth=640\nheight=512\n");
}

TEST_F(OptionDlgTest, TabVisitsTheControlsInOrder)
{
    const struct {
        const char* name;
        bool useProxy;
        std::vector<const char*> order;
    } cases[] = {
        {"proxy on",
         true,
         {"OKBtn", "CancelBtn", "UrlBase", "UseProxy", "ServerName", "PortNumber", "HistCount", "SocksVersion",
          "OKBtn"}},
        {"proxy off skips the disabled fields",
         false,
         {"OKBtn", "CancelBtn", "UrlBase", "UseProxy", "HistCount", "SocksVersion", "OKBtn"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TOptionDlg dlg(path_);
        const std::pair<QWidget*, const char*> names[] = {
            {dlg.OKBtn, "OKBtn"},         {dlg.CancelBtn, "CancelBtn"},       {dlg.UrlBase, "UrlBase"},
            {dlg.UseProxy, "UseProxy"},   {dlg.ServerName, "ServerName"},     {dlg.PortNumber, "PortNumber"},
            {dlg.HistCount, "HistCount"}, {dlg.SocksVersion, "SocksVersion"},
        };
        auto nameOf = [&](QWidget* w) -> std::string {
            for (const auto& [widget, name] : names)
                if (widget == w) return name;
            return w ? w->metaObject()->className() : "(none)";
        };
        dlg.UseProxy->setChecked(c.useProxy);
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        std::vector<std::string> seen{nameOf(QApplication::focusWidget())};
        for (std::size_t i = 1; i < c.order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen.push_back(nameOf(QApplication::focusWidget()));
        }
        EXPECT_EQ(seen, std::vector<std::string>(c.order.begin(), c.order.end()));
        dlg.hide();
    }
}

TEST_F(OptionDlgTest, FixedSizeAndCentredOnTheScreen)
{
    QWidget owner;
    owner.setGeometry(0, 0, 200, 150);
    owner.show();
    TOptionDlg dlg(path_, &owner);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    // At least the designed size; holds every control.
    EXPECT_GE(dlg.width(), 313);
    EXPECT_GE(dlg.height(), 214);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    for (const QWidget* child : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(dlg.rect().contains(child->geometry())) << child->metaObject()->className();
    // Centred on the screen, not over the owner window in its corner.
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((dlg.frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

// Under the system's dialog font every caption reads whole: a label ends
// before the field beside it, a button or check box holds its text, and the
// layout of the design (rows, columns, tab order) stays.
TEST_F(OptionDlgTest, EveryCaptionFitsUnderTheDialogFont)
{
    TOptionDlg dlg(path_);
    const struct {
        QLabel* label;
        QLineEdit* field;
    } rows[] = {{dlg.Label1, dlg.UrlBase},
                {dlg.Label4, dlg.HistCount},
                {dlg.Label2, dlg.ServerName},
                {dlg.Label3, dlg.PortNumber}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label->text().toStdString());
        EXPECT_LE(row.label->fontMetrics().horizontalAdvance(row.label->text()), row.label->width());
        EXPECT_LT(row.label->geometry().right(), row.field->x());
        EXPECT_TRUE(dlg.Bevel1->geometry().contains(row.field->geometry()));
        // Text and field share a row.
        EXPECT_GT(row.label->geometry().bottom(), row.field->y());
        EXPECT_LT(row.label->y(), row.field->geometry().bottom());
    }
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{dlg.UseProxy, dlg.OKBtn, dlg.CancelBtn}) {
        SCOPED_TRACE(button->text().toStdString());
        EXPECT_LE(button->sizeHint().width(), button->width());
        EXPECT_LE(button->sizeHint().height(), button->height());
    }
    // Columns and rows as designed.
    EXPECT_EQ(dlg.Label1->x(), dlg.Label4->x());
    EXPECT_EQ(dlg.Label2->x(), dlg.Label3->x());
    EXPECT_EQ(dlg.UrlBase->x(), dlg.HistCount->x());
    EXPECT_EQ(dlg.ServerName->x(), dlg.PortNumber->x());
    EXPECT_EQ(dlg.UrlBase->geometry().right(), dlg.ServerName->geometry().right());
    EXPECT_LT(dlg.HistCount->geometry().bottom(), dlg.UseProxy->y());
    EXPECT_LT(dlg.UseProxy->geometry().bottom(), dlg.ServerName->y());
    EXPECT_LT(dlg.ServerName->geometry().bottom(), dlg.PortNumber->y());
    EXPECT_LT(dlg.Bevel1->geometry().bottom(), dlg.OKBtn->y());
    EXPECT_EQ(dlg.OKBtn->y(), dlg.CancelBtn->y());
    EXPECT_LT(dlg.OKBtn->geometry().right(), dlg.CancelBtn->x());
}

// Option strings another system wrote (Shift-JIS, stray bytes) come back
// byte for byte after passing through the dialog's text fields.
TEST_F(OptionDlgTest, OptionStringsSurviveTheTextFieldsByteForByte)
{
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"Shift-JIS", "http://\x83\x65\x83\x58\x83\x67/rfc%s.txt"},
        {"stray continuation and cut sequence", "a\x80"
                                                "b\xE3\x81"},
        {"overlong and surrogate forms", "\xC0\xAF\xED\xA0\x80"},
        {"a reserved code point's own bytes", "x\xF4\x8F\xBE\x80y"},
        {"every high byte",
         [] {
             std::string all;
             for (int b = 0x80; b <= 0xFF; ++b) all += static_cast<char>(b);
             return all;
         }()},
        {"a byte-order mark first", "\xEF\xBB\xBFx"},
        {"valid UTF-8 stays text", "\xE3\x83\x97\xE3\x83\xAD\xE3\x82\xAD\xE3\x82\xB7 \xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTextFile(path_, "[conf]\nURLbase=" + c.bytes + "\nProxyServer=" + c.bytes + "\n");
        TOptionDlg dlg(path_);
        {
            TIniFile ini(path_);
            dlg.SaveConf(ini);
            ini.UpdateFile();
        }
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadString("conf", "URLbase", ""), c.bytes);
        EXPECT_EQ(ini.ReadString("conf", "ProxyServer", ""), c.bytes);
    }
    // Text that is valid UTF-8 shows as itself.
    EXPECT_EQ(SettingToText("\xE3\x83\x97 \xF0\x9F\x98\x80"), QString::fromUtf8("\xE3\x83\x97 \xF0\x9F\x98\x80"));
    // A lone surrogate, which no settings text gives, goes back as U+FFFD.
    EXPECT_EQ(TextToSetting(QString(QChar(0xD800)) + "a"), "\xEF\xBF\xBD"
                                                           "a");
}

TEST_F(OptionDlgTest, LeftWholeNeverSplitsACharacter)
{
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    const struct {
        const char* name;
        QString text;
        int units;
        QString expected;
    } cases[] = {
        {"short", "Mono", 31, "Mono"},
        {"cut in ASCII", QString(40, 'a'), 31, QString(31, 'a')},
        {"pair would be split", QString(30, 'a') + face + "b", 31, QString(30, 'a')},
        {"pair ends at the limit", QString(29, 'a') + face + "b", 31, QString(29, 'a') + face},
        {"nothing left", face, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LeftWhole(c.text, c.units), c.expected);
    }
}

} // namespace
