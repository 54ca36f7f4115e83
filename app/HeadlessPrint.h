// scrivlet --pdf: the window's own fetch or open command (the library's copy
// included, as the window shows it) and its export command,
// with no window on screen and no dialog. The main window is built as at
// program start and shown on the offscreen platform (so its first activation
// reads the settings and the pane takes its designed size), but it is never
// closed, so the settings file is never written. Its message boxes write to
// standard error; the fit check's question is answered Yes, or No with strict.
#pragma once

#include "app/CommandLine.h"

#include <iosfwd>

// Needs a QApplication on the offscreen platform. Returns the exit code:
// kExitOk once the PDF is written; kExitFailed when the document could not be
// fetched, read or printed, or did not fit while command.Strict (no file is
// written then). Every message goes to err, one text a block.
int PrintDocumentToPdf(const TCommandLine& command, std::ostream& err);
