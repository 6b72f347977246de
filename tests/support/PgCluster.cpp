#include "PgCluster.h"

#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>

#include <unistd.h>

namespace velda::test {

namespace {
PgCluster* g_cluster = nullptr;
}

PgCluster& PgCluster::instance() {
    if (!g_cluster)
        g_cluster = new PgCluster;
    return *g_cluster;
}

void PgCluster::shutdownAll() {
    delete g_cluster;
    g_cluster = nullptr;
}

PgCluster::PgCluster() { start(); }

bool PgCluster::run(const QString& program, const QStringList& args, QString* output, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (m_asPostgresUser) {
        QStringList all{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program};
        all += args;
        p.start(QStringLiteral("runuser"), all);
    } else {
        p.start(program, args);
    }
    if (!p.waitForStarted(10000)) {
        if (output)
            *output = QStringLiteral("cannot start %1: %2").arg(program, p.errorString());
        return false;
    }
    p.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void PgCluster::start() {
    for (const QString& candidate :
         {QStringLiteral("/usr/lib/postgresql/15/bin"), QStringLiteral("/usr/lib/postgresql/16/bin"),
          QStringLiteral("/usr/lib/postgresql/17/bin")}) {
        if (QFileInfo::exists(candidate + QStringLiteral("/initdb"))) {
            m_bin = candidate;
            break;
        }
    }
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("PostgreSQL server binaries not found (apt-get install postgresql)");
        return;
    }
    m_asPostgresUser = ::geteuid() == 0;
    // Under the run's own folder when the test script gives one, so that it can stop exactly the
    // servers of its run (their pid is in the data folder's postmaster.pid).
    QString base = qEnvironmentVariable("VELDA_TEST_RUN_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    m_dir = base + QStringLiteral("/velda-pg-%1").arg(QCoreApplication::applicationPid());
    QDir(m_dir).removeRecursively();
    QDir().mkpath(m_dir);
    if (m_asPostgresUser) {
        QString out;
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("postgres:postgres"), m_dir});
    }
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            m_error = QStringLiteral("no free loopback port for PostgreSQL");
            return;
        }
        m_port = probe.serverPort();
    }
    const QString data = m_dir + QStringLiteral("/data");
    QString out;
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256")},
             &out)) {
        m_error = QStringLiteral("initdb failed: ") + out;
        return;
    }
    // The server speaks TLS with a certificate of its own, as an office's does: the clients' connections
    // are encrypted as they are there.
    if (!run(QStringLiteral("openssl"),
             {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
              QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
              QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
              QStringLiteral("-keyout"), data + QStringLiteral("/server.key"), QStringLiteral("-out"),
              certificatePath()},
             &out) ||
        !run(QStringLiteral("chmod"), {QStringLiteral("600"), data + QStringLiteral("/server.key")}, &out)) {
        m_error = QStringLiteral("cannot make the server's certificate: ") + out;
        return;
    }
    if (!run(m_bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-o"), serverOptions(), QStringLiteral("-l"),
              m_dir + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("start")},
             &out)) {
        m_error = QStringLiteral("pg_ctl start failed: ") + out;
        return;
    }
    m_started = true;

    m_adminConnection = QStringLiteral("velda-test-pg-admin");
    if (!openAdminConnection())
        return;
    QString err;
    if (!superuserExec(QStringLiteral("CREATE ROLE \"Hodrin\" LOGIN PASSWORD 'tovkan'"), &err) ||
        !superuserExec(QStringLiteral("CREATE DATABASE velda_template OWNER \"Hodrin\""), &err)) {
        m_error = QStringLiteral("cannot prepare the test PostgreSQL server: ") + err;
        return;
    }
    try {
        Database db;
        ConnectionSpec spec = ConnectionSpec::server(address());
        spec.databaseName = QStringLiteral("velda_template");
        db.open(spec);
        InitializeDatabase(db, QDate(2024, 3, 5));
    } catch (const Error& e) {
        m_error = QStringLiteral("cannot create the schema on PostgreSQL: ") + e.description();
    }
}

QString PgCluster::serverOptions() const {
    return QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                          "-c synchronous_commit=off -c full_page_writes=off -c ssl=on")
        .arg(m_port)
        .arg(m_dir);
}

bool PgCluster::openAdminConnection() {
    QSqlDatabase admin = QSqlDatabase::contains(m_adminConnection)
                             ? QSqlDatabase::database(m_adminConnection, false)
                             : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_adminConnection);
    admin.close();
    admin.setHostName(m_dir);
    admin.setPort(m_port);
    admin.setUserName(QStringLiteral("postgres"));
    admin.setDatabaseName(QStringLiteral("postgres"));
    if (!admin.open()) {
        m_error = QStringLiteral("cannot connect to the test PostgreSQL server: ") + admin.lastError().text();
        return false;
    }
    return true;
}

bool PgCluster::restart(QString* error) {
    if (!m_started) {
        if (error)
            *error = m_error;
        return false;
    }
    QString out;
    if (!run(m_bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-o"), serverOptions(),
              QStringLiteral("-l"), m_dir + QStringLiteral("/server.log"), QStringLiteral("-m"), QStringLiteral("fast"),
              QStringLiteral("-w"), QStringLiteral("restart")},
             &out)) {
        if (error)
            *error = QStringLiteral("pg_ctl restart failed: ") + out;
        return false;
    }
    if (!openAdminConnection()) {
        if (error)
            *error = m_error;
        return false;
    }
    return true;
}

bool PgCluster::superuserExec(const QString& sql, QString* error) {
    QSqlQuery q(QSqlDatabase::database(m_adminConnection, false));
    if (!q.exec(sql)) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    return true;
}

QString PgCluster::createDatabase() {
    const QString name = QStringLiteral("velda_test_%1").arg(++m_counter);
    QString err;
    superuserExec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    if (!superuserExec(QStringLiteral("CREATE DATABASE %1 TEMPLATE velda_template OWNER \"Hodrin\"").arg(name), &err))
        throw Error(QStringLiteral("cannot create test database: ") + err);
    return name;
}

void PgCluster::dropDatabase(const QString& name) {
    superuserExec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
}

PgCluster::~PgCluster() { shutdown(); }

void PgCluster::shutdown() {
    if (!m_adminConnection.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_adminConnection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_adminConnection);
    }
    m_adminConnection.clear();
    if (m_started) {
        m_started = false;
        run(m_bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")});
    }
    if (!m_dir.isEmpty()) {
        // A benchmark keeps the cluster's thousand files until its end: deleting them now would slow
        // down the file creation of its next run (see bench/batch_bench.cpp).
        const QString keep = qEnvironmentVariable("BENCH_KEEP_DIR");
        if (keep.isEmpty() || !QDir().mkpath(keep) ||
            !QDir().rename(m_dir, QDir(keep).filePath(QFileInfo(m_dir).fileName())))
            QDir(m_dir).removeRecursively();
    }
    m_dir.clear();
}

} // namespace velda::test
