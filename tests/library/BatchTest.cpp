#include "LibraryFixture.h"

#include "library/Batch.h"
#include "library/ui/FolderTree.h"
#include "library/ui/FrmMultiInLib.h"
#include "library/ui/FrmMultiOutLib.h"

#include <QComboBox>
#include <QLineEdit>

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace velda;
using namespace velda::test;

TEST(Batch, CodesFromFileNames) {
    EXPECT_EQ(DrawingCodeFromPath(QStringLiteral("/d/dwg/sub/GB-12.Dwg")), QStringLiteral("GB-12"));
    EXPECT_EQ(DrawingCodeFromPath(QStringLiteral("/d/A.DWG.dwg")), QStringLiteral("A"));
    EXPECT_EQ(DrawingCodeFromPath(QStringLiteral("/d/ab-1.dwg")), QStringLiteral("ab-1"));
    EXPECT_EQ(BatchTargetFile(QStringLiteral("/out/"), QStringLiteral("A-1")), QStringLiteral("/out/A-1.dwg"));
    EXPECT_EQ(BatchTargetFile(QStringLiteral("/out"), QStringLiteral("A-1")), QStringLiteral("/out/A-1.dwg"));
    EXPECT_FALSE(IsUsableFolder(QStringLiteral("relative")));
    EXPECT_FALSE(IsUsableFolder(QStringLiteral("/no/such/folder")));
    EXPECT_TRUE(IsUsableFolder(QStringLiteral("/")));
}

TEST(Batch, FindsAFoldersFilesBeforeItsSubFoldersDepthFirst) {
    QTemporaryDir dir;
    auto touch = [&](const QString& rel) {
        const QString p = dir.path() + QLatin1Char('/') + rel;
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        f.open(QIODevice::WriteOnly);
    };
    for (const char* f : {"a.dwg", "B.DWG", ".hidden.dwg", "note.txt", "s1/c.dwg", "s1/deep/d.dwg", "s1/z.dwg",
                          "s2/e.dwg", "s2/deep/f.Dwg", "s2/deep/deeper/g.dwg"})
        touch(QString::fromLatin1(f));
    QStringList flat;
    FindAllFile(dir.path(), false, flat);
    EXPECT_EQ(flat.size(), 3);
    QStringList all;
    FindAllFile(dir.path(), true, all);
    ASSERT_EQ(all.size(), 10 - 1);
    auto depthOf = [&](const QString& p) { return p.mid(dir.path().size()).count(QLatin1Char('/')); };
    // The root's files come first; then each sub-tree's files stand together, a folder's own
    // files before those of its sub-folders.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(depthOf(all[i]), 1) << all[i].toStdString();
    auto range = [&](const QString& prefix) {
        QList<int> idx;
        for (int i = 0; i < all.size(); ++i)
            if (all[i].startsWith(dir.path() + prefix))
                idx << i;
        return idx;
    };
    for (const QString& sub : {QStringLiteral("/s1/"), QStringLiteral("/s2/"), QStringLiteral("/s2/deep/")}) {
        const QList<int> idx = range(sub);
        ASSERT_FALSE(idx.isEmpty());
        EXPECT_EQ(idx.last() - idx.first() + 1, idx.size()) << sub.toStdString() << " is contiguous";
        EXPECT_EQ(depthOf(all[idx.first()]), sub.count(QLatin1Char('/'))) << "own files first in " << sub.toStdString();
    }
    // A stop from the keep-alive ends the search early.
    QStringList stopped;
    int calls = 0;
    QTemporaryDir many;
    for (int i = 0; i < 300; ++i) {
        QFile f(many.path() + QStringLiteral("/%1.dwg").arg(i));
        f.open(QIODevice::WriteOnly);
    }
    FindAllFile(many.path(), true, stopped, [&] { return ++calls < 2; });
    EXPECT_LT(stopped.size(), 300);
}

