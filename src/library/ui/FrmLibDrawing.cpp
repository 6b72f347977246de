#include "library/ui/FrmLibDrawing.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/DrawingLibrary.h"
#include "library/ui/FrmACS.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmLibDrawing.h"

#include <QKeyEvent>

namespace velda {

namespace {
const QString kFilter = QStringLiteral("图形文件(*.dwg)");
}

FrmLibDrawing::FrmLibDrawing(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmLibDrawing>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 4905, 2805);
    m_transfer = new FormTransfer(
        this,
        {m_ui->CmdInLib, m_ui->CmdOutLib, m_ui->CmdDel, m_ui->CmdACS, m_ui->CmdCancel, m_ui->TxtCode, m_ui->TxtName},
        session.ftpOptions);
    m_library =
        std::make_unique<DrawingLibrary>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    // A code being checked in loses its stray blanks; one looked up is taken as typed.
    MakeCodeBox(m_ui->TxtCode, [this] { return m_ui->CmdInLib->isEnabled(); });
    m_ui->TxtCode->installEventFilter(this);
    m_ui->TxtName->installEventFilter(this);
    connect(m_ui->CmdInLib, &QPushButton::clicked, this, &FrmLibDrawing::CmdInLib_Click);
    connect(m_ui->CmdOutLib, &QPushButton::clicked, this, &FrmLibDrawing::CmdOutLib_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmLibDrawing::CmdDel_Click);
    connect(m_ui->CmdACS, &QPushButton::clicked, this, &FrmLibDrawing::CmdACS_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
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

void FrmLibDrawing::TxtName_MouseDown() {
    const QString code = m_ui->TxtCode->text();
    if (code.isEmpty()) {
        m_session.feedback().stop(LibraryText::EnterCodeFirst);
        return;
    }
    const bool checkIn = m_ui->CmdInLib->isEnabled();
    if (checkIn && !prepareRights(code))
        return;
    const QString chosen = checkIn ? m_session.feedback().openFileName(QString(), QString(), kFilter)
                                   : m_session.feedback().saveFileName(QString(), QString(), kFilter);
    // A cancelled chooser is no new choice: the box keeps what it had.
    if (!chosen.isEmpty())
        m_ui->TxtName->setText(chosen);
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
    m_transfer->runCommand(m_session, QStringLiteral("图纸入库"), [&] { return m_library->CheckIn(code, path); });
}

void FrmLibDrawing::CmdOutLib_Click() {
    const QString code = m_ui->TxtCode->text();
    const QString path = m_ui->TxtName->text();
    m_transfer->runCommand(m_session, QStringLiteral("图纸出库"), [&] { return m_library->CheckOut(code, path); });
}

void FrmLibDrawing::CmdDel_Click() {
    const QString code = m_ui->TxtCode->text();
    m_transfer->runCommand(m_session, QStringLiteral("图纸删除"), [&] { return m_library->Delete(code); });
}

} // namespace velda
