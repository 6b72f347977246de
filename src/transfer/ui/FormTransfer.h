#pragma once

#include "transfer/TransferPool.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace velda {

class Feedback;
class Session;
struct Outcome;

// Why a window does not close while its transfer runs.
inline const QString kClosingWaits = QStringLiteral("文件正在传输，传输结束后才能关闭窗口。");

// How every dialog moves files: one FTP client for the dialog on a pool of one worker (its connections
// reused across the transfers of one command), the dialog's action controls disabled while a transfer
// runs, the dialog kept from closing under a running transfer, and the event loop serving all windows.
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

    // Ends the running upload or download at once, and any other of the same command; what it moved
    // is not kept. The next command starts afresh.
    void requestStop() { m_pool.requestStop(); }
    bool stopRequested() const { return m_pool.stopRequested(); }

    // A close request refused under a running transfer is explained with this text.
    void explainClosing(Feedback& feedback, const QString& text = kClosingWaits) {
        m_feedback = &feedback;
        m_closingText = text;
    }
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
    // The dialog's one connection on its one worker: a transfer asked for while another runs (from an
    // event served meanwhile) waits for it rather than opening a second connection.
    TransferPool m_pool{m_client};
    int m_depth = 0;
    Feedback* m_feedback = nullptr;
    QString m_closingText;
    bool m_closingNoticeShown = false;
};

} // namespace velda
