#include "LibraryFixture.h"

#include "library/Batch.h"
#include "library/DrawingHistory.h"
#include "library/LibraryRows.h"
#include "library/VolumeCheck.h"
#include "transfer/TransferCommand.h"

#include <QProcess>

#include <csignal>
#include <utility>

using namespace velda;
using namespace velda::test;

namespace {

// Rights as an administrator would set them: alice reads, bob reads and writes, the group team
// writes without the right to change the rights.
void adminRights(Session& s) {
    Acl::SetPending(s.ctx, QStringLiteral("/admin(U)/alice(U)/bob(U)/team(G)/"),
                    QStringLiteral("/admin(U)/bob(U)/team(G)/"), QStringLiteral("/admin(U)/"),
                    QStringLiteral("/admin(U)/"));
}

} // namespace

class LibraryMend : public LibraryTest {
protected:
    Outcome checkIn(const QString& code, const QByteArray& content) {
        return library().CheckIn(
            code, drawing(code + QStringLiteral("-") + QString::number(++m_files) + QStringLiteral(".dwg"), content));
    }
    QStringList rights(const QString& code) {
        return {column(code, QStringLiteral("读")), column(code, QStringLiteral("写")),
                column(code, QStringLiteral("删")), column(code, QStringLiteral("改"))};
    }
    int m_files = 0;
};

TEST_P(LibraryMend, CheckInItselfTestsTheWriteRightAndKeepsTheListsWithoutTheChangeRight) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("J-1"), "admin's").done());
    const QStringList before = rights(QStringLiteral("J-1"));

    // alice may only read. She types code and path by hand and gives herself every right.
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    const QString all = QStringLiteral("/alice(U)/");
    Acl::SetPending(env->session->ctx, all, all, all, all);
    Outcome out = checkIn(QStringLiteral("J-1"), "alice's");
    EXPECT_TRUE(out.refused());
    EXPECT_EQ(out.text, QStringLiteral("该代号零件已入库，您无权修改，操作被中断！"));
    EXPECT_EQ(out.icon, Icon::Stop);
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305J-1.dwg")), QByteArray("admin's"));
    EXPECT_EQ(rights(QStringLiteral("J-1")), before);
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240305J-1.dwg")}) << "no side file left";

    // carol writes through her team login but may not change the rights: the file is hers, the lists stay.
    loginAs(QStringLiteral("carol"), QStringLiteral("team"));
    Acl::SetPending(env->session->ctx, QStringLiteral("/carol(U)/"), QStringLiteral("/carol(U)/"),
                    QStringLiteral("/carol(U)/"), QStringLiteral("/carol(U)/"));
    out = checkIn(QStringLiteral("J-1"), "carol's");
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(stored(QStringLiteral("Volume/V2/20240305J-1.dwg")), QByteArray("carol's"));
    EXPECT_EQ(rights(QStringLiteral("J-1")), before);
    EXPECT_EQ(column(QStringLiteral("J-1"), QStringLiteral("入库帐号")), QStringLiteral("carol"));
}

TEST_P(LibraryMend, TwoCodesThatShareAStoredNameAreNotBothCheckedIn) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("GB/T-1"), "slash").done());
    const Outcome out = checkIn(QStringLiteral("GB-T-1"), "dash");
    EXPECT_TRUE(out.refused());
    EXPECT_EQ(out.text,
              QStringLiteral("零件<GB-T-1>的存储文件名20240305GB-T-1.dwg已被零件<GB/T-1>使用，两者会互相覆盖，"
                             "入库无法完成！"));
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305GB-T-1.dwg")), QByteArray("slash"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 1);
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")).size(), 1);
    // On another volume the two names do not meet.
    loginAs(QStringLiteral("carol"), QStringLiteral("team"));
    adminRights(*env->session);
    EXPECT_TRUE(checkIn(QStringLiteral("GB-T-1"), "dash").done());
}

