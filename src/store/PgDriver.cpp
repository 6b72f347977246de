#include "store/PgDriver.h"

#include <QDate>
#include <QDateTime>
#include <QSocketNotifier>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>
#include <QTime>

#include <libpq-fe.h>
#include <poll.h>

#include <cstdlib>
#include <vector>

Q_DECLARE_OPAQUE_POINTER(PGconn*)
Q_DECLARE_METATYPE(PGconn*)

namespace velda {

NumberedStatement NumberPlaceholders(const QString& sql) {
    NumberedStatement out;
    out.text.reserve(sql.size() + 16);
    QChar quote;
    for (const QChar c : sql) {
        if (!quote.isNull()) {
            // A doubled quote inside a literal ends it and opens it again: the same outcome.
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('?')) {
            out.text += QLatin1Char('$') + QString::number(++out.placeholders);
            continue;
        }
        out.text += c;
    }
    return out;
}

namespace {

// The server's numbers for the types the schema and its functions answer with.
enum Oid : unsigned {
    Bool = 16,
    Bytea = 17,
    Int8 = 20,
    Int2 = 21,
    Int4 = 23,
    OidType = 26,
    Float4 = 700,
    Float8 = 701,
    Date = 1082,
    Time = 1083,
    Timestamp = 1114,
    TimestampTz = 1184,
    Numeric = 1700,
};

QMetaType TypeOf(unsigned oid, QSql::NumericalPrecisionPolicy precision) {
    switch (oid) {
    case Bool:
        return QMetaType(QMetaType::Bool);
    case Bytea:
        return QMetaType(QMetaType::QByteArray);
    case Int8:
        return QMetaType(QMetaType::LongLong);
    case Int2:
    case Int4:
        return QMetaType(QMetaType::Int);
    case OidType:
        return QMetaType(QMetaType::UInt);
    case Float4:
    case Float8:
        return QMetaType(QMetaType::Double);
    case Numeric:
        // Exact decimals stay text unless the caller asked for doubles, as with Qt's own driver.
        return QMetaType(precision == QSql::HighPrecision ? QMetaType::QString : QMetaType::Double);
    case Date:
        return QMetaType(QMetaType::QDate);
    case Time:
        return QMetaType(QMetaType::QTime);
    case Timestamp:
    case TimestampTz:
        return QMetaType(QMetaType::QDateTime);
    default:
        return QMetaType(QMetaType::QString);
    }
}

QString ServerMessage(PGconn* conn, const PGresult* result) {
    const char* text = result ? PQresultErrorMessage(result) : nullptr;
    if (!text || !*text)
        text = conn ? PQerrorMessage(conn) : "";
    return QString::fromUtf8(text).trimmed();
}

QSqlError MakeError(const QString& what, PGconn* conn, const PGresult* result, QSqlError::ErrorType type) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return QSqlError(what, ServerMessage(conn, result), type, state ? QString::fromLatin1(state) : QString());
}

bool Succeeded(const PGresult* result) {
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// A bound value as the server reads it in text form; bytes go as they are.
struct Parameters {
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;

    explicit Parameters(const QVariantList& bound) {
        texts.reserve(size_t(bound.size()));
        for (const QVariant& v : bound) {
            const int type = v.metaType().id();
            QByteArray text;
            int format = 0;
            if (v.isNull())
                text = QByteArray();
            else if (type == QMetaType::QByteArray) {
                text = v.toByteArray();
                format = 1;
            } else if (type == QMetaType::Bool)
                text = v.toBool() ? "true" : "false";
            else if (type == QMetaType::Double || type == QMetaType::Float)
                text = QByteArray::number(v.toDouble(), 'g', 17);
            else if (type == QMetaType::QDate)
                text = v.toDate().toString(Qt::ISODate).toLatin1();
            else if (type == QMetaType::QDateTime)
                text = v.toDateTime().toString(Qt::ISODateWithMs).toLatin1();
            else if (type == QMetaType::QTime)
                text = v.toTime().toString(Qt::ISODateWithMs).toLatin1();
            else
                text = v.toString().toUtf8();
            texts.push_back(text);
            formats.push_back(format);
            lengths.push_back(int(text.size()));
        }
        for (size_t k = 0; k < texts.size(); ++k)
            values.push_back(bound[qsizetype(k)].isNull() ? nullptr : texts[k].constData());
    }
};

} // namespace

class PgResult final : public QSqlResult {
public:
    explicit PgResult(const PgDriver* driver) : QSqlResult(driver) {}
    ~PgResult() override { clear(); }

protected:
    QVariant data(int field) override {
        const unsigned oid = PQftype(m_result, field);
        const QMetaType type = TypeOf(oid, numericalPrecisionPolicy());
        if (PQgetisnull(m_result, at(), field))
            return QVariant(type);
        const char* raw = PQgetvalue(m_result, at(), field);
        const int length = PQgetlength(m_result, at(), field);
        switch (type.id()) {
        case QMetaType::Bool:
            return QVariant(raw[0] == 't');
        case QMetaType::LongLong:
            return QVariant(qlonglong(std::strtoll(raw, nullptr, 10)));
        case QMetaType::Int:
            return QVariant(int(std::strtol(raw, nullptr, 10)));
        case QMetaType::UInt:
            return QVariant(uint(std::strtoul(raw, nullptr, 10)));
        case QMetaType::Double:
            return QVariant(QByteArray::fromRawData(raw, length).toDouble());
        case QMetaType::QDate:
            return QVariant(QDate::fromString(QString::fromLatin1(raw, length), Qt::ISODate));
        case QMetaType::QTime:
            return QVariant(QTime::fromString(QString::fromLatin1(raw, length), Qt::ISODateWithMs));
        case QMetaType::QDateTime: {
            QString text = QString::fromLatin1(raw, length);
            text.replace(QLatin1Char(' '), QLatin1Char('T'));
            // "+08" is not an offset Qt reads; "+08:00" is.
            if (text.size() > 3 && (text[text.size() - 3] == QLatin1Char('+') || text[text.size() - 3] == QLatin1Char('-')))
                text += QStringLiteral(":00");
            return QVariant(QDateTime::fromString(text, Qt::ISODateWithMs));
        }
        case QMetaType::QByteArray: {
            size_t size = 0;
            unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(raw), &size);
            const QByteArray out(reinterpret_cast<const char*>(bytes), qsizetype(size));
            PQfreemem(bytes);
            return QVariant(out);
        }
        default:
            return QVariant(QString::fromUtf8(raw, length));
        }
    }

