#include "library/ui/FrmLibDrawing.h"

#include "accounts/ui/FrmACS.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/ChangeImpact.h"
#include "library/DrawingLibrary.h"
#include "library/ui/BatchControls.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmLibDrawing.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>

namespace velda {

namespace {
const QString kFilter = QStringLiteral("图形文件(*.dwg)");
const QString kLastDrawingFolder = QStringLiteral("LastDrawingFolder");
const QString kCheckInStopped = QStringLiteral("入库已停止，库中的图纸没有改变。");
const QString kCheckOutStopped = QStringLiteral("出库已停止，没有保存本地文件，图纸状态没有改变。");
} // namespace

FrmLibDrawing::FrmLibDrawing(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmLibDrawing>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 4905, 2805);
    m_transfer = new FormTransfer(this,
                                  {m_ui->CmdInLib, m_ui->CmdOutLib, m_ui->CmdDel, m_ui->CmdACS, m_ui->CmdCancel,
                                   m_ui->TxtCode, m_ui->TxtName, m_ui->TxtComment},
                                  session.ftpOptions);
    m_transfer->explainClosing(session.feedback(), kClosingWaits + QStringLiteral("如需中止，请按“停止”。"));
    m_progress = std::make_unique<BatchControls>(m_transfer, m_ui->PrgTransfer, m_ui->CmdStop, m_ui->LblTransfer);
    m_progress->setShown(false);
    m_library =
        std::make_unique<DrawingLibrary>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    // A code being checked in loses its stray blanks; one looked up is taken as typed.
    MakeCodeBox(m_ui->TxtCode, [this] { return m_ui->CmdInLib->isEnabled(); });
    m_ui->TxtCode->installEventFilter(this);
    m_ui->TxtName->installEventFilter(this);
    // The version's comment belongs to a check-in: the box follows the check-in button.
    m_ui->CmdInLib->installEventFilter(this);
    m_ui->TxtComment->setEnabled(m_ui->CmdInLib->isEnabled());
    connect(m_ui->CmdInLib, &QPushButton::clicked, this, &FrmLibDrawing::CmdInLib_Click);
    connect(m_ui->CmdOutLib, &QPushButton::clicked, this, &FrmLibDrawing::CmdOutLib_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmLibDrawing::CmdDel_Click);
    connect(m_ui->CmdACS, &QPushButton::clicked, this, &FrmLibDrawing::CmdACS_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
    // The same chooser as a press on the path box, for users who do not guess that the box is one.
    connect(m_ui->CmdBrowse, &QPushButton::clicked, this, &FrmLibDrawing::TxtName_MouseDown);
    m_ui->CmdBrowse->setEnabled(m_ui->TxtName->isEnabled());
}

FrmLibDrawing::~FrmLibDrawing() = default;

bool FrmLibDrawing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->TxtCode && event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_ui->TxtName->setFocus();
            return true;
        }
    }
    // The button follows the box: off in delete mode and while a transfer runs.
    if (watched == m_ui->TxtName && event->type() == QEvent::EnabledChange)
        m_ui->CmdBrowse->setEnabled(m_ui->TxtName->isEnabled());
    if (watched == m_ui->CmdInLib && event->type() == QEvent::EnabledChange)
        m_ui->TxtComment->setEnabled(m_ui->CmdInLib->isEnabled());
    if (watched == m_ui->TxtName && event->type() == QEvent::MouseButtonPress && m_ui->TxtName->isEnabled()) {
        TxtName_MouseDown();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool FrmLibDrawing::prepareRights(const QString& code) {
    const DrawingLibrary::Choice choice = m_library->PrepareCheckIn(code);
    if (!ShowOutcome(m_session.feedback(), choice.refusal)) {
        m_ui->TxtCode->setFocus();
        return false;
    }
    if (!choice.changeAllowed)
        m_ui->CmdACS->setEnabled(false);
    m_rightsCode = code;
    return true;
}

void FrmLibDrawing::prefill(const QString& code, const QString& path) {
    m_ui->TxtCode->setText(code);
    if (m_ui->CmdInLib->isEnabled() && !prepareRights(code))
        return;
    if (m_ui->TxtName->isEnabled())
        m_ui->TxtName->setText(path);
}

void FrmLibDrawing::TxtName_MouseDown() {
    const QString code = m_ui->TxtCode->text();
    if (code.isEmpty()) {
        m_session.feedback().stop(LibraryText::EnterCodeFirst);
        return;
    }
    const bool checkIn = m_ui->CmdInLib->isEnabled();
    if (checkIn && !prepareRights(code))
        return;
    const QString start = chooserStart(code, checkIn);
    const QString chosen = checkIn ? m_session.feedback().openFileName(QString(), start, kFilter)
                                   : m_session.feedback().saveFileName(QString(), start, kFilter);
    // A cancelled chooser is no new choice: the box keeps what it had.
    if (chosen.isEmpty())
        return;
    m_ui->TxtName->setText(chosen);
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kLastDrawingFolder, QFileInfo(chosen).absolutePath());
}

QString FrmLibDrawing::chooserStart(const QString& code, bool checkIn) const {
    QString folder = m_session.config().ReadAccountValue(m_session.ctx.UserId, kLastDrawingFolder);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    if (checkIn)
        return folder;
    // A code such as GB/T-1 names a file the way the library stores it, without the separator.
    QString name = code;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    return folder + QLatin1Char('/') + name + QStringLiteral(".dwg");
}

void FrmLibDrawing::CmdACS_Click() {
    if (m_ui->TxtCode->text().isEmpty() || m_ui->TxtName->text().isEmpty()) {
        m_session.feedback().stop(LibraryText::CodeOrPathEmpty);
        return;
    }
    ShowRightsEditor(m_session, this);
}

void FrmLibDrawing::CmdInLib_Click() {
    const QString code = m_ui->TxtCode->text();
    // Rights prepared for another code must not travel to this one: check this code afresh.
    if (!m_rightsCode.isEmpty() && !code.isEmpty() && code != m_rightsCode && !prepareRights(code))
        return;
    const QString path = m_ui->TxtName->text();
    if (!code.isEmpty() && !path.isEmpty() && !ConfirmChange(m_session, {code}, ChangeKind::CheckIn))
        return;
    const QString comment = m_ui->TxtComment->text();
    runTransferCommand(QStringLiteral("图纸入库"), kCheckInStopped,
                       [&] { return m_library->CheckIn(code, path, comment); });
}

void FrmLibDrawing::CmdOutLib_Click() {
    const QString code = m_ui->TxtCode->text();
    const QString path = m_ui->TxtName->text();
    runTransferCommand(QStringLiteral("图纸出库"), kCheckOutStopped, [&] { return m_library->CheckOut(code, path); });
}

void FrmLibDrawing::runTransferCommand(const QString& name, const QString& stoppedText,
                                       const std::function<Outcome()>& command) {
    m_transfer->runCommand(m_session, name, [&] {
        m_progress->beginSingle();
        Outcome outcome = command();
        m_progress->end();
        // A stop that came too late to undo the command lets its own closing message stand.
        if (m_progress->stopRequested() && !outcome.done())
            return Outcome::refusal(stoppedText, kTitleFeedback, Icon::None);
        return outcome;
    });
}

void FrmLibDrawing::CmdDel_Click() {
    const QString code = m_ui->TxtCode->text();
    if (!code.isEmpty() && !ConfirmChange(m_session, {code}, ChangeKind::Delete))
        return;
    m_transfer->runCommand(m_session, QStringLiteral("图纸删除"), [&] { return m_library->Delete(code); });
}

} // namespace velda
