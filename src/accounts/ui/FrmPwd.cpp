#include "accounts/ui/FrmPwd.h"

#include "accounts/AdminRecord.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmPwd.h"

#include <QKeyEvent>

namespace velda {

namespace {
const QString& kWrongPassword = AdminRecordText::WrongPassword;
const QString& kDone = AdminRecordText::Done;
} // namespace

FrmPwd::FrmPwd(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmPwd>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 3285, 2550);
    m_ui->TxtUser->setText(QStringLiteral("velda"));
    // The account is fixed: shown, never typed into, so the first key goes to the password.
    m_ui->TxtUser->setReadOnly(true);
    m_ui->TxtUser->setFocusPolicy(Qt::NoFocus);
    const QString stars = QStringLiteral("lineedit-password-character: 42");
    m_ui->TxtPwd->setStyleSheet(stars);
    m_ui->TxtPwdII->setStyleSheet(stars);
    m_ui->TxtPwd->installEventFilter(this);
    m_ui->TxtPwdII->installEventFilter(this);
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmPwd::CmdAct_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmPwd::CmdCancel_Click);
}

FrmPwd::~FrmPwd() = default;

bool FrmPwd::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_ui->TxtPwd) {
                m_ui->TxtPwdII->setFocus();
                return true;
            }
            if (watched == m_ui->TxtPwdII) {
                m_ui->CmdAct->setFocus();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmPwd::CmdAct_Click() {
    const QString pwd = m_ui->TxtPwd->text();
    if (pwd.isEmpty() || m_ui->TxtPwdII->text().isEmpty() || pwd != m_ui->TxtPwdII->text()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kWrongPassword));
        m_ui->TxtPwd->clear();
        m_ui->TxtPwdII->clear();
        m_ui->TxtPwd->setFocus();
        return;
    }
    try {
        WriteAdminPassword(m_session.db(), m_session.machineSerialHex(), pwd);
        m_session.ctx.AdminPassword = pwd;
    } catch (const Error& e) {
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
        return;
    }
    ShowOutcome(m_session.feedback(), Outcome::success(kDone));
    CloseForm(this);
}

void FrmPwd::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
