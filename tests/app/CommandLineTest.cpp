// The command line as a shell meets it: the real program run as a process
// for each row (arguments -> exit code, standard output and error, PDF
// written or not), with no display, so a row that opened a window would fail.
// Parsing alone, for the rows that would start a window.
#include "app/CommandLine.h"
#include "tests/print/PdfProbe.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

struct TRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs the program in dir without a display; --pdf must choose the offscreen
// platform by itself.
// With a shell prefix such as a "ulimit".
TRun RunProgram(const TTempDir& dir, const std::vector<std::string>& args, const std::string& prefix = "")
{
    // The toolkit warns on standard error when it has no runtime folder; the library lives in the folder too.
    std::string command = "cd '" + dir.Path() + "' && " + prefix +
                          "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb" + " XDG_RUNTIME_DIR='" + dir.Path() +
                          "' XDG_CACHE_HOME='" + dir.Path() + "' XDG_CONFIG_HOME='" + dir.File("config") + "' '" +
                          std::string(SCRIVLET_EXE) + "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    TRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadTextFile(dir.File("stdout.txt"));
    run.err = ReadTextFile(dir.File("stderr.txt"));
    return run;
}

// Words of each page joined by blanks, pages by "|".
std::string PdfText(const std::string& path)
{
    std::string text;
    for (const TPdfPage& page : PdfWords(path)) {
        if (!text.empty()) text += "|";
        for (size_t i = 0; i < page.size(); ++i) text += (i ? " " : "") + page[i].text;
    }
    return text;
}

} // namespace

