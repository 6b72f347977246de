#include "accounts/ui/FrmGrpMember.h"

#include "accounts/Groups.h"
#include "core/Loaded.h"
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
    const auto groups = Load([&] { return ListGroupNames(m_session); });
    if (!ShowOutcome(m_session.feedback(), groups.outcome))
        return;
    m_ui->LstGrp->addItems(groups.value);
    // With no group there is nothing to choose and both lists stay empty.
    if (m_ui->LstGrp->count() > 0)
        m_ui->LstGrp->setCurrentRow(0); // runs LstGrp_Click
}

void FrmGrpMember::LstGrp_Click() {
    m_ui->LstMember->clear();
    const QListWidgetItem* item = m_ui->LstGrp->currentItem();
    if (!item)
        return;
    const Loaded<QStringList> members = ListMembers(m_session, item->text());
    if (ShowOutcome(m_session.feedback(), members.outcome))
        m_ui->LstMember->addItems(members.value);
}

void FrmGrpMember::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
