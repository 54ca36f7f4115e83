// Reading the program's arguments and the usage text, before any toolkit object exists.
#include "app/CommandLine.h"

#include <algorithm>
#include <array>

namespace {

// The application object's own options. It removes them from the argument
// list itself; they are only recognised here so they are not taken for ours.
constexpr std::array<std::string_view, 13> kToolkitValueOptions = {
    "platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "qwindowicon", "qwindowtitle",
    "style",    "stylesheet",         "session",       "display", "geometry",        "name"};
constexpr std::array<std::string_view, 5> kToolkitFlags = {"reverse", "nograb", "dograb", "sync", "widgetcount"};

// The option's name without its one or two leading dashes and any "=value".
std::string_view ToolkitName(std::string_view arg)
{
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    return arg.substr(0, arg.find('='));
}

bool Contains(const auto& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TCommandLine Failed(std::string message)
{
    TCommandLine result;
    result.Mode = TCommandLine::cmError;
    result.Error = std::move(message);
    return result;
}

} // namespace

bool IsDocumentNumber(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    TCommandLine result;
    bool pdf = false;
    bool sync = false;
    bool optionsEnded = false;
    std::vector<std::string> documents;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg == "-" || arg[0] != '-') {
            documents.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            result.Mode = TCommandLine::cmHelp;
            return result;
        } else if (arg == "--version") {
            result.Mode = TCommandLine::cmVersion;
            return result;
        } else if (arg == "--pdf") {
            if (pdf) return Failed("--pdf given twice");
            if (i + 1 >= args.size() || args[i + 1].empty())
                return Failed("--pdf needs the name of the PDF file to write");
            pdf = true;
            result.PdfPath = args[++i];
        } else if (arg == "--strict") {
            result.Strict = true;
        } else if (arg == "--desktop") {
            result.Desktop = true;
        } else if (arg == "--sync") {
            sync = true;
        } else if (arg == "--offline") {
            result.Offline = true;
        } else if (Contains(kToolkitFlags, ToolkitName(arg))) {
        } else if (Contains(kToolkitValueOptions, ToolkitName(arg))) {
            if (arg.find('=') == std::string::npos) {
                if (i + 1 >= args.size()) return Failed("option '" + arg + "' needs a value");
                ++i;
            }
        } else {
            return Failed("unknown option '" + arg + "' (see --help)");
        }
    }
    if (documents.size() > 1)
        return Failed("one document at a time, not '" + documents[0] + "' and '" + documents[1] + "'");
    if (result.Strict && !pdf) return Failed("--strict goes with --pdf only");
    if (result.Offline && pdf) return Failed("--offline goes with the window only");
    if (sync) {
        if (pdf || !documents.empty()) return Failed("--sync takes no document and no --pdf");
        if (result.Offline) return Failed("--sync and --offline contradict each other");
        result.Mode = TCommandLine::cmSync;
        return result;
    }
    if (!documents.empty()) result.Document = documents[0];
    if (pdf) {
        if (result.Document.empty()) return Failed("--pdf needs a document number or a file to print");
        result.Mode = TCommandLine::cmPdf;
    }
    return result;
}

std::string UsageText(const std::string& userSettings)
{
    const std::string user = userSettings.empty() ? "~/.config/scrivlet/Scrivlet.ini" : userSettings;
    return "Usage: scrivlet [--desktop] [--offline] [NUMBER | FILE]\n"
           "       scrivlet [--desktop] --pdf OUT.pdf [--strict] (NUMBER | FILE)\n"
           "       scrivlet [--desktop] --sync\n"
           "       scrivlet --help | --version\n"
           "\n"
           "Reads and prints RFC documents. With a NUMBER the window starts and fetches\n"
           "that RFC through the URL format of its options; with a FILE it opens that\n"
           "text file. An argument of digits only is a number: write ./2616 for a file\n"
           "called 2616.\n"
           "\n"
           "  --pdf OUT.pdf  fetch or open the document and print it into OUT.pdf (A4)\n"
           "                 with the program's page layout and font, without a window.\n"
           "                 A fit problem is reported on standard error; the PDF is\n"
           "                 still written.\n"
           "  --strict       with --pdf: a fit problem writes no file and exits with 1.\n"
           "  --desktop      keep the settings in the user's file (below), whatever the\n"
           "                 current folder; the desktop menu starts the program so.\n"
           "  --sync         update the RFC index, then store every RFC it lists that the\n"
           "                 library lacks, without a window; a progress line on\n"
           "                 standard output, each failure on standard error; exit 0\n"
           "                 when every document is stored, 1 otherwise.\n"
           "  --offline      take documents from the library only; never use the network.\n"
           "  --help         show this text.\n"
           "  --version      show the program's version.\n"
           "  --             end of options: a file name may then begin with '-'.\n"
           "\n"
           "Settings and history live in Scrivlet.ini in the current folder, or, with\n"
           "--desktop or when the current folder or its Scrivlet.ini cannot be written,\n"
           "in " +
           user +
           "\n"
           "(XDG_CONFIG_HOME moves it). Two windows share the file: each keeps the\n"
           "settings it changed and all of their history. --pdf never writes it.\n"
           "\n"
           "Exit status: 0 done, 1 the document could not be fetched, read or printed\n"
           "(or did not fit, with --strict), 2 a wrong command line.\n";
}

TSettingsPlace SettingsPlaceOf(const TCommandLine& command)
{
    return ChooseSettingsPlace(command.Desktop, "Scrivlet.ini", UserSettingsPath());
}
