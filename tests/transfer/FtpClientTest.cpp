#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/TransferCommand.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/mount.h>

namespace velda {
namespace {

using test::FtpServer;
using test::FtpServerOptions;

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every entry of a folder, hidden ones included: leftovers of a broken transfer must show up.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

FtpOptions TestOptions() {
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(5);
    options.stallTime = std::chrono::seconds(10);
    return options;
}

// A transfer's message must never carry the password, whatever went wrong.
void ExpectNoPassword(const TransferResult& result, const QString& password) {
    EXPECT_FALSE(result.message.contains(password)) << result.message.toStdString();
    EXPECT_FALSE(result.message.contains(QStringLiteral("s3:cr"))) << result.message.toStdString();
}

class FtpClientTest : public ::testing::Test {
protected:
    explicit FtpClientTest(FtpServerOptions options = {}) : server(std::move(options)) {}

    QString url() const { return server.volumeUrl(); }
    QString inLocal(const QString& name) const { return QDir(local.path()).filePath(name); }
    QString onServer(const QString& relative) const { return server.localPath(relative); }

    FtpServer server;
    FtpClient client{TestOptions()};
    QTemporaryDir local;
};

// --- the five commands, round trip --------------------------------------------------------------------

TEST_F(FtpClientTest, MkdirCreatesTheTopFolderAndPutLandsInTheSameFolder) {
    ASSERT_FALSE(QFileInfo::exists(onServer(QStringLiteral("Volume"))));
    const TransferResult made = client.Execute(url(), MkdirCommand(QStringLiteral("V1")));
    ASSERT_TRUE(made.ok) << made.message.toStdString();
    EXPECT_FALSE(made.alreadyExisted);
    EXPECT_EQ(Entries(server.rootPath()), QStringList{QStringLiteral("Volume")});
    EXPECT_TRUE(QFileInfo(onServer(QStringLiteral("Volume/V1"))).isDir());

    const QString drawing = inLocal(QStringLiteral("my drawings/A 1.dwg"));
    WriteFile(drawing, "drawing");
    const QString stored = StoredFileName(QDate(2024, 3, 5), QStringLiteral("A-1"));
    const TransferResult put = client.Execute(url(), PutCommand(drawing, QStringLiteral("V1"), stored));
    ASSERT_TRUE(put.ok) << put.message.toStdString();
    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume/V1"))), QStringList{QStringLiteral("20240305A-1.dwg")});
}

TEST_F(FtpClientTest, MkdirOfAnExistingVolumeCountsAsDoneButAFileInTheWayDoesNot) {
    ASSERT_TRUE(client.Execute(url(), MkdirCommand(QStringLiteral("V1"))).ok);
    WriteFile(onServer(QStringLiteral("Volume/V1/kept.dwg")), "kept");

    const TransferResult again = client.Execute(url(), MkdirCommand(QStringLiteral("V1")));
    ASSERT_TRUE(again.ok) << again.message.toStdString();
    EXPECT_TRUE(again.alreadyExisted);
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/kept.dwg"))), "kept");

    const TransferResult second = client.Execute(url(), MkdirCommand(QStringLiteral("V2 ")));
    ASSERT_TRUE(second.ok) << second.message.toStdString();
    EXPECT_FALSE(second.alreadyExisted);
    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume"))), (QStringList{QStringLiteral("V1"), QStringLiteral("V2 ")}));

    WriteFile(onServer(QStringLiteral("Volume/V3")), "a file, not a folder");
    const TransferResult clash = client.Execute(url(), MkdirCommand(QStringLiteral("V3")));
    EXPECT_FALSE(clash.ok);
    EXPECT_EQ(clash.failure, TransferFailure::RemoteRefused);
    EXPECT_TRUE(
        clash.message.startsWith(QStringLiteral("在FTP服务器%1上创建文件夹Volume/V3失败").arg(server.address())))
        << clash.message.toStdString();
}

TEST_F(FtpClientTest, PutThenGetGivesBackTheSameBytesUnderAwkwardNames) {
    const QByteArray content = RandomBytes(300 * 1024 + 7);
    const QString drawing = inLocal(QStringLiteral("in box/GB T 12.dwg"));
    WriteFile(drawing, content);
    ASSERT_TRUE(client.MakeFolder(url(), QStringLiteral("volume/卷 1/")).ok);

    const QString stored = StoredFileName(QDate(2024, 3, 5), QStringLiteral("GB/T 12#%20;x"));
    qint64 lastDone = -1;
    qint64 lastTotal = 0;
    const TransferResult put =
        client.Execute(url(), PutCommand(drawing, QStringLiteral("卷 1"), stored), [&](qint64 done, qint64 total) {
            EXPECT_GE(done, lastDone);
            lastDone = done;
            lastTotal = total;
        });
    ASSERT_TRUE(put.ok) << put.message.toStdString();
    EXPECT_EQ(put.bytes, content.size());
    EXPECT_EQ(lastDone, content.size());
    EXPECT_EQ(lastTotal, content.size());
    const QString serverFile = onServer(QStringLiteral("Volume/卷 1/20240305GB-T 12#%20;x.dwg"));
    EXPECT_EQ(ReadFile(serverFile), content);
    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume/卷 1"))).size(), 1) << "no part file may stay behind";

    const QString back = inLocal(QStringLiteral("out dir/back (1) #.dwg"));
    QDir().mkpath(QFileInfo(back).absolutePath());
    lastDone = -1;
    const TransferResult get = client.Execute(url(), GetCommand(RemotePath(QStringLiteral("卷 1"), stored), back),
                                              [&](qint64 done, qint64 total) {
                                                  lastDone = done;
                                                  lastTotal = total;
                                              });
    ASSERT_TRUE(get.ok) << get.message.toStdString();
    EXPECT_EQ(ReadFile(back), content);
    EXPECT_EQ(get.size, content.size());
    EXPECT_EQ(lastDone, content.size());
    EXPECT_EQ(lastTotal, content.size());
    EXPECT_EQ(Entries(QFileInfo(back).absolutePath()).size(), 1);
}

TEST_F(FtpClientTest, EmptyFilesTravelBothWays) {
    ASSERT_TRUE(client.MakeFolder(url(), QStringLiteral("Volume/V1")).ok);
    WriteFile(inLocal(QStringLiteral("empty.dwg")), {});
    ASSERT_TRUE(client.Put(url(), inLocal(QStringLiteral("empty.dwg")), QStringLiteral("Volume/V1/e.dwg")).ok);
    EXPECT_EQ(QFileInfo(onServer(QStringLiteral("Volume/V1/e.dwg"))).size(), 0);

    WriteFile(inLocal(QStringLiteral("target.dwg")), "old content");
    const TransferResult get =
        client.Get(url(), QStringLiteral("Volume/V1/e.dwg"), inLocal(QStringLiteral("target.dwg")));
    ASSERT_TRUE(get.ok) << get.message.toStdString();
    EXPECT_EQ(QFileInfo(inLocal(QStringLiteral("target.dwg"))).size(), 0);
}

TEST_F(FtpClientTest, PutReplacesAnOlderFileOfTheSameName) {
    // A second check-in on the same day yields the same stored name.
    WriteFile(onServer(QStringLiteral("Volume/V1/20240305A-1.dwg")), "first version");
    WriteFile(inLocal(QStringLiteral("A-1.dwg")), "second version");
    const TransferResult put = client.Execute(
        url(), PutCommand(inLocal(QStringLiteral("A-1.dwg")), QStringLiteral("V1"), QStringLiteral("20240305A-1.dwg")));
    ASSERT_TRUE(put.ok) << put.message.toStdString();
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/20240305A-1.dwg"))), "second version");
    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume/V1"))).size(), 1);
}

TEST_F(FtpClientTest, DeleteRemovesTheFileAndCountsAnAbsentOneAsDone) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a b.dwg")), "x");
    WriteFile(onServer(QStringLiteral("Volume/V1/other.dwg")), "y");
    const TransferResult removed = client.Execute(url(), DeleteCommand(QStringLiteral("Volume/V1/a b.dwg")));
    ASSERT_TRUE(removed.ok) << removed.message.toStdString();
    EXPECT_FALSE(removed.wasAbsent);
    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume/V1"))), QStringList{QStringLiteral("other.dwg")});

