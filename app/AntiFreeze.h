// Keeps the main window drawn while a blocking network call runs on the GUI
// thread: the transport's waits call ProcessStep between short slices, and
// only non-input events are handled there, so the window repaints and
// resizes but no key, click or menu command can start a second command.
#pragma once

#include "net/tcp/IdAntiFreezeBase.h"

#include <QElapsedTimer>

class TQtAntiFreeze : public TIdAntiFreezeBase {
public:
    // Waits run in slices of 50 ms, so the window repaints promptly.
    TQtAntiFreeze();
    void ProcessStep() override;

private:
    QElapsedTimer sinceLastStep_;
};
