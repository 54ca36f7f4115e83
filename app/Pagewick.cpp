#include "app/Pagewick.h"

#include "app/PagewickM.h"
#include "app/SignalPipe.h"
#include "settings/PagewickDlg.h"

#include <QApplication>

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        if (OnUncaughtFailure) OnUncaughtFailure(failure);
        return false;
    }
}

int RunScrivlet(int argc, char** argv)
{
    TApplication application(argc, argv);
    // The title is the caption of every message box.
    QApplication::setApplicationName(QStringLiteral("Scrivlet"));

    TFormServices services = TFormServices::Desktop();
    TForm1 form(services);
    // Created after the main window, so the window is the application's main
    // window; it reads its settings on creation and lives hidden until the end.
    TOptionDlg optionDlg(services.IniPath, &form);
    form.SetOptionDlg(&optionDlg);
    application.OnUncaughtFailure = [&form](const std::exception& failure) { form.ReportFailure(failure); };

    // A session that ends or a kill asking politely saves the run's history as a normal exit does.
    const TSignalPipe endSignals([&form](int) { form.EndBySignal(); });

    form.show();
    return application.exec();
}
