#include "accounts/ui/FrmGrpMember.h"

#include "accounts/Groups.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmGrpMember.h"

namespace velda {

FrmGrpMember::FrmGrpMember(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmGrpMember>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 4695, 3465);
    // A click and a move with the keys both choose the group whose members are shown.
    connect(m_ui->LstGrp, &QListWidget::currentRowChanged, this, &FrmGrpMember::LstGrp_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmGrpMember::CmdCancel_Click);
    Form_Load();
}

FrmGrpMember::~FrmGrpMember() = default;

void FrmGrpMember::Form_Load() {
    try {
        m_ui->LstGrp->addItems(ListGroupNames(m_session));
    } catch (const Error& e) {
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
        return;
    }
    // With no group there is nothing to choose and both lists stay empty.
    if (m_ui->LstGrp->count() > 0)
        m_ui->LstGrp->setCurrentRow(0); // runs LstGrp_Click
}

void FrmGrpMember::LstGrp_Click() {
    m_ui->LstMember->clear();
    const QListWidgetItem* item = m_ui->LstGrp->currentItem();
    if (!item)
        return;
    try {
        m_ui->LstMember->addItems(ListMembers(m_session, item->text()));
    } catch (const Error& e) {
        ShowOutcome(m_session.feedback(), Outcome::failure(e.description()));
    }
}

void FrmGrpMember::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