TEST_P(LibraryMend, DeletingOneOfTwoCodesThatAlreadyShareAFileKeepsTheFileForTheOther) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("GB/T-2"), "shared").done());
    // Written before the clash was refused: a second row naming the same file.
    env->db().exec(
        QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,目录名称) "
                       "select 'GB-T-2',读,写,删,改,入库帐号,入库时间,入库文件名称,状态,目录名称 "
                       "from PDM入库图纸信息 where 代号='GB/T-2'"));
    EXPECT_EQ(library().Delete(QStringLiteral("GB-T-2")).text, QStringLiteral("删除完毕！"));
    const QString copy = drawing(QStringLiteral("copy.dwg"), "");
    ASSERT_TRUE(library().CheckOut(QStringLiteral("GB/T-2"), copy).done());
    EXPECT_EQ(read(copy), QByteArray("shared"));
}

TEST_P(LibraryMend, AnOverlongCodeIsRefusedUpFrontWithTheLimit) {
    adminRights(*env->session);
    const QString longest(kMaxCodeBytes, u'X');
    const Outcome fits = library().CheckIn(longest, drawing(QStringLiteral("long.dwg"), "long"));
    EXPECT_TRUE(fits.done()) << fits.text.toStdString();
    const Outcome out = library().CheckIn(longest + u'Y', drawing(QStringLiteral("long.dwg"), "long"));
    EXPECT_TRUE(out.refused());
    EXPECT_TRUE(out.text.startsWith(QStringLiteral("零件代号过长，入库无法完成！代号最长200个字节")))
        << out.text.toStdString();
    // Chinese characters count three bytes each.
    EXPECT_TRUE(CodeLengthProblem(QString(66, QChar(0x56FE))).isEmpty());
    EXPECT_FALSE(CodeLengthProblem(QString(67, QChar(0x56FE))).isEmpty());
}

// The rule every code box applies while typing: blanks at the ends go, blanks inside stay, and the
// limit counts bytes of UTF-8.
TEST(CodeRules, TypedCodesLoseTheirEndBlanksAndFitTheByteLimit) {
    EXPECT_EQ(TypedCode(QStringLiteral("  ab/ cd 01 \t")), QStringLiteral("ab/ cd 01"));
    EXPECT_TRUE(CodeFits(QString(kMaxCodeBytes, u'X')));
    EXPECT_FALSE(CodeFits(QString(kMaxCodeBytes + 1, u'X')));
    EXPECT_TRUE(CodeFits(QString(66, QChar(0x56FE))));
    EXPECT_FALSE(CodeFits(QString(67, QChar(0x56FE))));
}

TEST_P(LibraryMend, AFailureAfterTheUploadLeavesNoSideFile) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("K-1"), "old").done());
    // The database connection breaks right after the upload: the transaction cannot even start.
    DrawingLibrary broken = library();
    broken.onStep = [&](QStringView step) {
        if (step == u"uploaded")
            env->session->db().close();
    };
    adminRights(*env->session);
    const Outcome out = broken.CheckIn(QStringLiteral("K-1"), drawing(QStringLiteral("k.dwg"), "new"));
    EXPECT_TRUE(out.failed()) << out.text.toStdString();
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList{QStringLiteral("20240305K-1.dwg")});
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305K-1.dwg")), QByteArray("old"));
    // The next command opens the connection again by itself.
    EXPECT_EQ(column(QStringLiteral("K-1"), QStringLiteral("状态")), QStringLiteral("正常"));
}

// A dialog's library runs one command after another on the same connection.
TEST_P(LibraryMend, OneLibrarysCommandsShareOneLogin) {
    adminRights(*env->session);
    DrawingLibrary lib = library();
    const int before = ftp->loginCount();
    ASSERT_TRUE(lib.CheckIn(QStringLiteral("P-1"), drawing(QStringLiteral("p1.dwg"), "p1")).done());
    ASSERT_TRUE(lib.CheckOut(QStringLiteral("P-1"), drawing(QStringLiteral("p1-out.dwg"), "")).done());
    ASSERT_TRUE(lib.CheckIn(QStringLiteral("P-1"), drawing(QStringLiteral("p1.dwg"), "p2")).done());
    EXPECT_EQ(ftp->loginCount() - before, 1);
}