    bool isNull(int field) override { return PQgetisnull(m_result, at(), field) != 0; }

    bool reset(const QString& query) override {
        clear();
        if (!ready())
            return false;
        return take(PQexec(conn(), query.toUtf8().constData()), QStringLiteral("无法执行语句"));
    }

    bool prepare(const QString&) override {
        clear();
        m_prepared.clear();
        m_serverName.clear();
        if (!ready())
            return false;
        // The statement as the caller wrote it; the text handed in here has Qt's own placeholder names.
        m_prepared = NumberPlaceholders(lastQuery()).text.toUtf8();
        if (std::exchange(driver()->m_prepareNextOnServer, false)) {
            QSqlError error;
            // Prepared before on this connection: the proof that the change never ran comes from a
            // look at the socket instead, which shows a session the server ended without a round trip.
            if (driver()->m_prepared.contains(m_prepared) && !driver()->stillThere()) {
                setLastError(MakeError(QStringLiteral("无法执行语句"), conn(), nullptr, QSqlError::ConnectionError));
                return false;
            }
            const std::optional<QByteArray> name = driver()->preparedName(m_prepared, error);
            if (!name) {
                setLastError(error);
                return false;
            }
            m_serverName = *name;
        }
        return true;
    }

    bool exec() override {
        clear();
        if (!ready())
            return false;
        const Parameters p(boundValues());
        const int n = int(p.values.size());
        PGresult* result =
            m_serverName.isEmpty()
                ? PQexecParams(conn(), m_prepared.constData(), n, nullptr, p.values.data(), p.lengths.data(),
                               p.formats.data(), 0)
                : PQexecPrepared(conn(), m_serverName.constData(), n, p.values.data(), p.lengths.data(),
                                 p.formats.data(), 0);
        return take(result, QStringLiteral("无法执行语句"));
    }

