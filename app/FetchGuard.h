// The window's state while a command loads a document: hourglass cursor, the
// given controls disabled, the cancel control shown, and (for a network
// fetch) every key, click and shortcut meant for the window dropped as it
// arrives, also those already queued when the fetch began, so none runs
// after the fetch. Esc in the window and the cancel control ask the hook to
// cancel. Other windows (a message box shown meanwhile) keep their input. Everything comes back on every way out,
// exceptions included. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;
class TQtAntiFreeze;

class TFetchGuard : public QObject {
public:
    // hook null: a local load, which runs to its end and needs no filtering.
    TFetchGuard(QWidget& window, const std::vector<QWidget*>& inert, QWidget& cancel, TQtAntiFreeze* hook);
    ~TFetchGuard() override;
    TFetchGuard(const TFetchGuard&) = delete;
    TFetchGuard& operator=(const TFetchGuard&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QWidget& cancel_;
    TQtAntiFreeze* hook_;
    std::vector<std::pair<QPointer<QWidget>, bool>> inert_;
    QPointer<QWidget> focus_;
};
