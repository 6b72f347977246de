#pragma once

#include <chrono>

namespace velda {

// How patient the file-transfer clients are; the session carries one set, tests shorten it.
struct FtpOptions {
    std::chrono::milliseconds connectTimeout{10'000};
    // A transfer slower than stallBytesPerSecond for stallTime, or a server that leaves a command
    // unanswered that long, is given up.
    std::chrono::seconds stallTime{30};
    long stallBytesPerSecond = 1;
    // A batch moves this many files to or from one server at once, each over a connection of its own.
    int connectionsPerServer = 4;
    bool trace = false; // write the FTP dialogue to stderr, password masked
};

} // namespace velda
