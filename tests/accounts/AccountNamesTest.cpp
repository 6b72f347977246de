#include "TestSupport.h"

#include "accounts/Groups.h"
#include "accounts/Users.h"

using namespace velda;
using namespace velda::test;

namespace {

// What the dialog would show for an operation that did not succeed; empty when it did.
QString ErrorOf(const Outcome& outcome) { return outcome.done() ? QString() : outcome.text; }

const QString kBadGroup = QStringLiteral("组名不能含有“/”、“(”、“)”、控制字符或无效字符！");
const QString kBadAccount = QStringLiteral("用户帐号不能含有“/”、“(”、“)”、控制字符或无效字符！");

} // namespace

TEST(AccountNames, ListSyntaxControlCharactersAndBrokenTextAreRefused) {
    for (const QString& bad :
         {QStringLiteral("admin/临时"), QStringLiteral("/"), QStringLiteral("x(G)"), QStringLiteral("a)b"),
          QStringLiteral("tab\there"), QString(QChar(0)) + QStringLiteral("x"), QStringLiteral("del\x7f"),
          QString(QChar(0xD800)) + QStringLiteral("a"), QStringLiteral("a") + QChar(0xDC00),
          QStringLiteral("line\nbreak")}) {
        EXPECT_EQ(AccountNameProblem(bad, true), kBadGroup) << bad.toStdString();
        EXPECT_EQ(AccountNameProblem(bad, false), kBadAccount) << bad.toStdString();
    }
    // Letters of every script, blanks, dots, hyphens and characters beyond the basic plane are names.
    for (const QString& good : {QStringLiteral("设计科"), QStringLiteral("a b.c-d_e"), QStringLiteral("admin"),
                                QString::fromUtf8("\xF0\xA0\x80\x80"
                                                  "组")})
        EXPECT_TRUE(AccountNameProblem(good, true).isEmpty()) << good.toStdString();
}

class AccountNameRules : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    }
    Session& s() { return *env->session; }
};

TEST_P(AccountNameRules, AGroupNameWithASlashCannotMakeItsMembersAdministrators) {
    EXPECT_EQ(ErrorOf(AddGroup(s(), QStringLiteral("admin/临时"), QString(), QString())), kBadGroup);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM组 where 组名 like '%临时%'")), 0);
    EXPECT_EQ(ErrorOf(AddAccount(s(), QStringLiteral("eve(G)"), QStringLiteral("pw"), QStringLiteral("pw"),
                                 {QStringLiteral("user")}, QString())),
              kBadAccount);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID like 'eve%'")), 0);

    // Names of other scripts and blanks stay welcome.
    EXPECT_EQ(Shown(AddGroup(s(), QStringLiteral("设计 一科"), QString(), QString())),
              QStringLiteral("done: 添加完毕！"));
}

TEST_P(AccountNameRules, AnAccountThatHoldsDrawingsIsNotDeleted) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("pw"), QStringLiteral("/user/"));
    for (const char* code : {"A-1", "A-2"})
        env->db().exec(
            QStringLiteral("insert into PDM出库图纸信息 (代号, 出库帐号, 出库时间) values (?, 'bob', '2024/3/5')"),
            {QString::fromLatin1(code)});
    EXPECT_EQ(ErrorOf(DeleteAccount(s(), QStringLiteral("bob"))),
              QStringLiteral("帐号<bob>尚有2张图纸处于出库状态，请先将其入库后再删除该帐号！"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='bob'")), 1);

    env->db().exec(QStringLiteral("delete from PDM出库图纸信息"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("bob"))), QStringLiteral("done: 删除完毕！"));
    EXPECT_EQ(Shown(DeleteAccount(s(), QStringLiteral("bob"))),
              QStringLiteral("refused: 帐号<bob>不存在，可能已被删除！"));
}

INSTANTIATE_TEST_SUITE_P(Db, AccountNameRules, kBothBackends, BackendName);