// Another client's check-in of the same code must not commit and move its newer file between our
// commit and our move, or our late move would put the older version over it; nor may the volume's care
// take a file a commit is about to name: the code and the stored name stay locked until the file is in
// place.
TEST_P(LibraryMend, ACheckInKeepsItsCodeAndNameLockedUntilItsFileIsInPlace) {
    adminRights(*env->session);
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    const QString name = StoredFileName(env->clock.today(), QStringLiteral("L-1"));
    auto locks = [&] {
        return QString::fromLatin1(rows::CodeLocks::codeFree(other->db(), QStringLiteral("L-1")) ? "code free"
                                                                                               : "code locked") +
               QString::fromLatin1(rows::CodeLocks::nameFree(other->db(), QStringLiteral("V1"), name) ? ", name free"
                                                                                                    : ", name locked");
    };
    QStringList seen;
    DrawingLibrary lib = library();
    lib.onStep = [&](QStringView step) {
        if (step == u"committed" || step == u"promoted")
            seen << step.toString() + QLatin1Char(':') + locks();
    };
    ASSERT_TRUE(lib.CheckIn(QStringLiteral("L-1"), drawing(QStringLiteral("L-1.dwg"), "v1")).done());
    EXPECT_EQ(seen, (QStringList{QStringLiteral("committed:code locked, name locked"),
                                 QStringLiteral("promoted:code locked, name locked")}));
    EXPECT_EQ(locks(), QStringLiteral("code free, name free")) << "the locks outlived the check-in";
}

// A client of its own on the same library and server, acting as admin.
class OtherClient {
public:
    OtherClient(TestEnvironment& env, const FtpOptions& options, const std::function<void(Session&)>& login)
        : session(env.otherSession(feedback, QStringLiteral("BEEF"))), client(options),
          library(*session, [this](const TransferOperation& op) { return WaitForTransfer(client, op); }) {
        session->ftpOptions = options;
        login(*session);
        adminRights(*session);
    }
    RecordingFeedback feedback;
    std::unique_ptr<Session> session;
    FtpClient client;
    DrawingLibrary library;
};

// A file named like a drawing with no row is an orphan until a check-in of that code names it: the
// move must not take a file a check-in placed after the list was made.
TEST_P(LibraryMend, MovingOrphansLeavesAFileACheckInTookMeanwhile) {
    const QString name = StoredFileName(env->clock.today(), QStringLiteral("O-1"));
    QFile orphan(ftp->localPath(QStringLiteral("Volume/V1/") + name));
    ASSERT_TRUE(orphan.open(QIODevice::WriteOnly));
    orphan.write("left by a cut-off deletion");
    orphan.close();
    OtherClient other(*env, env->session->ftpOptions,
                      [&](Session& s) { loginAs(QStringLiteral("admin"), QStringLiteral("admin"), &s); });

    int calls = -1; // counting from the move on
    VolumeCheck check(*env->session, [&](const TransferOperation& op) {
        const TransferResult r = WaitForTransfer(*client, op);
        // The move has read the rows, made its folder and looked at the target; the other client
        // checks the code in.
        if (calls >= 0 && ++calls == 2) {
            const Outcome in =
                other.library.CheckIn(QStringLiteral("O-1"), drawing(QStringLiteral("o1.dwg"), "checked in"));
            EXPECT_TRUE(in.done()) << in.text.toStdString();
        }
        return r;
    });
    VolumeCheckResult found;
    ASSERT_TRUE(check.Run(QStringLiteral("V1"), found).done());
    ASSERT_EQ(found.orphans, 1);
    CareCounts counts;
    calls = 0;
    check.MoveOrphans(found, counts);
    EXPECT_EQ(counts.removed, 0);
    EXPECT_EQ(stored(QStringLiteral("Volume/V1/") + name), QByteArray("checked in"));
    const QString copy = drawing(QStringLiteral("copy-O-1.dwg"), "");
    ASSERT_TRUE(library().CheckOut(QStringLiteral("O-1"), copy).done());
    EXPECT_EQ(read(copy), QByteArray("checked in"));
}