class BatchLibraryTest : public LibraryTest {
protected:
    QString folderWith(const QStringList& names) {
        static int n = 0;
        const QString folder = env->dir.path() + QStringLiteral("/batch%1").arg(++n);
        for (const QString& name : names) {
            const QString p = folder + QLatin1Char('/') + name;
            QDir().mkpath(QFileInfo(p).absolutePath());
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write(name.toUtf8());
        }
        QDir().mkpath(folder);
        return folder;
    }
    BatchLibrary batch() { return BatchLibrary(*env->session, runner()); }
};

TEST_P(BatchLibraryTest, ChecksInWhatItMayAndNamesTheRest) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("HELD"), "h").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("LOCKED"), "l").done());
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 写='/admin(U)/' where 代号='LOCKED'"));
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    ASSERT_TRUE(library().CheckOut(QStringLiteral("HELD"), drawing(QStringLiteral("held.dwg"), "")).done());

    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 写='/alice(U)/' where 代号='HELD'"));
    // A line break in a file name cannot go into a code: that file alone is refused.
    const QString folder =
        folderWith({QStringLiteral("NEW-1.dwg"), QStringLiteral("sub/HELD.dwg"), QStringLiteral("sub/LOCKED.DWG"),
                    QStringLiteral("sub/NEW-2.dwg.dwg"), QStringLiteral("sub/TWO\nLINES.dwg")});
    QStringList files;
    FindAllFile(folder, true, files);
    std::vector<int> steps;
    BatchLibrary b = batch();
    const BatchResult r = b.CheckIn(files, [&](int i, const BatchProgress&) {
        steps.push_back(i);
        return true;
    });
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(r.outcome.text.startsWith(QStringLiteral("入库完成，共需入库图纸5张，有效入库图纸为：2张！\r\n图纸")))
        << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.endsWith(QStringLiteral("因权限问题无法入库")));
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("HELD")) && r.outcome.text.contains(QStringLiteral("LOCKED")));
    EXPECT_TRUE(r.progress.rejectedCodes.contains(QStringLiteral("TWO\nLINES&")));
    EXPECT_EQ(column(QStringLiteral("NEW-1"), QStringLiteral("读")),
              QStringLiteral("/admin(U)/alice(U)//admin(G)/design(G)/"));
    EXPECT_EQ(column(QStringLiteral("NEW-2"), QStringLiteral("入库文件名称")), QStringLiteral("20240305NEW-2.dwg"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305HELD.dwg")), QByteArray("h"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='图纸入库' and ID='alice'")), 2);
}

TEST_P(BatchLibraryTest, ComposedRightsReachNewCodesOnlyAndStopEndsAfterTheCurrentFile) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("OLD"), "o").done());
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    const QString folder = folderWith({QStringLiteral("OLD.dwg"), QStringLiteral("N1.dwg"), QStringLiteral("N2.dwg")});
    QStringList files{folder + QStringLiteral("/OLD.dwg"), folder + QStringLiteral("/N1.dwg"),
                      folder + QStringLiteral("/N2.dwg")};
    BatchLibrary b = batch();
    b.groupFiles = 1; // one file per transaction: the stop comes after exactly the current file
    b.setComposedRights(
        {QStringLiteral("/bob(U)/"), QStringLiteral("/bob(U)/"), QStringLiteral("/"), QStringLiteral("/")});
    const BatchResult r = b.CheckIn(files, [](int i, const BatchProgress&) { return i < 1; });
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.progress.processed, 2);
    EXPECT_TRUE(r.outcome.text.startsWith(QStringLiteral("入库已停止"))) << r.outcome.text.toStdString();
    EXPECT_EQ(column(QStringLiteral("OLD"), QStringLiteral("读")), QStringLiteral("/admin(U)/alice(U)/bob(U)/"));
    EXPECT_EQ(column(QStringLiteral("N1"), QStringLiteral("删")), QStringLiteral("/"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='N2'")), 0);
}

TEST_P(BatchLibraryTest, AFailedTransferEndsTheBatchNamingTheFile) {
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    const QString folder = folderWith(
        {QStringLiteral("P1.dwg"), QStringLiteral("P2.dwg"), QStringLiteral("P3.dwg"), QStringLiteral("P4.dwg")});
    QStringList files;
    for (const char* name : {"/P1.dwg", "/P2.dwg", "/P3.dwg", "/P4.dwg"})
        files << folder + QString::fromLatin1(name);
    BatchLibrary b = batch();
    b.groupFiles = 1; // the server goes once the first file is committed
    const BatchResult r = b.CheckIn(files, [&](int i, const BatchProgress&) {
        if (i == 0)
            ftp->stop();
        return true;
    });
    ftp->start();
    // The next file may have been uploaded while the first was recorded, and then gets in; the
    // first file whose upload the server did not take ends the batch.
    const int done = r.progress.processed;
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_TRUE(done == 1 || done == 2) << done;
    EXPECT_TRUE(r.outcome.text.contains(files[done])) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("此前已入库图纸%1张").arg(done)))
        << r.outcome.text.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), done);
    // A file committed while the server was gone is put in place by the next command on it.
    const QString copy = env->dir.path() + QStringLiteral("/P2-copy.dwg");
    if (done == 2) {
        client->Disconnect();
        ASSERT_TRUE(library().CheckOut(QStringLiteral("P2"), copy).done());
        EXPECT_EQ(read(copy), read(files[1]));
    }
}