    const TransferResult again = client.Execute(url(), DeleteCommand(QStringLiteral("Volume/V1/a b.dwg")));
    ASSERT_TRUE(again.ok) << again.message.toStdString();
    EXPECT_TRUE(again.wasAbsent);

    const TransferResult noVolume = client.Delete(url(), QStringLiteral("Volume/V9/a.dwg"));
    ASSERT_TRUE(noVolume.ok) << noVolume.message.toStdString();
    EXPECT_TRUE(noVolume.wasAbsent);
}

TEST_F(FtpClientTest, DeleteOfAFolderIsRefusedNotTakenForAbsent) {
    QDir().mkpath(onServer(QStringLiteral("Volume/V1/sub.dwg")));
    const TransferResult removed = client.Delete(url(), QStringLiteral("Volume/V1/sub.dwg"));
    EXPECT_FALSE(removed.ok);
    EXPECT_EQ(removed.failure, TransferFailure::RemoteRefused);
    EXPECT_TRUE(removed.message.startsWith(
        QStringLiteral("删除FTP服务器%1上的文件Volume/V1/sub.dwg失败").arg(server.address())))
        << removed.message.toStdString();
}

TEST_F(FtpClientTest, RmdirRemovesAnEmptyVolumeAndCountsAnAbsentOneAsDone) {
    ASSERT_TRUE(client.Execute(url(), MkdirCommand(QStringLiteral("V1"))).ok);
    const TransferResult removed = client.Execute(url(), RmdirCommand(QStringLiteral("V1")));
    ASSERT_TRUE(removed.ok) << removed.message.toStdString();
    EXPECT_FALSE(removed.wasAbsent);
    EXPECT_FALSE(QFileInfo::exists(onServer(QStringLiteral("Volume/V1"))));

    const TransferResult again = client.Execute(url(), RmdirCommand(QStringLiteral("V1")));
    ASSERT_TRUE(again.ok) << again.message.toStdString();
    EXPECT_TRUE(again.wasAbsent);
}

TEST_F(FtpClientTest, RmdirKeepsAVolumeThatStillHoldsDrawings) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a.dwg")), "x");
    const TransferResult removed = client.Execute(url(), RmdirCommand(QStringLiteral("V1")));
    EXPECT_FALSE(removed.ok);
    EXPECT_EQ(removed.failure, TransferFailure::RemoteRefused);
    EXPECT_EQ(removed.ftpReply, 550);
    EXPECT_TRUE(
        removed.message.startsWith(QStringLiteral("删除FTP服务器%1上的文件夹Volume/V1失败：").arg(server.address())))
        << removed.message.toStdString();
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/a.dwg"))), "x");
}

