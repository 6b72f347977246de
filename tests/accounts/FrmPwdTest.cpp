#include "TestSupport.h"

#include "accounts/AdminRecord.h"
#include "accounts/ui/FrmPwd.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class FrmPwdDialog : public BothDatabases {
protected:
    QLineEdit* edit(QWidget& f, const char* name) { return f.findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QPushButton* button(QWidget& f, const char* name) { return f.findChild<QPushButton*>(QString::fromLatin1(name)); }
};

TEST_P(FrmPwdDialog, RefusesEmptyOrDifferingPasswordsAndClearsBoth) {
    FrmPwd form(*env->session);
    form.show();
    EXPECT_EQ(edit(form, "TxtUser")->text(), QStringLiteral("velda"));
    QTest::keyClicks(edit(form, "TxtPwd"), QStringLiteral("abc"));
    QTest::keyClicks(edit(form, "TxtPwdII"), QStringLiteral("abd"));
    QTest::mouseClick(button(form, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("密码输入有误（要求输入域用户velda的密码，且密码不能为空）！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_TRUE(edit(form, "TxtPwd")->text().isEmpty());
    EXPECT_TRUE(edit(form, "TxtPwdII")->text().isEmpty());
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM系统管理员信息")), 0);
}

TEST_P(FrmPwdDialog, EnterMovesOnAndConfirmRecordsThisMachine) {
    FrmPwd form(*env->session);
    form.show();
    QApplication::setActiveWindow(&form);
    edit(form, "TxtPwd")->setFocus();
    QTest::keyClicks(edit(form, "TxtPwd"), QStringLiteral("s3cret"));
    QTest::keyClick(edit(form, "TxtPwd"), Qt::Key_Return);
    EXPECT_TRUE(edit(form, "TxtPwdII")->hasFocus());
    QTest::keyClicks(edit(form, "TxtPwdII"), QStringLiteral("s3cret"));
    QTest::keyClick(edit(form, "TxtPwdII"), Qt::Key_Return);
    EXPECT_TRUE(button(form, "CmdAct")->hasFocus());
    QTest::mouseClick(button(form, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("操作已成功完成！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->session->ctx.AdminPassword, QStringLiteral("s3cret"));
    EXPECT_EQ(ReadAdminPassword(env->db(), env->session->machineSerialHex()), QStringLiteral("s3cret"));
    EXPECT_FALSE(form.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Db, FrmPwdDialog, kBothBackends, BackendName);
