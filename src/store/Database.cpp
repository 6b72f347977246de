#include "store/Database.h"

#include "store/PgDriver.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>

#include <optional>
#include <utility>

namespace velda {

ConnectionSpec ConnectionSpec::localFile(const QString& path) {
    ConnectionSpec s;
    s.dialect = Dialect::SQLite;
    s.filePath = path;
    return s;
}

namespace {
struct Endpoint {
    QString host;
    int port = 5432;
};

// "host", "host:port" or "[v6host]:port"; a port that is no number leaves the text as the host.
Endpoint ParseEndpoint(const QString& address) {
    Endpoint e{address};
    QString& host = e.host;
    if (host.startsWith(QLatin1Char('['))) {
        const int close = host.indexOf(QLatin1Char(']'));
        if (close > 0) {
            const QString rest = host.mid(close + 1);
            host = host.mid(1, close - 1);
            if (rest.startsWith(QLatin1Char(':'))) {
                bool ok = false;
                const int p = rest.mid(1).toInt(&ok);
                if (ok)
                    e.port = p;
            }
        }
    } else if (host.count(QLatin1Char(':')) == 1) {
        const int colon = host.indexOf(QLatin1Char(':'));
        bool ok = false;
        const int p = host.mid(colon + 1).toInt(&ok);
        if (ok) {
            e.port = p;
            host = host.left(colon);
        }
    }
    return e;
}

QString EndpointText(const Endpoint& e) {
    const QString host = e.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + e.host + QLatin1Char(']') : e.host;
    return host + QLatin1Char(':') + QString::number(e.port);
}

// A primary and its standbys are one configured address, "host1:port1,host2:port2" (libpq's
// multi-host form); the connection settings keep that list, written out in full, as their host.
bool SeveralServers(const ConnectionSpec& spec) { return spec.host.contains(QLatin1Char(',')); }

QList<Endpoint> Endpoints(const ConnectionSpec& spec) {
    if (!SeveralServers(spec))
        return {Endpoint{spec.host, spec.port}};
    QList<Endpoint> all;
    for (const QString& part : spec.host.split(QLatin1Char(','), Qt::SkipEmptyParts))
        all << ParseEndpoint(part.trimmed());
    return all;
}
} // namespace

ConnectionSpec ConnectionSpec::server(const QString& address) {
    ConnectionSpec s;
    s.dialect = Dialect::PostgreSQL;
    QList<Endpoint> all;
    for (const QString& part : address.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!part.trimmed().isEmpty())
            all << ParseEndpoint(part.trimmed());
    if (all.size() < 2) {
        const Endpoint e = all.isEmpty() || !address.contains(QLatin1Char(',')) ? ParseEndpoint(address) : all.front();
        s.host = e.host;
        s.port = e.port;
        return s;
    }
    QStringList full;
    for (const Endpoint& e : all)
        full << EndpointText(e);
    s.host = full.join(QLatin1Char(','));
    s.port = all.front().port;
    return s;
}

QString LikeEscape(const QString& value) {
    QString out;
    out.reserve(value.size() + 4);
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            out.append(QLatin1Char('\\'));
        out.append(c);
    }
    return out;
}

QString MembershipPattern(const QString& group) {
    return QStringLiteral("%/") + LikeEscape(group) + QStringLiteral("/%");
}

namespace {
QAtomicInt g_connectionCounter;

QString describe(const QSqlError& e) {
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    return text;
}

// The user reads what failed and where in the first sentence; the driver's own words follow for
// the administrator.
QString LocalOpenFailure(const QString& filePath, const QString& why) {
    return QStringLiteral("无法打开本地数据库文件%1。\n驱动程序报告：%2").arg(filePath, why);
}

// The server's protocol ends a text at a NUL, which would cut the value short without a word.
void RefuseNul(const QVariantList& values) {
    for (const QVariant& v : values) {
        const int type = v.metaType().id();
        if (type != QMetaType::QByteArray && !v.isNull() && v.toString().contains(QChar(0)))
            throw Error(QStringLiteral("文字中含有不能保存的空字符（NUL）"));
    }
}

// A statement whose placeholders and values differ in number is the caller's mistake, named before
// anything is sent.
void CheckValues(const QString& sql, const QVariantList& values) {
    const int placeholders = NumberPlaceholders(sql).placeholders;
    if (placeholders > values.size())
        throw Error(QStringLiteral("数据库语句有误：值少于占位符"));
    if (placeholders < values.size())
        throw Error(QStringLiteral("数据库语句有误：值多于占位符"));
    RefuseNul(values);
}

// A statement that only reads changes nothing when it runs twice.
bool OnlyReads(const QString& sql) { return sql.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive); }

