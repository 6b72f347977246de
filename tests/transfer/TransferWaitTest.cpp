#include "FtpServer.h"

#include "transfer/TransferCommand.h"
#include "transfer/TransferPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace velda {
namespace {

using test::FtpServer;
using test::FtpServerOptions;

// pyftpdlib lets the first second's worth through at once, then sleeps; three seconds' worth lasts long
// enough for timers to fire.
constexpr int kRate = 32 * 1024;

FtpServerOptions Throttled() {
    FtpServerOptions options;
    options.bytesPerSecond = kRate;
    return options;
}

class TransferWaitTest : public ::testing::Test {
protected:
    TransferWaitTest() {
        QDir().mkpath(server.localPath(QStringLiteral("Volume/V1")));
        QFile file(server.localPath(QStringLiteral("Volume/V1/big.dwg")));
        content = QByteArray(3 * kRate, 'd');
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }

    QString target() const { return QDir(local.path()).filePath(QStringLiteral("out/big.dwg")); }
    QString getCommand() const { return GetCommand(QStringLiteral("Volume/V1/big.dwg"), target()); }

    FtpServer server{Throttled()};
    FtpClient client;
    QTemporaryDir local;
    QByteArray content;
};

TEST_F(TransferWaitTest, EventsKeepFlowingAndTheWatchReportsOnTheWaitingThread) {
    QDir().mkpath(QFileInfo(target()).absolutePath());
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    TransferWatch watch;
    QStringList events;
    qint64 lastDone = -1;
    qint64 lastTotal = 0;
    int progressCount = 0;
    bool runningWhileProgressing = true;
    QThread* const waiting = QThread::currentThread();
    QObject::connect(&watch, &TransferWatch::started, [&] {
        events << QStringLiteral("started");
        EXPECT_EQ(QThread::currentThread(), waiting);
    });
    QObject::connect(&watch, &TransferWatch::progressed, [&](qint64 done, qint64 total) {
        EXPECT_EQ(QThread::currentThread(), waiting);
        EXPECT_GE(done, lastDone);
        runningWhileProgressing = runningWhileProgressing && watch.isRunning();
        lastDone = done;
        lastTotal = total;
        if (progressCount++ == 0)
            events << QStringLiteral("progressed");
    });
    QObject::connect(&watch, &TransferWatch::finished, [&](bool ok) {
        EXPECT_EQ(QThread::currentThread(), waiting);
        EXPECT_FALSE(watch.isRunning());
        events << (ok ? QStringLiteral("finished ok") : QStringLiteral("finished failed"));
    });

    const TransferResult result = WaitForTransfer(client, server.volumeUrl(), getCommand(), &watch);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.bytes, content.size());
    QFile file(target());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), content);
    // The throttled download takes more than a second; a blocked thread would have served no tick.
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(events,
              (QStringList{QStringLiteral("started"), QStringLiteral("progressed"), QStringLiteral("finished ok")}));
    EXPECT_TRUE(runningWhileProgressing);
    EXPECT_EQ(lastDone, content.size());
    EXPECT_EQ(lastTotal, content.size());
    // Coalesced: far fewer deliveries than libcurl's callbacks, yet more than one for a long transfer.
    EXPECT_GT(progressCount, 1);
}

TEST_F(TransferWaitTest, TheOperationRunsOnAnotherThreadAndTheClientStaysBusyMeanwhile) {
    QDir().mkpath(QFileInfo(target()).absolutePath());
    QThread* worker = nullptr;
    std::optional<TransferResult> meanwhile;
    QTimer::singleShot(200, [&] { meanwhile = client.Exists(server.volumeUrl(), QStringLiteral("Volume")); });

    const TransferResult result = WaitForTransfer(client, [&](FtpClient& busy, const TransferProgress& progress) {
        worker = QThread::currentThread();
        return busy.Get(server.volumeUrl(), QStringLiteral("Volume/V1/big.dwg"), target(), progress);
    });
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_NE(worker, nullptr);
    EXPECT_NE(worker, QThread::currentThread());
    ASSERT_TRUE(meanwhile.has_value()) << "the timer must have fired during the wait";
    EXPECT_EQ(meanwhile->failure, TransferFailure::Busy);

    // Free again once the wait returned.
    EXPECT_TRUE(client.Exists(server.volumeUrl(), QStringLiteral("Volume")).ok);
}

TEST_F(TransferWaitTest, FailuresAndExceptionsComeBackAsResults) {
    TransferWatch watch;
    std::optional<bool> finishedOk;
    QObject::connect(&watch, &TransferWatch::finished, [&](bool ok) { finishedOk = ok; });

    const TransferResult refused = WaitForTransfer(client, VolumeUrl(QStringLiteral("wrong"), server.address()),
                                                   DeleteCommand(QStringLiteral("Volume/V1/big.dwg")), &watch);
    EXPECT_EQ(refused.failure, TransferFailure::LoginDenied);
    ASSERT_TRUE(finishedOk.has_value());
    EXPECT_FALSE(*finishedOk);

    const TransferResult thrown = WaitForTransfer(client, [](FtpClient&, const TransferProgress&) -> TransferResult {
        throw std::runtime_error("disk on fire");
    });
    EXPECT_FALSE(thrown.ok);
    EXPECT_EQ(thrown.failure, TransferFailure::Internal);
    EXPECT_TRUE(thrown.message.contains(QStringLiteral("disk on fire")));

    EXPECT_THROW(ThrowIfFailed(refused), TransferError);
    try {
        ThrowIfFailed(refused);
    } catch (const TransferError& error) {
        EXPECT_EQ(error.message(), refused.message);
        EXPECT_EQ(error.result().failure, TransferFailure::LoginDenied);
    }
}

} // namespace
} // namespace velda
