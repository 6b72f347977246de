#include "LibraryFixture.h"

#include "core/ActivityLog.h"
#include "library/Batch.h"
#include "library/LibraryRows.h"
#include "library/Versions.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <thread>

using namespace velda;
using namespace velda::test;

namespace {

QStringList DrawingCodesOf(const QStringList& files) {
    QStringList codes;
    for (const QString& f : files)
        codes << DrawingCodeFromPath(f);
    return codes;
}

class ParallelBatch : public LibraryTest {
protected:
    // Files P0.dwg … in a fresh folder, each holding its own name, or `big` bytes for those listed.
    QStringList files(int n, const QString& prefix, const QSet<int>& big = {}, int bigBytes = 0) {
        static int folderNo = 0;
        const QString folder = env->dir.path() + QStringLiteral("/par%1").arg(++folderNo);
        QDir().mkpath(folder);
        QStringList list;
        for (int i = 0; i < n; ++i) {
            const QString path = folder + QStringLiteral("/%1%2.dwg").arg(prefix).arg(i);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(big.contains(i) ? QByteArray(bigBytes, 'x') : (prefix + QString::number(i)).toUtf8());
            list << path;
        }
        return list;
    }
    // The codes of the check-in log rows, in the order of their numbers.
    QStringList loggedCodes(const QString& word) {
        QStringList codes;
        QSqlQuery q = env->db().exec(QStringLiteral("select 代号 from PDM日志 where 方式=? order by 序号"), {word});
        while (q.next())
            codes << q.value(0).toString();
        return codes;
    }
    // A second client on the same library, logged in as admin, giving new drawings everyone's lists.
    auto otherAdmin() {
        auto other = env->otherSession(m_otherFeedback, QStringLiteral("BEEF"));
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"), other.get());
        const QString everyone = Acl::DefaultList(QStringLiteral("admin"), QStringLiteral("admin"));
        Acl::SetPending(other->ctx, everyone, everyone, everyone, everyone);
        return other;
    }
    // The contents of the files kept in V1's history folder, sorted.
    QStringList keptContents() {
        const QString history = ftp->localPath(QStringLiteral("Volume/V1/") + kHistoryFolderName);
        QStringList contents;
        for (const QString& name : QDir(history).entryList(QDir::Files))
            contents << QString::fromUtf8(read(history + QLatin1Char('/') + name));
        contents.sort();
        return contents;
    }
    QStringList sideFiles() {
        QStringList side;
        for (const QString& f : volumeFiles(QStringLiteral("V1")))
            if (!f.endsWith(QStringLiteral(".dwg")))
                side << f;
        return side;
    }
    // A server whose disk fills once a file holds more than `bytes`, in place of the fixture's.
    void serverFullAfter(qint64 bytes) {
        FtpServerOptions o;
        o.fullAfterBytes = bytes;
        ftp = std::make_unique<FtpServer>(o);
        client->Disconnect();
        env->db().exec(QStringLiteral("update PDM存储目录 set 服务器IP=?"), {ftp->address()});
        QDir().mkpath(ftp->localPath(QStringLiteral("Volume/V1")));
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    }

private:
    RecordingFeedback m_otherFeedback;
};

TEST_P(ParallelBatch, AFileTheServerRefusesEndsTheBatchWithTheFilesBeforeItIn) {
    serverFullAfter(1000);
    const QStringList list = files(8, QStringLiteral("R"), {2}, 4000);
    env->session->ftpOptions.connectionsPerServer = 4;
    BatchLibrary b(*env->session, runner());
    std::vector<int> steps;
    const BatchResult r = b.CheckIn(list, [&](int i, const BatchProgress&) {
        steps.push_back(i);
        return true;
    });
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_TRUE(r.outcome.text.contains(list[2])) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("此前已入库图纸2张"))) << r.outcome.text.toStdString();
    EXPECT_EQ(steps, (std::vector<int>{0, 1}));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 2);
    EXPECT_EQ(loggedCodes(LogWord::CheckIn), (QStringList{QStringLiteral("R0"), QStringLiteral("R1")}));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305R1.dwg")), QByteArray("R1"));
    // The refused file and the ones uploaded beside it leave nothing behind.
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")).size(), 2);
}