// The file goes after the deletion's commit; until it is gone the code and its name stay locked, or a
// same-day check-in of the code could write a row naming the file about to be removed.
TEST_P(LibraryMend, ADeletionKeepsTheCodeAndNameLockedUntilItsFileIsGone) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("D-1"), "v1").done());
    const QString name = column(QStringLiteral("D-1"), QStringLiteral("入库文件名称"));
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    QString atRemoval;
    DrawingLibrary lib(*env->session, [&](const TransferOperation& op) {
        if (atRemoval.isEmpty() && column(QStringLiteral("D-1"), QStringLiteral("代号")).isEmpty())
            atRemoval =
                QString::fromLatin1(rows::CodeLocks::codeFree(other->db(), QStringLiteral("D-1")) ? "code free"
                                                                                                : "code locked") +
                QString::fromLatin1(rows::CodeLocks::nameFree(other->db(), QStringLiteral("V1"), name) ? ", name free"
                                                                                                     : ", name locked");
        return WaitForTransfer(*client, op);
    });
    ASSERT_TRUE(lib.Delete(QStringLiteral("D-1")).done());
    EXPECT_EQ(atRemoval, QStringLiteral("code locked, name locked"));
    EXPECT_TRUE(rows::CodeLocks::codeFree(other->db(), QStringLiteral("D-1")));
}

// A batch uploads under reserved log numbers long before its commit; a clean-up in between, by a
// client whose clock makes the files look hours old, must leave them.
TEST_P(LibraryMend, TheCleanUpLeavesABatchGroupsStagedFilesBeforeItsCommit) {
    adminRights(*env->session);
    const QStringList files{drawing(QStringLiteral("S-1.dwg"), "1"), drawing(QStringLiteral("S-2.dwg"), "2"),
                            drawing(QStringLiteral("S-3.dwg"), "3")};
    OtherClient other(*env, env->session->ftpOptions,
                      [&](Session& s) { loginAs(QStringLiteral("admin"), QStringLiteral("admin"), &s); });
    VolumeCheck care(*other.session, [&](const TransferOperation& op) { return WaitForTransfer(other.client, op); });
    CareCounts counts;
    int leftovers = -1;
    BatchLibrary batch(*env->session, runner());
    batch.onPhase = [&](const char* phase, double) {
        if (leftovers >= 0 || QLatin1String(phase) != QLatin1String("transfers"))
            return;
        const QDateTime was = env->clock.now();
        env->clock.set(QDateTime::currentDateTime().addSecs(7200));
        VolumeCheckResult found;
        EXPECT_TRUE(care.Run(QStringLiteral("V1"), found).done());
        leftovers = found.leftovers;
        const Outcome cleaned = care.CleanUp(found, counts);
        EXPECT_TRUE(cleaned.done()) << cleaned.text.toStdString();
        env->clock.set(was);
    };
    const BatchResult r = batch.CheckIn(files);
    EXPECT_EQ(leftovers, 3) << "the clean-up ran before the commit";
    EXPECT_EQ(counts.removed, 0);
    ASSERT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    for (const QString& code : {QStringLiteral("S-1"), QStringLiteral("S-2"), QStringLiteral("S-3")}) {
        const QString copy = drawing(QStringLiteral("copy-") + code + QStringLiteral(".dwg"), "");
        const Outcome out = library().CheckOut(code, copy);
        EXPECT_TRUE(out.done()) << out.text.toStdString();
        EXPECT_EQ(read(copy), code.right(1).toLatin1());
    }
    // Once the batch has ended its numbers are nobody's.
    VolumeCheckResult after;
    ASSERT_TRUE(care.Run(QStringLiteral("V1"), after).done());
    EXPECT_EQ(after.leftovers, 0);
}

// Should a committed file vanish all the same, the check-in says so instead of counting it.
TEST_P(LibraryMend, ACommittedFileFoundNeitherStagedNorInPlaceFailsTheCheckIn) {
    adminRights(*env->session);
    DrawingLibrary lib = library();
    lib.onStep = [&](QStringView step) {
        if (step == u"committed")
            for (const QString& f : volumeFiles(QStringLiteral("V1")))
                QFile::remove(ftp->localPath(QStringLiteral("Volume/V1/") + f));
    };
    const Outcome in = lib.CheckIn(QStringLiteral("G-1"), drawing(QStringLiteral("G-1.dwg"), "g"));
    EXPECT_TRUE(in.failed());
    EXPECT_TRUE(in.text.contains(QStringLiteral("该图纸文件已丢失"))) << in.text.toStdString();
}

