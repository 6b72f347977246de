#pragma once

#include "transfer/FtpClient.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace velda {

class Database;

// Where the versions a check-in or a deletion replaced lie: one folder per volume, beside the stored
// files, every kept file named by its version's number and its stored name, "<number>-<stored name>".
// The number is that of the check-in's log row, unique across the library, so a file tells its row.
inline const QString kHistoryFolderName = QStringLiteral("历史版本");
QString HistoryFolder(const QString& volume);
QString HistoryPath(const QString& volume, qint64 number, const QString& storedName);
// The number a history file's name starts with; 0 when the name is not one of ours.
qint64 HistoryFileNumber(const QString& fileName);

// The longest comment a check-in may carry, in characters.
inline constexpr int kMaxVersionComment = 2000;

namespace VersionText {
QString CommentTooLong(qsizetype length);
QString HistoryNotWritable(const QString& volume, const QString& reason);
QString VersionFileMissing(const QString& code, qint64 number, const QString& volume);
QString NoSuchVersion(const QString& code, qint64 number);
QString RestoredFrom(qint64 number);
} // namespace VersionText

// The comment as stored: NUL and other control characters but line breaks and tabs dropped; an empty
// optional when it is longer than kMaxVersionComment.
std::optional<QString> CleanComment(const QString& comment);

// One row of 图纸版本.
struct VersionRow {
    QString code;
    qint64 number = 0;
    QString user, time;
    qint64 size = -1; // -1: not known (a version stored before the library kept versions)
    QString sha256, volume, storedName, comment;
    QString deletedBy, deletedAt; // empty unless the drawing is deleted
    QString server;               // the volume's server, when read with it
    QString historyPath() const { return HistoryPath(volume, number, storedName); }
    QVariantList values() const;
};

// A deleted drawing as the administrator's list shows it.
struct DeletedDrawing {
    QString code, deletedBy, deletedAt;
    qint64 last = 0; // its newest version
    int versions = 0;
};

// Every statement on 图纸版本. Throws velda::Error as Database does.
class VersionStore final {
public:
    explicit VersionStore(Database& db) : m_db(db) {}

    void insert(const VersionRow& row);
    void insertMany(const QList<VersionRow>& rows);
    // Rows for the drawings' files as they are now, each numbered by the check-in that stored it, where
    // no row has that number yet: what a client that keeps no versions left.
    void describeCurrent(const QHash<QString, qint64>& numberOf);
    // Newest first, with the volume's server.
    std::vector<VersionRow> ofCode(const QString& code) const;
    std::optional<VersionRow> one(const QString& code, qint64 number) const;
    // For each code, the newest version before its last check-in (its log number given), when there is one.
    QHash<QString, VersionRow> previousOf(const QStringList& codes) const;
    // The newest version of the code before the number.
    std::optional<VersionRow> before(const QString& code, qint64 number) const;
    void markDeleted(const QString& code, const QString& user, const QString& time);
    // A check-in brings a deleted drawing's versions back with it.
    void revive(const QStringList& codes);
    std::vector<DeletedDrawing> deleted() const;
    // The versions on the volume, newest first.
    std::vector<VersionRow> onVolume(const QString& volume) const;
    // Whether a version row of another version names that stored file: a deleted drawing's file may
    // wait there for its move into the history folder.
    bool namesStoredFile(const QString& volume, const QString& storedName) const;
    void remove(const QString& code, qint64 number);

private:
    Database& m_db;
};

// The versions's file moved into the history folder; a file already gone from its stored name counts
// as moved (an earlier run moved it, or it was lost before). recovering: finishing what a cut-off
// command left, which leaves a file already kept as it is.
TransferResult KeepInHistory(FtpClient& c, const QString& url, const QString& volume, const QString& storedName,
                             qint64 number, bool recovering = false);
// A cut-off check-in numbered `number` finished: when its staged file is still there, the previous
// version kept first, then the staged file moved over the stored name (rows::promoteOn).
TransferResult PromoteKeeping(FtpClient& c, const QString& url, const QString& finalPath, qint64 number,
                              const std::optional<VersionRow>& previous, const QString& previousUrl);
// Whether the account may create and remove entries in the volume's history folder, which it creates
// when missing: asked before anything changes, since the move into it comes after the commit.
TransferResult ProbeHistoryFolder(FtpClient& c, const QString& url, const QString& volume);

} // namespace velda
