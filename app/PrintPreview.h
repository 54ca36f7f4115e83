// The print preview's side in the window: the fit check alone, asked before
// any page is drawn, and the pages as printing lays them out, each drawn
// only when the preview shows it.
#pragma once

#include "platform/Dialogs.h"
#include "print/PrintLayout.h"

#include <QFont>

class QPrinter;

// Measures lines on printer in font as printing does and, when something does
// not fit, asks through ask. True when everything fits or the answer was Yes.
// Draws nothing and begins no document. Throws EPrinterError as printing does.
[[nodiscard]] bool FitCheckPasses(QPrinter& printer, const QFont& font, const TLineSource& lines, const TAskYesNo& ask);

// The pages printing would make of lines on printer in font: counted at once
// (one pass over the lines, nothing measured), each drawn on demand with the
// printer's metrics, so the preview matches the print. printer and lines must
// outlive the result. Print is left for the caller.
TPreviewPages PreviewPages(QPrinter& printer, const QFont& font, const TLineSource& lines);
