// Kept versions on both databases and a real FTP server: every replaced and deleted file kept, fetched
// and made current again byte for byte; bad input and missing files refused without a change.
#include "LibraryFixture.h"

#include "core/ActivityLog.h"
#include "core/GateText.h"
#include "core/OfficeSettings.h"
#include "library/Batch.h"
#include "library/DrawingHistory.h"
#include "library/LibraryRows.h"
#include "library/Versions.h"
#include "library/VolumeCheck.h"
#include "library/ui/FrmDeletedDrawings.h"
#include "library/ui/FrmDrawingHistory.h"
#include "library/ui/FrmVolumeCheck.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace velda;
using namespace velda::test;

namespace {
QString Sha(const QByteArray& b) {
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
}
} // namespace

class History : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (env)
            adminRights();
    }
    void adminRights() {
        const QString all = QStringLiteral("/admin(U)/bob(U)/");
        Acl::SetPending(env->session->ctx, all, all, all, all);
    }
    Outcome checkIn(const QString& code, const QByteArray& content, const QString& comment = {}) {
        return library().CheckIn(code, drawing(code + QString::number(++m_files) + QStringLiteral(".dwg"), content),
                                 comment);
    }
    DrawingHistory history() { return DrawingHistory(*env->session, runner()); }
    std::vector<VersionRow> versions(const QString& code) {
        std::vector<VersionRow> v;
        const Outcome o = history().Versions(code, v);
        EXPECT_TRUE(o.done()) << o.text.toStdString();
        return v;
    }
    QByteArray fetched(const QString& code, qint64 number) {
        const QString folder = env->dir.path() + QStringLiteral("/fetched");
        QDir().mkpath(folder);
        QString saved;
        const Outcome o = history().Fetch(code, number, folder, &saved);
        EXPECT_TRUE(o.done()) << o.text.toStdString();
        EXPECT_EQ(QFileInfo(saved).fileName(), DrawingHistory::FetchName(code, number));
        return read(saved);
    }
    // The file the library row names, as a check-out would fetch it (without holding the drawing).
    QByteArray current(const QString& code) {
        return stored(QStringLiteral("Volume/") + column(code, QStringLiteral("目录名称")) + QLatin1Char('/') +
                      column(code, QStringLiteral("入库文件名称")));
    }
    int m_files = 0;
};

// Three check-ins, a fetch, a restore, a deletion and the way back: every version byte for byte.
TEST_P(History, EveryVersionIsKeptFetchedRestoredAndBroughtBackAfterDeletion) {
    const QString code = QStringLiteral("H/1");
    ASSERT_TRUE(checkIn(code, "one", QStringLiteral("第一版 \"引号\"")).done());
    ASSERT_TRUE(checkIn(code, "two").done());
    ASSERT_TRUE(checkIn(code, "three").done());

    std::vector<VersionRow> v = versions(code);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].number, rows::lastCheckIn(env->db(), code)) << "the newest first, numbered by its log row";
    EXPECT_GT(v[0].number, v[1].number);
    EXPECT_GT(v[1].number, v[2].number);
    EXPECT_EQ(v[0].sha256, Sha("three"));
    EXPECT_EQ(v[0].size, 5);
    EXPECT_EQ(v[0].user, QStringLiteral("admin"));
    EXPECT_EQ(v[2].comment, QStringLiteral("第一版 \"引号\""));
    const qint64 first = v[2].number, second = v[1].number, third = v[0].number;
    EXPECT_EQ(stored(HistoryPath(QStringLiteral("V1"), first, QStringLiteral("20240305H-1.dwg"))), "one");
    EXPECT_EQ(stored(HistoryPath(QStringLiteral("V1"), second, QStringLiteral("20240305H-1.dwg"))), "two");
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240305H-1.dwg")});

    EXPECT_EQ(fetched(code, first), "one");
    EXPECT_EQ(logRows(LogWord::FetchVersion), 1);
    EXPECT_EQ(checkouts(code), 0) << "a fetch holds nothing";

    ASSERT_TRUE(history().Restore(code, first).done());
    EXPECT_EQ(current(code), "one");
    v = versions(code);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].comment, VersionText::RestoredFrom(first));
    EXPECT_EQ(fetched(code, third), "three") << "the version a restore replaced is kept too";

    ASSERT_TRUE(library().Delete(code).done());
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息"), QStringLiteral("代号=?"), {code}), 0);
    std::vector<DeletedDrawing> deleted;
    ASSERT_TRUE(history().Deleted(deleted).done());
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].code, code);
    EXPECT_EQ(deleted[0].deletedBy, QStringLiteral("admin"));
    EXPECT_EQ(deleted[0].versions, 4);
    EXPECT_EQ(fetched(code, first), "one");
    EXPECT_EQ(fetched(code, second), "two");
    EXPECT_EQ(fetched(code, third), "three");

    // Only an administrator sees the deleted.
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    EXPECT_EQ(history().Deleted(deleted).text, HistoryText::AdminOnly);
    EXPECT_EQ(history().Undelete(code).text, HistoryText::AdminOnly);
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));

    ASSERT_TRUE(history().Undelete(code).done());
    EXPECT_EQ(current(code), "one");
    ASSERT_TRUE(history().Deleted(deleted).done());
    EXPECT_TRUE(deleted.empty());
    EXPECT_EQ(versions(code).size(), 5u);
    EXPECT_TRUE(versions(code)[4].deletedAt.isEmpty()) << "the versions came back with it";
    EXPECT_EQ(history().Undelete(code).text, HistoryText::CodeTaken(code));
    ASSERT_TRUE(history().Restore(code, second).done());
    EXPECT_EQ(current(code), "two");
}

