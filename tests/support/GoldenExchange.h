#pragma once

// Golden exchanges: a network case as a data file under tests/data plus one table row.
//
// A file lists what the client must send and what the server answers, in order, one piece per line:
//   # a comment
//   > bytes the client sends (the exact request the test expects)
//   < bytes the server sends
//   ! close | reset | shutdown | pause <ms> | read-to-end    (what the server does next)
// One blank after the marker is a separator; the rest of the line is the bytes, with the escapes \r \n \t
// \\ \0 and \xHH (so a line "< HTTP/1.1 200 OK\r\n" sends exactly that, and "> \x05\x01\x00" three bytes).
// Neighbouring lines of one direction join into one piece; line ends in the file are never bytes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ScriptedServer.h"

namespace testsupport {

// The path of a file under tests/data.
std::string TestDataPath(const std::string& relative);

class TGoldenExchange {
public:
    struct TStep {
        enum class TKind { Client, Server, Close, Reset, Shutdown, Pause, ReadToEnd };
        TKind kind;
        std::string bytes; // Client and Server
        int pauseMs = 0;   // Pause
    };

    // Reads tests/data/<relative>; throws std::runtime_error when it is missing or malformed.
    static TGoldenExchange Load(const std::string& relative);
    static TGoldenExchange Parse(std::string_view text);

    const std::vector<TStep>& Steps() const { return steps_; }
    // Everything the client must send, joined.
    std::string Request() const;
    // Everything the server sends, joined.
    std::string Reply() const;
    // How the server reads a client piece: by its length, or as one HTTP request (for a client whose
    // bytes hold what is known only once the server listens, such as its port).
    enum class TClientRead { ByLength, AsHttpRequest };
    struct TConnections {
        std::vector<TConnectionScript> scripts;
        std::vector<std::string> requests; // what the client must send on each connection
        std::size_t clientPieces = 0;
        // requests with "$PORT" made the listening server's port, to compare with ReceivedAll().
        std::vector<std::string> RequestsOn(int port) const;
    };
    // The server's side, one script per connection ("! close" and "! reset" end one, and what follows
    // belongs to the next): reads each client piece, sends each server piece (in pieces of pieceSize with
    // pauseMs after each, when given), then the directives. Compare Received(i) with requests[i] afterwards.
    TConnections Connections(TClientRead read, std::size_t pieceSize = 0, int pauseMs = 0) const;
    // The server's side of an exchange on one connection, each client piece read by its length. Compare
    // Received(0) with Request() afterwards.
    TConnectionScript Script(std::size_t pieceSize = 0, int pauseMs = 0) const;

private:
    std::vector<TStep> steps_;
};

// Decodes the escapes of one line; throws std::runtime_error on a malformed one.
std::string DecodeEscapes(std::string_view text);

} // namespace testsupport
