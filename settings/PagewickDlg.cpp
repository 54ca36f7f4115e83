#include "settings/PagewickDlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/SysUtils.h"
#include "settings/IniFile.h"
#include "settings/SettingText.h"

namespace {

const char* const kSection = "conf";
// The publisher answers every http request with a redirect to https, which a
// fetch does not follow; settings files keep whatever format they hold.
const char* const kDefaultUrlFormat = "https://www.rfc-editor.org/rfc/rfc%s.txt";
constexpr int kDefaultHistCount = 20;
constexpr int kDefaultProxyPort = 8080;
constexpr int kDefaultSocksPort = 1080;
constexpr int kSocksVersions = 4; // none, 4, 4A, 5

// The font the positions below were designed for: its text height and the
// average width of the letters A-Z and a-z, in pixels.
constexpr double kDesignedTextHeight = 13;
constexpr double kDesignedCharWidth = 6;

// A label and the field right of it: the label's text must end before it.
constexpr int kLabelGap = 4;

QLabel* MakeLabel(QWidget* parent, const char* caption)
{
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->adjustSize();
    return label;
}

// Designed geometry scaled, edges rounded one by one so that controls that
// touch or line up in the design still do.
class TScale {
public:
    TScale(double x, double y) : x_(x), y_(y) {}
    QRect operator()(const QRect& r) const
    {
        const int left = X(r.left()), top = Y(r.top());
        return QRect(left, top, X(r.left() + r.width()) - left, Y(r.top() + r.height()) - top);
    }
    int X(int v) const { return static_cast<int>(v * x_ + 0.5); }
    int Y(int v) const { return static_cast<int>(v * y_ + 0.5); }

private:
    double x_, y_;
};

} // namespace

TOptionDlg::TOptionDlg(const std::string& iniPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    CreateControls();
    FormCreate(iniPath);
}

void TOptionDlg::CreateControls()
{
    setWindowTitle(QString::fromUtf8("オプション設定"));

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Label1 = MakeLabel(this, "URLの形式");
    UrlBase = new QLineEdit(this);
    Label4 = MakeLabel(this, "履歴の数");
    HistCount = new QLineEdit(this);

    UseProxy = new QCheckBox(QStringLiteral("UseProxy"), this);
    // toggled, not clicked: setting the state from code must update the proxy
    // fields as well (RestoreValues relies on it).
    connect(UseProxy, &QCheckBox::toggled, this, &TOptionDlg::mFontConfClick);

    Label2 = MakeLabel(this, "Server name");
    ServerName = new QLineEdit(this);
    Label3 = MakeLabel(this, "port number");
    PortNumber = new QLineEdit(this);
    PortNumber->setText(QStringLiteral("8080"));

    Bevel2 = new QFrame(this);
    Bevel2->setFrameStyle(QFrame::Box | QFrame::Sunken);
    SocksLabel = MakeLabel(this, "SOCKS");
    SocksVersion = new QComboBox(this);
    SocksVersion->addItems({QString::fromUtf8("なし"), QStringLiteral("4"), QStringLiteral("4A"), QStringLiteral("5")});
    connect(SocksVersion, &QComboBox::currentIndexChanged, this, &TOptionDlg::SocksVersionChange);
    SocksServerLabel = MakeLabel(this, "Server name");
    SocksServer = new QLineEdit(this);
    SocksPortLabel = MakeLabel(this, "port number");
    SocksPort = new QLineEdit(this);
    SocksUserLabel = MakeLabel(this, "user");
    SocksUser = new QLineEdit(this);
    SocksPasswordLabel = MakeLabel(this, "password");
    SocksPassword = new QLineEdit(this);
    SocksPassword->setEchoMode(QLineEdit::Password);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOptionDlg::OKBtnClick);
    CancelBtn = new QPushButton(QString::fromUtf8("キャンセル"), this);
    connect(CancelBtn, &QPushButton::clicked, this, &TOptionDlg::CancelBtnClick);

    PlaceControls();

    // Labels take no focus; the rest cycle in this order.
    QWidget::setTabOrder(OKBtn, CancelBtn);
    QWidget::setTabOrder(CancelBtn, UrlBase);
    QWidget::setTabOrder(UrlBase, UseProxy);
    QWidget::setTabOrder(UseProxy, ServerName);
    QWidget::setTabOrder(ServerName, PortNumber);
    QWidget::setTabOrder(PortNumber, HistCount);
    QWidget::setTabOrder(HistCount, SocksVersion);
    QWidget::setTabOrder(SocksVersion, SocksServer);
    QWidget::setTabOrder(SocksServer, SocksPort);
    QWidget::setTabOrder(SocksPort, SocksUser);
    QWidget::setTabOrder(SocksUser, SocksPassword);
    OKBtn->setFocus();
}

