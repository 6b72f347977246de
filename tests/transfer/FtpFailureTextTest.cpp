#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/TransferCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velda;

namespace {
FtpOptions Quick() {
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(1);
    return options;
}

// The Chinese lead, then what libcurl or the server said on a line of its own.
void ExpectLeadThenDetail(const TransferResult& result, const QString& lead) {
    ASSERT_FALSE(result.ok);
    const QString detail = QStringLiteral("\n（详细信息：");
    EXPECT_TRUE(result.message.startsWith(lead + detail)) << result.message.toStdString();
    EXPECT_TRUE(result.message.endsWith(QStringLiteral("）"))) << result.message.toStdString();
    EXPECT_GT(result.message.size(), lead.size() + detail.size() + 1) << "the original words follow";
}
} // namespace

// Each common cause is named in Chinese first; the password never shows.
TEST(FtpFailureText, ConnectionFailuresNameTheirCauseFirst) {
    FtpClient client(Quick());
    const int port = test::UnusedLoopbackPort();
    const QString refusedAt = QStringLiteral("127.0.0.1:%1").arg(port);
    const TransferResult refused = client.Execute(VolumeUrl(QStringLiteral("s3cret"), refusedAt),
                                                  DeleteCommand(QStringLiteral("Volume/V1/a.dwg")));
    EXPECT_EQ(refused.failure, TransferFailure::ConnectFailed);
    ExpectLeadThenDetail(
        refused, QStringLiteral("无法连接FTP服务器%1：服务器拒绝连接，请检查服务器地址、端口及服务器是否已启动。")
                     .arg(refusedAt));
    EXPECT_FALSE(refused.message.contains(QStringLiteral("s3cret")));

    const test::SilentPort silent;
    const TransferResult late = client.Execute(VolumeUrl(QStringLiteral("s3cret"), silent.address()),
                                               DeleteCommand(QStringLiteral("Volume/V1/a.dwg")));
    EXPECT_EQ(late.failure, TransferFailure::Timeout);
    ExpectLeadThenDetail(late, QStringLiteral("无法连接FTP服务器%1：连接超时，1秒内没有应答").arg(silent.address()));
}

TEST(FtpFailureText, LoginMissingFileAndFullDiskNameTheirCauseFirst) {
    test::FtpServerOptions options;
    options.fullAfterBytes = 1000;
    test::FtpServer server(options);
    QDir().mkpath(server.localPath(QStringLiteral("Volume/V1")));
    FtpClient client(Quick());

    const TransferResult denied =
        client.Execute(VolumeUrl(QStringLiteral("wrong"), server.address()), MkdirCommand(QStringLiteral("V2")));
    EXPECT_EQ(denied.failure, TransferFailure::LoginDenied);
    ExpectLeadThenDetail(denied, QStringLiteral("FTP服务器%1拒绝登录，请检查管理员信息").arg(server.address()));

    QTemporaryDir local;
    const QString target = local.filePath(QStringLiteral("x.dwg"));
    const TransferResult missing =
        client.Execute(server.volumeUrl(), GetCommand(QStringLiteral("Volume/V1/x.dwg"), target));
    EXPECT_EQ(missing.failure, TransferFailure::RemoteMissing);
    ExpectLeadThenDetail(missing, QStringLiteral("FTP服务器%1上不存在文件Volume/V1/x.dwg").arg(server.address()));

    const QString big = local.filePath(QStringLiteral("big.dwg"));
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Past the server's limit, yet small enough to be sent whole before its answer: a larger file can
    // meet the closed data connection first and fail as a broken transfer.
    file.write(QByteArray(4096, 'x'));
    file.close();
    const TransferResult full =
        client.Execute(server.volumeUrl(), PutCommand(big, QStringLiteral("V1"), QStringLiteral("a.dwg")));
    ExpectLeadThenDetail(
        full,
        QStringLiteral("上传%1到FTP服务器%2上的Volume/V1/a.dwg失败：FTP服务器磁盘空间已满").arg(big, server.address()));
}