// --- rename, exists, size ------------------------------------------------------------------------------

TEST_F(FtpClientTest, RenameMovesAFileAndReportsAMissingSource) {
    WriteFile(onServer(QStringLiteral("Volume/V1/old name.dwg")), "content");
    QDir().mkpath(onServer(QStringLiteral("Volume/V2")));
    const TransferResult moved =
        client.Rename(url(), QStringLiteral("Volume/V1/old name.dwg"), QStringLiteral("volume/V2/new#1.dwg"));
    ASSERT_TRUE(moved.ok) << moved.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(onServer(QStringLiteral("Volume/V1/old name.dwg"))));
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V2/new#1.dwg"))), "content");

    const TransferResult missing =
        client.Rename(url(), QStringLiteral("Volume/V1/old name.dwg"), QStringLiteral("Volume/V1/x.dwg"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.failure, TransferFailure::RemoteMissing);
    EXPECT_EQ(missing.message, QStringLiteral("FTP服务器%1上不存在文件Volume/V1/old name.dwg").arg(server.address()));
}

TEST_F(FtpClientTest, ExistsTellsFilesFoldersAndAbsence) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a;b c.dwg")), "12345");
    const auto kind = [&](const QString& path) {
        const TransferResult result = client.Exists(url(), path);
        EXPECT_TRUE(result.ok) << result.message.toStdString();
        return result.kind;
    };
    EXPECT_EQ(kind(QStringLiteral("Volume/V1/a;b c.dwg")), RemoteKind::File);
    EXPECT_EQ(kind(QStringLiteral("volume/V1/")), RemoteKind::Folder);
    EXPECT_EQ(kind(QStringLiteral("Volume/V1/none.dwg")), RemoteKind::Absent);
    EXPECT_EQ(kind(QStringLiteral("Volume/V2/none.dwg")), RemoteKind::Absent);

    const TransferResult size = client.Size(url(), QStringLiteral("Volume/V1/a;b c.dwg"));
    ASSERT_TRUE(size.ok) << size.message.toStdString();
    EXPECT_EQ(size.size, 5);
    const TransferResult noSize = client.Size(url(), QStringLiteral("Volume/V1/none.dwg"));
    EXPECT_EQ(noSize.failure, TransferFailure::RemoteMissing);
}

