#include "library/ui/FrmMultiInLib.h"

#include "accounts/Acl.h"
#include "accounts/ui/FrmACS.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/Batch.h"
#include "library/ChangeImpact.h"
#include "library/ui/BatchControls.h"
#include "library/ui/FolderTree.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmMultiInLib.h"

#include <QLabel>

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
    m_droppedLabel = new QLabel(this);
    m_droppedLabel->setObjectName(QStringLiteral("LblDropped"));
    m_droppedLabel->setWordWrap(true);
    m_droppedLabel->hide();
    m_ui->mainLayout->addWidget(m_droppedLabel, 6, 0, 1, 3);
    // A folder chosen after a drop is the user's new choice.
    connect(m_ui->FolderView, &QTreeView::clicked, this, [this] { setFiles({}); });
}

void FrmMultiInLib::setFiles(const QStringList& files) {
    m_dropped = files;
    m_droppedLabel->setText(
        QStringLiteral("将入库拖入的%1个图纸文件（选择文件夹则改为入库该文件夹）").arg(files.size()));
    m_droppedLabel->setVisible(!files.isEmpty());
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
    if (m_dropped.isEmpty() && !IsUsableFolder(folder)) {
        m_session.feedback().stop(BatchText::NoFolderIn);
        return;
    }
    const CommandGuard running(m_session, QStringLiteral("批量入库"));
    if (!running) {
        m_session.feedback().stop(running.refusal());
        return;
    }
    m_batch->begin();
    QStringList files = m_dropped;
    if (m_dropped.isEmpty()) {
        m_session.config().StoreAccountValue(m_session.ctx.UserId, kLastBatchFolder, folder);
        // A deep folder takes a while to list: off the window, so that 停止 is heard meanwhile.
        const bool withSubFolders = m_ui->ChkSubDir->isChecked();
        WaitForWork([&] { FindAllFile(folder, withSubFolders, files, [this] { return m_batch->keepAlive(); }); });
    }
    QStringList codes;
    for (const QString& file : files)
        codes << DrawingCodeFromPath(file);
    BatchResult result;
    if (m_batch->stopRequested()) {
        result.outcome = Outcome::success(QStringLiteral("已停止查找入库文件，未入库任何图纸。"));
    } else if (!ConfirmChange(m_session, codes, ChangeKind::CheckIn)) {
        m_batch->end();
        return;
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
