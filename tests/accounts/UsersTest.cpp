#include "TestSupport.h"

#include "accounts/Users.h"
#include "core/GroupList.h"

using namespace velda;
using namespace velda::test;

TEST(GroupListText, FollowsListOrderAndLeavesTheClosingSlashToStoring) {
    EXPECT_EQ(GroupListText({QStringLiteral("admin"), QStringLiteral("user")}), QStringLiteral("/admin/user"));
    EXPECT_EQ(GroupListText({}), QString());
    const QStringList groups{QStringLiteral("admin"), QStringLiteral("user"), QStringLiteral("admin/旧")};
    EXPECT_TRUE(GroupListNames(QStringLiteral("/admin/user/"), QStringLiteral("user"), groups));
    EXPECT_FALSE(GroupListNames(QStringLiteral("/admin/user/"), QStringLiteral("adm"), groups));
    // A group stored before "/" was refused is one name; the other segments are names of their own.
    EXPECT_EQ(GroupListMembers(QStringLiteral("/user/admin/旧/"), groups),
              (QStringList{QStringLiteral("user"), QStringLiteral("admin/旧")}));
    EXPECT_EQ(GroupListMembers(QStringLiteral("/admin/旧x//gone"), groups),
              (QStringList{QStringLiteral("admin"), QStringLiteral("旧x"), QStringLiteral("gone")}));
    EXPECT_EQ(SessionGroupList({QStringLiteral("user"), QStringLiteral("admin/旧")}), QStringLiteral("/user/"));
}

TEST(CreationDateText, HasNoLeadingZeros) {
    EXPECT_EQ(CreationDateText(QDate(2024, 3, 5)), QStringLiteral("2024/3/5"));
    EXPECT_EQ(CreationDateText(QDate(2025, 12, 31)), QStringLiteral("2025/12/31"));
}

class Accounts : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->addGroup(QStringLiteral("design"));
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    }
    Session& s() { return *env->session; }
};

TEST_P(Accounts, AddStoresTheGroupsInListOrderAndTodaysDate) {
    env->clock.set(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59)));
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("pw"),
                               {QStringLiteral("user"), QStringLiteral("design")}, QStringLiteral("设计员"))),
              QStringLiteral("done: 添加完毕！"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("alice")), QStringLiteral("/user/design/"));
    EXPECT_EQ(accountField(QStringLiteral("创建日期"), QStringLiteral("alice")), QStringLiteral("2024/3/5"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("alice")), QStringLiteral("pw"));
    EXPECT_EQ(accountField(QStringLiteral("备注"), QStringLiteral("alice")), QStringLiteral("设计员"));
    EXPECT_EQ(ListAccountIds(s()).value, (QStringList{QStringLiteral("admin"), QStringLiteral("alice")}));
}

TEST_P(Accounts, AddRefusesMissingOrDifferingPasswordsAndNoGroup) {
    const QStringList groups{QStringLiteral("user")};
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("b"), groups, {})),
              QStringLiteral("refused: 用户帐号/密码不能为空！"));
    EXPECT_EQ(Shown(AddAccount(s(), QString(), QStringLiteral("a"), QStringLiteral("a"), groups, {})),
              QStringLiteral("refused: 用户帐号/密码不能为空！"));
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("bob"), QString(), QString(), groups, {})),
              QStringLiteral("refused: 用户帐号/密码不能为空！"));
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("a"), {}, {})),
              QStringLiteral("refused: 请选择用户所属组！"));
    EXPECT_EQ(rows(QStringLiteral("PDM用户")), 1);
}

TEST_P(Accounts, AddRefusesAnExistingIdAndLeavesItsRowAlone) {
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("admin"), QStringLiteral("x"), QStringLiteral("x"),
                               {QStringLiteral("user")}, {})),
              QStringLiteral("refused: 帐号<admin>已存在，请换一个帐号！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("admin")), QStringLiteral("/admin/user/"));
    EXPECT_EQ(rows(QStringLiteral("PDM用户")), 1);
}

TEST_P(Accounts, QuotesInValuesAreData) {
    const QString id = QStringLiteral("o'brien");
    const QString pwd = QStringLiteral("p' or '1'='1");
    EXPECT_EQ(Shown(AddAccount(s(), id, pwd, pwd, {QStringLiteral("user")}, QStringLiteral("it's"))),
              QStringLiteral("done: 添加完毕！"));
    const auto account = LoadAccount(s(), id);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->password, pwd);
    EXPECT_EQ(account->remark, QStringLiteral("it's"));
    EXPECT_EQ(account->groups, QStringLiteral("/user/"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("x' or ID<>'"))),
              QStringLiteral("refused: 帐号<x' or ID<>'>不存在，可能已被删除！"));
    EXPECT_EQ(rows(QStringLiteral("PDM用户")), 2);
}

