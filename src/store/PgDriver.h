#pragma once

#include <QHash>
#include <QSet>
#include <QSqlDriver>

#include <optional>
#include <utility>
#include <vector>

struct pg_conn;
class QSocketNotifier;

namespace velda {

// The statement with each "?" outside quotes numbered "$1", "$2", … as the server's protocol wants
// them, and how many there were.
struct NumberedStatement {
    QString text;
    int placeholders = 0;
};
NumberedStatement NumberPlaceholders(const QString& sql);

// A PostgreSQL connection straight on libpq. Qt's own driver spends round trips a branch office pays
// for: five statements as it opens, and a prepare, an execute and a deallocate for every statement
// with values. Here a statement with values is one round trip with the values bound apart from its
// text, the session's settings ride in the connection's start, and a statement that must be known to
// the server before it runs is prepared there once per connection and kept.
class PgDriver final : public QSqlDriver {
public:
    explicit PgDriver(QObject* parent = nullptr);
    ~PgDriver() override;

    bool hasFeature(DriverFeature feature) const override;
    bool open(const QString& db, const QString& user, const QString& password, const QString& host, int port,
              const QString& options) override;
    void close() override;
    QSqlResult* createResult() const override;
    QVariant handle() const override;
    QStringList tables(QSql::TableType type) const override;
    QString escapeIdentifier(const QString& identifier, IdentifierType type) const override;

    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;

    bool subscribeToNotification(const QString& name) override;
    bool unsubscribeFromNotification(const QString& name) override;
    QStringList subscribedToNotifications() const override;

    // Reads sent together in one round trip (the server's pipeline), each answer a result for a
    // QSqlQuery to own; nothing when any of them failed, error then says why.
    std::vector<QSqlResult*> readTogether(const std::vector<std::pair<QString, QVariantList>>& reads, QSqlError& error);

    // The next statement prepared through this connection is prepared on the server before it runs,
    // so that a connection found dead at that point proves it never ran.
    void prepareNextOnServer() { m_prepareNextOnServer = true; }

private:
    friend class PgResult;
    bool command(const char* sql, const QString& what);
    // The server's name for the prepared statement of sql, preparing it the first time; nothing when
    // preparing failed (lastError says why).
    std::optional<QByteArray> preparedName(const QByteArray& sql, QSqlError& error);
    void takeNotifications();
    // Whether the connection is still there as far as can be told without asking the server.
    bool stillThere();

    pg_conn* m_conn = nullptr;
    bool m_prepareNextOnServer = false;
    QHash<QByteArray, QByteArray> m_prepared;
    QSet<QString> m_channels;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace velda