// The design assumes a smaller font than most systems give a dialog: the
// positions grow by the ratio of this font's metrics to the designed ones,
// further where a text would still not fit, and never shrink.
void TOptionDlg::PlaceControls()
{
    const QFontMetricsF metrics(font());
    const double charWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52;
    double sx = std::max(1.0, charWidth / kDesignedCharWidth);
    double sy = std::max(1.0, metrics.height() / kDesignedTextHeight);

    const struct {
        QLabel* label;
        QPoint at;
        QLineEdit* field;
        QRect fieldRect;
    } rows[] = {
        {Label1, {24, 20}, UrlBase, {88, 16, 209, 20}},
        {Label4, {24, 44}, HistCount, {88, 40, 41, 20}},
        {Label2, {32, 100}, ServerName, {104, 96, 193, 20}},
        {Label3, {32, 124}, PortNumber, {104, 120, 49, 20}},
        {SocksServerLabel, {32, 204}, SocksServer, {104, 200, 193, 20}},
        {SocksPortLabel, {32, 228}, SocksPort, {104, 224, 49, 20}},
        {SocksUserLabel, {32, 252}, SocksUser, {104, 248, 193, 20}},
        {SocksPasswordLabel, {32, 276}, SocksPassword, {104, 272, 193, 20}},
    };
    const struct {
        QWidget* widget;
        QRect rect;
    } boxes[] = {{UseProxy, {16, 72, 97, 17}},
                 {SocksVersion, {88, 176, 65, 20}},
                 {OKBtn, {79, 312, 75, 25}},
                 {CancelBtn, {159, 312, 75, 25}}};
    for (const auto& row : rows) {
        sx = std::max(sx, double(row.label->width() + kLabelGap) / (row.fieldRect.left() - row.at.x()));
        sy = std::max(sy, double(row.field->sizeHint().height()) / row.fieldRect.height());
    }
    for (const auto& box : boxes) {
        sx = std::max(sx, double(box.widget->sizeHint().width()) / box.rect.width());
        sy = std::max(sy, double(box.widget->sizeHint().height()) / box.rect.height());
    }

    const TScale scale(sx, sy);
    setFixedSize(scale.X(313), scale.Y(346));
    Bevel1->setGeometry(scale(QRect(8, 8, 297, 161)));
    Bevel2->setGeometry(scale(QRect(8, 168, 297, 133)));
    SocksLabel->move(scale.X(24), scale.Y(180));
    for (const auto& row : rows) {
        row.label->move(scale.X(row.at.x()), scale.Y(row.at.y()));
        row.field->setGeometry(scale(row.fieldRect));
    }
    for (const auto& box : boxes) box.widget->setGeometry(scale(box.rect));
}

void TOptionDlg::FormCreate(const std::string& iniPath)
{
    TIniFile ini(iniPath);
    LoadConf(ini);
}

