#include "TestSupport.h"

#include "accounts/LoginLock.h"
#include "accounts/ui/FrmUser.h"
#include "core/Twips.h"
#include "shell/Login.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class FrmUserDialog : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->addGroup(QStringLiteral("design"));
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    }
    std::unique_ptr<FrmUser> open(const QString& mode) {
        env->session->ctx.FormMode = mode;
        auto f = std::make_unique<FrmUser>(*env->session);
        f->show();
        return f;
    }
    void click(QWidget& f, const char* button) { QTest::mouseClick(child<QPushButton>(f, button), Qt::LeftButton); }
    void select(QWidget& f, const QString& group) {
        auto* list = child<QListWidget>(f, "LstGrp");
        const auto items = list->findItems(group, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << group.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.first()).center());
    }
    QStringList selected(QWidget& f) {
        QStringList out;
        for (auto* item : child<QListWidget>(f, "LstGrp")->selectedItems())
            out << item->text();
        out.sort();
        return out;
    }
    void choose(QWidget& f, const QString& id) {
        auto* combo = child<QComboBox>(f, "CboUser");
        const int row = combo->findText(id);
        ASSERT_GE(row, 0) << id.toStdString();
        combo->setCurrentIndex(row);
        emit combo->activated(row);
    }
};

TEST_P(FrmUserDialog, HasTheControlsAndSizeOfTheForm) {
    auto f = open(QStringLiteral("Add"));
    EXPECT_EQ(f->windowTitle(), QStringLiteral("用户管理"));
    const double dpi = f->logicalDpiX();
    // The given size, grown where the font needs more room.
    EXPECT_EQ(f->size(), QSize(TwipsToPixels(6135, dpi), TwipsToPixels(3150, dpi)).expandedTo(f->sizeHint()));
    EXPECT_EQ(child<QLabel>(*f, "Label1")->text(), QStringLiteral("帐号"));
    EXPECT_EQ(child<QLabel>(*f, "Label2")->text(), QStringLiteral("密码"));
    EXPECT_EQ(child<QLabel>(*f, "Label3")->text(), QStringLiteral("确认密码"));
    EXPECT_EQ(child<QLabel>(*f, "Label4")->text(), QStringLiteral("所属组"));
    EXPECT_EQ(child<QLabel>(*f, "Label5")->text(), QStringLiteral("备注"));
    EXPECT_TRUE(child<QComboBox>(*f, "CboUser")->isEditable());
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwd")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwdII")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QListWidget>(*f, "LstGrp")->selectionMode(), QAbstractItemView::MultiSelection);
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtMemo"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdAdd")->text(), QStringLiteral("添加"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdDel")->text(), QStringLiteral("删除"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdEdit")->text(), QStringLiteral("编辑"));
    EXPECT_EQ(child<QPushButton>(*f, "CmdCancel")->text(), QStringLiteral("取消"));
}

TEST_P(FrmUserDialog, AddModeListsTheGroupsAndLeavesTheAccountListEmpty) {
    auto f = open(QStringLiteral("Add"));
    auto* groups = child<QListWidget>(*f, "LstGrp");
    ASSERT_EQ(groups->count(), 3);
    EXPECT_EQ(groups->item(0)->text(), QStringLiteral("admin"));
    EXPECT_EQ(groups->item(2)->text(), QStringLiteral("design"));
    EXPECT_EQ(child<QComboBox>(*f, "CboUser")->count(), 0);
    EXPECT_TRUE(child<QPushButton>(*f, "CmdAdd")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdDel")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdEdit")->isEnabled());
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
}

TEST_P(FrmUserDialog, AddingWithDifferingPasswordsSaysTheFieldsAreEmpty) {
    auto f = open(QStringLiteral("Add"));
    child<QComboBox>(*f, "CboUser")->setEditText(QStringLiteral("alice"));
    QTest::keyClicks(child<QLineEdit>(*f, "TxtPwd"), QStringLiteral("abc"));
    QTest::keyClicks(child<QLineEdit>(*f, "TxtPwdII"), QStringLiteral("abd"));
    select(*f, QStringLiteral("user"));
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("用户帐号/密码不能为空！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='alice'")), 0);
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwd")->text(), QStringLiteral("abc")) << "a refusal keeps the input";
}

TEST_P(FrmUserDialog, AddingWithoutAGroupAsksForOne) {
    auto f = open(QStringLiteral("Add"));
    child<QComboBox>(*f, "CboUser")->setEditText(QStringLiteral("alice"));
    child<QLineEdit>(*f, "TxtPwd")->setText(QStringLiteral("pw"));
    child<QLineEdit>(*f, "TxtPwdII")->setText(QStringLiteral("pw"));
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请选择用户所属组！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
}