QString ServerOpenFailure(const ConnectionSpec& spec, const QString& why) {
    return QStringLiteral("无法连接数据库服务器%1上的数据库%2。请检查服务器地址及端口是否正确、服务器是否已启动。"
                          "\n驱动程序报告：%3")
        .arg(ServerAddressText(spec), spec.databaseName, why);
}
} // namespace

QString ReconnectFailedText(const QString& why) {
    return QStringLiteral("与数据库的连接已中断，重新连接未成功：%1").arg(why);
}

QString ServerAddressText(const ConnectionSpec& spec) {
    if (SeveralServers(spec))
        return spec.host;
    return EndpointText(Endpoint{spec.host, spec.port});
}

Database::~Database() { close(); }

void Database::open(const ConnectionSpec& spec) {
    close();
    // The driver would create an empty file in place of a missing library database.
    if (spec.dialect == Dialect::SQLite && !QFileInfo(spec.filePath).isFile())
        throw Error(QStringLiteral("本地数据库文件%1不存在").arg(spec.filePath));
    m_spec = spec;
    m_name = QStringLiteral("velda-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    QSqlDatabase db;
    if (spec.dialect == Dialect::SQLite) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(spec.filePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db = QSqlDatabase::addDatabase(new PgDriver(), m_name);
        db.setDatabaseName(spec.databaseName);
        db.setUserName(spec.user);
        db.setPassword(spec.password);
        if (!SeveralServers(spec)) {
            db.setHostName(spec.host);
            db.setPort(spec.port);
            db.setConnectOptions(QStringLiteral("connect_timeout=10"));
        } else {
            // The driver hands the host and the options to libpq as they are: libpq tries the hosts
            // in turn and keeps the one that takes writes, so a promoted standby is found by the
            // next connect. Each host gets its own time limit, short enough that a primary that no
            // longer answers at all still leaves the standby's turn within seconds.
            QStringList hosts;
            QStringList ports;
            for (const Endpoint& e : Endpoints(spec)) {
                hosts << e.host;
                ports << QString::number(e.port);
            }
            db.setHostName(hosts.join(QLatin1Char(',')));
            db.setConnectOptions(QStringLiteral("connect_timeout=3;target_session_attrs=read-write;port=") +
                                 ports.join(QLatin1Char(',')));
        }
    }
    if (!db.isValid()) {
        const QString driver = spec.dialect == Dialect::SQLite ? QStringLiteral("QSQLITE") : QStringLiteral("libpq");
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        m_name.clear();
        throw Error(QStringLiteral("缺少数据库驱动%1，无法打开数据库").arg(driver));
    }
    if (!db.open()) {
        const QString why = describe(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        m_name.clear();
        if (spec.dialect == Dialect::SQLite)
            throw Error(LocalOpenFailure(spec.filePath, why));
        throw Error(ServerOpenFailure(spec, why));
    }
    if (spec.dialect == Dialect::SQLite) {
        // Same text semantics as the server: like is case-sensitive there too.
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA case_sensitive_like = ON"));
        q.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        // One log write per commit instead of several; readers and the writer no longer block
        // each other, which the second client of a shared file relies on.
        q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        // Confirm the file really is a database before anyone relies on it.
        if (!q.exec(QStringLiteral("select count(*) from sqlite_master"))) {
            const QString why = describe(q.lastError());
            q = QSqlQuery();
            db = QSqlDatabase();
            close();
            throw Error(LocalOpenFailure(spec.filePath, why));
        }
    }
    m_wasOpened = true;
    m_inTransaction = false;
}

void Database::reopen() {
    const ConnectionSpec spec = m_spec;
    open(spec);
}

void Database::close() {
    m_ahead.clear();
    if (m_name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

bool Database::isOpen() const { return !m_name.isEmpty() && handle().isOpen(); }

QSqlDatabase Database::handle() const { return QSqlDatabase::database(m_name, false); }

void Database::readAhead(const std::vector<std::pair<QString, QVariantList>>& reads) const {
    m_ahead.clear();
    if (m_name.isEmpty() || dialect() != Dialect::PostgreSQL || m_inTransaction)
        return;
    QSqlError error;
    const std::vector<QSqlResult*> answers = static_cast<PgDriver*>(handle().driver())->readTogether(reads, error);
    for (size_t k = 0; k < answers.size(); ++k)
        m_ahead.push_back(Ahead{reads[k].first, reads[k].second, QSqlQuery(answers[k])});
}

QSqlQuery Database::exec(const QString& sql, const QVariantList& values) const {
    if (m_name.isEmpty())
        throw Error(QStringLiteral("数据库连接尚未打开"));
    if (!m_ahead.empty()) {
        if (!OnlyReads(sql)) {
            m_ahead.clear();
        } else {
            for (auto it = m_ahead.begin(); it != m_ahead.end(); ++it)
                if (it->sql == sql && it->values == values) {
                    QSqlQuery answer = std::move(it->answer);
                    m_ahead.erase(it);
                    return answer;
                }
        }
    }
    for (bool retried = false;; retried = true) {
        QSqlQuery q(handle());
        q.setForwardOnly(true);
        bool ok = false;
        bool prepared = true;
        if (values.isEmpty()) {
            // The server cannot prepare DDL; a statement without values needs no preparing anyway.
            ok = q.exec(sql);
        } else {
            if (dialect() == Dialect::PostgreSQL) {
                CheckValues(sql, values);
                // Bound values make one round trip. A change outside a transaction is prepared on the
                // server first, once per connection: a preparing that meets a dead connection proves
                // the change never ran, so it may be made again on a new one.
                if (!m_inTransaction && !OnlyReads(sql))
                    static_cast<PgDriver*>(handle().driver())->prepareNextOnServer();
            }
            if ((prepared = q.prepare(sql))) {
                for (const QVariant& v : values)
                    q.addBindValue(v);
                ok = q.exec();
            }
        }
        if (ok)
            return q;
        const QSqlError e = q.lastError();
        q = QSqlQuery();
        // A statement whose preparing failed never ran.
        if (!retried && reconnectForRetry(e, !prepared || OnlyReads(sql)))
            continue;
        // The server prepares the statement, so a dead connection may already fail here.
        if (!prepared) {
            if (const QString lost = connectionLost(e); !lost.isEmpty())
                throw Error(lost);
            throw Error(QStringLiteral("数据库语句有误：%1").arg(describe(e)));
        }
        fail(e);
    }
}

void Database::execEach(const QString& sql, const QList<QVariantList>& runs,
                        const std::function<void(QSqlQuery&)>& answer) const {
    if (m_name.isEmpty())
        throw Error(QStringLiteral("数据库连接尚未打开"));
    if (runs.isEmpty())
        return;
    bool retried = false;
    std::optional<QSqlQuery> q;
    for (qsizetype run = 0; run < runs.size();) {
        if (!q) {
            q.emplace(handle());
            q->setForwardOnly(true);
            if (!q->prepare(sql)) {
                const QSqlError e = q->lastError();
                q.reset();
                if (!std::exchange(retried, true) && reconnectForRetry(e, true))
                    continue;
                if (const QString lost = connectionLost(e); !lost.isEmpty())
                    throw Error(lost);
                throw Error(QStringLiteral("数据库语句有误：%1").arg(describe(e)));
            }
        }
        const QVariantList& values = runs[run];
        if (dialect() == Dialect::PostgreSQL)
            RefuseNul(values);
        for (qsizetype k = 0; k < values.size(); ++k)
            q->bindValue(int(k), values[k]);
        if (!q->exec()) {
            const QSqlError e = q->lastError();
            q.reset();
            // The runs before this one are done; only this one runs again.
            if (!std::exchange(retried, true) && reconnectForRetry(e, OnlyReads(sql)))
                continue;
            fail(e);
        }
        if (answer)
            answer(*q);
        ++run;
    }
}

void Database::fail(const QSqlError& e) const {
    if (isUniqueViolation(e))
        throw DuplicateKeyError(QStringLiteral("记录已存在：%1").arg(describe(e)));
    if (const QString lost = connectionLost(e); !lost.isEmpty())
        throw Error(lost);
    throw Error(QStringLiteral("数据库操作失败：%1").arg(describe(e)));
}

bool Database::connectionGone(const QSqlError& error) const {
    if (m_spec.dialect != Dialect::PostgreSQL || m_name.isEmpty())
        return false;
    const QString state = error.nativeErrorCode();
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
        return true;
    // The driver often has no state to give when the socket is dead: ask the server directly. A
    // transaction that an ordinary error aborted answers with 25P02, and its connection is fine.
    QSqlQuery probe(handle());
    if (probe.exec(QStringLiteral("select 1")))
        return false;
    return probe.lastError().nativeErrorCode() != QLatin1String("25P02");
}

QString Database::connectionLost(const QSqlError& error) const {
    if (!connectionGone(error))
        return {};
    const QString why = describe(error);
    const bool inTransaction = m_inTransaction;
    // Closing drops whatever transaction the server had already lost with the connection.
    const_cast<Database*>(this)->close();
    m_inTransaction = false;
    // The statements before this one went with the connection: the command cannot go on with the
    // rest as if they had been made.
    if (inTransaction)
        return QStringLiteral("与数据库服务器的连接已中断，本次操作没有完成，请重新执行（程序将自动重新连接）。"
                              "\n驱动程序报告：%1")
            .arg(why);
    return QStringLiteral("与数据库服务器的连接已中断，本次操作可能没有完成，请核对后重试（程序将自动重新连接）。"
                          "\n驱动程序报告：%1")
        .arg(why);
}

bool Database::reconnectForRetry(const QSqlError& error, bool harmlessTwice) const {
    if (m_spec.dialect != Dialect::PostgreSQL || m_name.isEmpty() || m_inTransaction)
        return false;
    // A change that was sent may have been made before the connection broke, its answer lost: the
    // driver cannot tell that from a connection the server had ended before (a restart, an
    // administrator's command), so such a change is reported, not made again.
    if (!harmlessTwice)
        return false;
    // An answer with any other state came from a live connection.
    const QString state = error.nativeErrorCode();
    if (!state.isEmpty() && !state.startsWith(QLatin1String("08")) && !state.startsWith(QLatin1String("57P")))
        return false;
    if (!connectionGone(error))
        return false;
    auto* self = const_cast<Database*>(this);
    self->close();
    try {
        self->reopen();
    } catch (const Error& e) {
        throw Error(ReconnectFailedText(e.description()));
    }
    return true;
}

QVariant Database::scalar(const QString& sql, const QVariantList& values) const {
    QSqlQuery q = exec(sql, values);
    if (q.next())
        return q.value(0);
    return {};
}

void Database::begin() {
    if (m_name.isEmpty())
        throw Error(QStringLiteral("数据库连接尚未打开"));
    // A transaction reads what it sees from its start.
    m_ahead.clear();
    if (!handle().transaction()) {
        QSqlError e = handle().lastError();
        // Nothing has been done in the transaction yet: beginning it again on a new connection is safe.
        if (reconnectForRetry(e, true)) {
            if (handle().transaction()) {
                m_inTransaction = true;
                return;
            }
            e = handle().lastError();
        }
        if (const QString lost = connectionLost(e); !lost.isEmpty())
            throw Error(lost);
        throw Error(QStringLiteral("无法开始数据库事务：%1").arg(describe(e)));
    }
    m_inTransaction = true;
}

void Database::beginWrite() {
    if (m_spec.dialect != Dialect::SQLite) {
        begin();
        return;
    }
    if (m_name.isEmpty())
        throw Error(QStringLiteral("数据库连接尚未打开"));
    QSqlQuery q(handle());
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        throw Error(QStringLiteral("无法开始数据库事务：%1").arg(describe(q.lastError())));
    m_inTransaction = true;
}

void Database::commit() {
    if (m_name.isEmpty())
        throw Error(QStringLiteral("数据库连接尚未打开"));
    m_inTransaction = false;
    if (!handle().commit()) {
        const QSqlError e = handle().lastError();
        handle().rollback();
        if (isUniqueViolation(e))
            throw DuplicateKeyError(QStringLiteral("记录已存在：%1").arg(describe(e)));
        if (const QString lost = connectionLost(e); !lost.isEmpty())
            throw Error(lost);
        throw Error(QStringLiteral("无法提交数据库事务：%1").arg(describe(e)));
    }
}

void Database::rollback() {
    m_inTransaction = false;
    if (!m_name.isEmpty())
        handle().rollback();
}

bool Database::isUniqueViolation(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    // PostgreSQL: SQLSTATE 23505; SQLite: extended codes 1555 (primary key) and 2067 (unique), or 19.
    if (code == QLatin1String("23505") || code == QLatin1String("1555") || code == QLatin1String("2067"))
        return true;
    const QString text = error.databaseText();
    return text.contains(QLatin1String("UNIQUE constraint failed")) || text.contains(QLatin1String("duplicate key"));
}

Transaction::Transaction(Database& db, Kind kind) : m_db(db) {
    if (kind == Kind::Write)
        m_db.beginWrite();
    else
        m_db.begin();
}

Transaction::~Transaction() {
    if (!m_done)
        m_db.rollback();
}

void Transaction::commit() {
    m_done = true;
    m_db.commit();
}

} // namespace velda
