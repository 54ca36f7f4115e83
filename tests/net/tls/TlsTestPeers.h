#pragma once

// The servers the TLS tests talk to, started once per test program: a certificate authority of the tests'
// own (made with the openssl tool) and nginx over TLS with its certificates (good; for localhost by name
// only; for another name; expired), with a self-signed one, and in plain http. All serve the same folder:
// small.txt, doc.txt (300 KB), the same file in chunks under /chunked/, /drop (closed without a response or
// close_notify), /moved (a redirect to small.txt), /set-cookie (a secure cookie) and /cookie (echoes it).
// Besides, the openssl tool's test server that demands a client certificate.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

namespace tls_test {

using testsupport::TRealPeer;

// Runs the openssl tool in folder; throws with its output when it fails.
inline void RunOpenssl(const std::string& folder, const std::string& arguments)
{
    const std::string log = folder + "/openssl.log";
    if (std::system(("cd '" + folder + "' && openssl " + arguments + " >'" + log + "' 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl " + arguments + " failed: " + ReadTextFile(log));
}

class TTestCertificates {
public:
    TTestCertificates()
    {
        RunOpenssl(Dir(), "req -x509 " + kNewKey + " -keyout ca.key -out ca.crt -days 30 -subj /CN=Test-CA");
        Issue("good", "DNS:localhost,IP:127.0.0.1", "30");
        Issue("nameonly", "DNS:localhost", "30");
        Issue("othername", "DNS:other.example", "30");
        // A negative lifetime ends the validity a day before it begins: expired on issue.
        Issue("expired", "DNS:localhost,IP:127.0.0.1", "-1");
        RunOpenssl(Dir(), "req -x509 " + kNewKey +
                              " -keyout selfsigned.key -out selfsigned.crt -days 30 "
                              "-subj /CN=localhost -addext subjectAltName=DNS:localhost");
    }
    const std::string& Dir() const { return dir_.Path(); }
    std::string CAFile() const { return dir_.File("ca.crt"); }
    std::string Cert(const std::string& name) const { return dir_.File(name + ".crt"); }
    std::string Key(const std::string& name) const { return dir_.File(name + ".key"); }

private:
    inline static const std::string kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
    void Issue(const std::string& name, const std::string& altNames, const std::string& days)
    {
        WriteTextFile(dir_.File(name + ".ext"), "subjectAltName=" + altNames + "\n");
        RunOpenssl(Dir(), "req " + kNewKey + " -keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name);
        RunOpenssl(Dir(), "x509 -req -in " + name + ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -out " + name +
                              ".crt -days " + days + " -extfile " + name + ".ext");
    }
    TTempDir dir_;
};

struct TTlsPeers {
    TTestCertificates certificates;
    TTempDir documents;
    std::string document;
    std::unique_ptr<TRealPeer> good, nameOnly, otherName, expired, selfSigned, plain;

    TTlsPeers()
    {
        // Enough lines to span many TLS records and several receive buffers.
        for (int i = 0; document.size() < 300000; ++i) document += "line " + std::to_string(i) + " of the text\n";
        WriteTextFile(documents.File("doc.txt"), document);
        WriteTextFile(documents.File("small.txt"), "small document\n");
        // The substitution filter drops the length, so nginx sends the file in chunks; 444 closes at once.
        const std::string config =
            "    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "    location /chunked/ { alias " +
            documents.Path() +
            "/; sub_filter_types *; sub_filter 'never-in-the-text' ''; }\n"
            "    location = /drop { return 444; }\n"
            "    location = /moved { return 301 /small.txt; }\n"
            "    location = /set-cookie { add_header Set-Cookie \"token=secret; path=/; secure\"; return 200 "
            "\"set\\n\"; }\n"
            "    location = /cookie { return 200 \"[$http_cookie]\\n\"; }\n";
        const auto tls = [&](const std::string& name) {
            return TRealPeer::NginxTls(documents.Path(), certificates.Cert(name), certificates.Key(name), config);
        };
        good = tls("good");
        nameOnly = tls("nameonly");
        otherName = tls("othername");
        expired = tls("expired");
        selfSigned = tls("selfsigned");
        plain = TRealPeer::Nginx(documents.Path(), config);
    }
};

// Started by the first test that asks, stopped at the program's end.
inline TTlsPeers& Peers()
{
    static TTlsPeers peers;
    return peers;
}

// The openssl tool's TLS test server, demanding a client certificate; stopped by its process id.
class TClientCertificateServer {
public:
    TClientCertificateServer(const std::string& certFile, const std::string& keyFile)
    {
        port_ = testsupport::FreeLoopbackPort();
        std::vector<std::string> args = {
            "openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port_), "-cert", certFile, "-key",
            keyFile,   "-Verify",  "1",      "-www"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // the server dies with a killed test
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execvp("openssl", argv.data());
            ::_exit(127);
        }
        if (pid_ > 0) ::setpgid(pid_, pid_); // also here, so that Stop never races the child's own call
        // The server binds after start-up work of its own; connect until it answers.
        for (int attempt = 0; pid_ > 0 && attempt < 300; ++attempt) {
            const int fd = testsupport::TryConnectLoopback(port_);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Stop();
        throw std::runtime_error("openssl s_server did not start");
    }
    ~TClientCertificateServer() { Stop(); }
    TClientCertificateServer(const TClientCertificateServer&) = delete;
    TClientCertificateServer& operator=(const TClientCertificateServer&) = delete;
    int Port() const { return port_; }

private:
    void Stop()
    {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace tls_test
