#include "VolumeFixture.h"

#include "core/Twips.h"
#include "transfer/ui/FrmAddVolume.h"
#include "transfer/ui/FrmDelVolume.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace velda;
using namespace velda::test;

namespace {

QStringList Entries(QWidget& form) {
    QStringList out;
    auto* list = child<QListWidget>(form, "LstVolume");
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void ExpectSize(QWidget& form, int widthTwips, int heightTwips) {
    const double dpi = form.logicalDpiX();
    // The given size, grown where the font needs more room.
    EXPECT_EQ(form.size(),
              QSize(TwipsToPixels(widthTwips, dpi), TwipsToPixels(heightTwips, dpi)).expandedTo(form.sizeHint()));
}
} // namespace

class VolumeDialogs : public VolumeFixture {
protected:
    void click(QWidget& form, const char* button) {
        QTest::mouseClick(child<QPushButton>(form, button), Qt::LeftButton);
    }
    void fill(QWidget& form, const QString& ip, const QString& name, const QString& memo) {
        child<QLineEdit>(form, "TxtIP")->setText(ip);
        child<QLineEdit>(form, "TxtPath")->setText(name);
        child<QLineEdit>(form, "TxtMemo")->setText(memo);
    }
    void expectBox(const QString& text, Icon icon) {
        ASSERT_EQ(env->feedback.boxes.size(), 1);
        EXPECT_EQ(env->feedback.last().text, text);
        EXPECT_EQ(env->feedback.last().icon, icon);
        EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    }
};

TEST_P(VolumeDialogs, AddFormListsTheVolumesAndEnterWalksToTheButton) {
    env->addVolume(QStringLiteral("V2"), ftp->address());
    FrmAddVolume form(*env->session);
    form.show();
    QApplication::setActiveWindow(&form);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("添加产品存储目录"));
    ExpectSize(form, 6825, 3150);
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), QStringLiteral("服务器IP地址："));
    EXPECT_EQ(child<QLabel>(form, "Label4")->text(), QStringLiteral("新建目录名称："));
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), QStringLiteral("新建目录备注："));
    EXPECT_EQ(child<QGroupBox>(form, "Frame1")->title(), QStringLiteral("服务器上已存在的存储目录"));
    EXPECT_EQ(child<QPushButton>(form, "CmdAct")->text(), QStringLiteral("添加"));
    EXPECT_EQ(child<QPushButton>(form, "CmdCancel")->text(), QStringLiteral("取消"));
    EXPECT_EQ(Entries(form), QStringList{QStringLiteral("V2")});

    auto* ip = child<QLineEdit>(form, "TxtIP");
    ip->setFocus();
    QTest::keyClick(ip, Qt::Key_Return);
    EXPECT_TRUE(child<QLineEdit>(form, "TxtPath")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(child<QLineEdit>(form, "TxtMemo")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(child<QPushButton>(form, "CmdAct")->hasFocus());
    EXPECT_TRUE(env->feedback.boxes.isEmpty()) << "Enter must not press 添加";

    click(form, "CmdCancel");
    EXPECT_FALSE(form.isVisible());
}

TEST_P(VolumeDialogs, AddCreatesTheVolumeWithItsButtonsHeldWhileTheServerWorks) {
    FrmAddVolume form(*env->session);
    form.show();
    QTest::keyClicks(child<QLineEdit>(form, "TxtIP"), ftp->address());
    QTest::keyClicks(child<QLineEdit>(form, "TxtPath"), QStringLiteral("V1"));
    child<QLineEdit>(form, "TxtMemo")->setText(QStringLiteral("一号库")); // keyClicks types ASCII only

    // A frozen server keeps the command running until the check below has looked at the form.
    ASSERT_EQ(::kill(pid_t(ftp->processId()), SIGSTOP), 0);
    bool actHeld = false, cancelHeld = false, stayedOpen = false;
    QTimer::singleShot(300, &form, [&] {
        actHeld = !child<QPushButton>(form, "CmdAct")->isEnabled();
        cancelHeld = !child<QPushButton>(form, "CmdCancel")->isEnabled();
        form.close();
        stayedOpen = form.isVisible();
        ::kill(pid_t(ftp->processId()), SIGCONT);
    });
    click(form, "CmdAct");
    EXPECT_TRUE(actHeld);
    EXPECT_TRUE(cancelHeld);
    EXPECT_TRUE(stayedOpen);

    expectBox(QStringLiteral("添加完毕"), Icon::None);
    EXPECT_TRUE(child<QPushButton>(form, "CmdAct")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(form, "CmdCancel")->isEnabled());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Entries(form), QStringList{QStringLiteral("V1")});
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    const auto row = FindVolume(env->db(), QStringLiteral("V1"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->serverIp, ftp->address());
    EXPECT_EQ(row->remark, QStringLiteral("一号库"));
}

TEST_P(VolumeDialogs, AddRefusalsAndFailuresLeaveInputListAndTableAsTheyWere) {
    FrmAddVolume form(*env->session);
    form.show();
    fill(form, QString(), QStringLiteral("V1"), QString());
    click(form, "CmdAct");
    expectBox(QStringLiteral("服务器IP地址及新建目录名称不能为空"), Icon::Stop);
    EXPECT_EQ(ftp->connectionCount(), 0);

    env->feedback.clear();
    env->session->ctx.AdminPassword = QStringLiteral("wrong");
    fill(form, ftp->address(), QStringLiteral("V1"), QStringLiteral("备注"));
    click(form, "CmdAct");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(
        env->feedback.last().text.startsWith(QStringLiteral("在服务器%1上创建存储目录<V1>失败：").arg(ftp->address())))
        << env->feedback.last().text.toStdString();
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(child<QLineEdit>(form, "TxtPath")->text(), QStringLiteral("V1"));
    EXPECT_TRUE(Entries(form).isEmpty());
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 0);
    EXPECT_TRUE(child<QPushButton>(form, "CmdAct")->isEnabled());
}

