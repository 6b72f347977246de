#include "TestSupport.h"

#include "accounts/Users.h"

using namespace velda;
using namespace velda::test;

TEST(GroupListText, FollowsListOrderAndLeavesTheClosingSlashToStoring) {
    EXPECT_EQ(GroupListText({QStringLiteral("admin"), QStringLiteral("user")}), QStringLiteral("/admin/user"));
    EXPECT_EQ(GroupListText({}), QString());
    EXPECT_TRUE(GroupListNames(QStringLiteral("/admin/user/"), QStringLiteral("user")));
    EXPECT_FALSE(GroupListNames(QStringLiteral("/admin/user/"), QStringLiteral("adm")));
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
    QString field(const QString& column, const QString& id) {
        return env->db().scalar(QStringLiteral("select %1 from PDM用户 where ID=?").arg(column), {id}).toString();
    }
    int accounts() { return env->count(QStringLiteral("select count(*) from PDM用户")); }
};

TEST_P(Accounts, AddStoresTheGroupsInListOrderAndTodaysDate) {
    env->clock.set(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59)));
    EXPECT_EQ(AddAccount(s(), QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("pw"),
                         {QStringLiteral("user"), QStringLiteral("design")}, QStringLiteral("设计员")),
              AccountOutcome::Done);
    EXPECT_EQ(field(QStringLiteral("所属组"), QStringLiteral("alice")), QStringLiteral("/user/design/"));
    EXPECT_EQ(field(QStringLiteral("创建日期"), QStringLiteral("alice")), QStringLiteral("2024/3/5"));
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("alice")), QStringLiteral("pw"));
    EXPECT_EQ(field(QStringLiteral("备注"), QStringLiteral("alice")), QStringLiteral("设计员"));
    EXPECT_EQ(ListAccountIds(s()), (QStringList{QStringLiteral("admin"), QStringLiteral("alice")}));
}

TEST_P(Accounts, AddRefusesMissingOrDifferingPasswordsAndNoGroup) {
    const QStringList groups{QStringLiteral("user")};
    EXPECT_EQ(AddAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("b"), groups, {}),
              AccountOutcome::MissingIdOrPassword);
    EXPECT_EQ(AddAccount(s(), QString(), QStringLiteral("a"), QStringLiteral("a"), groups, {}),
              AccountOutcome::MissingIdOrPassword);
    EXPECT_EQ(AddAccount(s(), QStringLiteral("bob"), QString(), QString(), groups, {}),
              AccountOutcome::MissingIdOrPassword);
    EXPECT_EQ(AddAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("a"), {}, {}),
              AccountOutcome::NoGroupSelected);
    EXPECT_EQ(accounts(), 1);
}

TEST_P(Accounts, AddRefusesAnExistingIdAndLeavesItsRowAlone) {
    EXPECT_EQ(AddAccount(s(), QStringLiteral("admin"), QStringLiteral("x"), QStringLiteral("x"),
                         {QStringLiteral("user")}, {}),
              AccountOutcome::Exists);
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
    EXPECT_EQ(field(QStringLiteral("所属组"), QStringLiteral("admin")), QStringLiteral("/admin/user/"));
    EXPECT_EQ(accounts(), 1);
}

TEST_P(Accounts, QuotesInValuesAreData) {
    const QString id = QStringLiteral("o'brien");
    const QString pwd = QStringLiteral("p' or '1'='1");
    EXPECT_EQ(AddAccount(s(), id, pwd, pwd, {QStringLiteral("user")}, QStringLiteral("it's")), AccountOutcome::Done);
    const auto account = LoadAccount(s(), id);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->password, pwd);
    EXPECT_EQ(account->remark, QStringLiteral("it's"));
    EXPECT_EQ(account->groups, QStringLiteral("/user/"));
    EXPECT_EQ(DeleteAccount(s(), QStringLiteral("x' or ID<>'")), AccountOutcome::NotFound);
    EXPECT_EQ(accounts(), 2);
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
    EXPECT_EQ(DeleteAccount(s(), QStringLiteral("admin")), AccountOutcome::ProtectedAccount);
    EXPECT_EQ(DeleteAccount(s(), QStringLiteral("Admin")), AccountOutcome::Done);
    EXPECT_EQ(ListAccountIds(s()), QStringList{QStringLiteral("admin")});
    EXPECT_EQ(DeleteAccount(s(), QStringLiteral("Admin")), AccountOutcome::NotFound);
}

TEST_P(Accounts, OnlyAdministratorsAddOrDelete) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_EQ(
        AddAccount(s(), QStringLiteral("eve"), QStringLiteral("e"), QStringLiteral("e"), {QStringLiteral("admin")}, {}),
        AccountOutcome::NotAdministrator);
    EXPECT_EQ(DeleteAccount(s(), QStringLiteral("bob")), AccountOutcome::NotAdministrator);
    EXPECT_EQ(accounts(), 2);
}

TEST_P(Accounts, NonAdministratorChangesOnlyHisOwnPassword) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    // Whatever the account box says, and whatever groups and remark come along.
    EXPECT_EQ(EditAccount(s(), QStringLiteral("admin"), QStringLiteral("new"), QStringLiteral("new"),
                          {QStringLiteral("admin")}, QStringLiteral("hacked")),
              AccountOutcome::Done);
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("new"));
    EXPECT_EQ(field(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/"));
    EXPECT_EQ(field(QStringLiteral("备注"), QStringLiteral("bob")), QString());
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
    EXPECT_EQ(field(QStringLiteral("所属组"), QStringLiteral("admin")), QStringLiteral("/admin/user/"));
}

TEST_P(Accounts, AdministratorChangesPasswordGroupsAndRemark) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    EXPECT_EQ(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("new"), QStringLiteral("new"),
                          {QStringLiteral("user"), QStringLiteral("design")}, QStringLiteral("组长")),
              AccountOutcome::Done);
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("new"));
    EXPECT_EQ(field(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/design/"));
    EXPECT_EQ(field(QStringLiteral("备注"), QStringLiteral("bob")), QStringLiteral("组长"));
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
}

TEST_P(Accounts, EditRefusesBadPasswordsNoGroupAndAMissingRow) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    const QStringList groups{QStringLiteral("user")};
    EXPECT_EQ(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("b"), groups, {}),
              AccountOutcome::WrongPassword);
    EXPECT_EQ(EditAccount(s(), QStringLiteral("bob"), QString(), QString(), groups, {}), AccountOutcome::WrongPassword);
    EXPECT_EQ(EditAccount(s(), QStringLiteral("bob"), QStringLiteral("a"), QStringLiteral("a"), {}, {}),
              AccountOutcome::NoGroupSelected);
    EXPECT_EQ(EditAccount(s(), QStringLiteral("gone"), QStringLiteral("a"), QStringLiteral("a"), groups, {}),
              AccountOutcome::NotFound);
    EXPECT_EQ(field(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("old"));
    // A non-administrator whose own row went away meanwhile.
    env->actAs(QStringLiteral("gone"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_EQ(EditAccount(s(), QStringLiteral("gone"), QStringLiteral("a"), QStringLiteral("a"), {}, {}),
              AccountOutcome::NotFound);
}

INSTANTIATE_TEST_SUITE_P(Db, Accounts, kBothBackends, BackendName);