TEST_P(ParallelBatch, RowsAndLogFollowTheFileOrderAndAStopEndsAfterTheFilesInFlight) {
    const QStringList list = files(9, QStringLiteral("S"));
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 4;
    const BatchResult r = b.CheckIn(list, [&](int i, const BatchProgress&) { return i != 1; });
    EXPECT_TRUE(r.stopped);
    // The stop came with the second file; the rest of its group was already on its way.
    EXPECT_EQ(r.progress.processed, 4);
    EXPECT_TRUE(r.outcome.text.startsWith(QStringLiteral("入库已停止：共需入库图纸9张，已处理4张")))
        << r.outcome.text.toStdString();
    EXPECT_EQ(loggedCodes(LogWord::CheckIn),
              (QStringList{QStringLiteral("S0"), QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("S3")}));
    EXPECT_TRUE(sideFiles().isEmpty());

    // The whole list, then out again over several connections: the copies are the stored drawings
    // and the hold rows and log rows come in the order of the codes.
    BatchLibrary all(*env->session, runner());
    all.groupFiles = 4;
    ASSERT_FALSE(all.CheckIn(list).outcome.failed());
    QStringList codes;
    for (const QString& f : list)
        codes << DrawingCodeFromPath(f);
    const QString out = env->dir.path() + QStringLiteral("/out");
    QDir().mkpath(out);
    BatchLibrary down(*env->session, runner());
    down.groupFiles = 4;
    const BatchResult got = down.CheckOut(codes, out);
    EXPECT_FALSE(got.outcome.failed()) << got.outcome.text.toStdString();
    EXPECT_EQ(got.outcome.text, QStringLiteral("出库完成，共需出库图纸9张，有效出库数量为：9张！"));
    EXPECT_EQ(loggedCodes(LogWord::CheckOut), codes);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(read(out + QStringLiteral("/S%1.dwg").arg(i)), QStringLiteral("S%1").arg(i).toUtf8());
    // No side copies beside the targets.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 9);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM出库图纸信息")), 9);
}

TEST_P(ParallelBatch, AServerKilledMidBatchLeavesEveryDrawingOldOrNew) {
    // Every drawing is in the library with its old content; the batch brings a new one for each.
    const QStringList old = files(40, QStringLiteral("K"));
    ASSERT_FALSE(BatchLibrary(*env->session, runner()).CheckIn(old).outcome.failed());
    QStringList fresh;
    const QString folder = env->dir.path() + QStringLiteral("/fresh");
    QDir().mkpath(folder);
    for (int i = 0; i < 40; ++i) {
        const QString path = folder + QStringLiteral("/K%1.dwg").arg(i);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(20000, char('a' + i % 26)));
        fresh << path;
    }
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 6;
    const qint64 pid = ftp->processId();
    std::thread killer([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::kill(pid_t(pid), SIGKILL);
    });
    const BatchResult r = b.CheckIn(fresh);
    killer.join();
    ftp->stop();
    ftp->start();
    client->Disconnect();
    const int done = r.progress.processed;
    EXPECT_TRUE(r.outcome.failed() || done == 40) << r.outcome.text.toStdString();
    // What a later command finds after its recovery: each drawing whole, old or new, as its log says.
    DrawingLibrary lib = library();
    for (int i = 0; i < 40; ++i) {
        const QString code = QStringLiteral("K%1").arg(i);
        ASSERT_TRUE(lib.Recover(code).done()) << code.toStdString();
        const int checkIns =
            env->count(QStringLiteral("select count(*) from PDM日志 where 方式='图纸入库' and 代号='%1'").arg(code));
        const QByteArray content = stored(QStringLiteral("Volume/V1/20240305%1.dwg").arg(code));
        if (checkIns == 2)
            EXPECT_EQ(content, QByteArray(20000, char('a' + i % 26))) << code.toStdString();
        else
            EXPECT_EQ(content, code.toUtf8()) << code.toStdString();
        // The count the batch reports is exactly the new drawings, in file order.
        EXPECT_EQ(checkIns == 2, i < done) << code.toStdString();
    }
}

