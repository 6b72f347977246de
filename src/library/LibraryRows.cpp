#include "library/LibraryRows.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "store/Database.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <algorithm>

namespace velda {

namespace rows {

const QString kOut = QStringLiteral("出库");

StoredDrawing readDrawing(Database& db, const QString& code) {
    StoredDrawing d;
    // One round trip: the row and its volume's server together.
    QSqlQuery q =
        db.exec(QStringLiteral("select d.读,d.写,d.删,d.改,d.状态,d.入库文件名称,d.目录名称,v.服务器IP,"
                               "v.目录名称 from PDM入库图纸信息 d left join PDM存储目录 v on v.目录名称=d.目录名称 "
                               "where d.代号=?"),
                {code});
    if (!q.next())
        return d;
    d.exists = true;
    d.read = q.value(0).toString();
    d.write = q.value(1).toString();
    d.del = q.value(2).toString();
    d.change = q.value(3).toString();
    d.state = q.value(4).toString();
    d.fileName = q.value(5).toString();
    d.volume = q.value(6).toString();
    d.volumeKnown = !q.value(8).isNull();
    if (d.volumeKnown)
        d.server = q.value(7).toString();
    return d;
}

Holder readHolder(Database& db, const QString& code) {
    Holder h;
    QSqlQuery q = db.exec(QStringLiteral("select 出库帐号,出库时间 from PDM出库图纸信息 where 代号=?"), {code});
    if (q.next()) {
        h.exists = true;
        h.account = q.value(0).toString();
        h.when = q.value(1).toString();
    }
    return h;
}

// The number of the code's last committed check-in: its log row's 序号, 0 when there is none. It
// tells one version of a drawing from the next even when both have the same stored name.
qint64 lastCheckIn(Database& db, const QString& code) {
    return db.scalar(QStringLiteral("select max(序号) from PDM日志 where 代号=? and 方式=?"), {code, LogWord::CheckIn})
        .toLongLong();
}

// Another code whose row names the same file on the same volume, or an empty text.
QString otherCodeOfFile(Database& db, const QString& code, const QString& volume, const QString& storedName) {
    QSqlQuery q =
        db.exec(QStringLiteral("select 代号 from PDM入库图纸信息 where 目录名称=? and 入库文件名称=? and 代号<>?"),
                {volume, storedName, code});
    return q.next() ? q.value(0).toString() : QString();
}

// The log row of a library command, written for the user the command started with.
void appendLog(Session& session, Database& db, const QString& user, const QString& code, const QString& word) {
    db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
            {user, code, LogTimeText(session.clock().now()), word});
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

namespace {
// Statements over many codes take them in slices, far below either database's limit on bound values.
// The local file's are smaller: Qt hands SQLite every mark as a named one, and SQLite finds each name
// by a search through those before it, so a statement costs the square of its marks; the server's
// cost is its round trips (three a statement through Qt), so its slices are larger.
int sliceOf(const Database& db) { return db.dialect() == Dialect::SQLite ? 100 : 500; }

QString marks(qsizetype n) {
    QString s;
    s.reserve(n * 2);
    for (qsizetype i = 0; i < n; ++i)
        s += i ? QStringLiteral(",?") : QStringLiteral("?");
    return s;
}

// Runs the statement for each slice of keys; sql holds %1 where the slice's marks go, and the keys
// follow the values given before them.
template <typename Row>
void sliced(Database& db, const QString& sql, const QVariantList& before, const QStringList& keys, Row&& row) {
    const int size = sliceOf(db);
    for (qsizetype at = 0; at < keys.size(); at += size) {
        const QStringList slice = keys.mid(at, size);
        QVariantList values = before;
        for (const QString& k : slice)
            values << k;
        QSqlQuery q = db.exec(sql.arg(marks(slice.size())), values);
        while (q.next())
            row(q);
    }
}
} // namespace

QHash<QString, StoredDrawing> readDrawings(Database& db, const QStringList& codes) {
    QHash<QString, StoredDrawing> found;
    sliced(
        db,
        QStringLiteral("select d.代号,d.读,d.写,d.删,d.改,d.状态,d.入库文件名称,d.目录名称,v.服务器IP,v.目录名称 "
                       "from PDM入库图纸信息 d left join PDM存储目录 v on v.目录名称=d.目录名称 where d.代号 in (%1)"),
        {}, codes, [&](const QSqlQuery& q) {
            StoredDrawing d;
            d.exists = true;
            d.read = q.value(1).toString();
            d.write = q.value(2).toString();
            d.del = q.value(3).toString();
            d.change = q.value(4).toString();
            d.state = q.value(5).toString();
            d.fileName = q.value(6).toString();
            d.volume = q.value(7).toString();
            d.volumeKnown = !q.value(9).isNull();
            if (d.volumeKnown)
                d.server = q.value(8).toString();
            found.insert(q.value(0).toString(), d);
        });
    return found;
}

QHash<QString, Holder> readHolders(Database& db, const QStringList& codes) {
    QHash<QString, Holder> found;
    sliced(db, QStringLiteral("select 代号,出库帐号,出库时间 from PDM出库图纸信息 where 代号 in (%1)"), {}, codes,
           [&](const QSqlQuery& q) {
               found.insert(q.value(0).toString(), Holder{true, q.value(1).toString(), q.value(2).toString()});
           });
    return found;
}

QHash<QString, qint64> lastCheckIns(Database& db, const QStringList& codes) {
    QHash<QString, qint64> found;
    sliced(db, QStringLiteral("select 代号,max(序号) from PDM日志 where 方式=? and 代号 in (%1) group by 代号"),
           {LogWord::CheckIn}, codes,
           [&](const QSqlQuery& q) { found.insert(q.value(0).toString(), q.value(1).toLongLong()); });
    return found;
}

QHash<QString, QStringList> codesOfFiles(Database& db, const QString& volume, const QStringList& names) {
    QHash<QString, QStringList> found;
    sliced(db,
           QStringLiteral("select 入库文件名称,代号 from PDM入库图纸信息 where 目录名称=? and 入库文件名称 in (%1)"),
           {volume}, names, [&](const QSqlQuery& q) { found[q.value(0).toString()] << q.value(1).toString(); });
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
    const int size = sliceOf(db);
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

HeldCodeLocks::HeldCodeLocks(Database& db, QStringList codes, const QString& volume, const QStringList& names)
    : m_db(db), m_codes(std::move(codes)), m_volume(volume), m_names(names) {
    m_codes.removeDuplicates();
    m_names.removeDuplicates();
    if (m_db.dialect() == Dialect::SQLite)
        m_local = std::make_unique<LocalKeyLocks>(m_db, LocalKeys(m_codes, m_volume, m_names));
    else
        advisoryAll(m_db, QStringLiteral("pg_advisory_lock"), m_codes, m_volume, m_names);
}

HeldCodeLocks::~HeldCodeLocks() {
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

bool HeldCodeLocks::codeFree(Database& db, const QString& code) { return KeyFree(db, 7301, code); }
bool HeldCodeLocks::nameFree(Database& db, const QString& volume, const QString& name) {
    return KeyFree(db, 7302, volume + QLatin1Char('/') + name);
}

qint64 appendLogNumbered(Session& session, Database& db, const QString& user, const QString& code,
                         const QString& word) {
    QSqlQuery q =
        db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?) returning 序号"),
                {user, code, LogTimeText(session.clock().now()), word});
    if (!q.next())
        throw Error(QStringLiteral("日志记录没有返回序号"));
    return q.value(0).toLongLong();
}

namespace {
// The rows with what follows the values (a returning clause) and a function that reads each
// statement's answer. A server gets one "insert ... values (...),(...)" per slice of rows, each
// statement costing round trips. The local file gets one row's statement, prepared once and run
// for each row: it has no round trips, and parsing a statement of hundreds of values cost it more
// than writing the rows (its lookup of each value's mark grows with the square of their number).
template <typename Answer> void insertSliced(Database& db, const QString& table, const QStringList& columns,
                                             const QList<QVariantList>& rows, const QString& tail, Answer&& answer) {
    const QString one = QLatin1Char('(') + marks(columns.size()) + QLatin1Char(')');
    if (db.dialect() == Dialect::SQLite) {
        db.execEach(
            QStringLiteral("insert into %1 (%2) values %3%4").arg(table, columns.join(QLatin1Char(',')), one, tail),
            rows, answer);
        return;
    }
    const qsizetype perStatement = std::max<qsizetype>(1, 2000 / std::max<qsizetype>(1, columns.size()));
    for (qsizetype at = 0; at < rows.size(); at += perStatement) {
        const qsizetype count = std::min(perStatement, rows.size() - at);
        QStringList tuples;
        QVariantList values;
        for (qsizetype k = at; k < at + count; ++k) {
            tuples << one;
            values << rows[k];
        }
        QSqlQuery q = db.exec(QStringLiteral("insert into %1 (%2) values %3%4")
                                  .arg(table, columns.join(QLatin1Char(',')), tuples.join(QLatin1Char(',')), tail),
                              values);
        answer(q);
    }
}
} // namespace

void insertRows(Database& db, const QString& table, const QStringList& columns, const QList<QVariantList>& rows) {
    insertSliced(db, table, columns, rows, {}, [](QSqlQuery&) {});
}

QHash<QString, qint64> appendLogs(Session& session, Database& db, const QString& user, const QStringList& codes,
                                  const QString& word) {
    const QString when = LogTimeText(session.clock().now());
    QList<QVariantList> rows;
    for (const QString& code : codes)
        rows << QVariantList{user, code, when, word};
    QHash<QString, qint64> numbers;
    insertSliced(db, QStringLiteral("PDM日志"),
                 {QStringLiteral("ID"), QStringLiteral("代号"), QStringLiteral("时间"), QStringLiteral("方式")}, rows,
                 QStringLiteral(" returning 代号, 序号"), [&](QSqlQuery& q) {
                     while (q.next())
                         numbers.insert(q.value(0).toString(), q.value(1).toLongLong());
                 });
    return numbers;
}

std::vector<qint64> reserveLogNumbers(Database& db, int count) {
    std::vector<qint64> numbers;
    if (count <= 0)
        return numbers;
    if (db.dialect() == Dialect::PostgreSQL) {
        QSqlQuery q = db.exec(QStringLiteral("select nextval(pg_get_serial_sequence('PDM日志', '序号')) from "
                                             "generate_series(1, ?::integer)"),
                              {count});
        while (q.next())
            numbers.push_back(q.value(0).toLongLong());
    } else {
        // The counter behind the local file's automatic numbers, moved on past the numbers taken; the
        // file's own transaction makes the step atomic.
        Transaction tx(db, Transaction::Kind::Write);
        qint64 top = 0;
        {
            QSqlQuery q =
                db.exec(QStringLiteral("update sqlite_sequence set seq = seq + ? where name = ? returning seq"),
                        {count, QStringLiteral("PDM日志")});
            if (q.next())
                top = q.value(0).toLongLong();
        }
        if (top == 0) {
            top = db.scalar(QStringLiteral("select coalesce(max(序号), 0) from PDM日志")).toLongLong() + count;
            db.exec(QStringLiteral("insert into sqlite_sequence (name, seq) values (?, ?)"),
                    {QStringLiteral("PDM日志"), top});
        }
        tx.commit();
        for (qint64 k = top - count + 1; k <= top; ++k)
            numbers.push_back(k);
    }
    if (int(numbers.size()) != count)
        throw Error(QStringLiteral("无法预留日志序号"));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void appendLogs(Session& session, Database& db, const QString& user, const QStringList& codes,
                const std::vector<qint64>& numbers, const QString& word) {
    const QString when = LogTimeText(session.clock().now());
    QList<QVariantList> rows;
    for (qsizetype k = 0; k < codes.size(); ++k)
        rows << QVariantList{numbers[size_t(k)], user, codes[k], when, word};
    insertRows(db, QStringLiteral("PDM日志"),
               {QStringLiteral("序号"), QStringLiteral("ID"), QStringLiteral("代号"), QStringLiteral("时间"),
                QStringLiteral("方式")},
               rows);
}

// A place beside the stored name that no stored drawing ever has (stored names end in .dwg), unique
// so that two clients uploading the same code never write into each other's file.
QString freshStagedName(const QString& remotePath) {
    return remotePath + QStringLiteral(".incoming-") + QString::number(QRandomGenerator::system()->generate64(), 36);
}

// The staged file of the last committed check-in, moved over the stored name. Renaming onto an
// existing name replaces it on most servers; where the server refuses, the old file steps aside first.
TransferResult promoteOn(FtpClient& c, const QString& url, const QString& finalPath, qint64 logNumber) {
    const QString staged = StagedName(finalPath, logNumber);
    const TransferResult there = c.Exists(url, staged);
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
