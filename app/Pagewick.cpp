// The program's start: the application object, the main window, the options dialog and the event loop.
#include "app/Pagewick.h"

#include "app/ClientSettings.h"
#include "app/CommandLine.h"
#include "app/HeadlessPrint.h"
#include "app/LibraryCommands.h"
#include "app/PagewickM.h"
#include "app/SignalPipe.h"
#include "app/SyncRun.h"
#include "library/LibraryDatabase.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"
#include "version/verInfo.h"

#include <QApplication>
#include <QComboBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <cstdlib>
#include <iostream>

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        if (OnUncaughtFailure) OnUncaughtFailure(failure);
        return false;
    }
}

void InstallToolkitTranslations(QCoreApplication& application)
{
    // The menus are Japanese whatever the desktop's language, so the
    // toolkit's dialogs and buttons are too. Without the catalogue installed
    // they stay in English.
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

int RunScrivlet(int argc, char** argv)
{
    const TCommandLine command = ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (command.Mode) {
    case TCommandLine::cmError: std::cerr << "scrivlet: " << command.Error << std::endl; return kExitUsage;
    case TCommandLine::cmHelp: std::cout << UsageText(UserSettingsPath()); return kExitOk;
    case TCommandLine::cmVersion:
        std::cout << "Scrivlet " << TversionInfo(true).GetVersionText() << std::endl;
        return kExitOk;
    case TCommandLine::cmPdf:
    case TCommandLine::cmSync:
        // No window on any screen, whatever the environment names.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        break;
    case TCommandLine::cmWindow: break;
    }

    // Without a window the toolkit's own options (a "-platform" among them) have nothing to do.
    const bool headless = command.Mode == TCommandLine::cmPdf || command.Mode == TCommandLine::cmSync;
    int toolkitArgc = headless ? std::min(argc, 1) : argc;
    TApplication application(toolkitArgc, argv);
    // The title is the caption of every message box.
    QApplication::setApplicationName(QStringLiteral("Scrivlet"));
    InstallToolkitTranslations(application);
    if (command.Mode == TCommandLine::cmPdf) return PrintDocumentToPdf(command, std::cerr);
    if (command.Mode == TCommandLine::cmSync) {
        // The options dialog is where the settings file's options are read; it is never shown.
        const TOptionDlg options(SettingsPlaceOf(command).ReadPath);
        TSyncRunOptions sync;
        sync.LibraryPath = DefaultLibraryPath();
        sync.UrlFormat = TextToSetting(options.UrlBase->text());
        try {
            sync.Settings = FetchSettingsOf(ConnectionOptionsOf(options));
        } catch (const std::exception& e) {
            std::cerr << "scrivlet: " << e.what() << std::endl;
            return kExitFailed;
        }
        return SyncFromTerminal(sync, std::cout, std::cerr);
    }

    TFormServices services = TFormServices::Desktop();
    services.Settings = SettingsPlaceOf(command);
    TForm1 form(services);
    // Created after the main window, so the window is the application's main
    // window; it reads its settings on creation and lives hidden until the end.
    TOptionDlg optionDlg(services.Settings.ReadPath, &form);
    form.SetOptionDlg(&optionDlg);
    application.OnUncaughtFailure = [&form](const std::exception& failure) { form.ReportFailure(failure); };
    if (command.Offline && form.Library) form.Library->SetOfflineForRun();

    // A session that ends or a kill asking politely saves the run's history as a normal exit does.
    const TSignalPipe endSignals([&form](int) { form.EndBySignal(); });

    form.show();
    if (!command.Document.empty()) {
        // After the first activation, which sets the number box from the history.
        QTimer::singleShot(0, &form, [&form, &command] {
            if (IsDocumentNumber(command.Document)) {
                form.RFCNumber->setEditText(QString::fromStdString(command.Document));
                form.Guarded([&form] { form.mOpenFromWebClick(); });
            } else {
                form.Guarded([&] { form.OpenFile(QString::fromStdString(command.Document)); });
            }
        });
    }
    return application.exec();
}