TEST_P(BatchLibraryTest, ChecksOutWhatTheConditionFound) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("Q-1"), "q1").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("Q-3"), "q3").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("Q-4"), "q4").done());
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 读='/carol(U)/' where 代号='Q-4'"));
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    ASSERT_TRUE(library().CheckOut(QStringLiteral("Q-3"), drawing(QStringLiteral("q3.dwg"), "")).done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    const QString out = folderWith({}) + QLatin1Char('/');
    BatchLibrary b = batch();
    // Refused for rights, not in the library, and fetched as a copy while bob holds it: each said apart.
    const BatchResult r =
        b.CheckOut({QStringLiteral("Q-1"), QStringLiteral("Q-2"), QStringLiteral("Q-3"), QStringLiteral("Q-4")}, out);
    EXPECT_EQ(r.outcome.text,
              QStringLiteral("出库完成，共需出库图纸4张，有效出库数量为：2张！\r\n图纸Q-4因权限问题无法出库"
                             "\r\n图纸Q-2在库中不存在"
                             "\r\n图纸Q-3（bob）此前已被他人出库，仅取得副本，目前可以查看但无权修改"));
    EXPECT_EQ(read(out + QStringLiteral("Q-1.dwg")), QByteArray("q1"));
    EXPECT_EQ(read(out + QStringLiteral("Q-3.dwg")), QByteArray("q3"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 出库帐号 from PDM出库图纸信息 where 代号='Q-3'")).toString(),
              QStringLiteral("bob"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 出库帐号 from PDM出库图纸信息 where 代号='Q-1'")).toString(),
              QStringLiteral("admin"));
    // Again with the same codes: fetched again, states unchanged; the user's own hold is no copy.
    const BatchResult again = b.CheckOut({QStringLiteral("Q-1"), QStringLiteral("Q-3")}, out);
    EXPECT_EQ(again.progress.rejected, 0);
    EXPECT_EQ(again.outcome.text, QStringLiteral("出库完成，共需出库图纸2张，有效出库数量为：2张！\r\n图纸Q-3（bob）"
                                                 "此前已被他人出库，仅取得副本，目前可以查看但无权修改"));
    EXPECT_EQ(checkouts(QStringLiteral("Q-1")), 1);
}

TEST_P(BatchLibraryTest, DialogShowsProgressAndTheSummary) {
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    FrmMultiInLib f(*env->session);
    f.show();
    auto* bar = f.findChild<QProgressBar*>(QStringLiteral("PrgBar"));
    auto* go = f.findChild<QPushButton*>(QStringLiteral("CmdInLib"));
    f.findChild<QCheckBox*>(QStringLiteral("ChkSubDir"))->setChecked(true);
    bar->setRange(0, 100);
    bar->setValue(42);

    f.selectFolder(folderWith({}));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("入库完成，共需入库图纸0张，有效入库图纸为：0张！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(bar->maximum(), 100);

    f.selectFolder(folderWith({QStringLiteral("one.dwg")}));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(bar->maximum(), 100) << "one file leaves the bar alone";
    EXPECT_EQ(bar->value(), 42);

    f.selectFolder(folderWith({QStringLiteral("r1.dwg"), QStringLiteral("x/r2.dwg"), QStringLiteral("x/y/r3.dwg")}));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("入库完成，共需入库图纸3张，有效入库图纸为：3张！"));
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(bar->value(), 2);
    EXPECT_EQ(bar->format(), QStringLiteral("3 / 3"));
    EXPECT_TRUE(go->isEnabled());
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 4);

    // The folder is remembered for this account alone, and no dialog acts on a folder the user did
    // not choose in it: another account's 入库 without a choice checks nothing in.
    const QString last = f.selectedFolder();
    ASSERT_FALSE(last.isEmpty());
    EXPECT_EQ(env->session->config().ReadAccountValue(QStringLiteral("bob"), kLastBatchFolder), last);
    loginAs(QStringLiteral("carol"), QStringLiteral("design"));
    EXPECT_EQ(env->session->config().ReadAccountValue(QStringLiteral("carol"), kLastBatchFolder), QString());
    FrmMultiInLib in(*env->session);
    in.show();
    EXPECT_EQ(in.selectedFolder(), QString());
    QTest::mouseClick(in.findChild<QPushButton*>(QStringLiteral("CmdInLib")), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, BatchText::NoFolderIn);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 4);
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    FrmMultiOutLib out(*env->session);
    EXPECT_EQ(out.selectedFolder(), QString());
}