class FtpClientWithoutMlstTest : public FtpClientTest {
protected:
    FtpClientWithoutMlstTest() : FtpClientTest(Options()) {}
    static FtpServerOptions Options() {
        FtpServerOptions options;
        options.withoutMlst = true;
        return options;
    }
};

TEST_F(FtpClientWithoutMlstTest, ExistsAndAbsentRemovalsStillWork) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a.dwg")), "12345");
    EXPECT_EQ(client.Exists(url(), QStringLiteral("Volume/V1/a.dwg")).kind, RemoteKind::File);
    EXPECT_EQ(client.Exists(url(), QStringLiteral("Volume/V1")).kind, RemoteKind::Folder);
    EXPECT_EQ(client.Exists(url(), QStringLiteral("Volume/V1/b.dwg")).kind, RemoteKind::Absent);
    EXPECT_EQ(client.Exists(url(), QStringLiteral("Volume/V2/b.dwg")).kind, RemoteKind::Absent);

    EXPECT_TRUE(client.Delete(url(), QStringLiteral("Volume/V1/b.dwg")).wasAbsent);
    EXPECT_TRUE(client.Execute(url(), MkdirCommand(QStringLiteral("V1"))).alreadyExisted);
    EXPECT_TRUE(client.Execute(url(), MkdirCommand(QStringLiteral("V3"))).ok);
    EXPECT_TRUE(QFileInfo(onServer(QStringLiteral("Volume/V3"))).isDir());
    EXPECT_EQ(client.Delete(url(), QStringLiteral("Volume/V3")).failure, TransferFailure::RemoteRefused);

    // Asked once, MLST is not asked again; no folder is listed to find one name; and a folder entered to
    // tell it from a file is left again, so a later path from the login folder still lands there.
    WriteFile(inLocal(QStringLiteral("c.dwg")), "abc");
    ASSERT_TRUE(client.Put(url(), inLocal(QStringLiteral("c.dwg")), QStringLiteral("Volume/V1/c.dwg")).ok);
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/c.dwg"))), "abc");
    const QStringList sent = server.clearCommands();
    EXPECT_EQ(sent.filter(QRegularExpression(QStringLiteral("^MLST "))).size(), 1) << sent.join(u'|').toStdString();
    EXPECT_TRUE(sent.filter(QRegularExpression(QStringLiteral("^(NLST|LIST)"))).isEmpty())
        << sent.join(u'|').toStdString();
    EXPECT_EQ(server.loginCount(), 1);

    // Whether a file lies there is one SIZE, without the CWD that tells a folder from nothing.
    EXPECT_EQ(client.IsFile(url(), QStringLiteral("Volume/V1/a.dwg")).kind, RemoteKind::File);
    EXPECT_NE(client.IsFile(url(), QStringLiteral("Volume/V1")).kind, RemoteKind::File);
    const TransferResult none = client.IsFile(url(), QStringLiteral("Volume/V1/b.dwg"));
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.kind, RemoteKind::Absent);
    const QStringList asked = server.clearCommands();
    EXPECT_EQ(asked.mid(asked.size() - 6).filter(QStringLiteral("SIZE ")).size(), 3) << asked.join(u'|').toStdString();
    EXPECT_TRUE(asked.mid(asked.size() - 6).filter(QStringLiteral("CWD ")).isEmpty());
}

// A plain upload is judged by the server's closing reply and the bytes sent: no SIZE after it. Where
// TLS is preferred, only a connection known to have stayed plain is spared it.
TEST_F(FtpClientTest, APlainUploadAsksNoSizeAfterIt) {
    QDir().mkpath(onServer(QStringLiteral("Volume/V1")));
    WriteFile(inLocal(QStringLiteral("a.dwg")), RandomBytes(5000));
    const TransferResult put = client.Put(url(), inLocal(QStringLiteral("a.dwg")), QStringLiteral("Volume/V1/a.dwg"));
    ASSERT_TRUE(put.ok) << put.message.toStdString();
    EXPECT_EQ(put.bytes, 5000);
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/a.dwg"))).size(), 5000);
    const QRegularExpression size(QStringLiteral("^SIZE "));
    EXPECT_TRUE(server.clearCommands().filter(size).isEmpty());

    FtpOptions preferring = TestOptions();
    preferring.tls = std::make_shared<FtpTlsTable>();
    preferring.tls->set(server.address(), {FtpTlsMode::Prefer, {}});
    FtpClient other(preferring);
    for (const QString& name : {QStringLiteral("b.dwg"), QStringLiteral("c.dwg")})
        ASSERT_TRUE(other.Put(url(), inLocal(QStringLiteral("a.dwg")), QStringLiteral("Volume/V1/") + name).ok);
    EXPECT_EQ(server.clearCommands().filter(size).size(), 1);
}

