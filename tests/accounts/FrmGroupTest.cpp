#include "TestSupport.h"

#include "accounts/ui/FrmGroup.h"
#include "accounts/ui/FrmGrpMember.h"
#include "accounts/ui/FrmUser.h"
#include "app/Forms.h"
#include "core/Twips.h"
#include "shell/ui/FrmMain.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

namespace {

QStringList entries(QListWidget* list) {
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << list->item(row)->text();
    return out;
}
} // namespace

class GroupDialogs : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    }
    template <typename F> std::unique_ptr<F> open() {
        auto f = std::make_unique<F>(*env->session);
        f->show();
        return f;
    }
    void click(QWidget& f, const char* button) { QTest::mouseClick(child<QPushButton>(f, button), Qt::LeftButton); }
    void pick(QWidget& f, const QString& group) {
        auto* list = child<QListWidget>(f, "LstGrp");
        const auto items = list->findItems(group, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << group.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.first()).center());
    }
};

TEST_P(GroupDialogs, GroupFormHasItsControlsAndListsGroupsAndVolumes) {
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1"));
    env->addVolume(QStringLiteral("V2"), QStringLiteral("10.0.0.2"));
    auto f = open<FrmGroup>();
    EXPECT_EQ(f->windowTitle(), QStringLiteral("组管理"));
    const double dpi = f->logicalDpiX();
    // The given size, grown where the font needs more room.
    EXPECT_EQ(f->size(), QSize(TwipsToPixels(6120, dpi), TwipsToPixels(3200, dpi)).expandedTo(f->sizeHint()));
    EXPECT_EQ(child<QLabel>(*f, "Label4")->text(), QStringLiteral("组名"));
    EXPECT_EQ(child<QLabel>(*f, "Label1")->text(), QStringLiteral("存储目录"));
    EXPECT_EQ(child<QLabel>(*f, "Label2")->text(), QStringLiteral("备注"));
    EXPECT_EQ(child<QGroupBox>(*f, "Frame1")->title(), QStringLiteral("系统现有组"));
    EXPECT_TRUE(child<QGroupBox>(*f, "Frame1")->isAncestorOf(child<QListWidget>(*f, "LstGrp")));
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtName"));
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtMemo"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdAdd")->text(), QStringLiteral("添加"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdDel")->text(), QStringLiteral("删除"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdCancel")->text(), QStringLiteral("取消"));
    EXPECT_EQ(entries(child<QListWidget>(*f, "LstGrp")),
              (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
    auto* volumes = child<QComboBox>(*f, "CboVolume");
    ASSERT_EQ(volumes->count(), 2);
    EXPECT_EQ(volumes->currentText(), QStringLiteral("V1"));
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

TEST_P(GroupDialogs, AddingAGroupListsItAndADuplicateIsRefusedClearly) {
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1"));
    env->addVolume(QStringLiteral("V2"), QStringLiteral("10.0.0.2"));
    auto f = open<FrmGroup>();
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先输入新的组名"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));

    QTest::keyClicks(child<QLineEdit>(*f, "TxtName"), QStringLiteral("design"));
    child<QComboBox>(*f, "CboVolume")->setCurrentIndex(1);
    child<QLineEdit>(*f, "TxtMemo")->setText(QStringLiteral("设计组"));
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("添加完毕！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(entries(child<QListWidget>(*f, "LstGrp")).last(), QStringLiteral("design"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 目录名称 from PDM组 where 组名='design'")).toString(),
              QStringLiteral("V2"));

    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 3);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("组<design>已存在，请换一个组名！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(child<QListWidget>(*f, "LstGrp")->count(), 3);
}