TEST_P(FrmUserDialog, AddingAliceStoresListOrderGroupsAndTheDate) {
    auto f = open(QStringLiteral("Add"));
    child<QComboBox>(*f, "CboUser")->setEditText(QStringLiteral("alice"));
    child<QLineEdit>(*f, "TxtPwd")->setText(QStringLiteral("pw"));
    child<QLineEdit>(*f, "TxtPwdII")->setText(QStringLiteral("pw"));
    child<QLineEdit>(*f, "TxtMemo")->setText(QStringLiteral("新人"));
    select(*f, QStringLiteral("design")); // chosen first, listed last
    select(*f, QStringLiteral("user"));
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("添加完毕！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("alice")), QStringLiteral("/user/design/"));
    EXPECT_EQ(accountField(QStringLiteral("创建日期"), QStringLiteral("alice")), QStringLiteral("2024/3/5"));
    EXPECT_EQ(accountField(QStringLiteral("备注"), QStringLiteral("alice")), QStringLiteral("新人"));
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(child<QComboBox>(*f, "CboUser")->count(), 0) << "the new ID is not added to the list";

    // Again: the ID is taken now.
    click(*f, "CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("帐号<alice>已存在，请换一个帐号！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
}

TEST_P(FrmUserDialog, AdministratorEditingSeesTheFirstAccountLoaded) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b0b"), QStringLiteral("/user/design/"));
    auto f = open(QStringLiteral("Edit"));
    auto* combo = child<QComboBox>(*f, "CboUser");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->currentText(), QStringLiteral("admin"));
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwd")->text(), QStringLiteral("admin"));
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwdII")->text(), QStringLiteral("admin"));
    EXPECT_EQ(child<QLineEdit>(*f, "TxtMemo")->text(), QStringLiteral("系统管理员"));
    EXPECT_EQ(selected(*f), (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
    EXPECT_FALSE(child<QPushButton>(*f, "CmdAdd")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdDel")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*f, "CmdEdit")->isEnabled());

    choose(*f, QStringLiteral("bob"));
    EXPECT_EQ(child<QLineEdit>(*f, "TxtPwd")->text(), QStringLiteral("b0b"));
    EXPECT_EQ(selected(*f), (QStringList{QStringLiteral("design"), QStringLiteral("user")}));
    select(*f, QStringLiteral("design")); // deselects it
    child<QLineEdit>(*f, "TxtMemo")->setText(QStringLiteral("只读"));
    click(*f, "CmdEdit");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("修改完毕！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/"));
    EXPECT_EQ(accountField(QStringLiteral("备注"), QStringLiteral("bob")), QStringLiteral("只读"));

    select(*f, QStringLiteral("user")); // now none is selected
    click(*f, "CmdEdit");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请选择用户所属组（可多选）！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    child<QLineEdit>(*f, "TxtPwdII")->setText(QStringLiteral("other"));
    click(*f, "CmdEdit");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("密码有误！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/"));
}

TEST_P(FrmUserDialog, NonAdministratorEditsOnlyHisOwnPassword) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("old"), QStringLiteral("/user/"));
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    auto f = open(QStringLiteral("Edit"));
    auto* combo = child<QComboBox>(*f, "CboUser");
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->currentText(), QStringLiteral("bob"));
    EXPECT_EQ(combo->count(), 0);
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwd")->text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwdII")->text().isEmpty());
    EXPECT_FALSE(child<QListWidget>(*f, "LstGrp")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(*f, "TxtMemo")->isEnabled());
    EXPECT_TRUE(selected(*f).isEmpty());

    EXPECT_FALSE(child<QPushButton>(*f, "CmdUnlock")->isVisible());
    // Even a box that somehow names another account changes only his own row, given his password.
    auto* old = child<QLineEdit>(*f, "TxtOldPwd");
    EXPECT_TRUE(old->isVisible());
    EXPECT_EQ(old->echoMode(), QLineEdit::Password);
    combo->setEditText(QStringLiteral("admin"));
    child<QLineEdit>(*f, "TxtPwd")->setText(QStringLiteral("new"));
    child<QLineEdit>(*f, "TxtPwdII")->setText(QStringLiteral("new"));
    old->setText(QStringLiteral("old"));
    click(*f, "CmdEdit");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("修改完毕！"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("bob")), QStringLiteral("new"));
    EXPECT_EQ(accountField(QStringLiteral("所属组"), QStringLiteral("bob")), QStringLiteral("/user/"));
    EXPECT_EQ(accountField(QStringLiteral("密码"), QStringLiteral("admin")), QStringLiteral("admin"));
}