TEST_P(ParallelBatch, AFailureInALaterGroupKeepsTheGroupsBeforeAndLeavesTheFailingDrawingAsItWas) {
    serverFullAfter(1000);
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("L5"), "old").done());
    const QStringList list = files(8, QStringLiteral("L"), {5}, 4000);
    env->session->ftpOptions.connectionsPerServer = 3;
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 2; // L4 and L5 are recorded while L6 and L7 are already on their way
    std::vector<int> steps;
    const BatchResult r = b.CheckIn(list, [&](int i, const BatchProgress&) {
        steps.push_back(i);
        return true;
    });
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_TRUE(r.outcome.text.contains(list[5])) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("此前已入库图纸5张"))) << r.outcome.text.toStdString();
    EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(loggedCodes(LogWord::CheckIn),
              (QStringList{QStringLiteral("L5"), QStringLiteral("L0"), QStringLiteral("L1"), QStringLiteral("L2"),
                           QStringLiteral("L3"), QStringLiteral("L4")}));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305L4.dwg")), QByteArray("L4"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305L5.dwg")), QByteArray("old"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号 in ('L6','L7')")), 0);
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
}

TEST_P(ParallelBatch, ACheckOutFindsACheckInCutOffAfterItsCommitInTheVolumeListingAndFinishesIt) {
    // Enough drawings on the volume for the check-out to list its folder instead of probing each.
    const QStringList list = files(20, QStringLiteral("C"));
    ASSERT_FALSE(BatchLibrary(*env->session, runner()).CheckIn(list).outcome.failed());
    QStringList codes;
    for (const QString& f : list)
        codes << DrawingCodeFromPath(f);
    // A check-in of C2 that ends right after its commit: its file is staged, not yet in place.
    DrawingLibrary cut = library();
    cut.onStep = [](QStringView step) {
        if (step == u"committed")
            throw std::runtime_error("cut off");
    };
    EXPECT_FALSE(cut.CheckIn(QStringLiteral("C2"), drawing(QStringLiteral("C2.dwg"), "C2 new")).done());
    ASSERT_EQ(stored(QStringLiteral("Volume/V1/20240305C2.dwg")), QByteArray("C2"));
    ASSERT_EQ(sideFiles().size(), 1);

    const QString out = env->dir.path() + QStringLiteral("/cut");
    QDir().mkpath(out);
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 4;
    const BatchResult r = b.CheckOut(codes, out);
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(read(out + QStringLiteral("/C2.dwg")), QByteArray("C2 new"));
    for (int i : {0, 1, 3, 19})
        EXPECT_EQ(read(out + QStringLiteral("/C%1.dwg").arg(i)), QStringLiteral("C%1").arg(i).toUtf8());
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305C2.dwg")), QByteArray("C2 new"));
    EXPECT_EQ(keptContents(), QStringList{QStringLiteral("C2")}) << "the version the cut-off check-in replaced";
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
}

