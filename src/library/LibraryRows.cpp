#include "library/LibraryRows.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "store/Database.h"
#include "store/ManyRows.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <algorithm>

namespace velda {

namespace rows {

const QString kOut = QStringLiteral("出库");

// The number of the code's last committed check-in: its log row's 序号, 0 when there is none. It
// tells one version of a drawing from the next even when both have the same stored name.
qint64 lastCheckIn(Database& db, const QString& code) {
    return db.scalar(QStringLiteral("select max(序号) from PDM日志 where 代号=? and 方式=?"), {code, LogWord::CheckIn})
        .toLongLong();
}

// Serialises the commands on one code (and, for a check-in, on one stored name) across clients. The
// local file admits one writer at a time anyway; the server takes a lock for the transaction's life.
void lockKey(Database& db, int space, const QString& key) {
    if (db.dialect() == Dialect::PostgreSQL)
        db.exec(QStringLiteral("select pg_advisory_xact_lock(?, hashtext(?))"), {space, key});
}
void lockCode(Database& db, const QString& code) { lockKey(db, 7301, code); }
void lockStoredName(Database& db, const QString& volume, const QString& name) {
    lockKey(db, 7302, volume + QLatin1Char('/') + name);
}

QHash<QString, qint64> lastCheckIns(Database& db, const QStringList& codes) {
    QHash<QString, qint64> found;
    SelectSliced(db, QStringLiteral("select 代号,max(序号) from PDM日志 where 方式=? and 代号 in (%1) group by 代号"),
                 {LogWord::CheckIn}, codes,
                 [&](const QSqlQuery& q) { found.insert(q.value(0).toString(), q.value(1).toLongLong()); });
    return found;
}

namespace {
// Takes (or gives back) advisory locks in the one order every client uses: codes, then stored names,
// each sorted. function: pg_advisory_xact_lock, pg_advisory_lock or pg_advisory_unlock.
void advisoryAll(Database& db, const QString& function, const QStringList& codes, const QString& volume,
                 const QStringList& names) {
    if (db.dialect() != Dialect::PostgreSQL || (codes.isEmpty() && names.isEmpty()))
        return;
    QStringList sortedCodes = codes;
    sortedCodes.sort();
    QStringList sortedNames;
    for (const QString& n : names)
        sortedNames << volume + QLatin1Char('/') + n;
    sortedNames.sort();
    // The keys in their order, one lock at a time: "offset 0" keeps the sort below the locking.
    const int size = SliceSize(db);
    for (qsizetype at = 0; at < sortedCodes.size() + sortedNames.size(); at += size) {
        QString rows;
        QVariantList values;
        for (qsizetype k = at; k < std::min(at + size, sortedCodes.size() + sortedNames.size()); ++k) {
            const bool isCode = k < sortedCodes.size();
            rows += (rows.isEmpty() ? QString() : QStringLiteral(",")) +
                    QStringLiteral("(%1,?::text,%2)").arg(isCode ? 7301 : 7302).arg(k);
            values << (isCode ? sortedCodes[k] : sortedNames[k - sortedCodes.size()]);
        }
        db.exec(QStringLiteral("select count(%2(s, hashtext(k))) from (select s, k from (values %1) "
                               "t(s, k, o) order by o offset 0) u")
                    .arg(rows, function),
                values);
    }
}
} // namespace

void lockAll(Database& db, const QStringList& codes, const QString& volume, const QStringList& names) {
    advisoryAll(db, QStringLiteral("pg_advisory_xact_lock"), codes, volume, names);
}

namespace {
// The keys the local file locks, sorted the way advisoryAll() orders the server's.
QStringList LocalKeys(QStringList codes, const QString& volume, const QStringList& names) {
    codes.sort();
    QStringList keys;
    for (const QString& c : codes)
        keys << QStringLiteral("7301/") + c;
    QStringList named;
    for (const QString& n : names)
        named << QStringLiteral("7302/") + volume + QLatin1Char('/') + n;
    named.sort();
    return keys + named;
}
} // namespace

CodeLocks::CodeLocks(Database& db, QStringList codes, const QString& volume, const QStringList& names)
    : m_db(db), m_codes(std::move(codes)), m_volume(volume), m_names(names) {
    m_codes.removeDuplicates();
    m_names.removeDuplicates();
    if (m_db.dialect() == Dialect::SQLite)
        m_local = std::make_unique<LocalKeyLocks>(m_db, LocalKeys(m_codes, m_volume, m_names));
    else
        advisoryAll(m_db, QStringLiteral("pg_advisory_lock"), m_codes, m_volume, m_names);
}

CodeLocks::~CodeLocks() {
    if (m_local)
        return; // given back with it
    try {
        advisoryAll(m_db, QStringLiteral("pg_advisory_unlock"), m_codes, m_volume, m_names);
    } catch (const Error&) {
        // A connection that is gone took its locks with it.
    }
}

namespace {
bool KeyFree(Database& db, int space, const QString& key) {
    if (db.dialect() == Dialect::SQLite)
        return LocalKeyLocks::free(db, QString::number(space) + QLatin1Char('/') + key);
    if (!db.scalar(QStringLiteral("select pg_try_advisory_lock(?, hashtext(?))"), {space, key}).toBool())
        return false;
    db.exec(QStringLiteral("select pg_advisory_unlock(?, hashtext(?))"), {space, key});
    return true;
}
} // namespace

bool CodeLocks::codeFree(Database& db, const QString& code) { return KeyFree(db, 7301, code); }
bool CodeLocks::nameFree(Database& db, const QString& volume, const QString& name) {
    return KeyFree(db, 7302, volume + QLatin1Char('/') + name);
}

// A place beside the stored name that no stored drawing ever has (stored names end in .dwg), unique
// so that two clients uploading the same code never write into each other's file.
QString freshStagedName(const QString& remotePath) {
    return remotePath + QStringLiteral(".incoming-") + QString::number(QRandomGenerator::system()->generate64(), 36);
}

// The staged file of the last committed check-in, moved over the stored name. Renaming onto an
// existing name replaces it on most servers; where the server refuses, the old file steps aside first.
TransferResult promoteOn(FtpClient& c, const QString& url, const QString& finalPath, qint64 logNumber,
                         const TransferResult* stagedFound) {
    const QString staged = StagedName(finalPath, logNumber);
    const TransferResult there = stagedFound ? *stagedFound : c.IsFile(url, staged);
    if (!there)
        return there;
    if (there.kind != RemoteKind::File) {
        // Nothing staged: already in place, unless the stored name is empty too, and then the
        // committed version is lost; a row naming it must not pass for checked in.
        TransferResult placed = c.Exists(url, finalPath);
        if (placed && placed.kind == RemoteKind::Absent) {
            placed.ok = false;
            placed.failure = TransferFailure::RemoteMissing;
            placed.message = LibraryText::CommittedFileLost(finalPath, logNumber);
        }
        return placed;
    }
    TransferResult into = c.Rename(url, staged, finalPath);
    if (into)
        return into;
    if (into.failure == TransferFailure::RemoteMissing) {
        // Gone since the probe: another client's recovery moved it into place meanwhile.
        TransferResult moved;
        moved.ok = true;
        return moved;
    }
    const QString aside = finalPath + QStringLiteral(".previous-") + QString::number(logNumber);
    if (!c.Rename(url, finalPath, aside))
        return into;
    into = c.Rename(url, staged, finalPath);
    if (!into) {
        c.Rename(url, aside, finalPath);
        return into;
    }
    c.Delete(url, aside);
    return into;
}

// The same as one transfer on the runner's client.
TransferResult promote(const TransferRunner& run, const QString& url, const QString& finalPath, qint64 logNumber) {
    return run([&](FtpClient& c, const TransferProgress&) { return promoteOn(c, url, finalPath, logNumber); });
}

} // namespace rows

} // namespace velda