TEST_P(FrmUserDialog, DeleteRefusesAdminButNotAdminInOtherCase) {
    env->addUser(QStringLiteral("Admin"), QStringLiteral("x"), QStringLiteral("/user/"));
    auto f = open(QStringLiteral("Del"));
    EXPECT_FALSE(child<QPushButton>(*f, "CmdAdd")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f, "CmdEdit")->isEnabled());
    auto* combo = child<QComboBox>(*f, "CboUser");
    EXPECT_EQ(combo->currentText(), QStringLiteral("admin"));
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("此帐号不能被删除！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));

    choose(*f, QStringLiteral("Admin"));
    click(*f, "CmdDel");
    ASSERT_EQ(env->feedback.boxes.size(), 2);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='Admin'")), 0);
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("admin"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='admin'")), 1);
}

TEST_P(FrmUserDialog, ATypedIdOutsideTheListIsDeletedAndAnUnknownOneSaidSo) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    auto f = open(QStringLiteral("Del"));
    auto* combo = child<QComboBox>(*f, "CboUser");
    env->addUser(QStringLiteral("late"), QStringLiteral("l"), QStringLiteral("/user/"));
    combo->setEditText(QStringLiteral("late"));
    click(*f, "CmdDel");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕！"));
    EXPECT_EQ(combo->count(), 2) << "the list's entries stay";
    combo->setEditText(QStringLiteral("nobody"));
    click(*f, "CmdDel");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("帐号<nobody>不存在，可能已被删除！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户")), 2);
}

TEST_P(FrmUserDialog, AnAccountDeletedMeanwhileIsReportedNotLoaded) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    auto f = open(QStringLiteral("Edit"));
    env->db().exec(QStringLiteral("delete from PDM用户 where ID='bob'"));
    choose(*f, QStringLiteral("bob"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("帐号<bob>不存在，可能已被删除！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwd")->text().isEmpty());
    EXPECT_TRUE(selected(*f).isEmpty());
    // Saving it anyway changes nothing and says why.
    child<QLineEdit>(*f, "TxtPwd")->setText(QStringLiteral("x"));
    child<QLineEdit>(*f, "TxtPwdII")->setText(QStringLiteral("x"));
    select(*f, QStringLiteral("user"));
    click(*f, "CmdEdit");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("帐号<bob>不存在，可能已被删除！"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户")), 1);
}

TEST_P(FrmUserDialog, AnEmptyAccountTableIsReportedOnLoad) {
    env->db().exec(QStringLiteral("delete from PDM用户"));
    auto f = open(QStringLiteral("Del"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("系统中没有任何用户帐号！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(child<QComboBox>(*f, "CboUser")->count(), 0);
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtPwd")->text().isEmpty());
}

TEST_P(FrmUserDialog, CancelClosesTheDialog) {
    auto f = open(QStringLiteral("Add"));
    click(*f, "CmdCancel");
    EXPECT_FALSE(f->isVisible());
}

// The locked names are listed for the administrator, who unlocks the one in the account box; his
// own password needs the old one, another account's does not.
TEST_P(FrmUserDialog, AdministratorSeesAndEndsALockOut) {
    env->addUser(QStringLiteral("bob"), QStringLiteral("b"), QStringLiteral("/user/"));
    for (int i = 0; i < 5; ++i)
        Login(*env->session, QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("user"));
    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/user/"), QStringLiteral("admin"));
    auto f = open(QStringLiteral("Edit"));
    EXPECT_TRUE(child<QLabel>(*f, "LblLocked")->text().contains(QStringLiteral("bob（至")));
    auto* unlock = child<QPushButton>(*f, "CmdUnlock");
    EXPECT_TRUE(child<QLineEdit>(*f, "TxtOldPwd")->isVisible()) << "admin's own account is loaded";
    EXPECT_FALSE(unlock->isEnabled());
    choose(*f, QStringLiteral("bob"));
    EXPECT_FALSE(child<QLineEdit>(*f, "TxtOldPwd")->isVisible());
    ASSERT_TRUE(unlock->isEnabled());
    click(*f, "CmdUnlock");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("帐号<bob>已解锁！"));
    EXPECT_TRUE(child<QLabel>(*f, "LblLocked")->text().isEmpty());
    EXPECT_FALSE(unlock->isEnabled());
    EXPECT_FALSE(LoginLockedUntil(*env->session, QStringLiteral("bob")));
}

INSTANTIATE_TEST_SUITE_P(Db, FrmUserDialog, kBothBackends, BackendName);
