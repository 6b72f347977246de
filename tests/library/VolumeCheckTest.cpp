#include "LibraryFixture.h"

#include "library/VolumeCheck.h"

#include <QFile>
#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {

class VolumeCheckTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!env)
            return;
        // File times on the server are real; the check measures age by the session's clock.
        env->clock.set(QDateTime::currentDateTime());
    }

    VolumeCheck check() { return VolumeCheck(*env->session, runner()); }

    // A file in a volume folder, last changed the given number of seconds ago.
    void serverFile(const QString& volume, const QString& name, qint64 ageSeconds, const QByteArray& content = "x") {
        const QString path = ftp->localPath(QStringLiteral("Volume/") + volume + QLatin1Char('/') + name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(content);
        f.flush(); // written before the time is set, or closing would stamp it anew
        ASSERT_TRUE(
            f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    }
    bool onServer(const QString& volume, const QString& name) {
        return QFile::exists(ftp->localPath(QStringLiteral("Volume/") + volume + QLatin1Char('/') + name));
    }
    QStringList logCodes(const QString& word) {
        QStringList codes;
        QSqlQuery q = env->db().exec(QStringLiteral("select 代号 from PDM日志 where 方式=? order by 序号"), {word});
        while (q.next())
            codes << q.value(0).toString();
        return codes;
    }
    static const Finding* find(const VolumeCheckResult& r, const QString& name) {
        for (const Finding& f : r.findings)
            if (f.fileName == name)
                return &f;
        return nullptr;
    }
    qint64 lastCheckIn(const QString& code) {
        return env->db()
            .scalar(QStringLiteral("select max(序号) from PDM日志 where 代号=? and 方式='图纸入库'"), {code})
            .toLongLong();
    }

    // Two drawings on V1; B-2's file then lost; an orphan and four leftovers beside them.
    void buildVolume() {
        ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "aaa").done());
        ASSERT_TRUE(checkInAsAdmin(QStringLiteral("B-2"), "bbb").done());
        a1 = column(QStringLiteral("A-1"), QStringLiteral("入库文件名称"));
        b2 = column(QStringLiteral("B-2"), QStringLiteral("入库文件名称"));
        ASSERT_TRUE(QFile::remove(ftp->localPath(QStringLiteral("Volume/V1/") + b2)));
        orphan = QStringLiteral("20200101X-9.dwg");
        serverFile(QStringLiteral("V1"), orphan, 3 * 86400, "orphan");
        fresh = a1 + QStringLiteral(".incoming-k3j2");
        serverFile(QStringLiteral("V1"), fresh, 60);
        oldPart = QStringLiteral(".20200101C-3.dwg.1a2b.part");
        serverFile(QStringLiteral("V1"), oldPart, 7200, "part!");
        staleStage = a1 + QStringLiteral(".new-0");
        serverFile(QStringLiteral("V1"), staleStage, 7200);
        // The committed version of A-1 still waiting to be moved into place.
        liveStage = StagedName(a1, lastCheckIn(QStringLiteral("A-1")));
        serverFile(QStringLiteral("V1"), liveStage, 7200);
    }

    QString a1, b2, orphan, fresh, oldPart, staleStage, liveStage;
};

TEST_P(VolumeCheckTest, ListsMissingOrphanAndLeftoversAndCleansOnlyOldUnclaimedLeftovers) {
    buildVolume();
    VolumeCheck vc = check();
    VolumeCheckResult r;
    ASSERT_TRUE(vc.Run(QStringLiteral("V1"), r).done());
    EXPECT_EQ(r.volumes, QStringList{QStringLiteral("V1")});
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(r.files, 6);
    EXPECT_EQ(r.missing, 1);
    EXPECT_EQ(r.orphans, 1);
    EXPECT_EQ(r.leftovers, 4);

    const Finding* missing = find(r, b2);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind, FindingKind::MissingFile);
    EXPECT_EQ(missing->code, QStringLiteral("B-2"));
    const Finding* o = find(r, orphan);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->kind, FindingKind::Orphan);
    EXPECT_EQ(o->size, 6);
    EXPECT_GT(o->modified.secsTo(QDateTime::currentDateTimeUtc()), 2 * 86400);
    const Finding* part = find(r, oldPart);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->kind, FindingKind::Leftover);
    EXPECT_EQ(part->size, 5);
    EXPECT_EQ(find(r, fresh)->kind, FindingKind::Leftover);
    EXPECT_EQ(find(r, fresh)->code, QStringLiteral("A-1")); // the side name tells whose it is
    EXPECT_FALSE(find(r, a1));                              // a file its row names is no finding
    EXPECT_EQ(logCodes(VolumeCheckText::LogCheck),
              QStringList{QStringLiteral("V1：缺失文件1个，孤立文件1个，遗留文件4个")});

    // Old part file and the superseded stage go; the young upload, the staged committed version and
    // the orphan drawing stay, as does every file a row names.
    EXPECT_EQ(vc.RemovableCount(r), 2);
    CareCounts counts;
    ASSERT_TRUE(vc.CleanUp(r, counts).done());
    EXPECT_EQ(counts.removed, 2);
    EXPECT_EQ(counts.kept, 2);
    EXPECT_FALSE(onServer(QStringLiteral("V1"), oldPart));
    EXPECT_FALSE(onServer(QStringLiteral("V1"), staleStage));
    EXPECT_TRUE(onServer(QStringLiteral("V1"), fresh));
    EXPECT_TRUE(onServer(QStringLiteral("V1"), liveStage));
    EXPECT_TRUE(onServer(QStringLiteral("V1"), orphan));
    EXPECT_TRUE(onServer(QStringLiteral("V1"), a1));
    EXPECT_EQ(r.leftovers, 2); // what went left the list
    EXPECT_EQ(logCodes(VolumeCheckText::LogCleanUp), QStringList{QStringLiteral("删除2个，保留2个，失败0个")});
}