    bool fetch(int row) override {
        if (!m_result || row < 0 || row >= m_rows)
            return false;
        setAt(row);
        return true;
    }
    bool fetchFirst() override { return fetch(0); }
    bool fetchLast() override { return fetch(m_rows - 1); }
    bool fetchNext() override {
        if (at() + 1 >= m_rows) {
            setAt(QSql::AfterLastRow);
            return false;
        }
        return fetch(at() + 1);
    }

    int size() override { return isSelect() ? m_rows : -1; }
    int numRowsAffected() override { return m_result ? std::atoi(PQcmdTuples(m_result)) : -1; }
    QSqlRecord record() const override { return m_record; }
    QVariant lastInsertId() const override { return {}; }
    void detachFromResultSet() override { clear(); }

public:
    // An answer that came by another way (a pipeline), as if this result had run the statement.
    bool adopt(PGresult* result, const QString& sql) {
        clear();
        setQuery(sql);
        return take(result, QStringLiteral("无法执行语句"));
    }

private:
    PgDriver* driver() const { return const_cast<PgDriver*>(static_cast<const PgDriver*>(QSqlResult::driver())); }
    PGconn* conn() const { return driver()->m_conn; }

    bool ready() {
        if (conn())
            return true;
        setLastError(QSqlError(QStringLiteral("数据库连接尚未打开"), {}, QSqlError::ConnectionError));
        return false;
    }

    bool take(PGresult* result, const QString& what) {
        if (!Succeeded(result)) {
            setLastError(MakeError(what, conn(), result, QSqlError::StatementError));
            PQclear(result);
            driver()->takeNotifications();
            return false;
        }
        m_result = result;
        const bool rows = PQresultStatus(result) == PGRES_TUPLES_OK;
        m_rows = rows ? PQntuples(result) : 0;
        setSelect(rows);
        setActive(true);
        setAt(QSql::BeforeFirstRow);
        QSqlRecord record;
        for (int k = 0, columns = PQnfields(result); k < columns; ++k)
            record.append(QSqlField(QString::fromUtf8(PQfname(result, k)),
                                    TypeOf(PQftype(result, k), numericalPrecisionPolicy())));
        m_record = record;
        driver()->takeNotifications();
        return true;
    }

    void clear() {
        if (m_result)
            PQclear(m_result);
        m_result = nullptr;
        m_rows = 0;
        m_record.clear();
        setActive(false);
        setAt(QSql::BeforeFirstRow);
    }

    PGresult* m_result = nullptr;
    int m_rows = 0;
    QSqlRecord m_record;
    QByteArray m_prepared;
    QByteArray m_serverName;
};

PgDriver::PgDriver(QObject* parent) : QSqlDriver(parent) {}

PgDriver::~PgDriver() { close(); }

bool PgDriver::hasFeature(DriverFeature feature) const {
    switch (feature) {
    case Transactions:
    case QuerySize:
    case BLOB:
    case Unicode:
    case PreparedQueries:
    case PositionalPlaceholders:
    case LowPrecisionNumbers:
    case EventNotifications:
    case FinishQuery:
        return true;
    default:
        return false;
    }
}

