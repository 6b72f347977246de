#include "shell/ui/FrmSQLServer.h"

#include "core/Outcome.h"
#include "core/Session.h"
#include "ui_FrmSQLServer.h"

#include <QKeyEvent>

namespace velda {

namespace {
const QString kEmptyAddress = QStringLiteral("SQL Server服务器IP地址（形如：192.168.1.1）不能为空！");
const QString kNotStored = QStringLiteral("数据库已连接，但无法把服务器地址保存到配置文件%1，下次启动时需重新设置。");
} // namespace

FrmSQLServer::FrmSQLServer(Session& session, QWidget* parent)
    : QDialog(parent), m_session(session), m_ui(std::make_unique<Ui::FrmSQLServer>()) {
    m_ui->setupUi(this);
    m_ui->TxtIP->installEventFilter(this);
    connect(m_ui->CmdOK, &QPushButton::clicked, this, &FrmSQLServer::CmdOK_Click);
}

FrmSQLServer::~FrmSQLServer() = default;

void FrmSQLServer::setAddress(const QString& address) {
    m_ui->TxtIP->setText(address);
    m_ui->TxtIP->selectAll();
    m_ui->TxtIP->setFocus();
}

bool FrmSQLServer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->TxtIP && event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_ui->CmdOK->setFocus();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmSQLServer::CmdOK_Click() {
    if (m_ui->TxtIP->text().isEmpty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kEmptyAddress));
        m_ui->TxtIP->setFocus();
        return;
    }
    const QString address = m_ui->TxtIP->text().trimmed();
    try {
        m_session.connect(address);
    } catch (const Error& e) {
        // Why it failed, then the box again with what was typed, for the user to correct.
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
        m_ui->TxtIP->selectAll();
        m_ui->TxtIP->setFocus();
        return;
    }
    m_session.ctx.ServerAddress = address;
    if (!m_session.config().StoreServerAddress(address)) {
        // Connected all the same; only the next start will have to ask again.
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNotStored.arg(m_session.config().filePath())));
    }
    accept();
}

} // namespace velda
