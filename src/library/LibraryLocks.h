#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace velda {

class Database;

// Log numbers a batch reserved for check-ins it has not committed yet. Its files lie on the volume
// under staged names carrying these numbers before any row names them, so nothing but this marks
// them as wanted: the clean-up asks it before it removes a staged file, however old the file looks
// (a slow group, or a server whose clock runs an hour ahead).
//
// The reservation lives exactly as long as this object, and as long as the client: a client that
// dies gives its numbers up with it. On the server it is a session lock per number (the one-number
// key space, apart from the code and name locks); on the local file, which other programs on the
// same machine may share, a locked file beside the database that lists the numbers. Taken before
// the first upload, so a staged file is never seen without its reservation while the batch lives.
class ReservedNumbers final {
public:
    ReservedNumbers(Database& db, std::vector<qint64> numbers);
    ~ReservedNumbers();
    ReservedNumbers(const ReservedNumbers&) = delete;
    ReservedNumbers& operator=(const ReservedNumbers&) = delete;

    // Whether a live batch, of this client or another, still holds the number.
    static bool held(Database& db, qint64 number);

private:
    Database& m_db;
    std::vector<qint64> m_numbers;
    int m_fd = -1;
    QString m_file;
};

// Locks on keys (a code, a volume's stored name) for the local file, which has no lock of its own
// that outlives a transaction: one locked file per key beside the database, shared by every program
// on the machine that opens the same file. Taken in the order given and given back together.
class LocalKeyLocks final {
public:
    LocalKeyLocks(const Database& db, const QStringList& keys);
    ~LocalKeyLocks();
    LocalKeyLocks(const LocalKeyLocks&) = delete;
    LocalKeyLocks& operator=(const LocalKeyLocks&) = delete;

    // Whether nobody, this session included, holds the key now.
    static bool free(const Database& db, const QString& key);

private:
    struct Held {
        int fd;
        QString path;
    };
    std::vector<Held> m_held;
};

} // namespace velda
