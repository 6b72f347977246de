#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/FtpDriver.h"
#include "transfer/FtpReply.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace velda {
namespace {

using test::FtpServer;
using test::FtpServerOptions;

FtpOptions Quick() {
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(5);
    options.stallTime = std::chrono::seconds(5);
    options.trace = qEnvironmentVariableIsSet("VELDA_FTP_TRACE");
    return options;
}

QString Local(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
}

TEST(FtpStep, AnOverlongPathIsRefusedBeforeAnythingIsSent) {
    FtpServer server;
    FtpClient client(Quick());
    QTemporaryDir dir;
    const QString longest = QStringLiteral("Volume/") + QString(FtpDriver::kMaxPathBytes - 7, u'a');
    const QString tooLong = longest + u'b';
    for (const TransferResult& r :
         {client.Exists(server.volumeUrl(), tooLong), client.Delete(server.volumeUrl(), tooLong),
          client.Put(server.volumeUrl(), Local(dir, QStringLiteral("x.dwg"), "x"), tooLong),
          client.Rename(server.volumeUrl(), QStringLiteral("Volume/x"), tooLong)}) {
        EXPECT_EQ(r.failure, TransferFailure::BadCommand);
        EXPECT_EQ(r.message, QStringLiteral("远程路径过长（1001字节，最多1000字节），未发送给FTP服务器"));
    }
    EXPECT_EQ(server.connectionCount(), 0);
    // The longest allowed path is sent and answered in step.
    const TransferResult there = client.Exists(server.volumeUrl(), longest);
    EXPECT_TRUE(there.ok) << there.message.toStdString();
    EXPECT_EQ(there.kind, RemoteKind::Absent);
}

TEST(FtpStep, AConnectionWhoseRepliesFallOutOfStepIsDroppedAndTheNextTransfersWork) {
    FtpServerOptions options;
    options.extraReplyTo = QStringLiteral("RNTO");
    FtpServer server(options);
    QDir().mkpath(server.localPath(QStringLiteral("Volume/V1")));
    FtpClient client(Quick());
    QTemporaryDir dir;
    const QString url = server.volumeUrl();
    // The upload ends with a rename, after which the server owes the connection one reply too many.
    ASSERT_TRUE(client.Put(url, Local(dir, QStringLiteral("a.dwg"), "aaa"), QStringLiteral("Volume/V1/a.dwg")).ok);
    // The next command may meet the surplus reply: then it says so rather than pass a wrong answer on.
    const TransferResult first = client.Exists(url, QStringLiteral("Volume/V1/a.dwg"));
    if (!first.ok) {
        EXPECT_EQ(first.failure, TransferFailure::Interrupted);
        EXPECT_TRUE(first.message.contains(QStringLiteral("应答与所发命令不对应"))) << first.message.toStdString();
        // The server's own line comes with it when this command's dialogue holds it.
        if (first.message.contains(QStringLiteral("\n服务器应答："))) {
            EXPECT_TRUE(first.message.endsWith(QStringLiteral("\n服务器应答：500 Command not understood.")))
                << first.message.toStdString();
        }
    } else {
        EXPECT_EQ(first.kind, RemoteKind::File);
    }
    // Every later command gets its own reply.
    const TransferResult put =
        client.Put(url, Local(dir, QStringLiteral("c.dwg"), "ccc"), QStringLiteral("Volume/V1/c.dwg"));
    EXPECT_TRUE(put.ok) << put.message.toStdString();
    const TransferResult got =
        client.Get(url, QStringLiteral("Volume/V1/a.dwg"), dir.filePath(QStringLiteral("b.dwg")));
    EXPECT_TRUE(got.ok) << got.message.toStdString();
    const TransferResult gone = client.Exists(url, QStringLiteral("Volume/V1/x.dwg"));
    EXPECT_TRUE(gone.ok) << gone.message.toStdString();
    EXPECT_EQ(gone.kind, RemoteKind::Absent);
    const TransferResult there = client.Exists(url, QStringLiteral("Volume/V1/c.dwg"));
    EXPECT_EQ(there.kind, RemoteKind::File);
    QFile b(dir.filePath(QStringLiteral("b.dwg")));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), QByteArray("aaa"));
}