// Another client moved the file away between RNFR and RNTO: vsftpd refuses RNTO with 550, and the
// library must hear "missing" to know the move was finished for it.
class FtpClientRenameRaceTest : public FtpClientTest {
protected:
    FtpClientRenameRaceTest() : FtpClientTest(Options()) {}
    static FtpServerOptions Options() {
        FtpServerOptions options;
        options.renameRace = true;
        return options;
    }
};

TEST_F(FtpClientRenameRaceTest, ARenameWhoseFileVanishedBeforeRntoIsMissingNotRefused) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a.dwg.new-7")), "content");
    const TransferResult raced =
        client.Rename(url(), QStringLiteral("Volume/V1/a.dwg.new-7"), QStringLiteral("Volume/V1/a.dwg"));
    EXPECT_FALSE(raced.ok);
    EXPECT_EQ(raced.failure, TransferFailure::RemoteMissing) << raced.message.toStdString();
}

// --- one login per server for a batch -------------------------------------------------------------------------

TEST_F(FtpClientTest, ABatchOfCommandsLogsInOncePerServer) {
    FtpServer second;
    const QString secondUrl = second.volumeUrl();
    ASSERT_TRUE(client.MakeFolder(url(), QStringLiteral("volume/V1/")).ok);
    ASSERT_TRUE(client.MakeFolder(secondUrl, QStringLiteral("volume/V2/")).ok);
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("d%1.dwg").arg(i);
        WriteFile(inLocal(name), RandomBytes(1000 + i));
        ASSERT_TRUE(client.Put(url(), inLocal(name), QStringLiteral("Volume/V1/") + name).ok);
        ASSERT_TRUE(client.Put(secondUrl, inLocal(name), QStringLiteral("Volume/V2/") + name).ok);
        ASSERT_TRUE(client.Get(url(), QStringLiteral("Volume/V1/") + name, inLocal(name + QStringLiteral(".back"))).ok);
        ASSERT_TRUE(client.Delete(url(), QStringLiteral("Volume/V1/") + name).ok);
        // Refusals along the way must not cost the connection either.
        ASSERT_TRUE(client.Delete(url(), QStringLiteral("Volume/V1/") + name).wasAbsent);
    }
    EXPECT_EQ(server.loginCount(), 1);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(second.loginCount(), 1);

    FtpClient other(TestOptions());
    ASSERT_TRUE(other.Exists(url(), QStringLiteral("Volume")).ok);
    EXPECT_EQ(server.loginCount(), 2) << "each client keeps its own connection";
}

TEST_F(FtpClientTest, AServerRestartedBetweenTwoStepsIsReconnected) {
    WriteFile(onServer(QStringLiteral("Volume/V1/a.dwg")), "x");
    ASSERT_TRUE(client.Exists(url(), QStringLiteral("Volume/V1/a.dwg")).ok);
    server.stop();

    const TransferResult down = client.Get(url(), QStringLiteral("Volume/V1/a.dwg"), inLocal(QStringLiteral("a.dwg")));
    EXPECT_FALSE(down.ok);
    EXPECT_EQ(down.failure, TransferFailure::ConnectFailed) << down.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(inLocal(QStringLiteral("a.dwg"))));
    EXPECT_TRUE(Entries(local.path()).isEmpty());

    server.start();
    const TransferResult up = client.Get(url(), QStringLiteral("Volume/V1/a.dwg"), inLocal(QStringLiteral("a.dwg")));
    ASSERT_TRUE(up.ok) << up.message.toStdString();
    EXPECT_EQ(ReadFile(inLocal(QStringLiteral("a.dwg"))), "x");
}

// --- failures: what the message says, and nothing lost -------------------------------------------------------------

