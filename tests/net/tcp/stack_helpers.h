#pragma once

// Loopback helpers only the transport tests need, on top of tests/support/Loopback.h.

#include <unistd.h>

#include <string>

#include "tests/support/Loopback.h"

namespace stacktest {

// Two neighbouring ports (p, p + 1) that were both free a moment ago, found
// by asking the system for one and checking its neighbour; 0 when none
// turned up.
inline int FreePortPair()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int candidate = testsupport::TRawSocket().Port();
        if (candidate + 1 >= 65536) {
            continue;
        }
        const testsupport::TRawSocket low(candidate);
        const testsupport::TRawSocket high(candidate + 1);
        if (low.Bound() && high.Bound()) {
            return candidate;
        }
    }
    return 0;
}

inline std::string ReadAllFrom(int fd)
{
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace stacktest