TEST(CommandLine, ProgramRunsWithoutAWindow)
{
    if (!PdfToolsAvailable()) GTEST_SKIP() << "poppler tools missing";
    TTempDir docs;
    std::filesystem::create_directories(docs.File("rfc"));
    WriteTextFile(docs.File("rfc/rfc2.txt"), "Served\n\n   Title\n\f\nsecond page\n");
    auto nginx = testsupport::TRealPeer::Nginx(docs.Path());

    TTempDir dir;
    const std::string ini = "[conf]\nURLbase=http://127.0.0.1:" + std::to_string(nginx->Port()) +
                            "/rfc/rfc%s.txt\n[font]\nName=Courier New\nsize=10\n";
    WriteTextFile(dir.File("Scrivlet.ini"), ini);
    // A font too tall for the line slots: the fit check's spacing problem.
    TTempDir tall;
    const std::string tallIni = "[font]\nName=Courier New\nsize=40\n";
    WriteTextFile(tall.File("Scrivlet.ini"), tallIni);
    // The user's settings, which --desktop reads instead of the folder's.
    std::filesystem::create_directories(dir.File("config/scrivlet"));
    WriteTextFile(dir.File("config/scrivlet/Scrivlet.ini"), tallIni);
    WriteTextFile(tall.File("doc.txt"), "alpha\n");
    WriteTextFile(dir.File("doc.txt"), "alpha\n\f\nbeta\n");
    WriteTextFile(dir.File("empty.txt"), "");
    // Wider than the page, and wrapped by any window: printing warns all the same.
    WriteTextFile(dir.File("wide.txt"), std::string(200, 'w') + "\n");
    // Never opened for reading: a FIFO without a writer would block the program for good.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(dir.File("folder"));

    struct Row {
        std::vector<std::string> args;
        int exitCode;
        const char* out;  // part of standard output
        const char* err;  // part of standard error; "" means it stays empty
        const char* text; // the PDF's words (PdfText); nullptr: no out.pdf
        bool tallFont = false;
    } rows[] = {
        {{"--help"}, 0, "--pdf OUT.pdf", "", nullptr},
        {{"--version"}, 0, "Scrivlet 1.", "", nullptr},
        {{"-platform", "offscreen", "--help"}, 0, "Usage", "", nullptr},
        {{"--frobnicate", "doc.txt"}, 2, "", "scrivlet: unknown option '--frobnicate'", nullptr},
        {{"doc.txt", "empty.txt"}, 2, "", "one document at a time", nullptr},
        {{"--pdf"}, 2, "", "--pdf needs the name", nullptr},
        {{"--pdf", "out.pdf"}, 2, "", "--pdf needs a document", nullptr},
        {{"--strict", "doc.txt"}, 2, "", "--strict goes with --pdf", nullptr},
        {{"--sync", "2"}, 2, "", "--sync takes no document", nullptr},
        {{"--offline", "--pdf", "out.pdf", "2"}, 2, "", "--offline goes with the window only", nullptr},
        {{"--pdf", "out.pdf", "doc.txt", "-platform", "xcb"}, 0, "", "", "alpha|beta"},
        {{"--pdf", "out.pdf", "2"}, 0, "", "", "Served Title|second page"},
        {{"--pdf", "out.pdf", "doc.txt"}, 0, "", "・行間がとても狭く", "alpha", true},
        {{"--strict", "--pdf", "out.pdf", "doc.txt"}, 1, "", "・行間がとても狭く", nullptr, true},
        {{"--desktop", "--strict", "--pdf", "out.pdf", "doc.txt"}, 1, "", "・行間がとても狭く", nullptr},
        {{"--strict", "--pdf", "out.pdf", "wide.txt"}, 1, "", "・1ページ0行目の右端が溢れそうです", nullptr},
        {{"--pdf", "out.pdf", "3"}, 1, "", "指定のRFCが見つかりませんでした。\nERR:HTTP/1.1 404 Not Found", nullptr},
        {{"--pdf", "out.pdf", "missing.txt"}, 1, "", "missing.txt", nullptr},
        {{"--pdf", "out.pdf", "empty.txt"}, 1, "", "empty", nullptr},
        {{"--pdf", "no-such-folder/out.pdf", "doc.txt"}, 1, "", "no-such-folder/out.pdf", nullptr},
        {{"--pdf", "out.pdf", "fifo"}, 1, "", "fifo を開けません。通常のファイルではありません", nullptr},
        {{"--pdf", "out.pdf", "folder"}, 1, "", "folder を開けません。フォルダです", nullptr},
    };
    for (const Row& row : rows) {
        std::string name;
        for (const std::string& arg : row.args) name += arg + " ";
        SCOPED_TRACE(name);
        const TTempDir& folder = row.tallFont ? tall : dir;
        std::filesystem::remove(folder.File("out.pdf"));
        const TRun run = RunProgram(folder, row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
        if (*row.err == 0) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        }
        EXPECT_EQ(run.err.find("。."), std::string::npos) << run.err;
        // A wrong command line is one line.
        if (row.exitCode == 2) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
        const bool written = std::filesystem::exists(folder.File("out.pdf"));
        EXPECT_EQ(written, row.text != nullptr);
        if (row.text != nullptr && written) {
            EXPECT_EQ(PdfText(folder.File("out.pdf")), row.text);
        }
    }
    // With the server gone, a document the library holds prints from there, as the window shows it;
    // one it does not hold fails with the window's message.
    nginx.reset();
    std::filesystem::remove(dir.File("out.pdf"));
    const TRun offline = RunProgram(dir, {"--pdf", "out.pdf", "2"});
    EXPECT_EQ(offline.exitCode, 0) << offline.err;
    EXPECT_EQ(PdfText(dir.File("out.pdf")), "Served Title|second page");
    const TRun unreachable = RunProgram(dir, {"--pdf", "out.pdf", "5"});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_EQ(unreachable.err.rfind("サーバにアクセスできませんでした。\n接続先: 127.0.0.1:", 0), 0u)
        << unreachable.err;
    // Neither the fetches nor the opens touched the settings.
    EXPECT_EQ(ReadTextFile(dir.File("Scrivlet.ini")), ini);
    EXPECT_EQ(ReadTextFile(tall.File("Scrivlet.ini")), tallIni);
}

