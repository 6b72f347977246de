#include "TestSupport.h"

#include "accounts/Groups.h"

using namespace velda;
using namespace velda::test;

class Groups : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    }
    Session& s() { return *env->session; }
};

TEST_P(Groups, ListsGroupsAndVolumesInTheOrderReturned) {
    // Added out of key order: the lists keep the table's order, not the key's.
    env->addVolume(QStringLiteral("V2"), QStringLiteral("10.0.0.2"));
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1"));
    env->addGroup(QStringLiteral("Zeta"));
    env->addGroup(QStringLiteral("Alpha"));
    EXPECT_EQ(ListGroupNames(s()), (QStringList{QStringLiteral("admin"), QStringLiteral("user"), QStringLiteral("Zeta"),
                                                QStringLiteral("Alpha")}));
    EXPECT_EQ(ListVolumeNames(s()), (QStringList{QStringLiteral("V2"), QStringLiteral("V1")}));
}

TEST_P(Groups, AddStoresNameVolumeAndRemark) {
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Shown(AddGroup(s(), QStringLiteral("design"), QStringLiteral("V1"), QStringLiteral("设计组"))),
              QStringLiteral("done: 添加完毕！"));
    QSqlQuery q =
        env->db().exec(QStringLiteral("select 目录名称, 备注 from PDM组 where 组名=?"), {QStringLiteral("design")});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("V1"));
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("设计组"));
    // With no volume chosen the group has none, like the permanent groups.
    EXPECT_EQ(Shown(AddGroup(s(), QStringLiteral("o'neil"), QString(), QString())), QStringLiteral("done: 添加完毕！"));
    EXPECT_TRUE(env->db()
                    .scalar(QStringLiteral("select 目录名称 from PDM组 where 组名=?"), {QStringLiteral("o'neil")})
                    .isNull());
    EXPECT_EQ(ListGroupNames(s()).size(), 4);
}

TEST_P(Groups, AddRefusesAnEmptyOrExistingName) {
    EXPECT_EQ(Shown(AddGroup(s(), QString(), QString(), QString())), QStringLiteral("refused: 请先输入新的组名"));
    EXPECT_EQ(Shown(AddGroup(s(), QStringLiteral("user"), QString(), QStringLiteral("x"))),
              QStringLiteral("refused: 组<user>已存在，请换一个组名！"));
    EXPECT_EQ(rows(QStringLiteral("PDM组")), 2);
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 备注 from PDM组 where 组名='user'")).toString(),
              QStringLiteral("普通用户组"));
}

TEST_P(Groups, DeleteRefusesExactlyAdminAndUser) {
    env->addGroup(QStringLiteral("User"));
    env->addGroup(QStringLiteral("ADMIN"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("user"))),
              QStringLiteral("refused: 组帐号<admin>及<user>不可删除！"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("admin"))),
              QStringLiteral("refused: 组帐号<admin>及<user>不可删除！"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("User"))), QStringLiteral("done: 删除完毕！"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("ADMIN"))), QStringLiteral("done: 删除完毕！"));
    EXPECT_EQ(ListGroupNames(s()), (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("User"))),
              QStringLiteral("refused: 组<User>不存在，可能已被删除！"));
}

TEST_P(Groups, DeletingAGroupLeavesTheUsersGroupLists) {
    env->addGroup(QStringLiteral("design"));
    env->addUser(QStringLiteral("alice"), QStringLiteral("a"), QStringLiteral("/user/design/"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("design"))), QStringLiteral("done: 删除完毕！"));
    EXPECT_FALSE(ListGroupNames(s()).contains(QStringLiteral("design")));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 所属组 from PDM用户 where ID='alice'")).toString(),
              QStringLiteral("/user/design/"));
}

TEST_P(Groups, OnlyAdministratorsAddOrDelete) {
    env->addGroup(QStringLiteral("design"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    EXPECT_EQ(Shown(AddGroup(s(), QStringLiteral("mine"), QString(), QString())),
              QStringLiteral("refused: 您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(Shown(DeleteGroup(s(), QStringLiteral("design"))),
              QStringLiteral("refused: 您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(rows(QStringLiteral("PDM组")), 3);
}

TEST_P(Groups, MembersAreTheAccountsThatNameTheGroupExactly) {
    env->addGroup(QStringLiteral("a_b"));
    env->addGroup(QStringLiteral("axb"));
    env->addGroup(QStringLiteral("50%"));
    env->addUser(QStringLiteral("ann"), QStringLiteral("x"), QStringLiteral("/a_b/"));
    env->addUser(QStringLiteral("xav"), QStringLiteral("x"), QStringLiteral("/user/axb/"));
    env->addUser(QStringLiteral("pct"), QStringLiteral("x"), QStringLiteral("/50%/"));
    env->addUser(QStringLiteral("pcx"), QStringLiteral("x"), QStringLiteral("/500/"));
    env->addUser(QStringLiteral("bsl"), QStringLiteral("x"), QStringLiteral("/a\\b/"));
    EXPECT_EQ(ListMembers(s(), QStringLiteral("a_b")).value, QStringList{QStringLiteral("ann")});
    EXPECT_EQ(ListMembers(s(), QStringLiteral("axb")).value, QStringList{QStringLiteral("xav")});
    EXPECT_EQ(ListMembers(s(), QStringLiteral("50%")).value, QStringList{QStringLiteral("pct")});
    EXPECT_EQ(ListMembers(s(), QStringLiteral("a\\b")).value, QStringList{QStringLiteral("bsl")});
    EXPECT_EQ(ListMembers(s(), QStringLiteral("user")).value,
              (QStringList{QStringLiteral("admin"), QStringLiteral("xav")}));
    EXPECT_EQ(ListMembers(s(), QStringLiteral("adm")).value, QStringList());
    // A group stored before "/" was refused does not make its members members of admin.
    env->addGroup(QStringLiteral("admin/旧"));
    env->addUser(QStringLiteral("eve"), QStringLiteral("x"), QStringLiteral("/admin/旧/"));
    EXPECT_EQ(ListMembers(s(), QStringLiteral("admin")).value, QStringList{QStringLiteral("admin")});
    EXPECT_EQ(ListMembers(s(), QStringLiteral("admin/旧")).value, QStringList{QStringLiteral("eve")});
}

INSTANTIATE_TEST_SUITE_P(Db, Groups, kBothBackends, BackendName);