TEST_P(VolumeCheckTest, CleanUpKeepsALeftoverThatARowNamedAfterTheCheck) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "aaa").done());
    serverFile(QStringLiteral("V1"), QStringLiteral("odd.part"), 7200);
    VolumeCheck vc = check();
    VolumeCheckResult r;
    ASSERT_TRUE(vc.Run({}, r).done());
    ASSERT_EQ(r.leftovers, 1);
    // Some other client's row takes the name meanwhile.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 入库文件名称='odd.part' where 代号='A-1'"));
    EXPECT_EQ(vc.RemovableCount(r), 0);
    CareCounts counts;
    ASSERT_TRUE(vc.CleanUp(r, counts).done());
    EXPECT_EQ(counts.removed, 0);
    EXPECT_TRUE(onServer(QStringLiteral("V1"), QStringLiteral("odd.part")));
}

TEST_P(VolumeCheckTest, OrphansMoveIntoTheirVolumesOrphanFolderAndLeaveTheList) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "aaa").done());
    serverFile(QStringLiteral("V1"), QStringLiteral("lost.dwg"), 10, "lost");
    serverFile(QStringLiteral("V2"), QStringLiteral("other.dwg"), 10, "other");
    VolumeCheck vc = check();
    VolumeCheckResult r;
    ASSERT_TRUE(vc.Run({}, r).done());
    EXPECT_EQ(r.volumes, (QStringList{QStringLiteral("V1"), QStringLiteral("V2")}));
    ASSERT_EQ(r.orphans, 2);
    EXPECT_EQ(logCodes(VolumeCheckText::LogCheck).value(0),
              QStringLiteral("全部存储目录：缺失文件0个，孤立文件2个，遗留文件0个"));
    CareCounts counts;
    ASSERT_TRUE(vc.MoveOrphans(r, counts).done());
    EXPECT_EQ(counts.removed, 2);
    EXPECT_EQ(r.orphans, 0);
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/孤立文件/lost.dwg")), QByteArray("lost"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V2/孤立文件/other.dwg")), QByteArray("other"));
    EXPECT_FALSE(onServer(QStringLiteral("V1"), QStringLiteral("lost.dwg")));
    EXPECT_EQ(logCodes(VolumeCheckText::LogMoveOrphans), QStringList{QStringLiteral("移动2个，保留0个，失败0个")});
    // The folder is no finding of the next check, and the drawing is untouched.
    VolumeCheckResult again;
    ASSERT_TRUE(vc.Run({}, again).done());
    EXPECT_EQ(again.orphans, 0);
    EXPECT_EQ(again.missing, 0);
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/") + column(QStringLiteral("A-1"), QStringLiteral("入库文件名称"))),
              QByteArray("aaa"));
}

TEST_P(VolumeCheckTest, AVolumeThatCannotBeListedIsReportedAndTheOthersAreStillChecked) {
    env->addVolume(QStringLiteral("V3"), QStringLiteral("127.0.0.1:%1").arg(UnusedLoopbackPort()));
    QDir(ftp->localPath(QStringLiteral("Volume/V2"))).removeRecursively();
    serverFile(QStringLiteral("V1"), QStringLiteral("lost.dwg"), 10);
    VolumeCheck vc = check();
    VolumeCheckResult r;
    const Outcome o = vc.Run({}, r);
    ASSERT_TRUE(o.done()) << o.text.toStdString();
    EXPECT_EQ(o.icon, Icon::Stop);
    ASSERT_EQ(r.failed.size(), 2);
    EXPECT_TRUE(r.failed[0].startsWith(QStringLiteral("V2："))) << r.failed[0].toStdString();
    EXPECT_TRUE(r.failed[0].contains(QStringLiteral("不存在文件夹"))) << r.failed[0].toStdString();
    EXPECT_TRUE(r.failed[1].startsWith(QStringLiteral("V3："))) << r.failed[1].toStdString();
    EXPECT_TRUE(o.text.contains(QStringLiteral("V3")));
    EXPECT_EQ(r.orphans, 1);
    EXPECT_TRUE(check().Run(QStringLiteral("V9"), r).refused());
}

TEST_P(VolumeCheckTest, ExportWritesEveryFindingAsALineOrAWorkbookRow) {
    buildVolume();
    VolumeCheck vc = check();
    VolumeCheckResult r;
    ASSERT_TRUE(vc.Run(QStringLiteral("V1"), r).done());
    const QString txt = env->dir.path() + QStringLiteral("/check.txt");
    ASSERT_TRUE(VolumeCheck::ExportText(r, txt).done());
    const QStringList lines = QString::fromUtf8(read(txt)).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3 + 6);
    EXPECT_EQ(lines[1], QStringLiteral("缺失文件1个，孤立文件1个，遗留文件4个"));
    EXPECT_EQ(lines[2], QStringLiteral("类别\t存储目录\t零件代号\t文件名称\t大小\t日期"));
    EXPECT_TRUE(lines.contains(QStringLiteral("缺失文件\tV1\tB-2\t") + b2 + QStringLiteral("\t\t")));
    const QString xlsx = env->dir.path() + QStringLiteral("/check.xlsx");
    ASSERT_TRUE(VolumeCheck::ExportWorkbook(r, xlsx).done());
    EXPECT_EQ(read(xlsx).left(2), QByteArray("PK"));
    EXPECT_TRUE(VolumeCheck::ExportText(r, env->dir.path() + QStringLiteral("/no/such/folder/x.txt")).failed());
}

INSTANTIATE_TEST_SUITE_P(Db, VolumeCheckTest, kBothBackends, BackendName);

} // namespace