TEST_F(FtpClientTest, WrongPasswordIsALoginRefusal) {
    const QString wrong = QStringLiteral("Wr0ng:pass@");
    const TransferResult result =
        client.Execute(VolumeUrl(wrong, server.address()), MkdirCommand(QStringLiteral("V1")));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::LoginDenied);
    EXPECT_EQ(result.curlCode, 67);
    EXPECT_TRUE(
        result.message.startsWith(QStringLiteral("FTP服务器%1拒绝登录，请检查管理员信息\n").arg(server.address())))
        << result.message.toStdString();
    ExpectNoPassword(result, wrong);
    EXPECT_FALSE(QFileInfo::exists(onServer(QStringLiteral("Volume"))));
}

TEST_F(FtpClientTest, NobodyListeningIsAConnectionFailure) {
    const QString address = QStringLiteral("127.0.0.1:%1").arg(test::UnusedLoopbackPort());
    WriteFile(inLocal(QStringLiteral("a.dwg")), "x");
    const TransferResult result =
        client.Execute(VolumeUrl(server.password(), address),
                       PutCommand(inLocal(QStringLiteral("a.dwg")), QStringLiteral("V1"), QStringLiteral("a.dwg")));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::ConnectFailed);
    EXPECT_EQ(result.curlCode, 7);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("无法连接FTP服务器%1：").arg(address)))
        << result.message.toStdString();
    ExpectNoPassword(result, server.password());
}

TEST_F(FtpClientTest, AServerThatNeverAnswersFailsWithinTheConnectTimeout) {
    const test::SilentPort silent;
    FtpOptions options = TestOptions();
    options.connectTimeout = std::chrono::seconds(1);
    options.stallTime = std::chrono::seconds(60);
    FtpClient impatient(options);
    QElapsedTimer clock;
    clock.start();
    const TransferResult result = impatient.Execute(VolumeUrl(server.password(), silent.address()),
                                                    DeleteCommand(QStringLiteral("Volume/V1/a.dwg")));
    const qint64 elapsed = clock.elapsed();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::Timeout);
    EXPECT_EQ(result.curlCode, 28);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("无法连接FTP服务器%1：").arg(silent.address())))
        << result.message.toStdString();
    ExpectNoPassword(result, server.password());
    // Bounded by the connect timeout, not the minute-long stall time.
    EXPECT_LT(elapsed, 30'000);
}

TEST_F(FtpClientTest, MissingRemoteFileLeavesTheLocalTargetAlone) {
    QDir().mkpath(onServer(QStringLiteral("Volume/V1")));
    WriteFile(inLocal(QStringLiteral("x.dwg")), "keep me");
    const TransferResult result =
        client.Execute(url(), GetCommand(QStringLiteral("Volume/V1/x.dwg"), inLocal(QStringLiteral("x.dwg"))));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::RemoteMissing);
    EXPECT_TRUE(
        result.message.startsWith(QStringLiteral("FTP服务器%1上不存在文件Volume/V1/x.dwg\n").arg(server.address())))
        << result.message.toStdString();
    EXPECT_EQ(ReadFile(inLocal(QStringLiteral("x.dwg"))), "keep me");
    EXPECT_EQ(Entries(local.path()), QStringList{QStringLiteral("x.dwg")});
}

TEST_F(FtpClientTest, GetIntoAMissingLocalFolderFailsBeforeConnecting) {
    WriteFile(onServer(QStringLiteral("Volume/V1/x.dwg")), "x");
    const QString target = inLocal(QStringLiteral("no such folder/x.dwg"));
    const TransferResult result = client.Execute(url(), GetCommand(QStringLiteral("Volume/V1/x.dwg"), target));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::LocalFolderMissing);
    EXPECT_EQ(result.message, QStringLiteral("本地文件夹不存在：%1").arg(inLocal(QStringLiteral("no such folder"))));
    EXPECT_TRUE(Entries(local.path()).isEmpty());
    EXPECT_EQ(server.loginCount(), 0);
}

TEST_F(FtpClientTest, AGetOntoAFullDiskSaysSoAndLeavesNothing) {
    // A disk of 64 KB of its own, filled by the download.
    const QString disk = inLocal(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH); });
    WriteFile(onServer(QStringLiteral("Volume/V1/big.dwg")), RandomBytes(1 << 20));

    const QString target = disk + QStringLiteral("/big.dwg");
    const TransferResult result = client.Execute(url(), GetCommand(QStringLiteral("Volume/V1/big.dwg"), target));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::LocalWriteFailed);
    EXPECT_EQ(result.message, QStringLiteral("写入本地文件%1失败：磁盘空间不足（%2）")
                                  .arg(target, QString::fromLocal8Bit(std::strerror(ENOSPC))));
    EXPECT_TRUE(Entries(disk).isEmpty()) << Entries(disk).join(u' ').toStdString();
}

