#include "PgCluster.h"
#include "TestSupport.h"

#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

using namespace velda;
using namespace velda::test;

namespace {

QString ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.description();
    }
    return {};
}

// The connection breaks under the running program: the server ends every session of the test's
// database (as a restart does); for the local file the program's own handle goes.
class Reconnect : public BothDatabases {
protected:
    void breakConnection() {
        if (GetParam() == Backend::SQLite) {
            env->session->db().close();
            return;
        }
        QString error;
        ASSERT_TRUE(PgCluster::instance().superuserExec(
            QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where datname = '%1' "
                           "and pid <> pg_backend_pid()")
                .arg(env->pgDatabase),
            &error))
            << error.toStdString();
    }
    void restartServer() {
        if (GetParam() == Backend::SQLite) {
            env->session->db().close();
            return;
        }
        QString error;
        ASSERT_TRUE(PgCluster::instance().restart(&error)) << error.toStdString();
    }
    void allowConnections(bool allow) {
        ASSERT_TRUE(PgCluster::instance().superuserExec(
            QStringLiteral("alter database %1 with allow_connections %2")
                .arg(env->pgDatabase, allow ? QStringLiteral("true") : QStringLiteral("false"))));
    }
    int users() { return env->session->db().scalar(QStringLiteral("select count(*) from PDM用户")).toInt(); }
    QString remarkOf(const QString& id) {
        return env->session->db().scalar(QStringLiteral("select 备注 from PDM用户 where ID=?"), {id}).toString();
    }
    void setRemark(const QString& id, const QString& remark) {
        env->session->db().exec(QStringLiteral("update PDM用户 set 备注=? where ID=?"), {remark, id});
    }
};

TEST_P(Reconnect, TheFirstCommandAfterTheServerEndedTheSessionConnectsAgainUnseen) {
    const int before = users();
    int seen = -1;
    restartServer();
    EXPECT_EQ(ErrorOf([&] { seen = users(); }), QString());
    EXPECT_EQ(seen, before);
    // A statement with values meets the dead connection when the server is asked to prepare it; a
    // change the ended session never ran is made once.
    breakConnection();
    EXPECT_EQ(ErrorOf([&] { setRemark(QStringLiteral("admin"), QStringLiteral("again")); }), QString());
    EXPECT_EQ(remarkOf(QStringLiteral("admin")), QStringLiteral("again"));
    breakConnection();
    EXPECT_EQ(ErrorOf([&] {
                  Transaction t(env->session->db());
                  setRemark(QStringLiteral("admin"), QStringLiteral("in one"));
                  t.commit();
              }),
              QString());
    EXPECT_EQ(remarkOf(QStringLiteral("admin")), QStringLiteral("in one"));
    EXPECT_TRUE(env->session->hasConnection());
}

TEST_P(Reconnect, AConnectionLostInsideATransactionFailsItAndTheNextCommandConnectsAgain) {
    setRemark(QStringLiteral("admin"), QStringLiteral("before"));
    Database& db = env->session->db();
    const QString lost = ErrorOf([&] {
        Transaction t(db);
        db.exec(QStringLiteral("update PDM用户 set 备注=? where ID=?"),
                {QStringLiteral("lost"), QStringLiteral("admin")});
        breakConnection();
        // Its earlier change went with the connection: running this one alone on a new connection
        // would make half of the transaction.
        db.exec(QStringLiteral("update PDM用户 set 密码=? where ID=?"), {QStringLiteral("x"), QStringLiteral("admin")});
        t.commit();
    });
    if (GetParam() == Backend::PostgreSQL) {
        EXPECT_TRUE(lost.startsWith(QStringLiteral("与数据库服务器的连接已中断，本次操作没有完成，请重新执行")))
            << lost.toStdString();
    }
    EXPECT_FALSE(lost.isEmpty());
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(remarkOf(QStringLiteral("admin")), QStringLiteral("before")); }), QString());
}

TEST_P(Reconnect, AServerThatStaysAwayIsReportedClearlyAndNothingIsThrownOutOfAMenuCommand) {
    if (GetParam() == Backend::SQLite) {
        // The local file cannot stay away; a file that went is reported by name.
        const QString file = env->session->paths().localDatabase();
        env->session->db().close();
        ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(".away")));
        EXPECT_TRUE(ErrorOf([&] { users(); }).startsWith(QStringLiteral("与数据库的连接已中断，重新连接未成功：")));
        ASSERT_TRUE(QFile::rename(file + QStringLiteral(".away"), file));
        EXPECT_GT(users(), 0);
        return;
    }
    allowConnections(false);
    breakConnection();
    ErrorOf([&] { users(); });
    const QString second = ErrorOf([&] { users(); });
    EXPECT_TRUE(second.startsWith(QStringLiteral("与数据库的连接已中断，重新连接未成功："))) << second.toStdString();

    // A menu command meeting the same: a message, no exception out of the handler.
    env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1"));
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    FrmMain main(*env->session, ProgramForms());
    env->feedback.clear();
    EXPECT_NO_THROW(main.RunCommand(QStringLiteral("AddVolume")));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(env->feedback.last().text.startsWith(QStringLiteral("与数据库的连接已中断，重新连接未成功：")))
        << env->feedback.last().text.toStdString();
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);

    allowConnections(true);
    EXPECT_GT(users(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, Reconnect, kBothBackends, BackendName);

} // namespace