TEST_P(Accounts, LoadGivesANullRemarkAsEmptyAndNothingForAMissingRow) {
    env->db().exec(QStringLiteral("insert into PDM用户 (ID, 密码, 所属组) values ('carol', 'c', '/user/')"));
    const auto carol = LoadAccount(s(), QStringLiteral("carol"));
    ASSERT_TRUE(carol);
    EXPECT_EQ(carol->password, QStringLiteral("c"));
    EXPECT_TRUE(carol->remark.isEmpty());
    EXPECT_FALSE(LoadAccount(s(), QStringLiteral("nobody")));
}

TEST_P(Accounts, DeleteRefusesExactlyAdmin) {
    env->addUser(QStringLiteral("Admin"), QStringLiteral("x"), QStringLiteral("/user/"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("admin"))), QStringLiteral("refused: 此帐号不能被删除！"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("Admin"))), QStringLiteral("done: 删除完毕！"));
    EXPECT_EQ(ListAccountIds(s()).value, QStringList{QStringLiteral("admin")});
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("Admin"))),
              QStringLiteral("refused: 帐号<Admin>不存在，可能已被删除！"));
}

TEST_P(Accounts, OnlyAdministratorsAddOrDelete) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_EQ(Shown(AddAccount(s(), QStringLiteral("eve"), QStringLiteral("e"), QStringLiteral("e"),
                               {QStringLiteral("admin")}, {})),
              QStringLiteral("refused: 您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("bob"))),
              QStringLiteral("refused: 您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(rows(QStringLiteral("PDM用户")), 2);
}

TEST_P(Accounts, NonAdministratorChangesOnlyHisOwnPassword) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    // Only with his present password; whatever the account box says, and whatever groups and remark
    // come along.
    for (const QString& old : {QString(), QStringLiteral("admin")})
        EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("admin"), QStringLiteral("new"), QStringLiteral("new"),
                                    {QStringLiteral("admin")}, QStringLiteral("hacked"), old)),
                  QStringLiteral("refused: 原密码有误！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("old"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("admin"), QStringLiteral("new"), QStringLiteral("new"),
                                {QStringLiteral("admin")}, QStringLiteral("hacked"), QStringLiteral("old"))),
              QStringLiteral("done: 修改完毕！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("new"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/"));
    EXPECT_EQ(accountField(QStringLiteral("备注"), QStringLiteral("bob")), QString());
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("admin")), QStringLiteral("/admin/user/"));
}

TEST_P(Accounts, AdministratorChangesPasswordGroupsAndRemark) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("new"), QStringLiteral("new"),
                                {QStringLiteral("user"), QStringLiteral("design")}, QStringLiteral("组长"))),
              QStringLiteral("done: 修改完毕！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("new"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/design/"));
    EXPECT_EQ(accountField(QStringLiteral("备注"), QStringLiteral("bob")), QStringLiteral("组长"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
    // His own account: the remark goes with the password unchanged, a new password needs the old.
    const QStringList groups{QStringLiteral("admin"), QStringLiteral("user")};
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("admin"), groups,
                                QStringLiteral("管理员"))),
              QStringLiteral("done: 修改完毕！"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("admin"), QStringLiteral("n"), QStringLiteral("n"), groups, {})),
              QStringLiteral("refused: 原密码有误！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
}

TEST_P(Accounts, EditRefusesBadPasswordsNoGroupAndAMissingRow) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    const QStringList groups{QStringLiteral("user")};
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("b"), groups, {})),
              QStringLiteral("refused: 密码有误！"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("bob"), QString(), QString(), groups, {})),
              QStringLiteral("refused: 密码有误！"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("a"), {}, {})),
              QStringLiteral("refused: 请选择用户所属组（可多选）！"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("gone"), QStringLiteral("a"), QStringLiteral("a"), groups, {})),
              QStringLiteral("refused: 帐号<gone>不存在，可能已被删除！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("old"));
    // A non-administrator whose own row went away meanwhile.
    env->actAs(QStringLiteral("gone"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_EQ(Shown(EditAccount(s(), QStringLiteral("gone"), QStringLiteral("a"), QStringLiteral("a"), {}, {})),
              QStringLiteral("refused: 帐号<gone>不存在，可能已被删除！"));
}

INSTANTIATE_TEST_SUITE_P(Db, Accounts, kBothBackends, BackendName);
