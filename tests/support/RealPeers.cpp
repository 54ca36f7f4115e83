#include "tests/support/RealPeers.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/support/Loopback.h"

namespace testsupport {

namespace {

constexpr int kStartAttempts = 3;   // a port taken between probing and binding costs one attempt
constexpr int kStartWaitMs = 15000; // generous: two cores are shared by every test running at once
constexpr int kStopWaitMs = 5000;

// The program's full path; PATH first, then the system folders a plain user's PATH may lack.
std::string FindProgram(const std::string& name)
{
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

// The account the peers keep, so that none of them switches to an account that cannot reach the folder.
std::string CurrentUser()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "root";
}

bool RunningAsRoot() { return ::geteuid() == 0; }

std::string NginxConfig(const std::string& folder, int port, const std::string& root, const std::string& tls,
                        const std::string& serverConfig)
{
    std::string text = "daemon off;\nmaster_process off;\n";
    if (RunningAsRoot()) text += "user " + CurrentUser() + ";\n";
    text += "pid " + folder + "/nginx.pid;\nerror_log " + folder + "/error.log info;\n";
    text += "events { worker_connections 128; }\nhttp {\n";
    text += "  access_log " + folder + "/access.log;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        text += std::string("  ") + temp + "_temp_path " + folder + "/" + temp + ";\n";
    text += "  default_type application/octet-stream;\n";
    text += "  types { text/html html; text/plain txt; }\n";
    text += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + (tls.empty() ? "" : " ssl") + ";\n";
    // https also on ::1, for requests to an IPv6 literal.
    if (!tls.empty()) text += "    listen [::1]:" + std::to_string(port) + " ssl;\n";
    text += "    server_name localhost;\n    root " + root + ";\n" + tls + serverConfig + "\n  }\n}\n";
    return text;
}

} // namespace

std::unique_ptr<TRealPeer> TRealPeer::Start(const std::string& name, const TConfigure& configure)
{
    std::unique_ptr<TRealPeer> peer(new TRealPeer(name));
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        peer->port_ = FreeLoopbackPort();
        if (peer->Launch(configure(peer->Folder(), peer->port_)) && peer->WaitAccepting()) return peer;
        peer->Stop();
    }
    throw std::runtime_error(name + " did not start on 127.0.0.1; its logs:\n" + peer->Logs());
}

bool TRealPeer::Launch(const std::vector<std::string>& command)
{
    const std::string program = FindProgram(command.front());
    if (program.empty())
        throw std::runtime_error(command.front() + " is not installed (scripts/test installs the test peers)");
    // Everything the child needs is prepared before fork: after it only async-signal-safe calls are made.
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string output = folder_.File(name_ + ".out");
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::setpgid(0, 0);
        // The peer dies with the test (a killed test would otherwise leave servers behind). This follows the
        // forking thread, so peers are started from the test's own thread.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid); // also from here, so that Stop never races the child's own call
    pid_ = pid;
    return true;
}

bool TRealPeer::WaitAccepting()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1; // gave up (a port taken meanwhile, a configuration it refused)
            return false;
        }
        const int fd = TryConnectLoopback(port_);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void TRealPeer::Stop()
{
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(-pid_, SIGKILL); // workers that outlived their parent, or a parent that ignored the request
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

TRealPeer::~TRealPeer() { Stop(); }

std::string TRealPeer::Logs() const
{
    std::string text;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec)) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file() && (path.ends_with(".log") || path.ends_with(".out")))
            text += "--- " + entry.path().filename().string() + "\n" + ReadTextFile(path);
    }
    return text;
}

std::string TRealPeer::AccessLog(std::size_t requests) const
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        std::string log = ReadTextFile(Folder() + "/access.log");
        if (std::size_t(std::count(log.begin(), log.end(), '\n')) >= requests ||
            std::chrono::steady_clock::now() >= giveUp)
            return log;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::unique_ptr<TRealPeer> TRealPeer::Nginx(const std::string& documentRoot, const std::string& serverConfig)
{
    return Start("nginx", [&](const std::string& folder, int port) {
        WriteTextFile(folder + "/nginx.conf", NginxConfig(folder, port, documentRoot, "", serverConfig));
        return std::vector<std::string>{
            "nginx", "-p", folder, "-c", folder + "/nginx.conf", "-e", folder + "/error.log"};
    });
}

std::unique_ptr<TRealPeer> TRealPeer::NginxTls(const std::string& documentRoot, const std::string& certFile,
                                               const std::string& keyFile, const std::string& serverConfig)
{
    const std::string tls = "    ssl_certificate " + certFile + ";\n    ssl_certificate_key " + keyFile + ";\n";
    return Start("nginx", [&](const std::string& folder, int port) {
        WriteTextFile(folder + "/nginx.conf", NginxConfig(folder, port, documentRoot, tls, serverConfig));
        return std::vector<std::string>{
            "nginx", "-p", folder, "-c", folder + "/nginx.conf", "-e", folder + "/error.log"};
    });
}

std::unique_ptr<TRealPeer> TRealPeer::Tinyproxy(const std::string& user, const std::string& password)
{
    return Start("tinyproxy", [&](const std::string& folder, int port) {
        // No ConnectPort line: CONNECT may reach any port (the tests' servers sit on free ports).
        std::string text = "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 32\n";
        if (RunningAsRoot()) text += "User " + CurrentUser() + "\nGroup root\n";
        text += "LogFile \"" + folder + "/tinyproxy.log\"\nLogLevel Info\n";
        text += "PidFile \"" + folder + "/tinyproxy.pid\"\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
        if (!user.empty()) text += "BasicAuth " + user + " " + password + "\n";
        WriteTextFile(folder + "/tinyproxy.conf", text);
        return std::vector<std::string>{"tinyproxy", "-d", "-c", folder + "/tinyproxy.conf"};
    });
}

std::unique_ptr<TRealPeer> TRealPeer::Dante()
{
    return Start("danted", [](const std::string& folder, int port) {
        const std::string user = CurrentUser();
        std::string text = "logoutput: " + folder + "/danted.log\n";
        text += "internal: 127.0.0.1 port = " + std::to_string(port) + "\nexternal: 127.0.0.1\n";
        text += "clientmethod: none\nsocksmethod: none\n";
        text += "user.privileged: " + user + "\nuser.unprivileged: " + user + "\n";
        text += "client pass { from: 127.0.0.1/32 to: 0.0.0.0/0 }\n";
        text += "socks pass { from: 127.0.0.1/32 to: 127.0.0.1/32 command: connect }\n";
        text += "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n";
        WriteTextFile(folder + "/danted.conf", text);
        return std::vector<std::string>{"danted", "-f", folder + "/danted.conf", "-p", folder + "/danted.pid"};
    });
}

std::unique_ptr<TRealPeer> TRealPeer::Microsocks(const std::string& user, const std::string& password)
{
    return Start("microsocks", [&](const std::string&, int port) {
        return std::vector<std::string>{"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-u",
                                        user,         "-P", password,    "-b", "127.0.0.1"};
    });
}

std::unique_ptr<TRealPeer> TRealPeer::OpensslServer(const std::string& certFile, const std::string& keyFile)
{
    return Start("openssl", [&](const std::string&, int port) {
        return std::vector<std::string>{"openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port),
                                        "-cert",   certFile,   "-key",   keyFile,   "-Verify",
                                        "1",       "-www"};
    });
}

} // namespace testsupport
