#pragma once

#include <functional>
#include <string>

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class TIniFile;

// TOptionDlg: the modal options dialog for fetching documents (URL format,
// history length, HTTP proxy, SOCKS proxy).
//
// Created once at program start and kept, hidden, until the end. Its edit
// fields and check box are the only in-memory copy of these options: the main
// window reads the controls directly at each use. Section "conf" of the
// settings file is read into the controls when the dialog is created and
// written back by SaveConf when the program exits. The dialog owns its
// controls; the settings file is only borrowed for the duration of a call.
// Option strings pass between file and fields through SettingText, so bytes
// that are no UTF-8 come back unchanged. The designed pixel geometry grows
// with the dialog font (PlaceControls), so every caption reads whole.
// GUI thread only.
//
// The caller shows it as: KeepValues(); if (exec() != QDialog::Accepted)
// RestoreValues(); OK, Cancel, Escape and the close box end the dialog.
// Cancel restores the URL format, the proxy check box, server and port and
// the SOCKS part, but not the history count.
class TOptionDlg : public QDialog {
    Q_OBJECT

public:
    // Opens the settings file at iniPath, loads section "conf" into the
    // controls and releases the file. A missing file gives the defaults.
    explicit TOptionDlg(const std::string& iniPath, QWidget* parent = nullptr);

    // Reads the keys of section "conf" into the controls. Integer fields end
    // up as plain decimal text whatever form the file had ("0x1F90" -> "8080").
    void LoadConf(TIniFile& ini);
    // Writes the controls into section "conf", each key at once, in the order
    // URLbase, HistCount, UseProxy, ProxyServer, ProxyPort. A history count
    // that is no integer raises EConvertError after URLbase was written; the
    // other keys are then left as they were. The port text is stored as typed.
    void SaveConf(TIniFile& ini);
    // Records the URL format, the check box, the server and the port.
    void KeepValues();
    // Puts the recorded values back; the proxy fields' enabled state follows
    // the check box.
    void RestoreValues();
    // The history count text converted as an integer (" +12", "$1F", "0X1f"
    // are accepted); raises EConvertError "'<text>' は整数ではありません"
    // otherwise, the empty text included.
    int GetHistCount() const;

    // How long one fetch may take as a whole, in seconds ("FetchTimeLimit";
    // 300 when absent or outside 1 to 86400). Kept as read: the dialog shows
    // no field for it.
    int FetchTimeLimit = kDefaultFetchTimeLimit;
    static constexpr int kDefaultFetchTimeLimit = 300;
    // Documents come from the library alone and nothing touches the network
    // ("Offline"; the menu 表示 sets it). Kept as read, as the time limit.
    bool Offline = false;

    // Asked on OK with the URL format; false keeps the dialog open (the
    // owner has said why). Unset: OK always closes.
    std::function<bool(const QString& urlFormat)> AcceptUrlFormat;

    QFrame* Bevel1;
    QLabel* Label1;
    QLineEdit* UrlBase;
    QLabel* Label4;
    QLineEdit* HistCount;
    QCheckBox* UseProxy;
    QLabel* Label2;
    QLineEdit* ServerName;
    QLabel* Label3;
    QLineEdit* PortNumber;
    // The SOCKS hop of every fetch: none, 4, 4A or 5 (the index), its server
    // and port, and for 5 a user name and password (none when the name is
    // empty). Server and port are enabled with a version, user and password
    // with 5. Stored under their own keys of section "conf".
    QFrame* Bevel2;
    QLabel* SocksLabel;
    QComboBox* SocksVersion;
    QLabel* SocksServerLabel;
    QLineEdit* SocksServer;
    QLabel* SocksPortLabel;
    QLineEdit* SocksPort;
    QLabel* SocksUserLabel;
    QLineEdit* SocksUser;
    QLabel* SocksPasswordLabel;
    QLineEdit* SocksPassword;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

public slots:
    void OKBtnClick();
    void CancelBtnClick();
    // Click handler of the UseProxy check box: the proxy fields are enabled
    // exactly while it is checked. Fires on every change of the checked state,
    // from the user or from code.
    void mFontConfClick();
    // The SOCKS fields follow the chosen version.
    void SocksVersionChange();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void PlaceControls();
    void FormCreate(const std::string& iniPath);

    QString urlBase_;
    bool useProxy_ = false;
    QString serverName_;
    QString portNumber_;
    int socksVersion_ = 0;
    QString socksServer_, socksPort_, socksUser_, socksPassword_;
};
