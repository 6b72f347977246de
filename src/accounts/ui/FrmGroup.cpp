#include "accounts/ui/FrmGroup.h"

#include "accounts/Groups.h"
#include "core/Loaded.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmGroup.h"

namespace velda {

namespace {
const QString kNoneSelected = QStringLiteral("请先选择欲删除的组名");

// Whether the group is still recorded; a failure to read counts as recorded, so no entry goes.
bool GroupStillThere(Session& session, const QString& name) {
    const auto names = Load([&] { return ListGroupNames(session); });
    return !names.ok() || names.value.contains(name);
}
} // namespace

FrmGroup::FrmGroup(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmGroup>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 6120, 3200);
    connect(m_ui->CmdAdd, &QPushButton::clicked, this, &FrmGroup::CmdAdd_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmGroup::CmdDel_Click);
    connect(m_ui->CmdVolume, &QPushButton::clicked, this, &FrmGroup::CmdVolume_Click);
    connect(m_ui->LstGrp, &QListWidget::itemClicked, this, &FrmGroup::LstGrp_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmGroup::CmdCancel_Click);
    Form_Load();
}

FrmGroup::~FrmGroup() = default;

void FrmGroup::Form_Load() {
    const auto groups = Load([&] { return ListGroupNames(m_session); });
    if (!ShowOutcome(m_session.feedback(), groups.outcome))
        return;
    m_ui->LstGrp->addItems(groups.value);
    // With no volume recorded yet the box stays empty and a new group gets none.
    const auto volumes = Load([&] { return ListVolumeNames(m_session); });
    if (!ShowOutcome(m_session.feedback(), volumes.outcome))
        return;
    m_ui->CboVolume->addItems(volumes.value);
    if (m_ui->CboVolume->count() > 0)
        m_ui->CboVolume->setCurrentIndex(0);
}

void FrmGroup::CmdAdd_Click() {
    const QString name = m_ui->TxtName->text();
    const Outcome outcome = AddGroup(m_session, name, m_ui->CboVolume->currentText(), m_ui->TxtMemo->text());
    if (outcome.done())
        m_ui->LstGrp->addItem(name);
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmGroup::CmdDel_Click() {
    Feedback& feedback = m_session.feedback();
    QString name;
    bool selected = false;
    for (int row = 0; row < m_ui->LstGrp->count() && !selected; ++row) {
        if (m_ui->LstGrp->item(row)->isSelected()) {
            name = m_ui->LstGrp->item(row)->text();
            selected = true;
        }
    }
    if (!selected) {
        ShowOutcome(feedback, Outcome::refusal(kNoneSelected));
        return;
    }
    const Outcome outcome = DeleteGroup(m_session, name);
    // Deleted now, or by another client meanwhile: it is no longer one of the groups.
    if (outcome.done() || (outcome.refused() && !GroupStillThere(m_session, name)))
        removeGroupEntry(name);
    ShowOutcome(feedback, outcome);
}

void FrmGroup::LstGrp_Click() {
    // Only where the volume can be changed: the delete function leaves its disabled box alone.
    if (!m_ui->CmdVolume->isEnabled() || !m_ui->CboVolume->isEnabled())
        return;
    const QListWidgetItem* item = m_ui->LstGrp->currentItem();
    if (!item)
        return;
    const auto volume = Load([&] { return GroupVolumeName(m_session, item->text()); });
    if (!ShowOutcome(m_session.feedback(), volume.outcome))
        return;
    const int index = m_ui->CboVolume->findText(volume.value, Qt::MatchExactly);
    if (index >= 0)
        m_ui->CboVolume->setCurrentIndex(index);
}

void FrmGroup::CmdVolume_Click() {
    const QList<QListWidgetItem*> selected = m_ui->LstGrp->selectedItems();
    const QString group = selected.isEmpty() ? QString() : selected.first()->text();
    ShowOutcome(m_session.feedback(), ChangeGroupVolume(m_session, group, m_ui->CboVolume->currentText()));
}

void FrmGroup::removeGroupEntry(const QString& name) {
    const QList<QListWidgetItem*> items = m_ui->LstGrp->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!items.isEmpty())
        delete m_ui->LstGrp->takeItem(m_ui->LstGrp->row(items.first()));
}

void FrmGroup::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
