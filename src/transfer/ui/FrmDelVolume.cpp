#include "transfer/ui/FrmDelVolume.h"

#include "core/Loaded.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "transfer/Volumes.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmDelVolume.h"

namespace velda {

namespace {
const QString kNothingSelected = QStringLiteral("请先选中欲删除的存储目录名称！");
} // namespace

FrmDelVolume::FrmDelVolume(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmDelVolume>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 3390, 3630);
    // The list too: the entry being removed must stay the selected one until the server is done.
    m_inet1 = new FormTransfer(this, {m_ui->CmdAct, m_ui->CmdCancel, m_ui->LstVolume}, session.ftpOptions);
    m_inet1->setObjectName(QStringLiteral("Inet1"));
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmDelVolume::CmdAct_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmDelVolume::CmdCancel_Click);
    Form_Load();
}

FrmDelVolume::~FrmDelVolume() = default;

void FrmDelVolume::Form_Load() {
    m_ui->LstVolume->clear();
    const auto names = Load([&] { return VolumeNames(m_session.db()); });
    if (ShowOutcome(m_session.feedback(), names.outcome))
        m_ui->LstVolume->addItems(names.value);
}

void FrmDelVolume::CmdAct_Click() {
    const QList<QListWidgetItem*> selected = m_ui->LstVolume->selectedItems();
    if (selected.isEmpty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNothingSelected));
        return;
    }
    const QString name = selected.first()->text();
    const CommandGuard running(m_session, QStringLiteral("删除存储目录"));
    if (!running) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(running.refusal()));
        return;
    }
    const Outcome outcome =
        RemoveVolume(m_session, TransferRunner([this](const TransferOperation& op) { return m_inet1->run(op); }), name);
    if (outcome.done()) {
        const QList<QListWidgetItem*> entries =
            m_ui->LstVolume->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!entries.isEmpty())
            delete m_ui->LstVolume->takeItem(m_ui->LstVolume->row(entries.first()));
    }
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmDelVolume::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
