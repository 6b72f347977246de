#include "PgTrace.h"
#include "TestSupport.h"

#include "accounts/LoginLock.h"
#include "core/OfficeSettings.h"
#include "shell/Login.h"

#include <QSysInfo>

using namespace velda;
using namespace velda::test;

class LoginLogic : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.5"));
        env->addGroup(QStringLiteral("design"), QStringLiteral("V1"));
        env->addGroup(QStringLiteral("axb"), QStringLiteral("V1"));
        env->addGroup(QStringLiteral("a_b"));
        env->addUser(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("/user/design/"));
        env->addUser(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("/axb/"));
    }
    QString login(const QString& u, const QString& p, const QString& g) { return Shown(Login(*env->session, u, p, g)); }
    int logins() { return env->count(QStringLiteral("select count(*) from PDM日志 where 方式='用户登录'")); }
};

TEST_P(LoginLogic, FillsTheContextWithTheGroupsVolumeAndLogs) {
    ASSERT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
    const UserContext& ctx = env->session->ctx;
    EXPECT_EQ(ctx.UserId, QStringLiteral("alice"));
    EXPECT_EQ(ctx.UserGroups, QStringLiteral("/user/design/"));
    EXPECT_EQ(ctx.LoginGroup, QStringLiteral("design"));
    EXPECT_EQ(ctx.VolumeName, QStringLiteral("V1"));
    EXPECT_EQ(ctx.VolumeServerIp, QStringLiteral("10.0.0.5"));
    EXPECT_FALSE(ctx.isAdministrator());
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='用户登录' and ID='alice' and 时间=?"),
                         {QStringLiteral("2024年03月05日09时07分03秒")}),
              1);
    // A group with no volume (the local set-up) logs in with empty volume fields.
    ASSERT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("user")), QStringLiteral("done"));
    EXPECT_TRUE(env->session->ctx.VolumeName.isEmpty());
    EXPECT_TRUE(env->session->ctx.VolumeServerIp.isEmpty());
    EXPECT_EQ(logins(), 2);
}

TEST_P(LoginLogic, AdministratorWithUserGroupIsStillAdministrator) {
    ASSERT_EQ(login(QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("user")), QStringLiteral("done"));
    EXPECT_EQ(env->session->ctx.LoginGroup, QStringLiteral("user"));
    EXPECT_TRUE(env->session->ctx.isAdministrator());
}

