// Keeps the main window drawn while a blocking network call runs on the GUI
// thread: the transport's waits call ProcessStep between short slices. Input
// events are handled there only while a fetch guard filters them (so none
// can start a second command); otherwise they wait. A cancel request makes
// ProcessStep throw EFetchCancelled out of the wait, and again at every
// later step, so the whole fetch unwinds however its layers catch.
#pragma once

#include "net/tcp/IdAntiFreezeBase.h"

#include <QElapsedTimer>
#include <functional>
#include <stdexcept>

class EFetchCancelled : public std::runtime_error {
public:
    EFetchCancelled() : std::runtime_error("The fetch was cancelled.") {}
};

class TQtAntiFreeze : public TIdAntiFreezeBase {
public:
    // Waits run in slices of 50 ms, so the window repaints promptly.
    TQtAntiFreeze();
    void ProcessStep() override;

    // Set while a guard swallows input: the steps then deliver it (to be dropped or to cancel).
    void SetInputFiltered(bool value) { inputFiltered_ = value; }
    void RequestCancel()
    {
        cancelRequested_ = true;
        if (OnCancel) OnCancel();
    }
    // Told of every cancel request, so the fetcher ends its fetch as cancelled.
    std::function<void()> OnCancel;
    void ClearCancel() { cancelRequested_ = false; }
    bool CancelRequested() const { return cancelRequested_; }

private:
    QElapsedTimer sinceLastStep_;
    bool inputFiltered_ = false;
    bool cancelRequested_ = false;
};
