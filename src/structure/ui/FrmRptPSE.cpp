#include "structure/ui/FrmRptPSE.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "structure/ReportModel.h"
#include "ui_FrmRptPSE.h"

namespace velda {

FrmRptPSE::FrmRptPSE(Session& session, QString sectionCode, QWidget* parent)
    : QDialog(parent), m_session(session), m_section(std::move(sectionCode)), m_ui(std::make_unique<Ui::FrmRptPSE>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 4500, 2550);
    connect(m_ui->CboKind, &QComboBox::currentIndexChanged, this, &FrmRptPSE::CboKind_Click);
    connect(m_ui->CmdPreView, &QPushButton::clicked, this, &FrmRptPSE::CmdPreView_Click);
    connect(m_ui->CmdPrint, &QPushButton::clicked, this, &FrmRptPSE::CmdPrint_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmRptPSE::CmdCancel_Click);
    Form_Load();
}

FrmRptPSE::~FrmRptPSE() = default;

void FrmRptPSE::Form_Load() {
    m_session.ctx.ReportWithSubs = false;
    // Closing the dialog any other way than through its buttons produces nothing.
    m_session.ctx.ReportAction = QStringLiteral("Cancel");
    m_ui->CboKind->addItems(ReportKind::All());
    m_ui->CboKind->setCurrentIndex(0);
}

void FrmRptPSE::CboKind_Click() {
    // Only the parts list has sub-structures; once a summary was chosen the box stays off.
    if (m_ui->CboKind->currentText() != ReportKind::PartsList)
        m_ui->ChkSub->setEnabled(false);
}

void FrmRptPSE::choose(const QString& action) {
    const QString password = m_ui->TxtPwd->text();
    if (password.isEmpty()) {
        m_session.feedback().stop(ReportText::PasswordEmpty);
        return;
    }
    const Loaded<bool> matches = ReportPasswordMatches(m_session, m_section, password);
    if (!ShowOutcome(m_session.feedback(), matches.outcome))
        return;
    if (!matches.value) {
        m_session.feedback().stop(ReportText::NoRight);
        return;
    }
    m_session.ctx.ReportAction = action;
    m_session.ctx.ReportWithSubs = m_ui->ChkSub->isEnabled() && m_ui->ChkSub->isChecked();
    m_session.ctx.ReportKind = m_ui->CboKind->currentText();
    accept();
}

void FrmRptPSE::CmdPreView_Click() { choose(QStringLiteral("Preview")); }

void FrmRptPSE::CmdPrint_Click() { choose(QStringLiteral("Print")); }

void FrmRptPSE::CmdCancel_Click() {
    m_session.ctx.ReportAction = QStringLiteral("Cancel");
    reject();
}

} // namespace velda
