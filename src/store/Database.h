#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

class QSqlDriver;

namespace velda {

// A failure the user is shown as the "error's own description": already worded in Chinese.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description) {}
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

enum class Dialect { SQLite, PostgreSQL };

// Where the records live: the local file ("None" in the configuration) or a server catalogue.
struct ConnectionSpec {
    Dialect dialect = Dialect::SQLite;
    QString filePath; // SQLite
    QString host;     // PostgreSQL: one host, or "host1:port1,host2:port2" for a primary and standbys
    int port = 5432;
    QString databaseName = QStringLiteral("HD信息库");
    QString user = QStringLiteral("Hodrin");
    QString password = QStringLiteral("tovkan");

    static ConnectionSpec localFile(const QString& path);
    // "host" or "host:port" (a bracketed IPv6 host may carry a port), or several such joined by commas.
    static ConnectionSpec server(const QString& address);
};

// "host:port" of each server ("[host]:port" for an IPv6 host), the port given even when defaulted.
QString ServerAddressText(const ConnectionSpec& spec);

// Escapes a value for use inside a like pattern with "escape '\'", so it never acts as a wildcard.
QString LikeEscape(const QString& value);

// "%/" + group + "/%" built safely: the membership test of a group list.
QString MembershipPattern(const QString& group);

// The message of a command whose lost connection could not be opened again.
QString ReconnectFailedText(const QString& why);

// One open database connection. Every statement goes through exec() with bound values.
class Database final {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the connection; throws Error with a Chinese description when it cannot.
    void open(const ConnectionSpec& spec);
    void close();
    bool isOpen() const;
    // Whether open() ever succeeded: a connection that is no longer open was lost or closed.
    bool wasOpened() const { return m_wasOpened; }
    // Opens the connection again with the same settings (after it was lost); throws Error.
    void reopen();

    Dialect dialect() const { return m_spec.dialect; }
    const ConnectionSpec& spec() const { return m_spec; }
    QSqlDatabase handle() const;

    // Prepares, binds (positionally, in order) and runs one statement; throws Error on failure.
    QSqlQuery exec(const QString& sql, const QVariantList& values = {}) const;
    // One statement prepared once and run for each list of values in turn; answer, when given, reads
    // each run's rows. Throws Error on the first failure, the runs before it done.
    void execEach(const QString& sql, const QList<QVariantList>& runs,
                  const std::function<void(QSqlQuery&)>& answer = {}) const;
    // Convenience: the first column of the first row, or an invalid QVariant when there is no row.
    QVariant scalar(const QString& sql, const QVariantList& values = {}) const;

    void begin();
    // A transaction that holds the write lock from its start: the local file admits one writer, and a
    // transaction that first reads and then writes must not find another writer in between.
    void beginWrite();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

    // Reads a command is about to make, sent together: one round trip to a database server for all,
    // where each would cost its own. Each exec() of the same text with the same values then takes its
    // answer, once; the first change, or clearReadAhead(), drops those not taken. Nothing is sent
    // ahead to the local file, nor when the reads fail together (each then runs, and fails, alone).
    void readAhead(const std::vector<std::pair<QString, QVariantList>>& reads) const;
    void clearReadAhead() const { m_ahead.clear(); }

    // True when the failure of the last statement was a unique-key violation.
    static bool isUniqueViolation(const QSqlError& error);

private:
    // Whether a failed statement failed because the server connection itself is gone.
    bool connectionGone(const QSqlError& error) const;
    // After a failed statement: when the connection itself is gone, closes it (the next command
    // opens it again) and returns the text that says so; otherwise an empty text.
    QString connectionLost(const QSqlError& error) const;
    // After a failed statement outside a transaction: when the connection was gone and running the
    // statement again cannot apply it twice (harmlessTwice: it changes nothing, or nothing ran yet),
    // opens the connection again (throwing Error when it cannot) and returns true; the caller then
    // runs the statement once more.
    bool reconnectForRetry(const QSqlError& error, bool harmlessTwice) const;
    // Throws the Error that describes the failed statement.
    [[noreturn]] void fail(const QSqlError& error) const;

    QString m_name;
    ConnectionSpec m_spec;
    bool m_wasOpened = false;
    mutable bool m_inTransaction = false;
    struct Ahead {
        QString sql;
        QVariantList values;
        QSqlQuery answer;
    };
    mutable std::vector<Ahead> m_ahead;
};

// Reads sent ahead for one command, dropped when it ends whether it asked for them or not.
class ReadAhead final {
public:
    ReadAhead(const Database& db, const std::vector<std::pair<QString, QVariantList>>& reads) : m_db(db) {
        m_db.readAhead(reads);
    }
    ~ReadAhead() { m_db.clearReadAhead(); }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

private:
    const Database& m_db;
};

// Rolls back unless commit() was called: statements that stand or fall together.
class Transaction final {
public:
    enum class Kind { Plain, Write };
    explicit Transaction(Database& db, Kind kind = Kind::Plain);
    ~Transaction();
    void commit();

private:
    Database& m_db;
    bool m_done = false;
};

// Error raised for a statement that broke a key, so callers can word a clear refusal.
class DuplicateKeyError : public Error {
public:
    using Error::Error;
};

} // namespace velda
