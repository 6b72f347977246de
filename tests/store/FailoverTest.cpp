#include "FtpFixture.h"

#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"
#include "store/DatabaseInit.h"
#include "transfer/TransferPool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <unistd.h>

using namespace velda;
using namespace velda::test;

namespace {

// A primary and a standby that streams from it synchronously, each a cluster of its own on loopback,
// both stopped at the end.
class StandbyPair final {
public:
    StandbyPair() {
        // A server already started must not outlive a set-up that failed half-way.
        try {
            start();
        } catch (...) {
            stopAll();
            throw;
        }
    }
    ~StandbyPair() { stopAll(); }

    // The standby first: a client must pass it by while it only reads.
    QString address() const { return QStringLiteral("127.0.0.1:%1,127.0.0.1:%2").arg(standbyPort).arg(primaryPort); }
    // The primary fails at once, as a machine that loses its power.
    void stopPrimary() {
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(QStringLiteral("primary")), QStringLiteral("-m"),
                                       QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
        m_started.removeAll(data(QStringLiteral("primary")));
    }
    void promoteStandby() {
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), data(QStringLiteral("standby")), QStringLiteral("-w"), QStringLiteral("promote")});
    }
    QString psql(int port, const QString& sql, const QString& db = QStringLiteral("postgres")) {
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-h"), m_dir, QStringLiteral("-p"), QString::number(port), QStringLiteral("-U"),
                    QStringLiteral("postgres"), QStringLiteral("-d"), db, QStringLiteral("-Atc"), sql})
            .trimmed();
    }

    int primaryPort = 0;
    int standbyPort = 0;

private:
    void start() {
        for (const char* v : {"15", "16", "17"})
            if (QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/pg_basebackup").arg(QLatin1String(v))))
                m_bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(QLatin1String(v));
        if (m_bin.isEmpty())
            throw Error(QStringLiteral("PostgreSQL server binaries not found"));
        const QString base = qEnvironmentVariable("VELDA_TEST_RUN_DIR", QDir::tempPath());
        m_dir = base + QStringLiteral("/velda-standby-%1").arg(::getpid());
        QDir(m_dir).removeRecursively();
        QDir().mkpath(m_dir);
        if (::geteuid() == 0)
            QProcess::execute(QStringLiteral("chown"), {QStringLiteral("postgres:postgres"), m_dir});
        primaryPort = freePort();
        standbyPort = freePort();
        const QString primary = data(QStringLiteral("primary"));
        run(QStringLiteral("initdb"),
            {QStringLiteral("-D"), primary, QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
             QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--auth-local=trust"),
             QStringLiteral("--auth-host=trust"), QStringLiteral("--no-sync")});
        m_started << primary;
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), primary, QStringLiteral("-o"), options(primaryPort), QStringLiteral("-l"),
             primary + QStringLiteral(".log"), QStringLiteral("-w"), QStringLiteral("start")});
        psql(primaryPort, QStringLiteral("CREATE ROLE \"Hodrin\" LOGIN PASSWORD 'tovkan'"));
        psql(primaryPort, QStringLiteral("CREATE DATABASE velda_failover OWNER \"Hodrin\""));
        const QString standby = data(QStringLiteral("standby"));
        run(QStringLiteral("pg_basebackup"),
            {QStringLiteral("-D"), standby, QStringLiteral("-R"), QStringLiteral("-X"), QStringLiteral("stream"),
             QStringLiteral("-c"), QStringLiteral("fast"), QStringLiteral("--no-sync"), QStringLiteral("-d"),
             QStringLiteral("host=127.0.0.1 port=%1 user=postgres application_name=standby").arg(primaryPort)});
        m_started << standby;
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), standby, QStringLiteral("-o"), options(standbyPort), QStringLiteral("-l"),
             standby + QStringLiteral(".log"), QStringLiteral("-w"), QStringLiteral("start")});
        // From now on a commit on the primary returns only once the standby holds it.
        psql(primaryPort, QStringLiteral("ALTER SYSTEM SET synchronous_standby_names = 'standby'"));
        psql(primaryPort, QStringLiteral("select pg_reload_conf()"));
        waitFor(QStringLiteral("select sync_state from pg_stat_replication"), QStringLiteral("sync"));
    }
    void stopAll() {
        for (const QString& d : m_started) {
            try {
                run(QStringLiteral("pg_ctl"),
                    {QStringLiteral("-D"), d, QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                     QStringLiteral("stop")});
            } catch (const Error&) {
            }
        }
        m_started.clear();
        if (!m_dir.isEmpty())
            QDir(m_dir).removeRecursively();
    }
    QString data(const QString& name) const { return m_dir + QLatin1Char('/') + name; }
    QString options(int port) const {
        return QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c wal_level=replica")
            .arg(port)
            .arg(m_dir);
    }
    QStringList wrap(const QString& program, const QStringList& args) const {
        if (::geteuid() != 0)
            return QStringList{program} + args;
        return QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + args;
    }
    QString run(const QString& tool, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList all = wrap(m_bin + tool, args);
        if (::geteuid() == 0)
            p.start(QStringLiteral("runuser"), all);
        else
            p.start(all.front(), all.mid(1));
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            throw Error(tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAll()));
        return QString::fromLocal8Bit(p.readAll());
    }
    void waitFor(const QString& sql, const QString& answer) {
        QElapsedTimer t;
        t.start();
        while (psql(primaryPort, sql) != answer) {
            if (t.hasExpired(20000))
                throw Error(QStringLiteral("no answer ") + answer + QStringLiteral(" to ") + sql);
            QThread::msleep(50);
        }
    }
    static int freePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    QString m_bin;
    QString m_dir;
    QStringList m_started;
};