TEST_P(LibraryMend, ACheckOutThatRacesASameDayCheckInHoldsTheNewVersion) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("R-1"), "v1").done());
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"), other.get());
    other->ftpOptions = env->session->ftpOptions;
    adminRights(*other);
    FtpClient otherClient(other->ftpOptions);
    DrawingLibrary otherLib(*other, [&](const TransferOperation& op) { return WaitForTransfer(otherClient, op); });

    // bob's fetch brings v1; while it is on its way the administrator checks in v2 under the same name.
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    bool once = false;
    DrawingLibrary bob = library();
    bob.onStep = [&](QStringView step) {
        if (step == u"fetched" && !std::exchange(once, true)) {
            const Outcome in = otherLib.CheckIn(QStringLiteral("R-1"), drawing(QStringLiteral("r2.dwg"), "v2"));
            EXPECT_TRUE(in.done()) << in.text.toStdString();
        }
    };
    const QString copy = drawing(QStringLiteral("bob-R-1.dwg"), "");
    const Outcome out = bob.CheckOut(QStringLiteral("R-1"), copy);
    ASSERT_TRUE(out.done()) << out.text.toStdString();
    EXPECT_EQ(out.text, QStringLiteral("出库完毕！"));
    EXPECT_EQ(read(copy), QByteArray("v2")) << "the hold is taken on the version the copy is";
    EXPECT_EQ(column(QStringLiteral("R-1"), QStringLiteral("状态")), QStringLiteral("出库"));
}

TEST_P(LibraryMend, BatchCheckOutNamesLocalFilesSafelyInsideTheFolder) {
    adminRights(*env->session);
    ASSERT_TRUE(checkIn(QStringLiteral("GB/T-9"), "gb").done());
    ASSERT_TRUE(checkIn(QStringLiteral("../escape"), "esc").done());
    // A code too long for any file name, recorded by another program.
    const QString huge(300, u'Z');
    env->db().exec(QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库文件名称,状态,目录名称) "
                                  "values (?,'/admin(U)/','/admin(U)/','/admin(U)/','/admin(U)/','x.dwg','正常','V1')"),
                   {huge});
    const QString folder = env->dir.path() + QStringLiteral("/out/inner");
    QDir().mkpath(folder);
    BatchLibrary batch(*env->session, runner());
    const BatchResult r = batch.CheckOut({QStringLiteral("GB/T-9"), QStringLiteral("../escape"), huge}, folder);
    EXPECT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    EXPECT_EQ(r.outcome.text, QStringLiteral("出库完成，共需出库图纸3张，有效出库数量为：2张！\r\n图纸") + huge +
                                  QStringLiteral("因权限问题无法出库"));
    EXPECT_EQ(read(folder + QStringLiteral("/GB-T-9.dwg")), QByteArray("gb"));
    EXPECT_EQ(read(folder + QStringLiteral("/..-escape.dwg")), QByteArray("esc"));
    EXPECT_FALSE(QFileInfo::exists(env->dir.path() + QStringLiteral("/out/escape.dwg")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);

    EXPECT_EQ(BatchTargetFile(QStringLiteral("/f"), QStringLiteral("a\\b\tc")), QStringLiteral("/f/a_b_c.dwg"));
    EXPECT_FALSE(BatchTargetFile(QStringLiteral("/f"), QStringLiteral("..")).has_value());
    EXPECT_FALSE(BatchTargetFile(QStringLiteral("/f"), QString()).has_value());
}