// The input given as the output, by its name, a symbolic or a hard link, or the file a number names
// through a local URL format, is refused and left as it was.
TEST(CommandLine, PdfNeverOverwritesTheDocumentItPrints)
{
    TTempDir dir;
    WriteTextFile(dir.File("Scrivlet.ini"), "[conf]\nURLbase=file:///rfc%s.txt\n");
    const std::string text = "alpha\n";
    WriteTextFile(dir.File("doc.txt"), text);
    WriteTextFile(dir.File("rfc7.txt"), text);
    std::filesystem::create_symlink("doc.txt", dir.File("symbolic.pdf"));
    std::filesystem::create_hard_link(dir.File("doc.txt"), dir.File("hard.pdf"));
    const std::vector<std::vector<std::string>> rows = {{"--pdf", "doc.txt", "doc.txt"},
                                                        {"--pdf", "./doc.txt", "doc.txt"},
                                                        {"--pdf", "symbolic.pdf", "doc.txt"},
                                                        {"--pdf", "hard.pdf", "doc.txt"},
                                                        {"--pdf", "rfc7.txt", "7"}};
    for (const std::vector<std::string>& args : rows) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        const TRun run = RunProgram(dir, args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(args[1] + " is the document to print"), std::string::npos) << run.err;
        EXPECT_EQ(ReadTextFile(dir.File("doc.txt")), text);
        EXPECT_EQ(ReadTextFile(dir.File("rfc7.txt")), text);
    }
}

// A disk that fills while the PDF is written (a file size limit stands in for it) fails the run and
// leaves the older PDF as it was, with no part of the new one beside it.
TEST(CommandLine, PdfCutShortLeavesTheOldFileAndNoPart)
{
    TTempDir dir;
    WriteTextFile(dir.File("doc.txt"), "alpha\n\f\nbeta\n");
    WriteTextFile(dir.File("out.pdf"), "older");
    const TRun run = RunProgram(dir, {"--pdf", "out.pdf", "doc.txt"}, "trap '' XFSZ; ulimit -f 4; ");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("out.pdf"), std::string::npos) << run.err;
    EXPECT_EQ(ReadTextFile(dir.File("out.pdf")), "older");
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".out.pdf"), std::string::npos) << entry.path();
}

// --sync against a real nginx serving the sample index and all but one of its RFCs: the missing one is listed
// and the exit says so; once it is there, a second run stores only it (which requests a run makes is the
// sync's and the index loader's own test).
TEST(CommandLine, SyncStoresTheIndexsRfcsAndResumesWithoutRefetching)
{
    const std::string sample = std::string(SCRIVLET_RFC_DIR) + "/../rfc-index-sample.xml";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no shared folder";
    TTempDir docs;
    WriteTextFile(docs.File("rfc-index.xml"), ReadTextFile(sample));
    const int numbers[] = {822, 1928, 1929, 1945, 2068, 2109, 2616, 2617, 2965, 3986, 6265, 9110, 9293};
    for (int number : numbers)
        WriteTextFile(docs.File("rfc" + std::to_string(number) + ".txt"), "RFC " + std::to_string(number) + "\n");
    const auto nginx = testsupport::TRealPeer::Nginx(docs.Path());
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx->Port());
    TTempDir dir;
    WriteTextFile(dir.File("Scrivlet.ini"), "[conf]\nURLbase=" + base + "/rfc%s.txt\n");

    const TRun first = RunProgram(dir, {"--sync"});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_EQ(first.err, "scrivlet: RFC 7230 (" + base + "/rfc7230.txt): HTTP/1.1 404 Not Found\n");
    EXPECT_NE(first.out.find("\r14/14 documents"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("\n13 stored"), std::string::npos) << first.out;

    WriteTextFile(docs.File("rfc7230.txt"), "RFC 7230\n");
    const TRun second = RunProgram(dir, {"--sync"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.err, "");
    EXPECT_NE(second.out.find("\n1 stored"), std::string::npos) << second.out;
}

TEST(CommandLine, ParsesWhatStartsTheWindow)
{
    struct Row {
        std::vector<std::string> args;
        TCommandLine::TMode mode;
        const char* document;
    } rows[] = {
        {{}, TCommandLine::cmWindow, ""},
        {{"2616"}, TCommandLine::cmWindow, "2616"},
        {{"-style=Fusion", "./2616"}, TCommandLine::cmWindow, "./2616"},
        {{"-reverse", "--platform", "xcb", "rfc.txt"}, TCommandLine::cmWindow, "rfc.txt"},
        {{"--", "--help"}, TCommandLine::cmWindow, "--help"},
        {{"-style"}, TCommandLine::cmError, ""},
    };
    for (const Row& row : rows) {
        const TCommandLine parsed = ParseCommandLine(row.args);
        EXPECT_EQ(parsed.Mode, row.mode) << parsed.Error;
        EXPECT_EQ(parsed.Document, row.document);
    }
}
