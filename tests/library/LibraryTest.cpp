#include "LibraryFixture.h"

#include "transfer/TransferCommand.h"

using namespace velda;
using namespace velda::test;

TEST_P(LibraryTest, CheckInStoresTheFileAndTheRow) {
    const Outcome out = checkInAsAdmin(QStringLiteral("GB/T-12"), "first");
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(out.text, QStringLiteral("入库完毕！"));
    EXPECT_EQ(out.icon, Icon::None);
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305GB-T-12.dwg")), QByteArray("first"));
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240305GB-T-12.dwg")});
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("入库文件名称")), QStringLiteral("20240305GB-T-12.dwg"));
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("入库时间")), QStringLiteral("2024/3/5"));
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("目录名称")), QStringLiteral("V1"));
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("入库帐号")), QStringLiteral("admin"));
    EXPECT_EQ(column(QStringLiteral("GB/T-12"), QStringLiteral("写")), QStringLiteral("/admin(U)/bob(U)/"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='图纸入库' and 代号='GB/T-12'")), 1);
}

TEST_P(LibraryTest, RefusalsChangeNothing) {
    DrawingLibrary lib = library();
    EXPECT_EQ(lib.CheckIn(QString(), QStringLiteral("x")).text, QStringLiteral("零件代号/文件名称不能为空！"));
    env->session->ctx.PendingRead.clear();
    const Outcome noRights = lib.CheckIn(QStringLiteral("A-1"), drawing(QStringLiteral("a.dwg"), "a"));
    EXPECT_EQ(noRights.text, QStringLiteral("请在零件图纸入库前先进行权限定义！"));
    EXPECT_EQ(noRights.title, QStringLiteral("信息反馈"));
    EXPECT_EQ(lib.CheckOut(QStringLiteral("A-1"), QStringLiteral("/tmp/x.dwg")).text,
              QStringLiteral("库中不存在符合条件的零件图！"));
    EXPECT_EQ(lib.Delete(QString()).text, QStringLiteral("零件代号不能为空！"));
    EXPECT_EQ(lib.Delete(QStringLiteral("A-1")).text, QStringLiteral("库中不存在符合条件的零件图！"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 0);
    EXPECT_EQ(logRows(QStringLiteral("图纸入库")) + logRows(QStringLiteral("图纸出库")), 0);
}

TEST_P(LibraryTest, TheStateTableRowByRow) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "v1").done());
    const QString aliceCopy = env->dir.path() + QStringLiteral("/alice/A-1.dwg");
    QDir().mkpath(QFileInfo(aliceCopy).absolutePath());

    // alice may only read: she gets a copy but no hold.
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    Outcome out = library().CheckOut(QStringLiteral("A-1"), aliceCopy);
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(read(aliceCopy), QByteArray("v1"));
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);
    // Without write she cannot check it in either.
    EXPECT_EQ(library().PrepareCheckIn(QStringLiteral("A-1")).refusal.text,
              QStringLiteral("该代号零件已入库，您无权修改，操作被中断！"));

    // bob holds write: his check-out takes the hold.
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    const QString bobCopy = drawing(QStringLiteral("bob-A-1.dwg"), "");
    out = library().CheckOut(QStringLiteral("A-1"), bobCopy);
    EXPECT_EQ(out.text, QStringLiteral("出库完毕！"));
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("出库"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);

    // alice again: a copy, and who holds it.
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    out = library().CheckOut(QStringLiteral("A-1"), aliceCopy);
    EXPECT_EQ(out.text, QStringLiteral("零件<A-1>此前已被bob在2024/3/5出库！\r\n     目前你可以查看但无权修改！"));
    EXPECT_EQ(out.icon, Icon::None);
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);

    // Deletion refused while out, even for a holder of the delete right.
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    EXPECT_EQ(library().Delete(QStringLiteral("A-1")).text, QStringLiteral("图纸已被出库，操作被中断！"));
    // Another user's check-in is refused while bob holds it.
    Acl::SetPending(env->session->ctx, QStringLiteral("/a/"), QStringLiteral("/a/"), QStringLiteral("/a/"),
                    QStringLiteral("/a/"));
    out = library().CheckIn(QStringLiteral("A-1"), drawing(QStringLiteral("admin.dwg"), "admin"));
    EXPECT_EQ(out.text, QStringLiteral("图纸已被bob在2024/3/5出库，入库无法完成！"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305A-1.dwg")), QByteArray("v1"));

    // The holder checks it back in a day later: new file, old one gone, hold ended.
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    env->clock.set(QDateTime(QDate(2024, 3, 6), QTime(10, 0)));
    ASSERT_TRUE(library().PrepareCheckIn(QStringLiteral("A-1")).refusal.done());
    out = library().CheckIn(QStringLiteral("A-1"), drawing(QStringLiteral("bob-A-1.dwg"), "v2"));
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240306A-1.dwg")});
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240306A-1.dwg")), QByteArray("v2"));
    // Stored rights travelled with the re-check-in.
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("读")), QStringLiteral("/admin(U)/alice(U)/bob(U)/"));

    // bob deletes it.
    out = library().Delete(QStringLiteral("A-1"));
    EXPECT_EQ(out.text, QStringLiteral("删除完毕！"));
    EXPECT_TRUE(volumeFiles(QStringLiteral("V1")).isEmpty());
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 0);
    EXPECT_EQ(logRows(QStringLiteral("图纸入库")), 2);
    EXPECT_EQ(logRows(QStringLiteral("图纸出库")), 3);
    EXPECT_EQ(logRows(QStringLiteral("图纸删除")), 1);
}