TEST_P(History, HostileCommentsMissingFilesAndAnUnwritableHistoryFolderChangeNothing) {
    const QString code = QStringLiteral("H-2");
    const QString huge(kMaxVersionComment + 1, QLatin1Char('x'));
    EXPECT_EQ(checkIn(code, "one", huge).text, VersionText::CommentTooLong(huge.size()));
    ASSERT_TRUE(
        checkIn(code, "one", QStringLiteral("a';drop table 图纸版本;--") + QChar(0) + QStringLiteral("b")).done());
    EXPECT_EQ(versions(code)[0].comment, QStringLiteral("a';drop table 图纸版本;--b"));
    ASSERT_TRUE(checkIn(code, "two").done());
    const qint64 first = versions(code)[1].number;

    // The kept file gone behind the program's back: restore and fetch name the version and its volume.
    QFile::remove(ftp->localPath(HistoryPath(QStringLiteral("V1"), first, QStringLiteral("20240305H-2.dwg"))));
    const int logs = rows(QStringLiteral("PDM日志"));
    Outcome out = history().Restore(code, first);
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(out.text, VersionText::VersionFileMissing(code, first, QStringLiteral("V1")));
    EXPECT_EQ(history().Fetch(code, first, env->dir.path()).text, out.text);
    EXPECT_EQ(rows(QStringLiteral("PDM日志")), logs);
    EXPECT_EQ(current(code), "two");
    EXPECT_EQ(history().Fetch(code, 999999, env->dir.path()).text, VersionText::NoSuchVersion(code, 999999));

    // A volume whose history folder the account may only read: the replacing check-in is refused
    // before anything changes; a new drawing needs no history folder.
    FtpServerOptions options;
    options.password = ftp->password();
    options.readOnlyFolders = {QStringLiteral("Volume/V3/") + kHistoryFolderName};
    FtpServer readOnly(options);
    QDir().mkpath(readOnly.localPath(QStringLiteral("Volume/V3")));
    env->addVolume(QStringLiteral("V3"), readOnly.address());
    env->session->ctx.VolumeName = QStringLiteral("V3");
    env->session->ctx.VolumeServerIp = readOnly.address();
    ASSERT_TRUE(checkIn(QStringLiteral("R-1"), "one").done());
    const int before = rows(QStringLiteral("PDM日志"));
    out = checkIn(QStringLiteral("R-1"), "two");
    EXPECT_TRUE(out.failed());
    EXPECT_TRUE(out.text.startsWith(VersionText::HistoryNotWritable(QStringLiteral("V3"), {}).split(u'\r').first()))
        << out.text.toStdString();
    EXPECT_EQ(rows(QStringLiteral("PDM日志")), before);
    EXPECT_EQ(read(readOnly.localPath(QStringLiteral("Volume/V3/20240305R-1.dwg"))), "one");
    EXPECT_EQ(QDir(readOnly.localPath(QStringLiteral("Volume/V3"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A library another client kept (no version rows, no log row): its next check-in keeps that file as
// version 0; a batch keeps what it replaces and carries its comment.
TEST_P(History, ALibraryWithoutVersionsStartsKeepingThemAndBatchesKeepToo) {
    QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V1")));
    QFile old(ftp->localPath(QStringLiteral("Volume/V1/20230101OLD-1.dwg")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("legacy");
    old.close();
    env->db().exec(QStringLiteral("insert into PDM入库图纸信息 values ('OLD-1','/admin(U)/','/admin(U)/','/admin(U)/',"
                                  "'/admin(U)/','zhao','2023/1/1','20230101OLD-1.dwg','正常','V1')"));
    ASSERT_TRUE(checkIn(QStringLiteral("OLD-1"), "new").done());
    std::vector<VersionRow> v = versions(QStringLiteral("OLD-1"));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].number, 0);
    EXPECT_EQ(v[1].user, QStringLiteral("zhao"));
    EXPECT_EQ(v[1].size, -1);
    EXPECT_EQ(fetched(QStringLiteral("OLD-1"), 0), "legacy");
    EXPECT_FALSE(QFileInfo::exists(old.fileName()));

    ASSERT_TRUE(checkIn(QStringLiteral("B-1"), "b1").done());
    ASSERT_TRUE(checkIn(QStringLiteral("B-2"), "b2").done());
    BatchLibrary batch(*env->session, runner());
    batch.comment = QStringLiteral("批量");
    batch.groupFiles = 1;
    const BatchResult r =
        batch.CheckIn({drawing(QStringLiteral("b/B-1.dwg"), "B1"), drawing(QStringLiteral("b/B-2.dwg"), "B2")});
    ASSERT_TRUE(r.outcome.done()) << r.outcome.text.toStdString();
    for (const QString& code : {QStringLiteral("B-1"), QStringLiteral("B-2")}) {
        v = versions(code);
        ASSERT_EQ(v.size(), 2u);
        EXPECT_EQ(v[0].comment, QStringLiteral("批量"));
        EXPECT_EQ(v[0].sha256, Sha(code == QLatin1String("B-1") ? "B1" : "B2"));
        EXPECT_EQ(fetched(code, v[1].number), code == QLatin1String("B-1") ? "b1" : "b2");
    }
    // The benchmark's baseline overwrites as a client that keeps no versions does.
    batch.keepVersions = false;
    ASSERT_TRUE(batch.CheckIn({drawing(QStringLiteral("c/B-1.dwg"), "C1"), drawing(QStringLiteral("c/B-2.dwg"), "C2")})
                    .outcome.done());
    EXPECT_EQ(versions(QStringLiteral("B-1")).size(), 2u);
    EXPECT_EQ(current(QStringLiteral("B-1")), "C1");
    // The next keeping batch describes what that client stored, every code of a group at once.
    batch.keepVersions = true;
    batch.groupFiles = 0;
    ASSERT_TRUE(batch.CheckIn({drawing(QStringLiteral("d/B-1.dwg"), "D1"), drawing(QStringLiteral("d/B-2.dwg"), "D2")})
                    .outcome.done());
    for (const QString& code : {QStringLiteral("B-1"), QStringLiteral("B-2")}) {
        v = versions(code);
        ASSERT_EQ(v.size(), 4u);
        EXPECT_EQ(v[1].size, -1) << "described from the row: no size known";
        EXPECT_EQ(fetched(code, v[1].number), code == QLatin1String("B-1") ? "C1" : "C2");
        EXPECT_EQ(current(code), code == QLatin1String("B-1") ? "D1" : "D2");
    }
}

// Two programs check the same code in at once: both versions kept, in commit order, the later current.
TEST_P(History, TwoClientsCheckingInOneCodeAtOnceKeepBothVersions) {
    const QString code = QStringLiteral("C-1");
    ASSERT_TRUE(checkIn(code, "base").done());
    std::vector<std::unique_ptr<QProcess>> children;
    for (const char* content : {"from A", "from B"}) {
        QStringList args{QStringLiteral("--ftp"),
                         ftp->address(),
                         QStringLiteral("--password"),
                         ftp->password(),
                         QStringLiteral("--date"),
                         QStringLiteral("2024-03-05"),
                         QStringLiteral("--op"),
                         QStringLiteral("checkin"),
                         QStringLiteral("--code"),
                         code,
                         QStringLiteral("--file"),
                         drawing(QString::fromLatin1(content).replace(u' ', u'-') + QStringLiteral(".dwg"), content),
                         QStringLiteral("--step"),
                         QStringLiteral("none")};
        if (GetParam() == Backend::SQLite)
            args << QStringLiteral("--data") << env->session->paths().dataFolder;
        else
            args << QStringLiteral("--server") << env->address << QStringLiteral("--database") << env->pgDatabase;
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(QStringLiteral(VELDA_CRASH_CLIENT), args);
    }
    for (auto& child : children) {
        ASSERT_TRUE(child->waitForFinished(60000));
        EXPECT_EQ(child->exitCode(), 0) << child->readAll().toStdString()
                                        << child->readAllStandardError().toStdString();
    }
    const std::vector<VersionRow> v = versions(code);
    ASSERT_EQ(v.size(), 3u);
    const QByteArray newest = current(code);
    EXPECT_EQ(v[0].sha256, Sha(newest));
    EXPECT_EQ(fetched(code, v[1].number), newest == "from A" ? "from B" : "from A");
    EXPECT_EQ(fetched(code, v[2].number), "base");
}

// The windows' wiring: the list, the fetch into the chosen folder, the restore, the way back.
TEST_P(History, TheWindowsFetchRestoreAndBringBackADeletedDrawing) {
    const QString code = QStringLiteral("W-1");
    ASSERT_TRUE(checkIn(code, "one").done());
    ASSERT_TRUE(checkIn(code, "two").done());
    FrmDrawingHistory f(*env->session);
    f.ShowCode(code);
    auto* list = f.findChild<QTableWidget*>(QStringLiteral("LstVersions"));
    ASSERT_EQ(list->rowCount(), 2);
    const qint64 first = list->item(1, 0)->text().toLongLong();
    list->selectRow(1);
    const QString folder = env->dir.path() + QStringLiteral("/chosen");
    QDir().mkpath(folder);
    env->feedback.fileAnswers = {folder + QStringLiteral("/any name.dwg")};
    QTest::mouseClick(f.findChild<QPushButton*>(QStringLiteral("CmdFetch")), Qt::LeftButton);
    EXPECT_EQ(read(folder + QLatin1Char('/') + DrawingHistory::FetchName(code, first)), "one");
    env->feedback.questionAnswers = {true};
    QTest::mouseClick(f.findChild<QPushButton*>(QStringLiteral("CmdRestore")), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, HistoryText::Restored);
    EXPECT_EQ(current(code), "one");
    EXPECT_EQ(list->rowCount(), 3);

    ASSERT_TRUE(library().Delete(code).done());
    FrmDeletedDrawings d(*env->session);
    auto* deleted = d.findChild<QTableWidget*>(QStringLiteral("LstDeleted"));
    ASSERT_EQ(deleted->rowCount(), 1);
    deleted->selectRow(0);
    QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("CmdRestore")), Qt::LeftButton);
    EXPECT_EQ(deleted->rowCount(), 0);
    EXPECT_EQ(current(code), "one");
    // 校验 in the volume check's window lists a file changed behind the program's back.
    QFile changed(ftp->localPath(QStringLiteral("Volume/V1/20240305W-1.dwg")));
    ASSERT_TRUE(changed.open(QIODevice::WriteOnly));
    changed.write("changed");
    changed.close();
    FrmVolumeCheck v(*env->session);
    QTest::mouseClick(v.findChild<QPushButton*>(QStringLiteral("CmdCheck")), Qt::LeftButton);
    QTest::mouseClick(v.findChild<QPushButton*>(QStringLiteral("CmdVerify")), Qt::LeftButton);
    auto* found = v.findChild<QTableWidget*>(QStringLiteral("LstResult"));
    ASSERT_EQ(found->rowCount(), 1);
    EXPECT_EQ(found->item(0, 0)->text(), VolumeCheckText::KindName(FindingKind::Mismatch));

    // The office's number of versions to keep is set beside the check that enforces it.
    OfficeSettings(env->db()).setNumber(kKeepVersionsSetting, 5);
    FrmVolumeCheck again(*env->session);
    auto* keep = again.findChild<QSpinBox*>(QStringLiteral("SpnKeepVersions"));
    EXPECT_EQ(keep->value(), 5);
    keep->setValue(2);
    QTest::mouseClick(again.findChild<QPushButton*>(QStringLiteral("CmdKeepVersions")), Qt::LeftButton);
    EXPECT_EQ(OfficeSettings(env->db()).number(kKeepVersionsSetting, 0), 2);
    QTest::mouseClick(again.findChild<QPushButton*>(QStringLiteral("CmdCheck")), Qt::LeftButton);
    EXPECT_EQ(again.result().count(FindingKind::BeyondKeeping), 2) << "four versions, two kept";
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    keep->setValue(0);
    QTest::mouseClick(again.findChild<QPushButton*>(QStringLiteral("CmdKeepVersions")), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, GateText::Administrator);
    EXPECT_EQ(OfficeSettings(env->db()).number(kKeepVersionsSetting, 0), 2);
}

// The volume check knows the kept versions: a row without its file, a file without its row, versions
// beyond the office's number to keep (removed by the clean-up, never the current one), and 校验.
TEST_P(History, TheVolumeCheckFindsVersionProblemsKeepsTheSettingAndVerifies) {
    const QString code = QStringLiteral("K-1");
    for (const char* content : {"1", "2", "3", "4"})
        ASSERT_TRUE(checkIn(code, content).done());
    std::vector<VersionRow> v = versions(code);
    ASSERT_EQ(v.size(), 4u);
    // A deleted drawing's file still under its stored name is no orphan.
    ASSERT_TRUE(checkIn(QStringLiteral("D-1"), "d").done());
    ASSERT_TRUE(library().Delete(QStringLiteral("D-1")).done());
    QFile::rename(ftp->localPath(HistoryPath(QStringLiteral("V1"), versions(QStringLiteral("D-1"))[0].number,
                                             QStringLiteral("20240305D-1.dwg"))),
                  ftp->localPath(QStringLiteral("Volume/V1/20240305D-1.dwg")));
    const QString history = QStringLiteral("Volume/V1/") + kHistoryFolderName + QLatin1Char('/');
    QFile::remove(ftp->localPath(HistoryPath(QStringLiteral("V1"), v[3].number, QStringLiteral("20240305K-1.dwg"))));
    QFile stray(ftp->localPath(history + QStringLiteral("77-20240101X.dwg")));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    OfficeSettings(env->db()).setNumber(kKeepVersionsSetting, 2);

    VolumeCheck check(*env->session, runner());
    VolumeCheckResult r;
    ASSERT_TRUE(check.Run(QStringLiteral("V1"), r).done());
    QStringList found;
    for (const Finding& f : r.findings)
        found << VolumeCheckText::KindName(f.kind) + QLatin1Char(' ') + f.fileName;
    const QString k = QStringLiteral("-20240305K-1.dwg");
    EXPECT_EQ(found, (QStringList{QStringLiteral("缺失历史版本 历史版本/%1%2").arg(v[3].number).arg(k),
                                  QStringLiteral("无记录的历史版本 历史版本/77-20240101X.dwg"),
                                  QStringLiteral("超出保留数的版本 历史版本/%1%2").arg(v[2].number).arg(k)}));
    EXPECT_TRUE(VolumeCheckText::Counts(r).endsWith(QStringLiteral("，历史版本问题3个")));

    // The current file changed behind the program's back.
    QFile current(ftp->localPath(QStringLiteral("Volume/V1/20240305K-1.dwg")));
    ASSERT_TRUE(current.open(QIODevice::WriteOnly));
    current.write("rot");
    current.close();
    ASSERT_TRUE(check.Verify(r, true).done());
    EXPECT_EQ(r.verified, 3) << "the current file and the two kept versions still there";
    ASSERT_EQ(r.count(FindingKind::Mismatch), 1);

    CareCounts counts;
    ASSERT_TRUE(check.CleanUp(r, counts).done());
    EXPECT_EQ(counts.removed, 1);
    EXPECT_EQ(versions(code).size(), 3u);
    EXPECT_FALSE(QFile::exists(
        ftp->localPath(HistoryPath(QStringLiteral("V1"), v[2].number, QStringLiteral("20240305K-1.dwg")))));
    EXPECT_EQ(fetched(code, v[1].number), "3");
}

INSTANTIATE_TEST_SUITE_P(Db, History, kBothBackends, BackendName);
