#include "FtpServer.h"

#include "transfer/FtpDriver.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace velda {
namespace {

using test::FtpServer;

FtpOptions QuickOptions() {
    FtpOptions options;
    options.connectTimeout = std::chrono::milliseconds(3000);
    options.stallTime = std::chrono::seconds(10);
    return options;
}

VolumeAddress AddressOf(const QString& volumeUrl) {
    const auto address = ParseVolumeUrl(volumeUrl);
    EXPECT_TRUE(address.has_value()) << volumeUrl.toStdString();
    return address.value_or(VolumeAddress{});
}

class FtpDriverTest : public ::testing::Test {
protected:
    void putOnServer(const QString& relative, const QByteArray& bytes) {
        const QString path = server.localPath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    FtpServer server;
    VolumeAddress address = AddressOf(server.volumeUrl());
    FtpDriver driver{QuickOptions()};
};

TEST(FtpDriverUrlTest, SegmentsArePercentEncodedAndCredentialsLeftOut) {
    VolumeAddress server;
    server.user = QStringLiteral("velda");
    server.password = QStringLiteral("s3:cr@t");
    server.host = QStringLiteral("127.0.0.1");
    server.port = 2121;
    FtpRequest request;
    request.path = {QStringLiteral("Volume"), QStringLiteral("图纸 1#.dwg")};
    EXPECT_EQ(FtpDriver::urlOf(server, request),
              QByteArray("ftp://127.0.0.1:2121/Volume/%E5%9B%BE%E7%BA%B8%201%23.dwg"));
    request.folderUrl = true;
    request.path = {QStringLiteral("Volume")};
    EXPECT_EQ(FtpDriver::urlOf(server, request), QByteArray("ftp://127.0.0.1:2121/Volume/"));
    request.path.clear();
    EXPECT_EQ(FtpDriver::urlOf(server, request), QByteArray("ftp://127.0.0.1:2121/")) << "the account's root";
    server.host = QStringLiteral("::1");
    EXPECT_EQ(FtpDriver::urlOf(server, request), QByteArray("ftp://[::1]:2121/"));
}

TEST(FtpDriverCommandTest, ACommandCarriesItsArgumentInUtf8AndATolerantOneAStar) {
    EXPECT_EQ(FtpCommand("MKD", QStringLiteral("Volume/图纸")),
              QByteArray("MKD Volume/") + QStringLiteral("图纸").toUtf8());
    EXPECT_EQ(Tolerant("DELE a"), QByteArray("*DELE a"));
}

TEST_F(FtpDriverTest, ADownloadFillsTheSinkAndReportsProgressToTheEnd) {
    const QByteArray bytes(100'000, 'x');
    putOnServer(QStringLiteral("Volume/a.dwg"), bytes);
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    qint64 lastDone = -1;
    qint64 lastTotal = -2;
    const TransferProgress progress = [&](qint64 done, qint64 total) {
        lastDone = done;
        lastTotal = total;
    };
    FtpRequest request;
    request.path = {QStringLiteral("Volume"), QStringLiteral("a.dwg")};
    request.sink = &sink;
    request.progress = &progress;
    const FtpPerformed done = driver.perform(address, request);
    ASSERT_EQ(done.code, CURLE_OK) << done.curlText.toStdString();
    EXPECT_EQ(sink.data(), bytes);
    EXPECT_EQ(done.received, bytes.size());
    EXPECT_EQ(done.announcedSize, bytes.size());
    EXPECT_EQ(lastDone, bytes.size());
    EXPECT_EQ(lastTotal, bytes.size());
    EXPECT_TRUE(done.dialogue.heardServer());
}

TEST_F(FtpDriverTest, AnUploadSendsTheWholeSourceAndRunsItsPostCommands) {
    const QByteArray bytes(5000, 'y');
    QBuffer source;
    source.setData(bytes);
    source.open(QIODevice::ReadOnly);
    FtpRequest request;
    request.path = {QStringLiteral("b.dwg")};
    request.source = &source;
    request.sourceSize = bytes.size();
    request.postQuote = {Tolerant("SIZE b.dwg")};
    const FtpPerformed done = driver.perform(address, request);
    ASSERT_EQ(done.code, CURLE_OK) << done.curlText.toStdString();
    EXPECT_EQ(done.sent, bytes.size());
    QString sizeLine;
    EXPECT_EQ(done.reply("SIZE b.dwg", &sizeLine), 213);
    EXPECT_EQ(sizeLine, QStringLiteral("213 5000"));
    QFile stored(server.localPath(QStringLiteral("b.dwg")));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), bytes);
}

TEST_F(FtpDriverTest, TolerantCommandsRunOnAfterARefusalAndEachKeepsItsOwnReply) {
    const FtpPerformed done =
        driver.commands(address, {FtpCommand("MKD", QStringLiteral("p/q")), FtpCommand("MKD", QStringLiteral("p"))});
    EXPECT_EQ(done.code, CURLE_OK) << done.curlText.toStdString();
    EXPECT_EQ(done.reply("MKD p/q"), 550);
    EXPECT_EQ(done.reply("MKD p"), 257);
    EXPECT_EQ(done.reply("MKD r"), 0) << "a command never sent has no reply";
    EXPECT_TRUE(QFileInfo(server.localPath(QStringLiteral("p"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(server.localPath(QStringLiteral("p/q"))));
    EXPECT_TRUE(done.dialogue.lastRefusal().startsWith(QStringLiteral("550")));
}

TEST_F(FtpDriverTest, RequestsShareOneLoginUntilDisconnected) {
    EXPECT_EQ(driver.commands(address, {"NOOP"}).code, CURLE_OK);
    const FtpPerformed second = driver.commands(address, {"NOOP"});
    EXPECT_EQ(second.code, CURLE_OK);
    EXPECT_EQ(server.loginCount(), 1);
    for (const FtpExchange& exchange : second.dialogue.exchanges())
        EXPECT_FALSE(exchange.command.startsWith("USER")) << "the second request logged in again";
    driver.disconnect();
    const FtpPerformed third = driver.commands(address, {"NOOP"});
    EXPECT_EQ(third.code, CURLE_OK);
    EXPECT_EQ(server.loginCount(), 2);
    bool passwordSeen = false;
    for (const FtpExchange& exchange : third.dialogue.exchanges()) {
        EXPECT_FALSE(exchange.command.contains(server.password().toUtf8()));
        passwordSeen = passwordSeen || exchange.command == "PASS ***";
    }
    EXPECT_TRUE(passwordSeen) << "the login shows in the dialogue, masked";
}

TEST(FtpDriverLinkTest, ARefusedConnectionHearsNothingFromTheServer) {
    VolumeAddress nobody;
    nobody.user = QStringLiteral("velda");
    nobody.password = QStringLiteral("x");
    nobody.host = QStringLiteral("127.0.0.1");
    nobody.port = test::UnusedLoopbackPort();
    FtpDriver driver(QuickOptions());
    const FtpPerformed done = driver.commands(nobody, {"NOOP"});
    EXPECT_EQ(done.code, CURLE_COULDNT_CONNECT);
    EXPECT_FALSE(done.curlText.isEmpty());
    EXPECT_FALSE(done.dialogue.heardServer());
}

TEST(FtpDriverLinkTest, AServerThatNeverGreetsTimesOutWithinTheConnectTimeout) {
    test::SilentPort silent;
    VolumeAddress mute;
    mute.user = QStringLiteral("velda");
    mute.password = QStringLiteral("x");
    mute.host = QStringLiteral("127.0.0.1");
    mute.port = silent.port();
    FtpOptions options = QuickOptions();
    options.connectTimeout = std::chrono::milliseconds(500);
    options.stallTime = std::chrono::seconds(1);
    FtpDriver driver(options);
    const FtpPerformed done = driver.commands(mute, {"NOOP"});
    EXPECT_EQ(done.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_FALSE(done.dialogue.heardServer());
}

} // namespace
} // namespace velda
