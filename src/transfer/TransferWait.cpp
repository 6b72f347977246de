#include "transfer/TransferWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <exception>
#include <memory>

namespace velda {

namespace {

// What the worker shares with the waiting thread. It lives in WaitForTransfer's frame, which outlasts
// both the worker and every event queued for the relay.
struct WaitState {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{-1};
    std::atomic<bool> deliveryQueued{false};
    QPointer<TransferWatch> watch;
};

TransferResult RunGuarded(FtpClient& client, const TransferOperation& operation, const TransferProgress& progress) {
    try {
        return operation(client, progress);
    } catch (const std::exception& error) {
        TransferResult result;
        result.failure = TransferFailure::Internal;
        result.message = QStringLiteral("文件传输出错：%1").arg(QString::fromLocal8Bit(error.what()));
        return result;
    } catch (...) {
        TransferResult result;
        result.failure = TransferFailure::Internal;
        result.message = QStringLiteral("文件传输出错");
        return result;
    }
}

} // namespace

TransferResult WaitForTransfer(FtpClient& client, const TransferOperation& operation, TransferWatch* watch) {
    WaitState state;
    state.watch = watch;
    if (state.watch) {
        state.watch->m_running = true;
        emit state.watch->started();
    }

    TransferResult result;
    if (!QCoreApplication::instance()) {
        // Without an application there are no events to serve.
        result = RunGuarded(client, operation, {});
    } else {
        // Progress can come thousands of times a second; only the latest figures matter, so at most one
        // delivery is queued at a time and it reads whatever is newest when it runs.
        QObject relay;
        TransferProgress progress;
        if (state.watch) {
            progress = [&state, &relay](qint64 done, qint64 total) {
                state.done = done;
                state.total = total;
                if (state.deliveryQueued.exchange(true))
                    return;
                QMetaObject::invokeMethod(
                    &relay,
                    [&state] {
                        state.deliveryQueued = false;
                        if (state.watch)
                            emit state.watch->progressed(state.done, state.total);
                    },
                    Qt::QueuedConnection);
            };
        }

        QEventLoop loop;
        std::unique_ptr<QThread> worker(QThread::create([&] { result = RunGuarded(client, operation, progress); }));
        QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        worker->start();
        loop.exec();
        // The loop also ends when the application quits; the result is only complete once the worker is.
        worker->wait();
        QCoreApplication::sendPostedEvents(&relay);
    }

    if (state.watch) {
        state.watch->m_running = false;
        emit state.watch->finished(result.ok);
    }
    return result;
}

TransferResult WaitForTransfer(FtpClient& client, const QString& volumeUrl, const QString& commandText,
                               TransferWatch* watch) {
    return WaitForTransfer(
        client,
        [volumeUrl, commandText](FtpClient& worker, const TransferProgress& progress) {
            return worker.Execute(volumeUrl, commandText, progress);
        },
        watch);
}

} // namespace velda
