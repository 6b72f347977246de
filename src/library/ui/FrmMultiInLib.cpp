#include "library/ui/FrmMultiInLib.h"

#include "accounts/Acl.h"
#include "accounts/ui/FrmACS.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/Batch.h"
#include "library/ui/BatchControls.h"
#include "library/ui/FolderTree.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmMultiInLib.h"

namespace velda {

FrmMultiInLib::FrmMultiInLib(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmMultiInLib>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 4305, 6615);
    m_folders =
        MakeFolderTree(m_ui->FolderView, session.config().ReadAccountValue(session.ctx.UserId, kLastBatchFolder));
    m_transfer = new FormTransfer(
        this, {m_ui->CmdACS, m_ui->CmdInLib, m_ui->CmdCancel, m_ui->ChkSubDir, m_ui->FolderView, m_ui->TxtComment},
        session.ftpOptions);
    m_batch = std::make_unique<BatchControls>(m_transfer, m_ui->PrgBar, m_ui->CmdStop);
    connect(m_ui->CmdInLib, &QPushButton::clicked, this, &FrmMultiInLib::CmdInLib_Click);
    connect(m_ui->CmdACS, &QPushButton::clicked, this, &FrmMultiInLib::CmdACS_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmMultiInLib::~FrmMultiInLib() = default;

QString FrmMultiInLib::selectedFolder() const { return SelectedFolder(m_ui->FolderView, m_folders); }
void FrmMultiInLib::selectFolder(const QString& path) { SelectFolder(m_ui->FolderView, m_folders, path); }

void FrmMultiInLib::CmdACS_Click() {
    UserContext& ctx = m_session.ctx;
    const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
    Acl::SetPending(ctx, list, list, list, list);
    FrmACS* editor = ShowRightsEditor(m_session, this);
    disconnect(m_acsConnection);
    m_acsConnection = connect(editor, &FrmACS::confirmed, this, [this](QObject* requester) {
        if (requester != this)
            return;
        const UserContext& c = m_session.ctx;
        m_composed = {c.PendingRead, c.PendingWrite, c.PendingDelete, c.PendingChange};
    });
}

void FrmMultiInLib::CmdInLib_Click() {
    const QString folder = selectedFolder();
    if (!IsUsableFolder(folder)) {
        m_session.feedback().stop(BatchText::NoFolderIn);
        return;
    }
    const CommandGuard running(m_session, QStringLiteral("批量入库"));
    if (!running) {
        m_session.feedback().stop(running.refusal());
        return;
    }
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kLastBatchFolder, folder);
    m_batch->begin();
    QStringList files;
    // A deep folder takes a while to list: off the window, so that 停止 is heard meanwhile.
    const bool withSubFolders = m_ui->ChkSubDir->isChecked();
    WaitForWork([&] { FindAllFile(folder, withSubFolders, files, [this] { return m_batch->keepAlive(); }); });
    BatchResult result;
    if (m_batch->stopRequested()) {
        result.outcome = Outcome::success(QStringLiteral("已停止查找入库文件，未入库任何图纸。"));
    } else {
        m_batch->startItems(static_cast<int>(files.size()));
        BatchLibrary batch(m_session, [this](const TransferOperation& op) { return m_transfer->run(op); });
        batch.setComposedRights(m_composed);
        batch.comment = m_ui->TxtComment->text();
        result = batch.CheckIn(files, [this](int i, const BatchProgress&) { return m_batch->step(i); });
    }
    m_batch->end();
    m_session.feedback().message(result.outcome.text, result.outcome.icon, result.outcome.title);
}

} // namespace velda
