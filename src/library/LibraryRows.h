#pragma once

#include "library/LibraryLocks.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferCommand.h"
#include "transfer/TransferRunner.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace velda {

class Database;
class Session;

// What the single-drawing commands and the batches share beside the library store (LibraryStore) and
// the log (core/ActivityLog): the rows' shapes, the check-in numbers, the locks and the staged files.
namespace rows {

// The drawing's library row with the server of the volume it lies on.
struct StoredDrawing {
    bool exists = false;
    bool volumeKnown = false;
    QString read, write, del, change, state, fileName, volume, server;
    QString remotePath() const { return RemotePath(volume, fileName); }
    bool sameFile(const StoredDrawing& o) const {
        return exists == o.exists && fileName == o.fileName && volume == o.volume && server == o.server;
    }
};

struct Holder {
    bool exists = false;
    QString account, when;
    // The number of the holder's last check-out log row, 0 when the log has none (a hold written by
    // another program).
    qint64 checkOut = 0;
};

extern const QString kOut;

// The number of the code's last committed check-in: its log row's 序号, 0 when there is none.
qint64 lastCheckIn(Database& db, const QString& code);
void lockCode(Database& db, const QString& code);
void lockStoredName(Database& db, const QString& volume, const QString& name);
// lastCheckIn() for many codes at once, a round trip a slice instead of one each; a code without a
// check-in is missing from the answer. Any number of codes.
QHash<QString, qint64> lastCheckIns(Database& db, const QStringList& codes);
// lockCode() for every code and lockStoredName() for every name, in one round trip and in one fixed
// order (codes before names, each sorted), so two batches never wait for each other in a circle.
void lockAll(Database& db, const QStringList& codes, const QString& volume, const QStringList& names);

// The locks of a check-in's codes and stored names, held past its transaction until its files are in
// place. A move after the commit runs unlocked otherwise: another client's check-in of the same code
// could commit and move its newer file in between, and our late move would put the older version over
// it, losing the newer. The names keep the volume's care away from a file about to be moved into place
// (a file no row names yet may be one a commit is about to name), and a deletion holds them until the
// file it removes is gone. Taken before the transaction, in the order lockAll() takes them, so the two
// never wait on each other crosswise. The server's are session locks; the local file, which other
// programs on the machine may open too, takes locked files beside it (see LocalKeyLocks).
class CodeLocks final {
public:
    CodeLocks(Database& db, QStringList codes, const QString& volume = {}, const QStringList& names = {});
    ~CodeLocks();
    CodeLocks(const CodeLocks&) = delete;
    CodeLocks& operator=(const CodeLocks&) = delete;

    // Whether nobody holds the code's lock, or the stored name's (volume given), at this moment.
    static bool codeFree(Database& db, const QString& code);
    static bool nameFree(Database& db, const QString& volume, const QString& name);

private:
    Database& m_db;
    QStringList m_codes; // sorted
    QString m_volume;
    QStringList m_names;
    std::unique_ptr<LocalKeyLocks> m_local;
};
// A name for a check-in's staged file that is this client's own, before its log row numbers it.
QString freshStagedName(const QString& remotePath);
// Moves the staged file of the check-in numbered logNumber over the stored name, when it is there.
// stagedFound: what the caller's Exists on that staged file answered a moment ago, not asked again.
TransferResult promoteOn(FtpClient& client, const QString& url, const QString& finalPath, qint64 logNumber,
                         const TransferResult* stagedFound = nullptr);
// The same as one transfer on the runner's client.
TransferResult promote(const TransferRunner& run, const QString& url, const QString& finalPath, qint64 logNumber);

} // namespace rows
} // namespace velda
