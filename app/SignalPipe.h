// Turns SIGTERM, SIGINT and SIGHUP into a call on the GUI thread: the
// handler only writes the signal's number into a socket pair, whose reading
// end the event loop watches (also during a fetch, whose steps handle
// events). One instance at a time; the earlier handlers come back when it
// goes.
#pragma once

#include <QObject>
#include <csignal>
#include <functional>

class QSocketNotifier;

class TSignalPipe : public QObject {
public:
    explicit TSignalPipe(std::function<void(int)> onSignal);
    ~TSignalPipe() override;
    TSignalPipe(const TSignalPipe&) = delete;
    TSignalPipe& operator=(const TSignalPipe&) = delete;

private:
    void Drain();

    std::function<void(int)> onSignal_;
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
};
