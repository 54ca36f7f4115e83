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

int RunScrivlet(int argc, char** argv);
