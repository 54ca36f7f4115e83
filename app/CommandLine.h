// The program's command line, read before any window or application object
// exists, so --help, --version and a wrong argument need no display.
// Plain code, no toolkit.
//
//   scrivlet [--desktop] [--offline] [NUMBER | PATH]
//   scrivlet [--desktop] --pdf OUT.pdf [--strict] (NUMBER | PATH)
//   scrivlet [--desktop] --sync
//   scrivlet --help | --version
//
// A document argument made only of the digits 0 to 9 is a document number;
// anything else is a path ("./2616" names a file called 2616). "--" ends the
// options, so a path may begin with "-". The toolkit's own options
// ("-platform offscreen", "-style=Fusion", "-reverse", ...) are let through
// for the application object to take.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingsStore.h"

struct TCommandLine {
    enum TMode { cmWindow, cmHelp, cmVersion, cmPdf, cmSync, cmError };
    TMode Mode = cmWindow;
    // The number or path to show (or print); empty when none was given.
    std::string Document;
    std::string PdfPath;
    // With --pdf: a fit problem ends the run without writing the file.
    bool Strict = false;
    // Started from the desktop menu: the settings live in the user's
    // configuration folder, not in the working folder.
    bool Desktop = false;
    // The window (or --pdf) takes documents from the library alone and never touches the network.
    bool Offline = false;
    // For cmError: one line, without the program's name or a line break.
    std::string Error;
};

// Exit codes of the program outside the window.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// args are the arguments after the program's name. The first of --help and
// --version wins over everything after it; an error is the first one found.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Only the digits 0 to 9, at least one: "2616" is a number, "2616.txt" and "" are not.
[[nodiscard]] bool IsDocumentNumber(std::string_view text);

// The text --help prints, ending in a line break; userSettings is the
// user's settings file (UserSettingsPath).
std::string UsageText(const std::string& userSettings);

// Where the run's settings are read and written: Scrivlet.ini in the working
// folder, or the user's file (ChooseSettingsPlace).
TSettingsPlace SettingsPlaceOf(const TCommandLine& command);
