#pragma once

// Real servers as test peers: nginx (http and https), tinyproxy (HTTP proxy), dante (SOCKS 4 and 5 without
// authentication), microsocks (SOCKS 5 with user name and password) and the openssl tool's TLS test server.
//
// Each peer runs in the foreground as a child of the test, listens on a free 127.0.0.1 port, and keeps its
// configuration, pid file and logs in a temporary folder of its own. The constructor returns once the peer
// accepts connections; the destructor stops it by its process id (its process group, so that workers go
// too) and removes the folder. A program that is missing or does not come up throws std::runtime_error with
// its log, which fails the test: a real-peer test never skips itself.
//
// Privileges: the tests may run as root (CI containers do). nginx and dante would then switch to an
// unprivileged account and tinyproxy refuses to run without one, so every peer is told to keep the current
// user, and all its paths point into the temporary folder.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/TempDir.h"

namespace testsupport {

class TRealPeer {
public:
    // Plain http serving documentRoot. serverConfig is pasted into the server block (location blocks,
    // return rules, ...).
    static std::unique_ptr<TRealPeer> Nginx(const std::string& documentRoot, const std::string& serverConfig = "");
    // https with the given PEM certificate and key files.
    static std::unique_ptr<TRealPeer> NginxTls(const std::string& documentRoot, const std::string& certFile,
                                               const std::string& keyFile, const std::string& serverConfig = "");
    // An HTTP proxy that allows CONNECT to any port; with a user name it demands Basic proxy authentication.
    static std::unique_ptr<TRealPeer> Tinyproxy(const std::string& user = "", const std::string& password = "");
    // SOCKS 4 and 5 without authentication, forwarding only to 127.0.0.1.
    static std::unique_ptr<TRealPeer> Dante();
    // SOCKS 5 demanding the given user name and password.
    static std::unique_ptr<TRealPeer> Microsocks(const std::string& user, const std::string& password);
    // The openssl tool's TLS test server with the given PEM certificate and key files, demanding a client
    // certificate; answers with a status page.
    static std::unique_ptr<TRealPeer> OpensslServer(const std::string& certFile, const std::string& keyFile);

    ~TRealPeer();
    TRealPeer(const TRealPeer&) = delete;
    TRealPeer& operator=(const TRealPeer&) = delete;

    int Port() const { return port_; }
    const std::string& Folder() const { return folder_.Path(); }
    // Everything the peer wrote to its logs so far (for failure messages).
    std::string Logs() const;
    // nginx's access log once it holds at least `requests` lines, or as it is after 5 s: nginx writes a
    // request's line only after the client has its answer, so reading at once can miss the last one.
    std::string AccessLog(std::size_t requests) const;

private:
    // Writes the peer's configuration into folder for port and returns its command line.
    using TConfigure = std::function<std::vector<std::string>(const std::string& folder, int port)>;

    explicit TRealPeer(std::string name) : name_(std::move(name)) {}
    static std::unique_ptr<TRealPeer> Start(const std::string& name, const TConfigure& configure);
    bool Launch(const std::vector<std::string>& command);
    bool WaitAccepting();
    void Stop();

    std::string name_;
    TTempDir folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace testsupport
