#pragma once

// The servers the TLS tests talk to, started once per test program: nginx over TLS with each of the tests'
// own certificates (good; for localhost by name only; for another name; expired; self-signed) and in plain
// http. All serve the same folder: small.txt, doc.txt (300 KB), the same file in chunks under /chunked/, /drop
// (closed without a response or close_notify), /moved (a redirect to small.txt), /relative and /relative-name
// (the same as a relative reference), /set-cookie (a secure cookie)
// and /cookie (echoes it).

#include <memory>
#include <string>

#include "tests/support/RealPeers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

namespace tls_test {

using testsupport::TRealPeer;

struct TTlsPeers {
    testsupport::TTestCertificates certificates;
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
            "    location = /relative { absolute_redirect off; return 302 /small.txt; }\n"
            "    location = /relative-name { absolute_redirect off; return 302 small.txt; }\n"
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

} // namespace tls_test
