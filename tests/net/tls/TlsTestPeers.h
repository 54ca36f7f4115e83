#pragma once

// What the TLS tests need besides the real peers of the shared test support: a certificate authority of
// their own with the server certificates it issues (good, for another name, expired), a self-signed one, and
// a TLS server that demands a client certificate (the openssl tool's test server).
//
// Certificates are made with the openssl command-line tool into a temporary folder; a missing tool throws,
// which fails the test.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"

namespace tls_test {

// Runs the openssl tool with the given arguments in folder; throws with the tool's output when it fails.
inline void RunOpenssl(const std::string& folder, const std::string& arguments) {
    const std::string log = folder + "/openssl.log";
    const std::string command = "cd '" + folder + "' && openssl " + arguments + " >'" + log + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("openssl " + arguments + " failed: " + ReadTextFile(log));
    }
}

class TTestCertificates {
public:
    TTestCertificates() {
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
        RunOpenssl(Dir(), "req -x509 " + key + " -keyout ca.key -out ca.crt -days 30 -subj /CN=Scrivlet-Test-CA");
        Issue("good", "/CN=localhost", "DNS:localhost,IP:127.0.0.1", "30");
        Issue("nameonly", "/CN=localhost", "DNS:localhost", "30");
        Issue("othername", "/CN=other.example", "DNS:other.example", "30");
        // A negative lifetime ends the validity a day before it begins: expired on issue.
        Issue("expired", "/CN=localhost", "DNS:localhost,IP:127.0.0.1", "-1");
        RunOpenssl(Dir(), "req -x509 " + key + " -keyout selfsigned.key -out selfsigned.crt -days 30 "
                          "-subj /CN=localhost -addext subjectAltName=DNS:localhost");
    }

    const std::string& Dir() const { return dir_.Path(); }
    std::string CAFile() const { return dir_.File("ca.crt"); }
    std::string Cert(const std::string& name) const { return dir_.File(name + ".crt"); }
    std::string Key(const std::string& name) const { return dir_.File(name + ".key"); }

private:
    void Issue(const std::string& name, const std::string& subject, const std::string& altNames,
               const std::string& days) {
        WriteTextFile(dir_.File(name + ".ext"), "subjectAltName=" + altNames + "\n");
        RunOpenssl(Dir(), "req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + name +
                              ".key -out " + name + ".csr -subj " + subject);
        RunOpenssl(Dir(), "x509 -req -in " + name + ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -out " + name +
                              ".crt -days " + days + " -extfile " + name + ".ext");
    }

    TTempDir dir_;
};

// The openssl tool's TLS test server, demanding a client certificate; stopped by its process id.
class TClientCertificateServer {
public:
    TClientCertificateServer(const std::string& certFile, const std::string& keyFile) {
        port_ = testsupport::FreeLoopbackPort();
        const std::string port = "127.0.0.1:" + std::to_string(port_);
        std::vector<std::string> args = {"openssl", "s_server", "-quiet", "-accept", port,
                                         "-cert",   certFile,   "-key",   keyFile, "-Verify", "1", "-www"};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the server dies with a killed test
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execvp("openssl", argv.data());
            ::_exit(127);
        }
        if (pid_ < 0) throw std::runtime_error("fork failed");
        // The server binds after start-up work of its own; connect until it answers.
        for (int attempt = 0; attempt < 300; ++attempt) {
            if (Accepting()) return;
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
    bool Accepting() const {
        const int fd = testsupport::TryConnectLoopback(port_);
        if (fd >= 0) ::close(fd);
        return fd >= 0;
    }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace tls_test