TEST_P(LibraryTest, RightsCountOnlyForTheLoginGroup) {
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    Acl::SetPending(env->session->ctx, QStringLiteral("/team(G)/"), QStringLiteral("/team(G)/"),
                    QStringLiteral("/team(G)/"), QStringLiteral("/"));
    ASSERT_TRUE(library().CheckIn(QStringLiteral("B-1"), drawing(QStringLiteral("b.dwg"), "b")).done());
    loginAs(QStringLiteral("carol"), QStringLiteral("design"));
    EXPECT_EQ(library().CheckOut(QStringLiteral("B-1"), drawing(QStringLiteral("c.dwg"), "")).text,
              QStringLiteral("您权限不够，操作被中断！"));
    EXPECT_EQ(library().Delete(QStringLiteral("B-1")).text, QStringLiteral("您权限不够，操作被中断！"));
    loginAs(QStringLiteral("carol"), QStringLiteral("team"));
    const DrawingLibrary::Choice c = library().PrepareCheckIn(QStringLiteral("B-1"));
    EXPECT_TRUE(c.refusal.done());
    EXPECT_FALSE(c.changeAllowed) << "write without change keeps the rights button off";
    // carol writes it again from her team login: it moves to V2 and the old file on V1 goes.
    env->clock.set(QDateTime(QDate(2024, 3, 7), QTime(8, 0)));
    ASSERT_TRUE(library().CheckIn(QStringLiteral("B-1"), drawing(QStringLiteral("b2.dwg"), "b2")).done());
    EXPECT_TRUE(volumeFiles(QStringLiteral("V1")).isEmpty());
    EXPECT_EQ(stored(QStringLiteral("Volume/V2/20240307B-1.dwg")), QByteArray("b2"));
    EXPECT_EQ(column(QStringLiteral("B-1"), QStringLiteral("目录名称")), QStringLiteral("V2"));
    EXPECT_EQ(column(QStringLiteral("B-1"), QStringLiteral("写")), QStringLiteral("/team(G)/"));
}

TEST_P(LibraryTest, SameDayReCheckInReplacesTheFileAndLeavesNothingAside) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("C-1"), "old").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("C-1"), "new").done());
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240305C-1.dwg")});
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305C-1.dwg")), QByteArray("new"));
}

