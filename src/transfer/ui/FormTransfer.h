#pragma once

#include "transfer/TransferWait.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace velda {

class Session;
struct Outcome;

// How every dialog moves files: one FTP client for the dialog (its connections reused across the
// transfers of one command), the dialog's action controls disabled while a transfer runs, the
// dialog kept from closing under a running transfer, and the event loop serving all windows.
class FormTransfer final : public QObject {
    Q_OBJECT
public:
    FormTransfer(QWidget* form, QList<QWidget*> actions, FtpOptions options = {});
    ~FormTransfer() override;

    // Runs one operation and returns its outcome; the caller examines it.
    TransferResult run(const TransferOperation& operation);
    TransferResult run(const QString& volumeUrl, const QString& commandText);

    // Several transfers that belong together (a re-check-in, a batch): the controls stay disabled
    // from the first to the last. Nested calls of run() inside keep them disabled.
    void beginBatch();
    void endBatch();

    // A command that waits for transfers: refused while another command of the session runs, the
    // controls disabled from its first transfer to its last, its outcome shown.
    void runCommand(Session& session, const QString& name, const std::function<Outcome()>& command);

    bool isRunning() const { return m_depth > 0; }
    FtpClient& client() { return m_client; }

    // Called on the dialog's thread as bytes move.
    std::function<void(qint64 done, qint64 total)> onProgress;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enter();
    void leave();

    QPointer<QWidget> m_form;
    QList<QPointer<QWidget>> m_actions;
    QList<bool> m_wasEnabled;
    FtpClient m_client;
    int m_depth = 0;
};

} // namespace velda