TEST(FtpStep, RepliesThatBelongToOtherCommandsAreNoticed) {
    auto dialogue = [](std::initializer_list<std::pair<const char*, const char*>> lines) {
        FtpDialogue d;
        for (const auto& [out, in] : lines) {
            if (*out)
                d.outgoing(out, std::strlen(out));
            d.incoming(in, std::strlen(in));
        }
        return d;
    };
    EXPECT_FALSE(dialogue({{"", "220 hi\r\n"}, {"RNFR a", "350 go on\r\n"}, {"RNTO b", "250 ok\r\n"}}).outOfStep());
    EXPECT_FALSE(dialogue({{"MLST a", "500 no MLST here\r\n"}, {"SIZE a", "550 no\r\n"}}).outOfStep());
    EXPECT_FALSE(dialogue({{"STOR a", "150 go\r\n226 done\r\n"}}).outOfStep());
    EXPECT_TRUE(dialogue({{"RNFR a", "500 not understood\r\n"}, {"RNTO b", "350 go on\r\n"}}).outOfStep());
    EXPECT_TRUE(dialogue({{"MLST a", "227 Entering passive mode\r\n"}}).outOfStep());
    EXPECT_TRUE(dialogue({{"SIZE a", "250 Renaming ok\r\n"}, {"PASV", "213 3\r\n"}}).outOfStep());
}

TEST(FtpStep, AnUploadToAFullServerLeavesNoPartialFile) {
    FtpServerOptions options;
    options.fullAfterBytes = 1000;
    FtpServer server(options);
    QDir().mkpath(server.localPath(QStringLiteral("Volume/V1")));
    FtpClient client(Quick());
    QTemporaryDir dir;
    const QString big = Local(dir, QStringLiteral("big.dwg"), QByteArray(256 * 1024, 'x'));
    for (const TransferResult& r :
         {client.Put(server.volumeUrl(), big, QStringLiteral("Volume/V1/a.dwg")),
          client.PutPrivate(server.volumeUrl(), big, QStringLiteral("Volume/V1/b.dwg.incoming-1"))}) {
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.message.isEmpty());
    }
    EXPECT_TRUE(QDir(server.localPath(QStringLiteral("Volume/V1")))
                    .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}

TEST(FtpStep, APrivateDownloadWritesOnlyItsOwnNewFile) {
    FtpServer server;
    QDir().mkpath(server.localPath(QStringLiteral("Volume/V1")));
    QFile stored(server.localPath(QStringLiteral("Volume/V1/a.dwg")));
    ASSERT_TRUE(stored.open(QIODevice::WriteOnly));
    stored.write(QByteArray(70 * 1024, 'a'));
    stored.close();
    FtpClient client(Quick());
    QTemporaryDir dir;
    const QString side = dir.filePath(QStringLiteral(".a.dwg.part-1"));

    const TransferResult got =
        client.GetPrivate(server.volumeUrl(), QStringLiteral("Volume/V1/a.dwg"), side, {}, false);
    ASSERT_TRUE(got.ok) << got.message.toStdString();
    QFile copy(side);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(70 * 1024, 'a'));
    copy.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // The name must be new: a file already there is someone's, and is left as it was.
    const QString taken = Local(dir, QStringLiteral(".b.dwg.part-2"), "mine");
    EXPECT_FALSE(client.GetPrivate(server.volumeUrl(), QStringLiteral("Volume/V1/a.dwg"), taken).ok);
    QFile kept(taken);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("mine"));

    // A download that fails leaves nothing behind.
    const QString gone = dir.filePath(QStringLiteral(".c.dwg.part-3"));
    const TransferResult missing = client.GetPrivate(server.volumeUrl(), QStringLiteral("Volume/V1/c.dwg"), gone);
    EXPECT_EQ(missing.failure, TransferFailure::RemoteMissing) << missing.message.toStdString();
    EXPECT_FALSE(QFile::exists(gone));
}

} // namespace
} // namespace velda