void TOptionDlg::LoadConf(TIniFile& ini)
{
    UrlBase->setText(SettingToText(ini.ReadString(kSection, "URLbase", kDefaultUrlFormat)));
    HistCount->setText(QString::number(ini.ReadInteger(kSection, "HistCount", kDefaultHistCount)));
    UseProxy->setChecked(ini.ReadBool(kSection, "UseProxy", false));
    ServerName->setText(SettingToText(ini.ReadString(kSection, "ProxyServer", "")));
    PortNumber->setText(QString::number(ini.ReadInteger(kSection, "ProxyPort", kDefaultProxyPort)));
    // The check box may not have changed, so its handler may not have run.
    ServerName->setEnabled(UseProxy->isChecked());
    PortNumber->setEnabled(UseProxy->isChecked());
    const int version = ini.ReadInteger(kSection, "SocksVersion", 0);
    SocksVersion->setCurrentIndex(version >= 0 && version < kSocksVersions ? version : 0);
    SocksServer->setText(SettingToText(ini.ReadString(kSection, "SocksServer", "")));
    SocksPort->setText(QString::number(ini.ReadInteger(kSection, "SocksPort", kDefaultSocksPort)));
    SocksUser->setText(SettingToText(ini.ReadString(kSection, "SocksUser", "")));
    SocksPassword->setText(SettingToText(ini.ReadString(kSection, "SocksPassword", "")));
    SocksVersionChange();
    const int limit = ini.ReadInteger(kSection, "FetchTimeLimit", kDefaultFetchTimeLimit);
    FetchTimeLimit = limit >= 1 && limit <= 86400 ? limit : kDefaultFetchTimeLimit;
    Offline = ini.ReadBool(kSection, "Offline", false);
}

void TOptionDlg::SaveConf(TIniFile& ini)
{
    ini.WriteString(kSection, "URLbase", TextToSetting(UrlBase->text()));
    ini.WriteInteger(kSection, "HistCount", GetHistCount());
    ini.WriteBool(kSection, "UseProxy", UseProxy->isChecked());
    ini.WriteString(kSection, "ProxyServer", TextToSetting(ServerName->text()));
    ini.WriteString(kSection, "ProxyPort", TextToSetting(PortNumber->text()));
    ini.WriteInteger(kSection, "SocksVersion", SocksVersion->currentIndex());
    ini.WriteString(kSection, "SocksServer", TextToSetting(SocksServer->text()));
    ini.WriteString(kSection, "SocksPort", TextToSetting(SocksPort->text()));
    ini.WriteString(kSection, "SocksUser", TextToSetting(SocksUser->text()));
    ini.WriteString(kSection, "SocksPassword", TextToSetting(SocksPassword->text()));
    ini.WriteInteger(kSection, "FetchTimeLimit", FetchTimeLimit);
    ini.WriteBool(kSection, "Offline", Offline);
}

void TOptionDlg::KeepValues()
{
    urlBase_ = UrlBase->text();
    useProxy_ = UseProxy->isChecked();
    serverName_ = ServerName->text();
    portNumber_ = PortNumber->text();
    socksVersion_ = SocksVersion->currentIndex();
    socksServer_ = SocksServer->text();
    socksPort_ = SocksPort->text();
    socksUser_ = SocksUser->text();
    socksPassword_ = SocksPassword->text();
}

void TOptionDlg::RestoreValues()
{
    UrlBase->setText(urlBase_);
    UseProxy->setChecked(useProxy_);
    ServerName->setText(serverName_);
    PortNumber->setText(portNumber_);
    SocksVersion->setCurrentIndex(socksVersion_);
    SocksServer->setText(socksServer_);
    SocksPort->setText(socksPort_);
    SocksUser->setText(socksUser_);
    SocksPassword->setText(socksPassword_);
}

int TOptionDlg::GetHistCount() const { return StrToInt(TextToSetting(HistCount->text())); }

void TOptionDlg::OKBtnClick()
{
    if (AcceptUrlFormat && !AcceptUrlFormat(UrlBase->text())) {
        UrlBase->setFocus();
        return;
    }
    accept();
}

void TOptionDlg::CancelBtnClick() { reject(); }

void TOptionDlg::mFontConfClick()
{
    ServerName->setEnabled(UseProxy->isChecked());
    PortNumber->setEnabled(UseProxy->isChecked());
}

void TOptionDlg::SocksVersionChange()
{
    const int version = SocksVersion->currentIndex();
    SocksServer->setEnabled(version > 0);
    SocksPort->setEnabled(version > 0);
    SocksUser->setEnabled(version == 3);
    SocksPassword->setEnabled(version == 3);
}

void TOptionDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred on the screen rather than over the owner window.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