TEST_P(VolumeDialogs, DeleteFormRemovesTheSelectedVolume) {
    ASSERT_TRUE(CreateVolume(*env->session, runner(), Volume{QStringLiteral("V1"), ftp->address(), QString()}).done());
    ASSERT_TRUE(CreateVolume(*env->session, runner(), Volume{QStringLiteral("V2"), ftp->address(), QString()}).done());
    FrmDelVolume form(*env->session);
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("删除现存存储目录"));
    ExpectSize(form, 3390, 3630);
    EXPECT_EQ(child<QGroupBox>(form, "Frame1")->title(), QStringLiteral("服务器上已存在的存储目录"));
    EXPECT_EQ(child<QPushButton>(form, "CmdAct")->text(), QStringLiteral("删除"));
    QStringList listed = Entries(form);
    listed.sort();
    ASSERT_EQ(listed, (QStringList{QStringLiteral("V1"), QStringLiteral("V2")}));
    const int connectionsBefore = ftp->connectionCount();

    click(form, "CmdAct");
    expectBox(QStringLiteral("请先选中欲删除的存储目录名称！"), Icon::Stop);
    EXPECT_EQ(ftp->connectionCount(), connectionsBefore);

    env->feedback.clear();
    auto* list = child<QListWidget>(form, "LstVolume");
    list->findItems(QStringLiteral("V1"), Qt::MatchExactly).first()->setSelected(true);
    click(form, "CmdAct");
    expectBox(QStringLiteral("删除完毕"), Icon::None);
    EXPECT_EQ(Entries(form), QStringList{QStringLiteral("V2")});
    EXPECT_FALSE(folderOn(*ftp, QStringLiteral("V1")));
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V2")));
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 0);
    EXPECT_EQ(volumeRows(QStringLiteral("V2")), 1);

    click(form, "CmdCancel");
    EXPECT_FALSE(form.isVisible());
}

TEST_P(VolumeDialogs, DeleteRefusesAVolumeStillInUse) {
    ASSERT_TRUE(CreateVolume(*env->session, runner(), Volume{QStringLiteral("V1"), ftp->address(), QString()}).done());
    env->addGroup(QStringLiteral("设计一室"), QStringLiteral("V1"));
    env->addGroup(QStringLiteral("设计二室"), QStringLiteral("V1"));
    addDrawing(QStringLiteral("A-1"), QStringLiteral("V1"));
    FrmDelVolume form(*env->session);
    form.show();
    const int connectionsBefore = ftp->connectionCount();
    child<QListWidget>(form, "LstVolume")->item(0)->setSelected(true);
    click(form, "CmdAct");
    expectBox(QStringLiteral("存储目录<V1>仍被2个组和1份图纸使用，不能删除！"), Icon::Stop);
    EXPECT_EQ(ftp->connectionCount(), connectionsBefore);
    EXPECT_EQ(Entries(form), QStringList{QStringLiteral("V1")});
    EXPECT_TRUE(folderOn(*ftp, QStringLiteral("V1")));
    EXPECT_EQ(volumeRows(QStringLiteral("V1")), 1);
}

INSTANTIATE_TEST_SUITE_P(Db, VolumeDialogs, kBothBackends, BackendName);
