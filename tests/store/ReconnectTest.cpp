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
    void allowConnections(bool allow) {
        ASSERT_TRUE(PgCluster::instance().superuserExec(
            QStringLiteral("alter database %1 with allow_connections %2")
                .arg(env->pgDatabase, allow ? QStringLiteral("true") : QStringLiteral("false"))));
    }
    int users() { return env->session->db().scalar(QStringLiteral("select count(*) from PDM用户")).toInt(); }
};

TEST_P(Reconnect, TheNextCommandAfterALostConnectionConnectsAgainByItself) {
    const int before = users();
    breakConnection();
    // The command that meets the broken connection says so; it does not leave a dead handle behind.
    const QString first = ErrorOf([&] { users(); });
    if (GetParam() == Backend::PostgreSQL) {
        EXPECT_TRUE(first.startsWith(QStringLiteral("与数据库服务器的连接已中断"))) << first.toStdString();
    }
    EXPECT_EQ(users(), before);
    EXPECT_TRUE(env->session->hasConnection());
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
