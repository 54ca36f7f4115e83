// The options dialog's connection fields read into plain values, and one RFC's URLs for a sync.
#include "app/ClientSettings.h"

#include "app/DocumentFetch.h"
#include "app/DocumentUrl.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

TConnectionOptions ConnectionOptionsOf(const TOptionDlg& dialog)
{
    TConnectionOptions options;
    options.UseProxy = dialog.UseProxy->isChecked();
    options.ProxyServer = TextToSetting(dialog.ServerName->text());
    options.ProxyPort = TextToSetting(dialog.PortNumber->text());
    options.SocksVersion = dialog.SocksVersion->currentIndex();
    options.SocksServer = TextToSetting(dialog.SocksServer->text());
    options.SocksPort = TextToSetting(dialog.SocksPort->text());
    options.SocksUser = TextToSetting(dialog.SocksUser->text());
    options.SocksPassword = TextToSetting(dialog.SocksPassword->text());
    options.FetchTimeLimitSeconds = dialog.FetchTimeLimit;
    return options;
}

std::pair<std::string, std::string> SyncUrlsOf(const std::string& urlFormat, int number)
{
    const std::string url = DocumentUrl(urlFormat, std::to_string(number));
    return {url, WithoutPassword(url)};
}
