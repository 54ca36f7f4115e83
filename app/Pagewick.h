// The program's start: application title, the main window, then the hidden
// options dialog, then the event loop.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

// The application object. A failure that escapes an event handler of any
// window ends up here and goes to the general error report instead of
// ending the program.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;

    std::function<void(const std::exception&)> OnUncaughtFailure;
};

// Loads the toolkit's own Japanese texts (standard dialogs and buttons).
void InstallToolkitTranslations(QCoreApplication& application);

// The program: reads the command line (help, version and errors end here,
// before any application object), then prints a PDF without a window or
// starts the window, optionally on a document. Returns the exit code.
int RunScrivlet(int argc, char** argv);
