// The program's start: application title, the main window, then the hidden
// options dialog, then the event loop.
#pragma once

int RunScrivlet(int argc, char** argv);