TEST_P(LibraryMend, ABatchStopsWhenTheAccountChangesUnderIt) {
    adminRights(*env->session);
    const QStringList files{drawing(QStringLiteral("B-1.dwg"), "1"), drawing(QStringLiteral("B-2.dwg"), "2"),
                            drawing(QStringLiteral("B-3.dwg"), "3")};
    BatchLibrary batch(*env->session, runner());
    batch.groupFiles = 1; // the login comes between two groups
    const BatchResult r = batch.CheckIn(files, [&](int i, const BatchProgress&) {
        if (i == 0) // a login finished while the first file was on its way
            loginAs(QStringLiteral("bob"), QStringLiteral("design"));
        return true;
    });
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_EQ(r.outcome.text, QStringLiteral("登录帐号已变更，批处理已中止。此前已入库图纸1张。"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 1);
    EXPECT_EQ(column(QStringLiteral("B-1"), QStringLiteral("入库帐号")), QStringLiteral("admin"));
}

// Killing the client (SIGKILL) and the server at each step of a same-day re-check-in and of a
// deletion: afterwards the first command on the code puts back the committed version, and the one
// before it (or the deleted one) is still there to fetch or bring back.
TEST_P(LibraryMend, AClientKilledAtAnyStepLeavesTheCommittedVersionForTheNextCheckOut) {
    struct Case {
        const char* op;
        const char* step;
        bool committed;
    };
    const Case cases[] = {
        {"checkin", "uploaded", false}, {"checkin", "locked", false},   {"checkin", "recorded", false},
        {"checkin", "staged", false},   {"checkin", "committed", true}, {"checkin", "kept", true},
        {"checkin", "promoted", true},  {"delete", "locked", false},    {"delete", "recorded", false},
        {"delete", "committed", true},  {"delete", "kept", true}};
    int n = 0;
    int broughtBack = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " killed after " + c.step);
        const QString code = QStringLiteral("Z-%1").arg(++n);
        loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
        adminRights(*env->session);
        ASSERT_TRUE(checkIn(code, "committed").done());

        QStringList args{QStringLiteral("--ftp"),      ftp->address(),
                         QStringLiteral("--password"), ftp->password(),
                         QStringLiteral("--date"),     QStringLiteral("2024-03-05"),
                         QStringLiteral("--op"),       QString::fromLatin1(c.op),
                         QStringLiteral("--code"),     code,
                         QStringLiteral("--file"),     drawing(QStringLiteral("next.dwg"), "uncommitted?"),
                         QStringLiteral("--step"),     QString::fromLatin1(c.step)};
        if (GetParam() == Backend::SQLite)
            args << QStringLiteral("--data") << env->session->paths().dataFolder;
        else
            args << QStringLiteral("--server") << env->address << QStringLiteral("--database") << env->pgDatabase;
        QProcess child;
        child.start(QStringLiteral(VELDA_CRASH_CLIENT), args);
        ASSERT_TRUE(child.waitForStarted());
        QByteArray said;
        while (!said.contains('\n') && child.waitForReadyRead(30000))
            said += child.readAllStandardOutput();
        ASSERT_EQ(said.trimmed(), QByteArray("AT ") + c.step) << child.readAllStandardError().toStdString();

        ftp->stop();
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        ftp->start();
        client->Disconnect();

        const bool gone = QLatin1String(c.op) == QLatin1String("delete") && c.committed;
        const QByteArray expected = QLatin1String(c.op) == QLatin1String("checkin") && c.committed
                                        ? QByteArray("uncommitted?") // the check-in did commit: its file
                                        : QByteArray("committed");
        const QString copy = drawing(QStringLiteral("copy-") + code + QStringLiteral(".dwg"), "");
        const Outcome out = library().CheckOut(code, copy);
        DrawingHistory history(*env->session, runner());
        if (gone) {
            EXPECT_EQ(out.text, QStringLiteral("库中不存在符合条件的零件图！"));
            const Outcome back = history.Undelete(code);
            ASSERT_TRUE(back.done()) << back.text.toStdString();
            ++broughtBack;
            ASSERT_TRUE(library().CheckOut(code, copy).done());
            EXPECT_EQ(read(copy), QByteArray("committed"));
            continue;
        }
        ASSERT_TRUE(out.done()) << out.text.toStdString();
        EXPECT_EQ(read(copy), expected);
        std::vector<VersionRow> versions;
        ASSERT_TRUE(history.Versions(code, versions).done());
        ASSERT_EQ(versions.size(), expected == QByteArray("committed") ? 1u : 2u);
        if (versions.size() == 2) {
            ASSERT_TRUE(history.Fetch(code, versions[1].number, env->dir.path()).done());
            EXPECT_EQ(read(env->dir.filePath(DrawingHistory::FetchName(code, versions[1].number))),
                      QByteArray("committed"));
        }
        EXPECT_EQ(column(code, QStringLiteral("入库文件名称")),
                  QStringLiteral("20240305") + code + QStringLiteral(".dwg"));
        EXPECT_EQ(stored(QStringLiteral("Volume/V1/20240305") + code + QStringLiteral(".dwg")), expected);
        int committedByChild = 0;
        for (int i = 0; i < n; ++i)
            committedByChild += QLatin1String(cases[i].op) == QLatin1String("checkin") && cases[i].committed;
        EXPECT_EQ(logRows(QStringLiteral("图纸入库")), n + committedByChild + broughtBack);
    }
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryMend, kBothBackends, BackendName);