TEST_F(FtpClientTest, PutOfAMissingLocalFileSendsNothing) {
    const QString missing = inLocal(QStringLiteral("gone.dwg"));
    const TransferResult result =
        client.Execute(url(), PutCommand(missing, QStringLiteral("V1"), QStringLiteral("20240305A.dwg")));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::LocalFileMissing);
    EXPECT_EQ(result.message, QStringLiteral("本地文件不存在：%1").arg(missing));
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(FtpClientTest, PutIntoAMissingVolumeIsRefusedAndLeavesNothing) {
    QDir().mkpath(onServer(QStringLiteral("Volume")));
    WriteFile(inLocal(QStringLiteral("a.dwg")), "x");
    const TransferResult result =
        client.Put(url(), inLocal(QStringLiteral("a.dwg")), QStringLiteral("Volume/V9/a.dwg"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::RemoteRefused);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("上传%1到FTP服务器%2上的Volume/V9/a.dwg失败：")
                                              .arg(inLocal(QStringLiteral("a.dwg")), server.address())))
        << result.message.toStdString();
    EXPECT_TRUE(Entries(onServer(QStringLiteral("Volume"))).isEmpty());
}

TEST_F(FtpClientTest, CommandsThatAreNotOneOfTheFiveFormsAreRefusedUnsent) {
    const TransferResult bad = client.Execute(url(), QStringLiteral("put Volume/V1/a.dwg"));
    EXPECT_EQ(bad.failure, TransferFailure::BadCommand);
    const TransferResult escape = client.Execute(url(), DeleteCommand(QStringLiteral("Volume/../../etc/passwd")));
    EXPECT_EQ(escape.failure, TransferFailure::BadCommand);
    const TransferResult badUrl =
        client.Execute(QStringLiteral("ftp://velda:Topsecret@"), DeleteCommand(QStringLiteral("Volume/a")));
    EXPECT_EQ(badUrl.failure, TransferFailure::BadUrl);
    ExpectNoPassword(badUrl, QStringLiteral("Topsecret"));
    EXPECT_EQ(server.connectionCount(), 0);
}

class ReadOnlyVolumeTest : public FtpClientTest {
protected:
    ReadOnlyVolumeTest() : FtpClientTest(Options()) {}
    static FtpServerOptions Options() {
        FtpServerOptions options;
        options.readOnlyFolders = {QStringLiteral("Volume/RO")};
        return options;
    }
};

TEST_F(ReadOnlyVolumeTest, WritesAreRefusedWithTheServersReasonAndNothingChanges) {
    WriteFile(onServer(QStringLiteral("Volume/RO/kept.dwg")), "kept");
    WriteFile(inLocal(QStringLiteral("a.dwg")), "new");

    const TransferResult put = client.Execute(
        url(), PutCommand(inLocal(QStringLiteral("a.dwg")), QStringLiteral("RO"), QStringLiteral("kept.dwg")));
    EXPECT_FALSE(put.ok);
    EXPECT_EQ(put.failure, TransferFailure::RemoteRefused);
    EXPECT_EQ(put.ftpReply, 550);
    EXPECT_TRUE(put.message.startsWith(
        QStringLiteral("上传%1到FTP服务器%2上的Volume/RO/kept.dwg失败：服务器拒绝执行\n（详细信息：550")
            .arg(inLocal(QStringLiteral("a.dwg")), server.address())))
        << put.message.toStdString();
    ExpectNoPassword(put, server.password());

    const TransferResult del = client.Execute(url(), DeleteCommand(QStringLiteral("Volume/RO/kept.dwg")));
    EXPECT_FALSE(del.ok);
    EXPECT_EQ(del.failure, TransferFailure::RemoteRefused);
    EXPECT_FALSE(del.wasAbsent);

    const TransferResult mkdir = client.MakeFolder(url(), QStringLiteral("Volume/RO/sub"));
    EXPECT_FALSE(mkdir.ok);
    const TransferResult rmdir = client.Execute(url(), RmdirCommand(QStringLiteral("RO")));
    EXPECT_FALSE(rmdir.ok);

    EXPECT_EQ(Entries(onServer(QStringLiteral("Volume/RO"))), QStringList{QStringLiteral("kept.dwg")});
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/RO/kept.dwg"))), "kept");

    // Reading stays allowed.
    ASSERT_TRUE(client.Get(url(), QStringLiteral("Volume/RO/kept.dwg"), inLocal(QStringLiteral("b.dwg"))).ok);
    EXPECT_EQ(ReadFile(inLocal(QStringLiteral("b.dwg"))), "kept");
}