TEST_P(LoginLogic, RefusesWrongPasswordForeignGroupAndInjectedText) {
    // Many tries of one name: the lock-out is not what this looks at.
    OfficeSettings(env->db()).setNumber(LoginLockSetting::Failures, 100);
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("PW"), QStringLiteral("design")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("admin")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("nobody"), QStringLiteral("pw"), QStringLiteral("user")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    // A quote is data, not SQL.
    EXPECT_EQ(login(QStringLiteral("' or '1'='1"), QStringLiteral("' or '1'='1"), QStringLiteral("user")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice' --"), QStringLiteral("x"), QStringLiteral("user")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    // Wildcards in the group never match another group.
    EXPECT_EQ(login(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("a_b")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("%")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("des%")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("DESIGN")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QString()),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    EXPECT_TRUE(env->session->ctx.UserId.isEmpty());
    EXPECT_EQ(logins(), 0);
    // Membership is by whole names: /admin/ is not a member of "adm".
    EXPECT_EQ(login(QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("adm")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
}

TEST_P(LoginLogic, AGroupStoredWithASlashIsOneGroupAndNotAdmin) {
    env->addGroup(QStringLiteral("admin/旧"));
    env->addUser(QStringLiteral("eve"), QStringLiteral("pw"), QStringLiteral("/user/admin/旧/"));
    EXPECT_EQ(login(QStringLiteral("eve"), QStringLiteral("pw"), QStringLiteral("admin")),
              QStringLiteral("refused: 密码有误，请重新输入！"));
    ASSERT_EQ(login(QStringLiteral("eve"), QStringLiteral("pw"), QStringLiteral("admin/旧")), QStringLiteral("done"));
    EXPECT_EQ(env->session->ctx.LoginGroup, QStringLiteral("admin/旧"));
    EXPECT_FALSE(env->session->ctx.isAdministrator());
    ASSERT_EQ(login(QStringLiteral("eve"), QStringLiteral("pw"), QStringLiteral("user")), QStringLiteral("done"));
    EXPECT_FALSE(env->session->ctx.isAdministrator());
}

TEST_P(LoginLogic, NoLoginWhileACommandWaits) {
    ASSERT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
    {
        const CommandGuard running(*env->session, QStringLiteral("批量入库"));
        EXPECT_EQ(login(QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin")),
                  QStringLiteral("refused: “批量入库”操作尚未完成，请待其结束后再变更登录帐号！"));
        EXPECT_EQ(env->session->ctx.UserId, QStringLiteral("alice"));
    }
    EXPECT_EQ(login(QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin")), QStringLiteral("done"));
    EXPECT_EQ(logins(), 2);
}

TEST_P(LoginLogic, ADatabaseFailureIsReportedWithoutIconInTheProgramsTitle) {
    env->db().exec(QStringLiteral("drop table PDM用户"));
    const Outcome outcome =
        Login(*env->session, QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design"));
    EXPECT_TRUE(outcome.failed());
    EXPECT_FALSE(outcome.text.isEmpty());
    EXPECT_EQ(outcome.icon, Icon::None);
    EXPECT_EQ(outcome.title, kTitleProgram);
    EXPECT_TRUE(env->session->ctx.UserId.isEmpty());
}

TEST_P(LoginLogic, GroupsAreListedForTheLoginBox) {
    const QStringList groups = LoadLoginGroups(*env->session);
    EXPECT_TRUE(groups.contains(QStringLiteral("admin")));
    EXPECT_TRUE(groups.contains(QStringLiteral("design")));
    env->db().exec(QStringLiteral("delete from PDM组"));
    EXPECT_THROW(LoadLoginGroups(*env->session), Error);
}

// Each account is offered the group it last logged in with here; none for anyone else, nor when the
// remembered group is gone.
TEST_P(LoginLogic, TheLoginBoxOffersEachAccountItsLastGroup) {
    const QStringList groups{QStringLiteral("admin"), QStringLiteral("user"), QStringLiteral("design")};
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("alice"), groups), -1);
    ASSERT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
    ASSERT_EQ(login(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("axb")), QStringLiteral("done"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("wrong"), QStringLiteral("user")),
              QStringLiteral("refused: ") + kLoginRefused);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("alice"), groups), 2);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("carol"), groups), -1);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("nobody"), groups), -1);
}

// A run of failures locks the name for every client, whether an account has it or not, and each
// failure leaves a row naming the machine; the right password does not pass a lock.
TEST_P(LoginLogic, FailuresAreLoggedAndLockKnownAndUnknownNamesAlike) {
    const QString refused = QStringLiteral("refused: ") + kLoginRefused;
    const QDateTime start = env->clock.now();
    for (int i = 0; i < 5; ++i) {
        env->clock.set(start.addSecs(60 * i));
        EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("wrong"), QStringLiteral("design")), refused);
        EXPECT_EQ(login(QStringLiteral("nobody"), QStringLiteral("wrong"), QStringLiteral("design")), refused);
    }
    env->clock.set(start.addSecs(5 * 60));
    const QString locked = QStringLiteral("refused: ") +
                           LoginLockText::Locked(start.addSecs(4 * 60 + 5 * 60)); // from the fifth failure on
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), locked);
    EXPECT_EQ(login(QStringLiteral("nobody"), QStringLiteral("pw"), QStringLiteral("design")), locked);
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("0F0F0F0"));
    EXPECT_EQ(Shown(Login(*other, QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design"))), locked);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='登录失败' and ID='alice' and 代号=?"),
                         {QSysInfo::machineHostName()}),
              7);
    EXPECT_EQ(logRows(QStringLiteral("登录失败")), 13);
    EXPECT_EQ(logins(), 0);
    env->clock.set(start.addSecs(9 * 60 + 1));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
    EXPECT_EQ(rows(QStringLiteral("登录失败"), QStringLiteral("帐号='alice'")), 0) << "the count starts again";

    // With no failure on record there is no count to start again: the read is all a login costs there.
    const QStringList sent = StatementsSent(env->db(), [&] {
        EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")),
                  QStringLiteral("done"));
    });
    if (env->backend == Backend::PostgreSQL) {
        EXPECT_EQ(sent.filter(QStringLiteral("登录失败")).size(), 1) << sent.join(u'\n').toStdString();
    }
}

// The office's own numbers; failures further apart than the window do not add up; an administrator
// ends a lock early.
TEST_P(LoginLogic, AdministratorUnlocksANameLockedByTheOfficesNumbers) {
    OfficeSettings(env->db()).setNumber(LoginLockSetting::Failures, 2);
    const QDateTime start = env->clock.now();
    const QString refused = QStringLiteral("refused: ") + kLoginRefused;
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("x"), QStringLiteral("design")), refused);
    env->clock.set(start.addSecs(10 * 60 + 1));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("x"), QStringLiteral("design")), refused);
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("x"), QStringLiteral("design")), refused);
    EXPECT_TRUE(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design"))
                    .contains(QStringLiteral("锁定")));
    ASSERT_EQ(LockedAccounts(*env->session).size(), 1u);
    EXPECT_EQ(LockedAccounts(*env->session)[0].account, QStringLiteral("alice"));

    env->actAs(QStringLiteral("carol"), QStringLiteral("/axb/"), QStringLiteral("axb"));
    EXPECT_EQ(Shown(UnlockAccount(*env->session, QStringLiteral("alice"))),
              QStringLiteral("refused: 您权限不够，只有admin组的用户才能进行此项操作"));
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    EXPECT_EQ(Shown(UnlockAccount(*env->session, QStringLiteral("alice"))),
              QStringLiteral("done: 帐号<alice>已解锁！"));
    EXPECT_EQ(Shown(UnlockAccount(*env->session, QStringLiteral("alice"))),
              QStringLiteral("refused: 帐号<alice>未被锁定！"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
}

INSTANTIATE_TEST_SUITE_P(Db, LoginLogic, kBothBackends, BackendName);
