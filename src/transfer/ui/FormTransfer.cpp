#include "transfer/ui/FormTransfer.h"

#include "core/Feedback.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"

#include <QEvent>

namespace velda {

FormTransfer::FormTransfer(QWidget* form, QList<QWidget*> actions, FtpOptions options)
    : QObject(form), m_form(form), m_client(options) {
    for (QWidget* w : actions)
        m_actions << QPointer<QWidget>(w);
    if (form)
        form->installEventFilter(this);
}

FormTransfer::~FormTransfer() = default;

void FormTransfer::enter() {
    if (m_depth++ > 0)
        return;
    m_pool.clearStop();
    m_closingNoticeShown = false;
    m_wasEnabled.clear();
    for (const QPointer<QWidget>& w : m_actions) {
        m_wasEnabled << (w && w->isEnabled());
        if (w)
            w->setEnabled(false);
    }
    // The frame around an MDI form receives the close request, so guard it too.
    if (m_form && m_form->parentWidget())
        m_form->parentWidget()->installEventFilter(this);
}

void FormTransfer::leave() {
    if (--m_depth > 0)
        return;
    // Give back only what the transfer took: a control that was disabled before it began, or that a
    // menu command disabled for its function while it ran, stays disabled.
    for (int i = 0; i < m_actions.size(); ++i) {
        QWidget* w = m_actions[i];
        if (w && m_wasEnabled.value(i, false) && !DisabledByCommand(w))
            w->setEnabled(true);
    }
    if (m_form && m_form->parentWidget())
        m_form->parentWidget()->removeEventFilter(this);
}

void FormTransfer::beginBatch() { enter(); }

void FormTransfer::runCommand(Session& session, const QString& name, const std::function<Outcome()>& command) {
    const CommandGuard running(session, name);
    if (!running) {
        session.feedback().stop(running.refusal());
        return;
    }
    if (!m_feedback)
        explainClosing(session.feedback());
    beginBatch();
    const Outcome outcome = command();
    endBatch();
    ShowOutcome(session.feedback(), outcome);
}
void FormTransfer::endBatch() { leave(); }

TransferResult FormTransfer::run(const TransferOperation& operation) {
    enter();
    TransferWatch watch;
    if (onProgress)
        connect(&watch, &TransferWatch::progressed, this,
                [this](qint64 done, qint64 total) { onProgress(done, total); });
    TransferResult result = m_pool.run(operation, &watch);
    leave();
    return result;
}

TransferResult FormTransfer::run(const QString& volumeUrl, const QString& commandText) {
    return run([volumeUrl, commandText](FtpClient& client, const TransferProgress& progress) {
        return client.Execute(volumeUrl, commandText, progress);
    });
}

bool FormTransfer::eventFilter(QObject* watched, QEvent* event) {
    // Closing a dialog under a running transfer would pull the client away from its worker.
    if (m_depth > 0 && event->type() == QEvent::Close) {
        event->ignore();
        // Said once per transfer, and after the close request is done with: a modal box inside
        // the close event would run the event loop under the frame's own handling.
        if (m_feedback && !m_closingNoticeShown) {
            m_closingNoticeShown = true;
            QMetaObject::invokeMethod(
                this, [this] { m_feedback->info(m_closingText); }, Qt::QueuedConnection);
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace velda
