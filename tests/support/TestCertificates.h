#pragma once

// Certificates of the tests' own, made with the openssl tool in a temporary folder: a certificate authority
// and what it issued (good: for localhost by name and address; nameonly: by name only; othername: for another
// name; expired), and a self-signed one for localhost. Keys are P-256, in PEM files beside their certificates.

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tests/support/TempDir.h"

namespace testsupport {

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
        Issue("good", "DNS:localhost,IP:127.0.0.1,IP:::1", "30");
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

} // namespace testsupport
