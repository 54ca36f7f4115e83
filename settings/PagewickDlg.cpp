#include "settings/PagewickDlg.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/SysUtils.h"
#include "settings/IniFile.h"

namespace {

const char* const kSection = "conf";
const char* const kDefaultUrlFormat = "http://www.rfc-editor.org/rfc/rfc%s.txt";
constexpr int kDefaultHistCount = 20;
constexpr int kDefaultProxyPort = 8080;

QString Utf8(const std::string& s) { return QString::fromStdString(s); }

QLabel* MakeLabel(QWidget* parent, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->adjustSize();
    label->move(left, top);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QRect& rect) {
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(rect);
    return edit;
}

}  // namespace

TOptionDlg::TOptionDlg(const std::string& iniPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    CreateControls();
    FormCreate(iniPath);
}

void TOptionDlg::CreateControls() {
    setWindowTitle(QString::fromUtf8("オプション設定"));
    setFixedSize(313, 214);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 297, 161);

    Label1 = MakeLabel(this, "URLの形式", 24, 20);
    UrlBase = MakeEdit(this, QRect(88, 16, 209, 20));
    Label4 = MakeLabel(this, "履歴の数", 24, 44);
    HistCount = MakeEdit(this, QRect(88, 40, 41, 20));

    UseProxy = new QCheckBox(QStringLiteral("UseProxy"), this);
    UseProxy->setGeometry(16, 72, 97, 17);
    // toggled, not clicked: setting the state from code must update the proxy
    // fields as well (RestoreValues relies on it).
    connect(UseProxy, &QCheckBox::toggled, this, &TOptionDlg::mFontConfClick);

    Label2 = MakeLabel(this, "Server name", 32, 100);
    ServerName = MakeEdit(this, QRect(104, 96, 193, 20));
    Label3 = MakeLabel(this, "port number", 32, 124);
    PortNumber = MakeEdit(this, QRect(104, 120, 49, 20));
    PortNumber->setText(QStringLiteral("8080"));

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setGeometry(79, 180, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOptionDlg::OKBtnClick);

    CancelBtn = new QPushButton(QString::fromUtf8("キャンセル"), this);
    CancelBtn->setGeometry(159, 180, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, &TOptionDlg::CancelBtnClick);

    // Labels take no focus; the rest cycle in this order.
    QWidget::setTabOrder(OKBtn, CancelBtn);
    QWidget::setTabOrder(CancelBtn, UrlBase);
    QWidget::setTabOrder(UrlBase, UseProxy);
    QWidget::setTabOrder(UseProxy, ServerName);
    QWidget::setTabOrder(ServerName, PortNumber);
    QWidget::setTabOrder(PortNumber, HistCount);
    OKBtn->setFocus();
}

void TOptionDlg::FormCreate(const std::string& iniPath) {
    TIniFile ini(iniPath);
    LoadConf(ini);
}

void TOptionDlg::LoadConf(TIniFile& ini) {
    UrlBase->setText(Utf8(ini.ReadString(kSection, "URLbase", kDefaultUrlFormat)));
    HistCount->setText(QString::number(ini.ReadInteger(kSection, "HistCount", kDefaultHistCount)));
    UseProxy->setChecked(ini.ReadBool(kSection, "UseProxy", false));
    ServerName->setText(Utf8(ini.ReadString(kSection, "ProxyServer", "")));
    PortNumber->setText(QString::number(ini.ReadInteger(kSection, "ProxyPort", kDefaultProxyPort)));
    // The check box may not have changed, so its handler may not have run.
    ServerName->setEnabled(UseProxy->isChecked());
    PortNumber->setEnabled(UseProxy->isChecked());
}

void TOptionDlg::SaveConf(TIniFile& ini) {
    ini.WriteString(kSection, "URLbase", UrlBase->text().toStdString());
    ini.WriteInteger(kSection, "HistCount", GetHistCount());
    ini.WriteBool(kSection, "UseProxy", UseProxy->isChecked());
    ini.WriteString(kSection, "ProxyServer", ServerName->text().toStdString());
    ini.WriteString(kSection, "ProxyPort", PortNumber->text().toStdString());
}

void TOptionDlg::KeepValues() {
    urlBase_ = UrlBase->text();
    useProxy_ = UseProxy->isChecked();
    serverName_ = ServerName->text();
    portNumber_ = PortNumber->text();
}

void TOptionDlg::RestoreValues() {
    UrlBase->setText(urlBase_);
    UseProxy->setChecked(useProxy_);
    ServerName->setText(serverName_);
    PortNumber->setText(portNumber_);
}

int TOptionDlg::GetHistCount() const { return StrToInt(HistCount->text().toStdString()); }

void TOptionDlg::OKBtnClick() { accept(); }

void TOptionDlg::CancelBtnClick() { reject(); }

void TOptionDlg::mFontConfClick() {
    ServerName->setEnabled(UseProxy->isChecked());
    PortNumber->setEnabled(UseProxy->isChecked());
}

void TOptionDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the screen rather than over the owner window.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
