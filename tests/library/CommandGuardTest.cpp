#include "LibraryFixture.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace velda;
using namespace velda::test;

// While a check-in waits for its upload, the window stays live: the user may close the main window,
// change the account or start another command. None of it may pull the connection or the user away
// from under the check-in.
class CommandGuard_ : public LibraryTest {};

TEST_P(CommandGuard_, ClosingChangingTheAccountAndASecondCommandWaitForTheRunningOne) {
    FtpServerOptions slowOptions;
    slowOptions.bytesPerSecond = 64 * 1024;
    FtpServer slow(slowOptions);
    QDir().mkpath(slow.localPath(QStringLiteral("Volume/V3")));
    env->addVolume(QStringLiteral("V3"), slow.address());
    env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1"));
    env->db().exec(QStringLiteral("delete from PDM系统管理员信息"));
    WriteAdminPassword(env->db(), env->session->machineSerialHex(), slow.password());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    env->session->ctx.VolumeName = QStringLiteral("V3");
    env->session->ctx.VolumeServerIp = slow.address();

    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("DelVolume"));
    QWidget* volumes = main.openForm(QStringLiteral("FrmDelVolume"));
    ASSERT_TRUE(volumes);
    main.RunCommand(QStringLiteral("InLibDrawing"));
    QWidget* f = main.openForm(QStringLiteral("FrmLibDrawing"));
    ASSERT_TRUE(f);
    f->findChild<QLineEdit*>(QStringLiteral("TxtCode"))->setText(QStringLiteral("W-1"));
    // The server pauses an upload only after its second full second's worth of bytes, counted from
    // wherever its first read happened to end: five seconds' worth make sure of the pause.
    env->feedback.fileAnswers = {drawing(QStringLiteral("w.dwg"), QByteArray(320 * 1024, 'w'))};
    QTest::mouseClick(f->findChild<QLineEdit*>(QStringLiteral("TxtName")), Qt::LeftButton);
    env->feedback.clear();

    bool checked = false;
    QTimer::singleShot(500, &main, [&] {
        checked = true;
        EXPECT_EQ(env->session->runningCommand(), QStringLiteral("图纸入库"));
        EXPECT_FALSE(main.close());
        main.RunCommand(QStringLiteral("ChangerUserID"));
        QListWidget* list = volumes->findChild<QListWidget*>(QStringLiteral("LstVolume"));
        list->setCurrentItem(list->findItems(QStringLiteral("V2"), Qt::MatchExactly).value(0));
        volumes->findChild<QPushButton*>(QStringLiteral("CmdAct"))->click();
    });
    f->findChild<QPushButton*>(QStringLiteral("CmdInLib"))->click();

    ASSERT_TRUE(checked) << "the upload ended before the window was used: "
                         << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(env->feedback.boxes.size(), 4) << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(env->feedback.boxes[0].text, QStringLiteral("“图纸入库”操作尚未完成，请待其结束后再退出系统！"));
    EXPECT_EQ(env->feedback.boxes[0].icon, Icon::Stop);
    EXPECT_EQ(env->feedback.boxes[1].text, QStringLiteral("“图纸入库”操作尚未完成，请待其结束后再变更登录帐号！"));
    EXPECT_EQ(env->feedback.boxes[2].text, QStringLiteral("“图纸入库”操作尚未完成，请待其结束后再进行其他操作！"));
    EXPECT_EQ(env->feedback.boxes[3].text, QStringLiteral("入库完毕！"));
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(env->session->hasConnection());
    EXPECT_FALSE(env->session->ctx.ReLogin);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM存储目录 where 目录名称='V2'")), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='W-1'")), 1);
    EXPECT_TRUE(env->session->runningCommand().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Db, CommandGuard_, kBothBackends, BackendName);