bool PgDriver::open(const QString& db, const QString& user, const QString& password, const QString& host, int port,
                    const QString& options) {
    close();
    // The session's settings go with the connection's start instead of as statements after it.
    std::vector<std::pair<QByteArray, QByteArray>> settings{
        {"dbname", db.toUtf8()},
        {"user", user.toUtf8()},
        {"password", password.toUtf8()},
        {"host", host.toUtf8()},
        {"client_encoding", "UTF8"},
        {"options", "-c DateStyle=ISO"},
        {"fallback_application_name", "VELDA"},
    };
    if (port >= 0)
        settings.emplace_back("port", QByteArray::number(port));
    // "name=value;name=value", as Qt's driver takes them; a later one wins.
    for (const QString& option : options.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = option.indexOf(QLatin1Char('='));
        if (eq > 0)
            settings.emplace_back(option.left(eq).trimmed().toUtf8(), option.mid(eq + 1).trimmed().toUtf8());
    }
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : settings) {
        if (value.isEmpty())
            continue;
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        setLastError(MakeError(QStringLiteral("无法连接数据库"), m_conn, nullptr, QSqlError::ConnectionError));
        PQfinish(m_conn);
        m_conn = nullptr;
        setOpenError(true);
        return false;
    }
    setOpen(true);
    setOpenError(false);
    return true;
}

void PgDriver::close() {
    delete m_notifier;
    m_notifier = nullptr;
    m_channels.clear();
    m_prepared.clear();
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    setOpen(false);
    setOpenError(false);
}

QSqlResult* PgDriver::createResult() const { return new PgResult(this); }

QVariant PgDriver::handle() const { return QVariant::fromValue(m_conn); }

bool PgDriver::command(const char* sql, const QString& what) {
    if (!m_conn)
        return false;
    PGresult* result = PQexec(m_conn, sql);
    const bool ok = Succeeded(result);
    if (!ok)
        setLastError(MakeError(what, m_conn, result, QSqlError::TransactionError));
    PQclear(result);
    return ok;
}

bool PgDriver::beginTransaction() { return command("BEGIN", QStringLiteral("无法开始事务")); }
bool PgDriver::commitTransaction() { return command("COMMIT", QStringLiteral("无法提交事务")); }
bool PgDriver::rollbackTransaction() { return command("ROLLBACK", QStringLiteral("无法回滚事务")); }

bool PgDriver::stillThere() {
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return false;
    pollfd socket{PQsocket(m_conn), POLLIN, 0};
    // An idle connection has nothing to read unless the server said something: a notification, or
    // the notice that it ended the session before closing it.
    if (::poll(&socket, 1, 0) > 0 && (PQconsumeInput(m_conn) == 0 || PQstatus(m_conn) != CONNECTION_OK))
        return false;
    takeNotifications();
    return true;
}

std::optional<QByteArray> PgDriver::preparedName(const QByteArray& sql, QSqlError& error) {
    if (const auto found = m_prepared.constFind(sql); found != m_prepared.cend())
        return *found;
    const QByteArray name = "velda_" + QByteArray::number(m_prepared.size() + 1);
    PGresult* result = PQprepare(m_conn, name.constData(), sql.constData(), 0, nullptr);
    const bool ok = Succeeded(result);
    if (!ok)
        error = MakeError(QStringLiteral("无法准备语句"), m_conn, result, QSqlError::StatementError);
    PQclear(result);
    if (!ok)
        return std::nullopt;
    m_prepared.insert(sql, name);
    return name;
}

std::vector<QSqlResult*> PgDriver::readTogether(const std::vector<std::pair<QString, QVariantList>>& reads,
                                               QSqlError& error) {
    std::vector<QSqlResult*> answers;
    if (!m_conn || PQenterPipelineMode(m_conn) != 1) {
        error = MakeError(QStringLiteral("无法执行语句"), m_conn, nullptr, QSqlError::StatementError);
        return answers;
    }
    bool sent = true;
    for (const auto& [sql, values] : reads) {
        const Parameters p(values);
        const QByteArray text = NumberPlaceholders(sql).text.toUtf8();
        sent = sent && PQsendQueryParams(m_conn, text.constData(), int(p.values.size()), nullptr, p.values.data(),
                                         p.lengths.data(), p.formats.data(), 0) == 1;
    }
    sent = sent && PQpipelineSync(m_conn) == 1;
    std::vector<PGresult*> results;
    // Every answer is read to the pipeline's end, also after a failure, so the connection is left ready.
    for (size_t k = 0; sent && k < reads.size(); ++k) {
        PGresult* result = PQgetResult(m_conn);
        if (!result) {
            sent = false;
            break;
        }
        while (PGresult* more = PQgetResult(m_conn))
            PQclear(more);
        results.push_back(result);
    }
    for (PGresult* r = sent ? PQgetResult(m_conn) : nullptr; r; r = PQgetResult(m_conn)) {
        const bool end = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (end)
            break;
    }
    PQexitPipelineMode(m_conn);
    bool ok = sent && results.size() == reads.size();
    for (PGresult* r : results)
        if (ok && !Succeeded(r)) {
            error = MakeError(QStringLiteral("无法执行语句"), m_conn, r, QSqlError::StatementError);
            ok = false;
        }
    if (!ok) {
        if (!error.isValid())
            error = MakeError(QStringLiteral("无法执行语句"), m_conn, nullptr, QSqlError::StatementError);
        for (PGresult* r : results)
            PQclear(r);
        return answers;
    }
    for (size_t k = 0; k < results.size(); ++k) {
        auto* answer = new PgResult(this);
        answer->adopt(results[k], reads[k].first);
        answers.push_back(answer);
    }
    takeNotifications();
    return answers;
}