TEST_P(ParallelBatch, ACheckInOfTheSameCodeBetweenPlanAndRowsLeavesTheBatchsVersionLast) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("X1"), "first").done());
    // X1 is planned, numbered and uploaded while X0 is recorded; bob's check-in of X1 from another
    // client commits before X1's rows are written.
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    loginAs(QStringLiteral("bob"), QStringLiteral("design"), other.get());
    Acl::SetPending(other->ctx, QStringLiteral("/admin(U)/bob(U)/"), QStringLiteral("/admin(U)/bob(U)/"),
                    QStringLiteral("/admin(U)/"), QStringLiteral("/admin(U)/"));
    const QStringList list = files(2, QStringLiteral("X"));
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 1;
    Outcome between;
    const BatchResult r = b.CheckIn(list, [&](int i, const BatchProgress&) {
        if (i == 0)
            between = DrawingLibrary(*other, runner())
                          .CheckIn(QStringLiteral("X1"), drawing(QStringLiteral("bob.dwg"), "bob's"));
        return true;
    });
    ASSERT_TRUE(between.done()) << between.text.toStdString();
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    // The batch's version is the last one by its log row's number too, so that recovery finds it.
    EXPECT_EQ(env->db()
                  .scalar(QStringLiteral("select ID from PDM日志 where 代号='X1' and 方式=? order by 序号 desc"),
                          {LogWord::CheckIn})
                  .toString(),
              QStringLiteral("admin"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305X1.dwg")), QByteArray("X1"));
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
    const QString copy = env->dir.path() + QStringLiteral("/X1-copy.dwg");
    ASSERT_TRUE(library().CheckOut(QStringLiteral("X1"), copy).done());
    EXPECT_EQ(read(copy), QByteArray("X1"));
}

// A check-in planned as new may find, once locked, the drawing another client stored meanwhile on a
// volume whose history folder is not there yet. It asks for the folder before its commit, so the
// other's version is kept and no staged file waits for a recovery that would never come.
TEST_P(ParallelBatch, ACheckInPlannedAsNewKeepsTheVersionAnotherClientStoredMeanwhile) {
    auto other = otherAdmin();
    auto theirs = [&](const QString& code) {
        return DrawingLibrary(*other, runner()).CheckIn(code, drawing(code + QStringLiteral("-theirs.dwg"), "theirs"));
    };
    const QString history = ftp->localPath(QStringLiteral("Volume/V1/") + kHistoryFolderName);

    BatchLibrary b(*env->session, runner());
    b.groupFiles = 1;
    Outcome between;
    const BatchResult r = b.CheckIn(files(2, QStringLiteral("M")), [&](int i, const BatchProgress&) {
        if (i == 0)
            between = theirs(QStringLiteral("M1"));
        return true;
    });
    ASSERT_TRUE(between.done()) << between.text.toStdString();
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305M1.dwg")), QByteArray("M1"));
    EXPECT_EQ(keptContents(), QStringList{QStringLiteral("theirs")});
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();

    // The single check-in, on a volume whose history folder is gone again.
    ASSERT_TRUE(QDir(history).removeRecursively());
    DrawingLibrary single = library();
    single.onStep = [&](QStringView step) {
        if (step == u"uploaded")
            between = theirs(QStringLiteral("N1"));
    };
    ASSERT_TRUE(single.CheckIn(QStringLiteral("N1"), drawing(QStringLiteral("N1.dwg"), "mine")).done());
    ASSERT_TRUE(between.done()) << between.text.toStdString();
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305N1.dwg")), QByteArray("mine"));
    EXPECT_EQ(keptContents(), QStringList{QStringLiteral("theirs")});
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
}

// Another client's check-in of a code the batch has already planned is cut off after its commit: the
// batch finishes it under its own lock before its rows go in, so the cut-off version is kept too and
// no staged file is left out of recovery's reach.
TEST_P(ParallelBatch, ABatchFinishesACheckInCutOffAfterItPlannedTheSameCode) {
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("K1"), "first").done());
    auto other = otherAdmin();
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 1;
    bool cut = false;
    const BatchResult r = b.CheckIn(files(2, QStringLiteral("K")), [&](int i, const BatchProgress&) {
        if (i == 0) {
            DrawingLibrary lib(*other, runner());
            lib.onStep = [](QStringView step) {
                if (step == u"committed")
                    throw std::runtime_error("cut off");
            };
            cut = !lib.CheckIn(QStringLiteral("K1"), drawing(QStringLiteral("K1-cut.dwg"), "cut")).done();
        }
        return true;
    });
    ASSERT_TRUE(cut);
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305K1.dwg")), QByteArray("K1"));
    EXPECT_EQ(keptContents(), (QStringList{QStringLiteral("cut"), QStringLiteral("first")}));
    EXPECT_TRUE(sideFiles().isEmpty()) << sideFiles().join(u' ').toStdString();
}

TEST_P(ParallelBatch, ADrawingCheckedInAgainElsewhereAfterTheBatchReadItIsFetchedAgain) {
    const QStringList list = files(3, QStringLiteral("D"));
    ASSERT_FALSE(BatchLibrary(*env->session, runner()).CheckIn(list).outcome.failed());
    auto other = otherAdmin();

    // The batch read D2's row at its start; the next day's check-in of D2 moves it to another stored
    // name and removes the old file before the batch comes to fetch it.
    const QString out = env->dir.path() + QStringLiteral("/again");
    QDir().mkpath(out);
    BatchLibrary b(*env->session, runner());
    b.groupFiles = 1;
    Outcome between;
    const BatchResult r = b.CheckOut(DrawingCodesOf(list), out, [&](int i, const BatchProgress&) {
        if (i == 0) {
            env->clock.set(QDateTime(QDate(2024, 3, 6), QTime(8, 0)));
            between = DrawingLibrary(*other, runner())
                          .CheckIn(QStringLiteral("D2"), drawing(QStringLiteral("later.dwg"), "D2 later"));
            env->clock.set(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3)));
        }
        return true;
    });
    ASSERT_TRUE(between.done()) << between.text.toStdString();
    ASSERT_FALSE(QFile::exists(ftp->localPath(QStringLiteral("Volume/V1/20240305D2.dwg"))));
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(r.outcome.text, QStringLiteral("出库完成，共需出库图纸3张，有效出库数量为：3张！"));
    EXPECT_EQ(read(out + QStringLiteral("/D2.dwg")), QByteArray("D2 later"));
    EXPECT_EQ(loggedCodes(LogWord::CheckOut), DrawingCodesOf(list));
}

