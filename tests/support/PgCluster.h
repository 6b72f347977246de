#pragma once

#include <QString>

namespace velda::test {

// A real PostgreSQL server of this test run: initdb into a temporary folder (below
// VELDA_TEST_RUN_DIR when set), started on a free loopback port, stopped when the process ends. Started on first use; when it cannot start,
// error() says why and every test that needs it fails with that text.
class PgCluster final {
public:
    static PgCluster& instance();
    // Stops the server if this run started one.
    static void shutdownAll();

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The server's self-signed certificate, for 127.0.0.1.
    QString certificatePath() const { return m_dir + QStringLiteral("/data/server.crt"); }

    // A new database holding the schema and reference data, owned by the program's account.
    QString createDatabase();
    void dropDatabase(const QString& name);
    // Runs SQL as the server's superuser (for setting up failure cases).
    bool superuserExec(const QString& sql, QString* error = nullptr);

    // Stops the server as its administrator would (every session ended) and starts it again.
    bool restart(QString* error = nullptr);

    void shutdown();
    ~PgCluster();

private:
    PgCluster();
    void start();
    QString serverOptions() const;
    bool openAdminConnection();
    bool run(const QString& program, const QStringList& args, QString* output = nullptr, int timeoutMs = 60000);

    QString m_error;
    QString m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_asPostgresUser = false;
    bool m_started = false;
    int m_counter = 0;
    QString m_adminConnection;
};

} // namespace velda::test
