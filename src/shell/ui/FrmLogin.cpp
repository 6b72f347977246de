#include "shell/ui/FrmLogin.h"

#include "core/Loaded.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "shell/Login.h"
#include "shell/ui/FrmSQLServer.h"
#include "ui_FrmLogin.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace velda {

FrmLogin::FrmLogin(Session& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_ui(std::make_unique<Ui::FrmLogin>()) {
    m_ui->setupUi(this);
    m_ui->TxtPwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_ui->TxtUser->installEventFilter(this);
    m_ui->TxtPwd->installEventFilter(this);
    m_ui->CboGrp->installEventFilter(this);
    if (m_ui->CboGrp->lineEdit())
        m_ui->CboGrp->lineEdit()->installEventFilter(this);
    connect(m_ui->TxtUser, &QLineEdit::editingFinished, this, &FrmLogin::TxtUser_LostFocus);
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmLogin::CmdAct_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmLogin::CmdCancel_Click);
}

FrmLogin::~FrmLogin() = default;

FrmLogin* FrmLogin::open(Session& session, QWidget* mainWindow) {
    auto* login = new FrmLogin(session, mainWindow);
    login->setAttribute(Qt::WA_DeleteOnClose);
    login->setWindowModality(Qt::NonModal);
    return login;
}

void FrmLogin::Form_Load() {
    UserContext& ctx = m_session.ctx;
    ctx.ServerAddress = m_session.config().ReadServerAddress();
    if (ctx.ServerAddress.isEmpty()) {
        hide();
        if (!askForAddress(QString())) {
            // Closed without an address: there is nothing to log in to, so the program ends
            // rather than leave a dialog with no way out.
            if (!m_session.endRequested())
                m_session.endProgram(0);
            return;
        }
        show();
    } else {
        try {
            m_session.connect(ctx.ServerAddress);
        } catch (const Error& e) {
            m_session.feedback().stop(e.description());
            // A wrong or moved address must not trap the user in a dialog without groups: it is
            // offered for correction. Closed unchanged, the login stays without groups.
            if (!askForAddress(ctx.ServerAddress))
                return;
        }
    }
    const auto groups = Load([&] { return LoadLoginGroups(m_session); });
    if (!ShowOutcome(m_session.feedback(), groups.outcome))
        return;
    m_ui->CboGrp->clear();
    m_ui->CboGrp->addItems(groups.value);
    m_ui->CboGrp->setCurrentIndex(-1);
}

bool FrmLogin::askForAddress(const QString& address) {
    FrmSQLServer server(m_session, isVisible() ? this : nullptr);
    if (!address.isEmpty())
        server.setAddress(address);
    return server.exec() == QDialog::Accepted;
}

bool FrmLogin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_ui->TxtUser) {
                m_ui->TxtPwd->setFocus();
                return true;
            }
            if (watched == m_ui->TxtPwd) {
                m_ui->CboGrp->setFocus();
                return true;
            }
            if (watched == m_ui->CboGrp || watched == m_ui->CboGrp->lineEdit()) {
                m_ui->TxtPwd->setFocus();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Each account gets the group it logged in with last on this machine, not the list's first for all.
void FrmLogin::TxtUser_LostFocus() {
    // Only an account just typed: leaving it unchanged keeps the group the user picked since.
    if (!m_ui->TxtUser->isModified())
        return;
    m_ui->TxtUser->setModified(false);
    QStringList groups;
    for (int i = 0; i < m_ui->CboGrp->count(); ++i)
        groups << m_ui->CboGrp->itemText(i);
    if (!groups.isEmpty())
        m_ui->CboGrp->setCurrentIndex(PreferredLoginGroup(m_session, m_ui->TxtUser->text(), groups));
}

void FrmLogin::CmdAct_Click() {
    // A group left unchosen is the user's slip, not a guess: said so before anything is tried or counted.
    if (m_ui->CboGrp->currentText().isEmpty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kChooseLoginGroup));
        m_ui->CboGrp->setFocus();
        return;
    }
    const Outcome outcome = Login(m_session, m_ui->TxtUser->text(), m_ui->TxtPwd->text(), m_ui->CboGrp->currentText());
    if (!ShowOutcome(m_session.feedback(), outcome)) {
        if (outcome.refused()) {
            m_ui->TxtPwd->clear();
            m_ui->TxtPwd->setFocus();
        }
        return;
    }
    emit loggedIn();
    accept();
}

void FrmLogin::CmdCancel_Click() {
    if (m_session.ctx.ReLogin) {
        QDialog::reject();
        return;
    }
    m_session.disconnect();
    QDialog::reject();
    m_session.endProgram(0);
}

void FrmLogin::reject() { CmdCancel_Click(); }

} // namespace velda
