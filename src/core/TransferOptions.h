#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace velda {

// Whether a file server is spoken to over TLS (explicit AUTH TLS, control and data connections).
enum class FtpTlsMode { Off, Prefer, Require };

// The encryption of each file server ("host:port"), shared by every transfer client of a run. Once a
// server showed its public key over TLS, that key is pinned: a different one is refused, and so is a
// connection that no longer offers TLS (a pinned server under "prefer" is not allowed to fall back to
// plain text). Thread-safe: transfers on worker threads read it and record first keys in it.
class FtpTlsTable final {
public:
    struct Server {
        FtpTlsMode mode = FtpTlsMode::Off;
        QString pin; // "sha256//" + the base64 SHA-256 of the public key, as libcurl takes it
    };

    // A server not named reads as Off.
    Server find(const QString& server) const {
        const std::lock_guard lock(m_mutex);
        const auto it = m_servers.find(server);
        return it == m_servers.end() ? Server{} : it->second;
    }
    void set(const QString& server, const Server& settings) {
        const std::lock_guard lock(m_mutex);
        m_servers[server] = settings;
    }
    void clear() {
        const std::lock_guard lock(m_mutex);
        m_servers.clear();
    }
    // A key shown by a server that has none pinned yet: pinned here and handed to onFirstKey. Returns
    // false (and changes nothing) when a key was pinned meanwhile.
    bool learn(const QString& server, const QString& pin) {
        {
            const std::lock_guard lock(m_mutex);
            Server& s = m_servers[server];
            if (!s.pin.isEmpty())
                return false;
            s.pin = pin;
        }
        if (onFirstKey)
            onFirstKey(server, pin);
        return true;
    }

    // Keeps a first key where the next run finds it; called on the thread of the transfer.
    std::function<void(const QString& server, const QString& pin)> onFirstKey;

private:
    mutable std::mutex m_mutex;
    std::map<QString, Server> m_servers;
};

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
    // Encryption by server; none: every server plain.
    std::shared_ptr<FtpTlsTable> tls;
};

} // namespace velda