TEST_P(BatchLibraryTest, CheckOutDialogRunsTheConditionIntoTheFolder) {
    for (const char* code : {"S-1", "S-2", "S-3"})
        env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称) values (?, '轴')"),
                       {QString::fromLatin1(code)});
    env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称) values ('S-9', '套')"));
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("S-1"), "s1").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("S-3"), "s3").done());
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    ASSERT_TRUE(library().CheckOut(QStringLiteral("S-3"), drawing(QStringLiteral("s3.dwg"), "")).done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    env->session->ctx.SeekMode = QStringLiteral("ByPart");
    FrmMultiOutLib f(*env->session);
    f.show();
    auto* go = f.findChild<QPushButton*>(QStringLiteral("CmdOutLib"));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先输入查询条件！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->feedback.last().title, QString());

    f.findChild<QComboBox*>(QStringLiteral("CboAttr"))->setCurrentText(QStringLiteral("名称"));
    f.findChild<QComboBox*>(QStringLiteral("CboSym"))->setCurrentText(QStringLiteral("="));
    f.findChild<QLineEdit*>(QStringLiteral("TxtAttr"))->setText(QStringLiteral("轴"));
    QTest::mouseClick(f.findChild<QPushButton*>(QStringLiteral("CmdAdd")), Qt::LeftButton);
    f.selectFolder(QStringLiteral("/no/such/folder"));
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("文件夹名称选择有误！"));

    const QString out = folderWith({});
    f.selectFolder(out);
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text,
              QStringLiteral("出库完成，共需出库图纸3张，有效出库数量为：2张！\r\n图纸S-2在库中不存在\r\n图纸S-3（bob）"
                             "此前已被他人出库，仅取得副本，目前可以查看但无权修改"));
    EXPECT_EQ(read(out + QStringLiteral("/S-1.dwg")), QByteArray("s1"));
    EXPECT_EQ(read(out + QStringLiteral("/S-3.dwg")), QByteArray("s3"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 出库帐号 from PDM出库图纸信息 where 代号='S-3'")).toString(),
              QStringLiteral("bob"));
    EXPECT_EQ(f.findChild<QProgressBar*>(QStringLiteral("PrgBar"))->maximum(), 2);
    EXPECT_TRUE(go->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Db, BatchLibraryTest, kBothBackends, BackendName);