class ThrottledServerTest : public FtpClientTest {
protected:
    static constexpr int kRate = 64 * 1024;
    ThrottledServerTest() : FtpClientTest(Options()) {}
    static FtpServerOptions Options() {
        FtpServerOptions options;
        options.bytesPerSecond = kRate;
        return options;
    }
};

TEST_F(ThrottledServerTest, AGetCutOffMidwayLeavesTheOldTargetAndNoPartialFile) {
    const QByteArray content = RandomBytes(4 * kRate);
    WriteFile(onServer(QStringLiteral("Volume/V1/big.dwg")), content);
    WriteFile(inLocal(QStringLiteral("big.dwg")), "previous copy");

    qint64 seen = 0;
    const TransferResult result =
        client.Execute(url(), GetCommand(QStringLiteral("Volume/V1/big.dwg"), inLocal(QStringLiteral("big.dwg"))),
                       [&](qint64 done, qint64) {
                           seen = done;
                           if (done >= kRate / 2 && server.isRunning())
                               server.stop();
                       });
    EXPECT_FALSE(result.ok);
    EXPECT_GT(seen, 0);
    EXPECT_LT(seen, content.size());
    EXPECT_EQ(result.failure, TransferFailure::Interrupted) << result.message.toStdString();
    EXPECT_TRUE(result.message.contains(QStringLiteral("传输中断"))) << result.message.toStdString();
    ExpectNoPassword(result, server.password());
    EXPECT_EQ(ReadFile(inLocal(QStringLiteral("big.dwg"))), "previous copy");
    EXPECT_EQ(Entries(local.path()), QStringList{QStringLiteral("big.dwg")});
}

TEST_F(ThrottledServerTest, APutCutOffMidwayKeepsTheOlderFileOnTheServer) {
    WriteFile(onServer(QStringLiteral("Volume/V1/20240305A.dwg")), "stored earlier");
    const QByteArray content = RandomBytes(4 * kRate);
    WriteFile(inLocal(QStringLiteral("A.dwg")), content);

    const TransferResult result = client.Execute(
        url(), PutCommand(inLocal(QStringLiteral("A.dwg")), QStringLiteral("V1"), QStringLiteral("20240305A.dwg")),
        [&](qint64 done, qint64) {
            if (done >= kRate && server.isRunning())
                server.stop();
        });
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.failure == TransferFailure::Interrupted || result.failure == TransferFailure::ConnectFailed)
        << result.message.toStdString();
    ExpectNoPassword(result, server.password());
    EXPECT_EQ(ReadFile(onServer(QStringLiteral("Volume/V1/20240305A.dwg"))), "stored earlier");
}

TEST_F(ThrottledServerTest, AStalledTransferIsGivenUpAfterTheStallTime) {
    // A server that stops sending without closing the connection: a stopped process. libcurl judges the
    // speed over a window of a few seconds, so this takes some seconds longer than the stall time.
    const QByteArray content = RandomBytes(4 * kRate);
    WriteFile(onServer(QStringLiteral("Volume/V1/big.dwg")), content);
    FtpOptions options = TestOptions();
    options.stallTime = std::chrono::seconds(2);
    FtpClient impatient(options);
    bool frozen = false;
    const TransferResult result = impatient.Get(url(), QStringLiteral("Volume/V1/big.dwg"),
                                                inLocal(QStringLiteral("big.dwg")), [&](qint64 done, qint64) {
                                                    if (done > 0 && !frozen) {
                                                        frozen = true;
                                                        ::kill(pid_t(server.processId()), SIGSTOP);
                                                    }
                                                });
    ::kill(pid_t(server.processId()), SIGCONT);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::Timeout) << result.message.toStdString();
    EXPECT_EQ(result.curlCode, 28);
    EXPECT_TRUE(result.message.contains(QStringLiteral("传输中断"))) << result.message.toStdString();
    EXPECT_TRUE(Entries(local.path()).isEmpty());
}

} // namespace
} // namespace velda
