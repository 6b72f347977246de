#include "library/ui/FrmMultiOutLib.h"

#include "core/Session.h"
#include "core/ui/ConditionPanel.h"
#include "core/ui/Forms.h"
#include "library/Batch.h"
#include "library/ui/BatchControls.h"
#include "library/ui/FolderTree.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmMultiOutLib.h"

#include <QVBoxLayout>

namespace velda {

FrmMultiOutLib::FrmMultiOutLib(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmMultiOutLib>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 10455, 5310);
    m_panel = new ConditionPanel(m_ui->PanelArea);
    m_panel->setObjectName(QStringLiteral("Frame1"));
    auto* area = new QVBoxLayout(m_ui->PanelArea);
    area->setContentsMargins(0, 0, 0, 0);
    area->addWidget(m_panel);
    // The attributes offered come from the mode word at load; the search reads it when it runs.
    m_panel->configure(session, ConditionConfig::batchCheckOut(session.ctx.SeekMode));
    m_folders =
        MakeFolderTree(m_ui->FolderView, session.config().ReadAccountValue(session.ctx.UserId, kLastBatchFolder));
    m_transfer =
        new FormTransfer(this, {m_ui->CmdOutLib, m_ui->CmdCancel, m_ui->FolderView, m_panel}, session.ftpOptions);
    m_batch = std::make_unique<BatchControls>(m_transfer, m_ui->PrgBar, m_ui->CmdStop);
    connect(m_ui->CmdOutLib, &QPushButton::clicked, this, &FrmMultiOutLib::CmdOutLib_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmMultiOutLib::~FrmMultiOutLib() = default;

QString FrmMultiOutLib::selectedFolder() const { return SelectedFolder(m_ui->FolderView, m_folders); }
void FrmMultiOutLib::selectFolder(const QString& path) { SelectFolder(m_ui->FolderView, m_folders, path); }

void FrmMultiOutLib::CmdOutLib_Click() {
    if (m_panel->conditionText().isEmpty()) {
        m_session.feedback().message(ConditionText::EmptyCondition, Icon::None, kTitleProgram);
        return;
    }
    if (!IsUsableFolder(selectedFolder())) {
        m_session.feedback().stop(BatchText::NoFolderOut);
        return;
    }
    // The other 批量出库 command may have been chosen since the dialog opened: search its table.
    const std::optional<FoundRows> found = m_panel->run(ConditionConfig::batchCheckOut(m_session.ctx.SeekMode));
    if (!found)
        return;
    QStringList codes;
    for (int i = 0; i < found->count(); ++i)
        codes << found->text(i, QStringLiteral("代号"));
    const CommandGuard running(m_session, QStringLiteral("批量出库"));
    if (!running) {
        m_session.feedback().stop(running.refusal());
        return;
    }
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kLastBatchFolder, selectedFolder());
    m_batch->begin();
    m_batch->startItems(static_cast<int>(codes.size()));
    BatchLibrary batch(m_session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    const BatchResult result =
        batch.CheckOut(codes, selectedFolder(), [this](int i, const BatchProgress&) { return m_batch->step(i); });
    m_batch->end();
    m_session.feedback().message(result.outcome.text, result.outcome.icon, result.outcome.title);
}

} // namespace velda