TEST_P(ParallelBatch, ReservedLogNumbersAscendAndAreNeverGivenOutAgain) {
    Database& db = env->db();
    // Reservations before and after automatic numbers, and rows written with them.
    const std::vector<qint64> first = ReserveLogNumbers(db, 3);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_TRUE(first[0] < first[1] && first[1] < first[2]);
    AppendLogRow(*env->session, db, QStringLiteral("admin"), QStringLiteral("A"), LogWord::CheckIn);
    const qint64 automatic = rows::lastCheckIn(db, QStringLiteral("A"));
    EXPECT_GT(automatic, first[2]);
    const std::vector<qint64> second = ReserveLogNumbers(db, 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_GT(second[0], automatic);
    // Rows written with reserved numbers keep them, in the order given; later automatic numbers
    // stay above every number reserved.
    AppendLogRows(*env->session, db, QStringLiteral("admin"), {QStringLiteral("B"), QStringLiteral("C")}, second,
                  LogWord::CheckIn);
    EXPECT_EQ(rows::lastCheckIn(db, QStringLiteral("B")), second[0]);
    EXPECT_EQ(rows::lastCheckIn(db, QStringLiteral("C")), second[1]);
    AppendLogRow(*env->session, db, QStringLiteral("admin"), QStringLiteral("D"), LogWord::CheckIn);
    EXPECT_GT(rows::lastCheckIn(db, QStringLiteral("D")), second[1]);
    const QHash<QString, qint64> numbered = AppendLogRows(*env->session, db, QStringLiteral("admin"),
                                                          {QStringLiteral("E"), QStringLiteral("F")}, LogWord::CheckIn);
    EXPECT_GT(numbered.value(QStringLiteral("F")), numbered.value(QStringLiteral("E")));
    EXPECT_GT(numbered.value(QStringLiteral("E")), rows::lastCheckIn(db, QStringLiteral("D")));
}

TEST_P(ParallelBatch, ACheckOutWhoseRowsCannotAllGoInTogetherNamesTheFileThatFails) {
    const QStringList list = files(3, QStringLiteral("H"));
    ASSERT_FALSE(BatchLibrary(*env->session, runner()).CheckIn(list).outcome.failed());
    // H1 carries a hold without being marked out: its hold row cannot be written a second time.
    env->db().exec(
        QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values ('H1','bob','2024/3/1')"));
    const QString out = env->dir.path() + QStringLiteral("/held");
    QDir().mkpath(out);
    QFile mine(out + QStringLiteral("/H2.dwg"));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("mine");
    mine.close();
    BatchLibrary b(*env->session, runner());
    const BatchResult r = b.CheckOut(DrawingCodesOf(list), out);
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_TRUE(r.outcome.text.startsWith(QStringLiteral("图纸出库<H1>失败"))) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("此前已出库图纸1张"))) << r.outcome.text.toStdString();
    EXPECT_EQ(loggedCodes(LogWord::CheckOut), QStringList{QStringLiteral("H0")});
    EXPECT_EQ(column(QStringLiteral("H0"), QStringLiteral("状态")), QStringLiteral("出库"));
    EXPECT_EQ(column(QStringLiteral("H1"), QStringLiteral("状态")), QStringLiteral("正常"));
    EXPECT_EQ(checkouts(QStringLiteral("H2")), 0);
    // The file after the one that failed is left as it was; no side copy stays behind.
    EXPECT_EQ(read(out + QStringLiteral("/H2.dwg")), QByteArray("mine"));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

INSTANTIATE_TEST_SUITE_P(Db, ParallelBatch, kBothBackends, BackendName);

} // namespace