class Failover : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::SQLite)
            GTEST_SKIP() << "a standby server is the server database's own";
        try {
            pair = std::make_unique<StandbyPair>();
            ftp = std::make_unique<FtpServer>();
            {
                Database db;
                ConnectionSpec spec = ConnectionSpec::server(pair->address());
                spec.databaseName = QStringLiteral("velda_failover");
                db.open(spec);
                InitializeDatabase(db, QDate(2024, 3, 5));
                db.exec(QStringLiteral("insert into PDM存储目录 (目录名称, 服务器IP, 备注) values ('V1', ?, '')"),
                        {ftp->address()});
                db.exec(QStringLiteral("update PDM组 set 目录名称='V1' where 组名='admin'"));
            }
            QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V1")));
            first = client(QStringLiteral("A1B2C3D"));
            second = client(QStringLiteral("B2C3D4E"));
        } catch (const Error& e) {
            FAIL() << e.description().toStdString();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }

    std::unique_ptr<Session> client(const QString& serial) {
        const Configuration config(dir.path() + QStringLiteral("/") + serial + QStringLiteral(".ini"));
        config.StoreServerAddress(pair->address());
        ProgramPaths paths{dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/") + serial};
        auto s = std::make_unique<Session>(feedback, clock, config, paths, serial);
        s->serverDatabaseName = QStringLiteral("velda_failover");
        s->onEndProgram = [](int) {};
        s->connect(pair->address());
        s->ctx.ServerAddress = pair->address();
        s->ctx.UserId = QStringLiteral("admin");
        s->ctx.LoginGroup = QStringLiteral("admin");
        s->ctx.UserGroups = QStringLiteral("/admin/");
        s->ctx.VolumeName = QStringLiteral("V1");
        s->ctx.VolumeServerIp = ftp->address();
        s->ctx.AdminPassword = ftp->password();
        return s;
    }

    Outcome checkIn(Session& s, const QString& code, const std::function<void()>& afterUpload = {}) {
        Acl::SetPending(s.ctx, QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"),
                        QStringLiteral("/admin(U)/"));
        const QString path = dir.path() + QStringLiteral("/") + code + QStringLiteral(".dwg");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(code.toUtf8());
        f.close();
        FtpClient ftpClient;
        bool uploaded = false;
        DrawingLibrary library(s, [&](const TransferOperation& op) {
            TransferResult r = WaitForTransfer(ftpClient, op);
            if (afterUpload && !std::exchange(uploaded, true))
                afterUpload();
            return r;
        });
        return library.CheckIn(code, path);
    }

    QTemporaryDir dir;
    RecordingFeedback feedback;
    FixedClock clock;
    std::unique_ptr<StandbyPair> pair;
    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<Session> first;
    std::unique_ptr<Session> second;
};

TEST_P(Failover, ThePromotedStandbyHoldsEveryCommittedCheckInAndTheClientsGoOnWithIt) {
    QStringList committed;
    for (const QString& code : {QStringLiteral("F-1"), QStringLiteral("F-2"), QStringLiteral("F-3")}) {
        ASSERT_EQ(Shown(checkIn(code == QStringLiteral("F-2") ? *second : *first, code)),
                  QStringLiteral("done: 入库完毕！"));
        committed << code;
    }

    // The primary fails while a check-in is under way: it ends with the message of the lost
    // connection, not as done, and not with an exception.
    Outcome cut;
    EXPECT_NO_THROW(cut = checkIn(*first, QStringLiteral("F-4"), [&] { pair->stopPrimary(); }));
    EXPECT_TRUE(cut.failed()) << Shown(cut).toStdString();
    EXPECT_TRUE(cut.text.startsWith(QStringLiteral("与数据库"))) << Shown(cut).toStdString();

    pair->promoteStandby();
    QElapsedTimer sincePromotion;
    sincePromotion.start();
    // Each client's next command reaches the new primary at once.
    EXPECT_EQ(Shown(checkIn(*first, QStringLiteral("F-5"))), QStringLiteral("done: 入库完毕！"));
    EXPECT_LT(sincePromotion.elapsed(), 5000);
    committed << QStringLiteral("F-5");
    EXPECT_EQ(Shown(checkIn(*second, QStringLiteral("F-6"))), QStringLiteral("done: 入库完毕！"));
    committed << QStringLiteral("F-6");

    EXPECT_EQ(pair->psql(pair->standbyPort,
                         QStringLiteral("select string_agg(代号, ',' order by 代号) from PDM入库图纸信息"),
                         QStringLiteral("velda_failover")),
              committed.join(QLatin1Char(',')));
}

INSTANTIATE_TEST_SUITE_P(Db, Failover, kBothBackends, BackendName);

} // namespace
