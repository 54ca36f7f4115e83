// The anti-freeze's slices of event processing between a blocking fetch's waits.
#include "app/AntiFreeze.h"

#include <QCoreApplication>

TQtAntiFreeze::TQtAntiFreeze()
{
    SetIdleTimeOut(50);
    // Yield also while bytes keep coming, so a long transfer shows its progress;
    // ProcessStep itself keeps that cheap.
    SetOnlyWhenIdle(false);
    sinceLastStep_.start();
}

void TQtAntiFreeze::ProcessStep()
{
    if (cancelRequested_) throw EFetchCancelled();
    // The transport calls in after every receive; handling events a few dozen
    // times a second is enough for the eye and costs a fast transfer nothing.
    if (sinceLastStep_.elapsed() < 30) return;
    sinceLastStep_.restart();
    QCoreApplication::processEvents(inputFiltered_ ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    if (cancelRequested_) throw EFetchCancelled();
}
