// The fit check alone, for the print preview: it asks the same question
// printing asks, before any page is drawn.
#pragma once

#include "print/PrintLayout.h"

#include <QFont>

class QPrinter;

// Measures lines on printer in font as printing does and, when something does
// not fit, asks through ask. True when everything fits or the answer was Yes.
// Draws nothing and begins no document. Throws EPrinterError as printing does.
bool FitCheckPasses(QPrinter& printer, const QFont& font, const TLineSource& lines, const TAskYesNo& ask);
