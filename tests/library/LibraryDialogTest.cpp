#include "LibraryFixture.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "core/ui/Forms.h"
#include "library/ui/FrmLibDrawing.h"
#include "shell/ui/FrmMain.h"

#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

class LibraryDialog : public LibraryTest {
protected:
    QLineEdit* edit(QWidget* f, const char* n) { return f->findChild<QLineEdit*>(QString::fromLatin1(n)); }
    QPushButton* button(QWidget* f, const char* n) { return f->findChild<QPushButton*>(QString::fromLatin1(n)); }
    void press(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
};

TEST_P(LibraryDialog, CheckInFromTheMenuAsAUserWould) {
    env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1")); // any server: gates pass
    FrmMain main(*env->session, ProgramForms());
    main.show();
    // The administrator record of this machine lets the gates pass.
    env->db().exec(QStringLiteral("delete from PDM系统管理员信息"));
    WriteAdminPassword(env->db(), env->session->machineSerialHex(), ftp->password());
    main.RunCommand(QStringLiteral("InLibDrawing"));
    QWidget* f = main.openForm(QStringLiteral("FrmLibDrawing"));
    ASSERT_TRUE(f) << (env->feedback.boxes.isEmpty() ? "" : env->feedback.last().text.toStdString());
    EXPECT_FALSE(button(f, "CmdOutLib")->isEnabled());
    EXPECT_FALSE(button(f, "CmdDel")->isEnabled());
    EXPECT_TRUE(button(f, "CmdInLib")->isEnabled());

    // A path typed by hand without a file choice: no rights yet.
    edit(f, "TxtCode")->setText(QStringLiteral("H-1"));
    edit(f, "TxtName")->setText(drawing(QStringLiteral("h.dwg"), "h"));
    press(button(f, "CmdInLib"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请在零件图纸入库前先进行权限定义！"));
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("信息反馈"));

    // Choosing the file fills the default rights; cancelling the chooser keeps the path.
    const QString path = edit(f, "TxtName")->text();
    env->feedback.fileAnswers = {QString()};
    QTest::mouseClick(edit(f, "TxtName"), Qt::LeftButton);
    EXPECT_EQ(edit(f, "TxtName")->text(), path);
    EXPECT_EQ(env->session->ctx.PendingRead, QStringLiteral("/admin(U)//admin(G)/"));
    edit(f, "TxtComment")->setText(QStringLiteral("改了孔径"));
    press(button(f, "CmdInLib"));
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("入库完毕！"));
    EXPECT_EQ(field(QStringLiteral("图纸版本"), QStringLiteral("说明"), QStringLiteral("代号"), QStringLiteral("H-1")),
              QStringLiteral("改了孔径"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_TRUE(button(f, "CmdInLib")->isEnabled()) << "actions come back after the transfer";
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305H-1.dwg")), QByteArray("h"));

    // Asked again for check-in, the dialog has nothing to explain.
    env->feedback.clear();
    main.RunCommand(QStringLiteral("InLibDrawing"));
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    // The same dialog asked for a check-out keeps every action button off, and says how to get them.
    main.RunCommand(QStringLiteral("OutLibDrawing"));
    EXPECT_EQ(main.openForm(QStringLiteral("FrmLibDrawing")), f);
    EXPECT_FALSE(button(f, "CmdInLib")->isEnabled());
    EXPECT_FALSE(button(f, "CmdOutLib")->isEnabled());
    EXPECT_FALSE(edit(f, "TxtComment")->isEnabled()) << "a comment belongs to a check-in";
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text,
              QStringLiteral("“图纸管理”窗口仍保留打开时所选功能的设置，“图纸出库”所需的按钮不可用。"
                             "请关闭该窗口，再选择“图纸出库”。"));
}

TEST_P(LibraryDialog, FileChoiceRefusesWithoutCodeOrWriteRight) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("J-1"), "j").done());
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    FrmLibDrawing f(*env->session);
    f.show();
    QApplication::setActiveWindow(&f);
    env->feedback.clear();
    QTest::mouseClick(edit(&f, "TxtName"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先输入零件代号"));
    edit(&f, "TxtCode")->setText(QStringLiteral("J-1"));
    env->feedback.fileAnswers = {QStringLiteral("/should/not/be/asked.dwg")};
    QTest::mouseClick(edit(&f, "TxtName"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("该代号零件已入库，您无权修改，操作被中断！"));
    EXPECT_EQ(env->feedback.fileAnswers.size(), 1u) << "no file dialog was shown";
    EXPECT_TRUE(edit(&f, "TxtName")->text().isEmpty());
    press(button(&f, "CmdACS"));
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("零件代号/文件路径不能为空"));
    edit(&f, "TxtCode")->setFocus();
    QTest::keyClick(edit(&f, "TxtCode"), Qt::Key_Return);
    EXPECT_TRUE(edit(&f, "TxtName")->hasFocus());
}

// Checking in, the code box drops stray end blanks as it is left and takes no more than the byte limit;
// looking a drawing up, it keeps what was typed.
TEST_P(LibraryDialog, TheCodeBoxTrimsForACheckInAndHoldsToTheLimit) {
    FrmLibDrawing f(*env->session);
    f.show();
    QApplication::setActiveWindow(&f);
    QLineEdit* code = edit(&f, "TxtCode");
    code->setFocus();
    QTest::keyClicks(code, QStringLiteral(" ab/ cd 01 "));
    QTest::keyClick(code, Qt::Key_Return);
    EXPECT_EQ(code->text(), QStringLiteral("ab/ cd 01"));
    code->clear();
    code->setFocus();
    QTest::keyClicks(code, QString(kMaxCodeBytes + 5, u'X'));
    EXPECT_EQ(code->text().size(), kMaxCodeBytes);

    DisableControls(&f, {QStringLiteral("CmdInLib")});
    code->setText(QStringLiteral(" K-1 "));
    code->setFocus();
    QTest::keyClick(code, Qt::Key_Return);
    EXPECT_EQ(code->text(), QStringLiteral(" K-1 "));
}

TEST_P(LibraryDialog, BrowseStartsInTheAccountsLastFolderAndProposesTheDrawingsName) {
    FrmLibDrawing f(*env->session);
    f.show();
    QPushButton* browse = button(&f, "CmdBrowse");
    ASSERT_TRUE(browse);
    edit(&f, "TxtCode")->setText(QStringLiteral("GB/T-1"));
    const QString chosen = drawing(QStringLiteral("parts/a.dwg"), "a");
    env->feedback.fileAnswers = {chosen};
    press(browse);
    EXPECT_EQ(edit(&f, "TxtName")->text(), chosen);
    // The next chooser, for this account, opens where the last one ended; a check-out proposes a name.
    DisableControls(&f, {QStringLiteral("CmdInLib"), QStringLiteral("CmdACS"), QStringLiteral("CmdDel")});
    QTest::mouseClick(edit(&f, "TxtName"), Qt::LeftButton);
    const QString folder = QFileInfo(chosen).absolutePath();
    EXPECT_EQ(env->feedback.chooserStarts, QStringList({QDir::homePath(), folder + QStringLiteral("/GB-T-1.dwg")}));
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    press(browse);
    EXPECT_EQ(env->feedback.chooserStarts.value(2), QDir::homePath() + QStringLiteral("/GB-T-1.dwg"));
    // Delete mode has no path, so no chooser either.
    DisableControls(&f, {QStringLiteral("TxtName")});
    EXPECT_FALSE(browse->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryDialog, kBothBackends, BackendName);

// Deleting a drawing that a stored structure uses names the product and asks; no keeps it.
TEST_P(LibraryDialog, DeletingAUsedDrawingAsksFirst) {
    if (env->backend == Backend::SQLite)
        GTEST_SKIP() << "the local file has no file server";
    env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1")); // any server: gates pass
    FrmMain main(*env->session, ProgramForms());
    main.show();
    WriteAdminPassword(env->db(), env->session->machineSerialHex(), ftp->password());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("U-1"), "u").done());
    env->db().exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点数量, 结点编号) values ('P7-01', 'U-1', '2', 1)"));
    main.RunCommand(QStringLiteral("DelLibDrawing"));
    QWidget* f = main.openForm(QStringLiteral("FrmLibDrawing"));
    ASSERT_TRUE(f);
    edit(f, "TxtCode")->setText(QStringLiteral("U-1"));
    env->feedback.questionAnswers = {false};
    press(button(f, "CmdDel"));
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_TRUE(env->feedback.questions[0].text.contains(QStringLiteral("图纸<U-1>：P7"))) << env->feedback.questions[0].text.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='U-1'")), 1);
    env->feedback.questionAnswers = {true};
    press(button(f, "CmdDel"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='U-1'")), 0);
}