TEST_P(LibraryTest, FailedTransfersLoseNothing) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("D-1"), "safe").done());
    const QString remote = QStringLiteral("Volume/V1/20240305D-1.dwg");

    // Wrong FTP password: refused with a message naming the server, not the password.
    env->session->ctx.AdminPassword = QStringLiteral("wrong-pw");
    client->Disconnect();
    env->clock.set(QDateTime(QDate(2024, 3, 8), QTime(8, 0)));
    Outcome out = library().CheckIn(QStringLiteral("D-1"), drawing(QStringLiteral("d.dwg"), "lost?"));
    EXPECT_FALSE(out.done());
    EXPECT_TRUE(out.text.contains(ftp->address())) << out.text.toStdString();
    EXPECT_FALSE(out.text.contains(QStringLiteral("wrong-pw")));
    env->session->ctx.AdminPassword = ftp->password();

    // The server goes away once the check-in has asked it about the history folder, before its file is
    // up: the upload is handed to the connection only after that answer.
    int calls = 0;
    DrawingLibrary flaky(*env->session, [&](const TransferOperation& op) {
        if (++calls == 1)
            ftp->stop();
        return WaitForTransfer(*client, op);
    });
    out = flaky.CheckIn(QStringLiteral("D-1"), drawing(QStringLiteral("d.dwg"), "lost?"));
    EXPECT_FALSE(out.done());
    ftp->start();
    client->Disconnect();
    EXPECT_EQ(column(QStringLiteral("D-1"), QStringLiteral("入库文件名称")), QStringLiteral("20240305D-1.dwg"));
    EXPECT_EQ(stored(remote), QByteArray("safe"));

    // A check-out into a folder that does not exist records nothing.
    out = library().CheckOut(QStringLiteral("D-1"), env->dir.path() + QStringLiteral("/nowhere/D-1.dwg"));
    EXPECT_FALSE(out.done());
    EXPECT_EQ(column(QStringLiteral("D-1"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(checkouts(QStringLiteral("D-1")), 0);

    // A deletion against a stopped server keeps the row.
    ftp->stop();
    client->Disconnect();
    out = library().Delete(QStringLiteral("D-1"));
    EXPECT_FALSE(out.done());
    ftp->start();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='D-1'")), 1);

    // And the previous version is still what a check-out brings back.
    const QString copy = drawing(QStringLiteral("copy.dwg"), "");
    client->Disconnect();
    out = library().CheckOut(QStringLiteral("D-1"), copy);
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(read(copy), QByteArray("safe"));
    EXPECT_EQ(logRows(QStringLiteral("图纸入库")), 1);
}

TEST_P(LibraryTest, AFileAlreadyGoneFromTheVolumeCanStillBeDeleted) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("E-1"), "e").done());
    QFile::remove(ftp->localPath(QStringLiteral("Volume/V1/20240305E-1.dwg")));
    EXPECT_EQ(library().Delete(QStringLiteral("E-1")).text, QStringLiteral("删除完毕！"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 0);
}

TEST_P(LibraryTest, TwoClientsRacingEndInOneState) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("F-1"), "f").done());
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    loginAs(QStringLiteral("bob"), QStringLiteral("design"), other.get());
    other->ftpOptions = env->session->ftpOptions;
    FtpClient otherClient(other->ftpOptions);
    DrawingLibrary otherLib(*other, [&](const TransferOperation& op) { return WaitForTransfer(otherClient, op); });

    // admin's check-out fetches; meanwhile bob checks it out on his machine.
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    bool raced = false;
    DrawingLibrary mine(*env->session, [&](const TransferOperation& op) {
        TransferResult r = WaitForTransfer(*client, op);
        if (!raced) {
            raced = true;
            const Outcome b = otherLib.CheckOut(QStringLiteral("F-1"), drawing(QStringLiteral("bob.dwg"), ""));
            EXPECT_EQ(b.text, QStringLiteral("出库完毕！")) << b.text.toUtf8().constData();
        }
        return r;
    });
    Outcome out = mine.CheckOut(QStringLiteral("F-1"), drawing(QStringLiteral("admin.dwg"), ""));
    EXPECT_TRUE(out.text.startsWith(QStringLiteral("零件<F-1>此前已被bob"))) << out.text.toUtf8().constData();
    EXPECT_EQ(checkouts(QStringLiteral("F-1")), 1);
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 出库帐号 from PDM出库图纸信息 where 代号='F-1'")).toString(),
              QStringLiteral("bob"));

    // A check-in racing bob's check-out of another code: the check-out wins, the check-in is refused
    // and the volume keeps the version bob holds.
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("G-1"), "g-old").done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    raced = false;
    DrawingLibrary racingIn(*env->session, [&](const TransferOperation& op) {
        TransferResult r = WaitForTransfer(*client, op);
        if (!raced) {
            raced = true;
            EXPECT_TRUE(otherLib.CheckOut(QStringLiteral("G-1"), drawing(QStringLiteral("bobg.dwg"), "")).done());
        }
        return r;
    });
    out = racingIn.CheckIn(QStringLiteral("G-1"), drawing(QStringLiteral("g.dwg"), "g-new"));
    EXPECT_FALSE(out.done());
    EXPECT_EQ(out.text, QStringLiteral("图纸已被bob在2024/3/5出库，入库无法完成！"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305G-1.dwg")), QByteArray("g-old"));
    EXPECT_EQ(column(QStringLiteral("G-1"), QStringLiteral("状态")), QStringLiteral("出库"));
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")).filter(QStringLiteral("G-1")).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryTest, kBothBackends, BackendName);