TEST_P(GroupDialogs, DeletingRefusesUserWithoutIconButNotUserInOtherCase) {
    env->addGroup(QStringLiteral("User"));
    auto f = open<FrmGroup>();
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选择欲删除的组名"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);

    pick(*f, QStringLiteral("user"));
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("组帐号<admin>及<user>不可删除！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));

    pick(*f, QStringLiteral("User"));
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 3);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(entries(child<QListWidget>(*f, "LstGrp")),
              (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM组")), 2);
}

TEST_P(GroupDialogs, AGroupDeletedMeanwhileIsReportedAndLeavesTheList) {
    env->addGroup(QStringLiteral("design"));
    auto f = open<FrmGroup>();
    env->db().exec(QStringLiteral("delete from PDM组 where 组名='design'"));
    pick(*f, QStringLiteral("design"));
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("组<design>不存在，可能已被删除！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(entries(child<QListWidget>(*f, "LstGrp")),
              (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
}

TEST_P(GroupDialogs, WithoutVolumesAGroupIsAddedWithNone) {
    auto f = open<FrmGroup>();
    EXPECT_EQ(child<QComboBox>(*f, "CboVolume")->count(), 0);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    child<QLineEdit>(*f, "TxtName")->setText(QStringLiteral("design"));
    click(*f, "CmdAdd");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("添加完毕！"));
    EXPECT_TRUE(env->db().scalar(QStringLiteral("select 目录名称 from PDM组 where 组名='design'")).isNull());
}

TEST_P(GroupDialogs, MembersListShowsOnlyRealMembers) {
    env->addGroup(QStringLiteral("a_b"));
    env->addGroup(QStringLiteral("axb"));
    env->addUser(QStringLiteral("ann"), QStringLiteral("x"), QStringLiteral("/a_b/"));
    env->addUser(QStringLiteral("xav"), QStringLiteral("x"), QStringLiteral("/axb/"));
    auto f = open<FrmGrpMember>();
    EXPECT_EQ(f->windowTitle(), QStringLiteral("组成员"));
    const double dpi = f->logicalDpiX();
    // The given size, grown where the font needs more room.
    EXPECT_EQ(f->size(), QSize(TwipsToPixels(4695, dpi), TwipsToPixels(3465, dpi)).expandedTo(f->sizeHint()));
    EXPECT_EQ(child<QLabel>(*f, "Label4")->text(), QStringLiteral("组名"));
    EXPECT_EQ(child<QLabel>(*f, "Label7")->text(), QStringLiteral("成员"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdCancel")->text(), QStringLiteral("退出"));
    auto* groups = child<QListWidget>(*f, "LstGrp");
    auto* members = child<QListWidget>(*f, "LstMember");
    EXPECT_EQ(groups->currentRow(), 0);
    EXPECT_EQ(entries(members), QStringList{QStringLiteral("admin")});
    pick(*f, QStringLiteral("a_b"));
    EXPECT_EQ(entries(members), QStringList{QStringLiteral("ann")});
    pick(*f, QStringLiteral("axb"));
    EXPECT_EQ(entries(members), QStringList{QStringLiteral("xav")});
    pick(*f, QStringLiteral("user"));
    EXPECT_EQ(entries(members), QStringList{QStringLiteral("admin")});
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    click(*f, "CmdCancel");
    EXPECT_FALSE(f->isVisible());
}

TEST_P(GroupDialogs, MembersFormWithoutGroupsStaysEmpty) {
    env->db().exec(QStringLiteral("delete from PDM组"));
    auto f = open<FrmGrpMember>();
    EXPECT_EQ(child<QListWidget>(*f, "LstGrp")->count(), 0);
    EXPECT_EQ(child<QListWidget>(*f, "LstMember")->count(), 0);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

TEST_P(GroupDialogs, DeletedGroupNoLongerListedWhileItsUsersKeepTheirLists) {
    env->addGroup(QStringLiteral("design"));
    env->addUser(QStringLiteral("alice"), QStringLiteral("a"), QStringLiteral("/user/design/"));
    {
        auto f = open<FrmGroup>();
        pick(*f, QStringLiteral("design"));
        click(*f, "CmdDel");
        EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕！"));
    }
    auto m = open<FrmGrpMember>();
    EXPECT_FALSE(entries(child<QListWidget>(*m, "LstGrp")).contains(QStringLiteral("design")));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 所属组 from PDM用户 where ID='alice'")).toString(),
              QStringLiteral("/user/design/"));
}

// The main window's commands open these forms and disable what does not belong to the function.
class AccountCommands : public GroupDialogs {
protected:
    std::unique_ptr<FrmMain> mainWindow() {
        auto w = std::make_unique<FrmMain>(*env->session, ProgramForms());
        w->show();
        return w;
    }
};

TEST_P(AccountCommands, AddGroupAndDelGroupPrepareTheGroupForm) {
    {
        auto w = mainWindow();
        w->RunCommand(QStringLiteral("AddGroup"));
        QWidget* f = w->openForm(QStringLiteral("FrmGroup"));
        ASSERT_TRUE(f);
        EXPECT_FALSE(child<QPushButton>(*f, "CmdDel")->isEnabled());
        EXPECT_FALSE(child<QListWidget>(*f, "LstGrp")->isEnabled());
        EXPECT_TRUE(child<QPushButton>(*f, "CmdAdd")->isEnabled());
        EXPECT_TRUE(child<QLineEdit>(*f, "TxtName")->isEnabled());
    }
    auto w = mainWindow();
    w->RunCommand(QStringLiteral("DelGroup"));
    QWidget* f = w->openForm(QStringLiteral("FrmGroup"));
    ASSERT_TRUE(f);
    for (const char* name : {"CmdAdd", "TxtName", "CboVolume", "TxtMemo"})
        EXPECT_FALSE(child<QWidget>(*f, name)->isEnabled()) << name;
    EXPECT_TRUE(child<QPushButton>(*f, "CmdDel")->isEnabled());
    EXPECT_TRUE(child<QListWidget>(*f, "LstGrp")->isEnabled());
}

TEST_P(AccountCommands, UserCommandsSetTheFormMode) {
    auto w = mainWindow();
    w->RunCommand(QStringLiteral("DelUser"));
    QWidget* f = w->openForm(QStringLiteral("FrmUser"));
    ASSERT_TRUE(f);
    EXPECT_EQ(env->session->ctx.FormMode, QStringLiteral("Del"));
    EXPECT_TRUE(child<QPushButton>(*f, "CmdDel")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdAdd")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdEdit")->isEnabled());
    EXPECT_EQ(child<QComboBox>(*f, "CboUser")->currentText(), QStringLiteral("admin"));
}

TEST_P(AccountCommands, ADialogLeftOpenRefusesAUserWhoIsNoAdministrator) {
    env->addGroup(QStringLiteral("design"));
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    auto w = mainWindow();
    w->RunCommand(QStringLiteral("DelGroup"));
    w->RunCommand(QStringLiteral("DelUser"));
    QWidget* groups = w->openForm(QStringLiteral("FrmGroup"));
    QWidget* users = w->openForm(QStringLiteral("FrmUser"));
    ASSERT_TRUE(groups && users);
    // Another login, without administrator rights, while both dialogs stay open.
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    pick(*groups, QStringLiteral("design"));
    click(*groups, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    child<QComboBox>(*users, "CboUser")->setEditText(QStringLiteral("bob"));
    click(*users, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM组 where 组名='design'")), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='bob'")), 1);
}

INSTANTIATE_TEST_SUITE_P(Db, GroupDialogs, kBothBackends, BackendName);
INSTANTIATE_TEST_SUITE_P(Db, AccountCommands, kBothBackends, BackendName);