QStringList PgDriver::tables(QSql::TableType type) const {
    QStringList names;
    if (!m_conn)
        return names;
    QByteArray kinds;
    if (type & QSql::Tables)
        kinds += "'r','p',";
    if (type & QSql::Views)
        kinds += "'v','m',";
    if (type & QSql::SystemTables)
        kinds += "'S',";
    if (kinds.isEmpty())
        return names;
    kinds.chop(1);
    const QByteArray sql = "select relname from pg_class where relnamespace=current_schema()::regnamespace and "
                           "relkind in (" + kinds + ")";
    PGresult* result = PQexec(m_conn, sql.constData());
    if (Succeeded(result))
        for (int row = 0; row < PQntuples(result); ++row)
            names << QString::fromUtf8(PQgetvalue(result, row, 0));
    PQclear(result);
    return names;
}

QString PgDriver::escapeIdentifier(const QString& identifier, IdentifierType) const {
    if (isIdentifierEscaped(identifier, TableName))
        return identifier;
    QString out = identifier;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

bool PgDriver::subscribeToNotification(const QString& name) {
    if (!m_conn)
        return false;
    if (m_channels.contains(name))
        return true;
    const QByteArray sql = "LISTEN " + escapeIdentifier(name, TableName).toUtf8();
    if (!command(sql.constData(), QStringLiteral("无法订阅通知")))
        return false;
    m_channels.insert(name);
    if (!m_notifier) {
        m_notifier = new QSocketNotifier(PQsocket(m_conn), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            if (m_conn)
                PQconsumeInput(m_conn);
            takeNotifications();
        });
    }
    return true;
}

bool PgDriver::unsubscribeFromNotification(const QString& name) {
    if (!m_conn || !m_channels.contains(name))
        return false;
    const QByteArray sql = "UNLISTEN " + escapeIdentifier(name, TableName).toUtf8();
    if (!command(sql.constData(), QStringLiteral("无法取消订阅通知")))
        return false;
    m_channels.remove(name);
    if (m_channels.isEmpty()) {
        delete m_notifier;
        m_notifier = nullptr;
    }
    return true;
}

QStringList PgDriver::subscribedToNotifications() const { return QStringList(m_channels.cbegin(), m_channels.cend()); }

void PgDriver::takeNotifications() {
    if (!m_conn || m_channels.isEmpty())
        return;
    // Notifications that came in with a statement's answer are queued in libpq without waking the
    // socket again: they are handed out after the statement, on the event loop, as those that come alone.
    while (PGnotify* n = PQnotifies(m_conn)) {
        const QString name = QString::fromUtf8(n->relname);
        const QVariant payload = QString::fromUtf8(n->extra);
        const NotificationSource source = n->be_pid == PQbackendPID(m_conn) ? SelfSource : OtherSource;
        PQfreemem(n);
        if (m_channels.contains(name))
            QMetaObject::invokeMethod(
                this, [this, name, source, payload] { emit notification(name, source, payload); },
                Qt::QueuedConnection);
    }
}

} // namespace velda
