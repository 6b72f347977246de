#pragma once

#include "transfer/FtpClient.h"

#include <QObject>

#include <functional>

namespace velda {

class TransferWatch;

using TransferOperation = std::function<TransferResult(FtpClient& client, const TransferProgress& progress)>;

// Runs the operation on a worker thread while this thread goes on serving its events in a local event
// loop, and returns the operation's result here once it is done. The client belongs to the worker until
// then; calls on it from event handlers meanwhile fail with Busy.
TransferResult WaitForTransfer(FtpClient& client, const TransferOperation& operation, TransferWatch* watch = nullptr);

// The same for one command text against one volume URL.
TransferResult WaitForTransfer(FtpClient& client, const QString& volumeUrl, const QString& commandText,
                               TransferWatch* watch = nullptr);

// Tells the dialog around a transfer when it starts and ends and how far it got, so that the dialog can
// disable its commands meanwhile and show progress. Its signals arrive on the thread that waits.
class TransferWatch final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isRunning() const { return m_running; }

signals:
    void started();
    void progressed(qint64 done, qint64 total);
    void finished(bool ok);

private:
    friend TransferResult WaitForTransfer(FtpClient&, const TransferOperation&, TransferWatch*);
    bool m_running = false;
};

} // namespace velda
