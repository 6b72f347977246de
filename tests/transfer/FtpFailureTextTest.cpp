#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/TransferCommand.h"

#include <gtest/gtest.h>

using namespace velda;

// A refused connection is worded for the user first (what failed, which server, which port), with
// libcurl's English after it on its own line.
TEST(FtpFailureText, LeadsInChineseWithServerAndPortThenLibcurlsWords) {
    const int port = test::UnusedLoopbackPort();
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(3);
    FtpClient client(options);
    const TransferResult result =
        client.Execute(VolumeUrl(QStringLiteral("s3cret"), QStringLiteral("127.0.0.1:%1").arg(port)),
                       DeleteCommand(QStringLiteral("Volume/V1/a.dwg")));
    ASSERT_FALSE(result.ok);
    EXPECT_EQ(result.failure, TransferFailure::ConnectFailed);
    const QString lead =
        QStringLiteral("连接FTP服务器127.0.0.1:%1失败：请检查服务器地址、端口及服务器是否已启动。\nlibcurl报告：")
            .arg(port);
    EXPECT_TRUE(result.message.startsWith(lead)) << result.message.toStdString();
    EXPECT_GT(result.message.size(), lead.size()) << "libcurl's own text follows";
    EXPECT_FALSE(result.message.contains(QStringLiteral("s3cret")));
}
