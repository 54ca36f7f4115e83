#include "app/Pagewick.h"

#include "app/PagewickM.h"
#include "settings/PagewickDlg.h"

#include <QApplication>

int RunScrivlet(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The title is the caption of every message box.
    QApplication::setApplicationName(QStringLiteral("Scrivlet"));

    TFormServices services = TFormServices::Desktop();
    TForm1 form(services);
    // Created after the main window, so the window is the application's main
    // window; it reads its settings on creation and lives hidden until the end.
    TOptionDlg optionDlg(services.IniPath, &form);
    form.SetOptionDlg(&optionDlg);

    form.show();
    return application.exec();
}
