#include "TestSupport.h"

#include "shell/Login.h"

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

// Each account is offered the group it last logged in with here; the first group for anyone else, and
// when the remembered group is gone.
TEST_P(LoginLogic, TheLoginBoxOffersEachAccountItsLastGroup) {
    const QStringList groups{QStringLiteral("admin"), QStringLiteral("user"), QStringLiteral("design")};
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("alice"), groups), 0);
    ASSERT_EQ(login(QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("design")), QStringLiteral("done"));
    ASSERT_EQ(login(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("axb")), QStringLiteral("done"));
    EXPECT_EQ(login(QStringLiteral("alice"), QStringLiteral("wrong"), QStringLiteral("user")),
              QStringLiteral("refused: ") + kLoginRefused);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("alice"), groups), 2);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("carol"), groups), 0);
    EXPECT_EQ(PreferredLoginGroup(*env->session, QStringLiteral("nobody"), groups), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, LoginLogic, kBothBackends, BackendName);
