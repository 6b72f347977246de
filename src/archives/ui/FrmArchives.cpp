#include "archives/ui/FrmArchives.h"

#include "accounts/Acl.h"
#include "accounts/ui/FrmACS.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmArchives.h"

namespace velda {

namespace {
const QString kAdd = QStringLiteral("Add");
const QString kEdit = QStringLiteral("Edit");
const QString kDel = QStringLiteral("Del");
} // namespace

FrmArchives::FrmArchives(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmArchives>()), m_archives(session) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 9400, 6060);
    connect(m_ui->CboCode, &QComboBox::activated, this, [this] { CboCode_Click(); });
    connect(m_ui->CmdAdd, &QPushButton::clicked, this, &FrmArchives::CmdAdd_Click);
    connect(m_ui->CmdEdit, &QPushButton::clicked, this, &FrmArchives::CmdEdit_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmArchives::CmdDel_Click);
    connect(m_ui->CmdACS, &QPushButton::clicked, this, &FrmArchives::CmdACS_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
    Form_Load();
}

FrmArchives::~FrmArchives() = default;

void FrmArchives::setRights(const ArchiveRights& rights) {
    m_rights = rights;
    Acl::SetPending(m_session.ctx, rights.read, rights.write, rights.del, rights.change);
}

void FrmArchives::Form_Load() {
    UserContext& ctx = m_session.ctx;
    if (ctx.ArchiveMode != kAdd) {
        m_ui->CboCode->setVisible(true);
        m_ui->TxtCode->setVisible(false);
        QStringList codes;
        const Outcome outcome = m_archives.ReadableCodes(codes);
        if (!outcome.done()) {
            ShowOutcome(m_session.feedback(), outcome);
            return;
        }
        m_ui->CboCode->addItems(codes);
        if (!codes.isEmpty()) {
            m_ui->CboCode->setCurrentIndex(0);
            CboCode_Click();
        }
        return;
    }
    m_ui->CboCode->setVisible(false);
    m_ui->TxtCode->setVisible(true);
    m_ui->TxtLXDate->setText(ArchiveDateText(m_session.clock().today()));
    // Only a new record starts from the default lists; a shown record keeps its own.
    const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
    setRights({list, list, list, list});
}

void FrmArchives::showRecord(const ArchiveRecord& r) {
    m_ui->TxtName->setText(r.name);
    m_ui->TxtLXDate->setText(r.startDate);
    m_ui->TxtYJDate->setText(r.plannedDate);
    m_ui->TxtSJDate->setText(r.actualDate);
    m_ui->TxtDesign->setText(r.design);
    m_ui->TxtProcess->setText(r.process);
    m_ui->TxtElec->setText(r.electrical);
    m_ui->TxtZB->setPlainText(r.indicators);
    m_ui->TxtTD->setPlainText(r.features);
    m_ui->TxtMemo->setPlainText(r.memo);
    // Name, start and planned dates are fixed once a record exists.
    for (QWidget* w : {static_cast<QWidget*>(m_ui->TxtName), static_cast<QWidget*>(m_ui->TxtLXDate),
                       static_cast<QWidget*>(m_ui->TxtYJDate)})
        DisableButKeepLegible(w);
}

void FrmArchives::CboCode_Click() {
    std::optional<ArchiveRecord> found;
    const Outcome outcome = m_archives.Open(m_ui->CboCode->currentText(), found);
    if (!outcome.done()) {
        ShowOutcome(m_session.feedback(), outcome);
        return;
    }
    if (!found)
        return;
    const ArchiveAccess access = m_archives.AccessTo(*found);
    // The mode is read afresh: another archive command may have changed it since the load.
    const QString& mode = m_session.ctx.ArchiveMode;
    if (mode == kEdit) {
        m_ui->CmdEdit->setEnabled(access.write);
        m_ui->CmdACS->setEnabled(access.change);
    } else if (mode == kDel) {
        m_ui->CmdDel->setEnabled(access.del);
    }
    showRecord(*found);
    setRights(found->rights);
}

ArchiveRecord FrmArchives::fromControls(const QString& code) const {
    ArchiveRecord r;
    r.code = code;
    r.name = m_ui->TxtName->text();
    r.startDate = m_ui->TxtLXDate->text();
    r.plannedDate = m_ui->TxtYJDate->text();
    r.actualDate = m_ui->TxtSJDate->text();
    r.design = m_ui->TxtDesign->text();
    r.process = m_ui->TxtProcess->text();
    r.electrical = m_ui->TxtElec->text();
    r.indicators = m_ui->TxtZB->toPlainText();
    r.features = m_ui->TxtTD->toPlainText();
    r.memo = m_ui->TxtMemo->toPlainText();
    r.rights = m_rights;
    return r;
}

void FrmArchives::CmdAdd_Click() {
    ShowOutcome(m_session.feedback(), m_archives.Add(fromControls(m_ui->TxtCode->text())));
}

void FrmArchives::CmdEdit_Click() {
    ShowOutcome(m_session.feedback(), m_archives.Edit(fromControls(m_ui->CboCode->currentText())));
}

void FrmArchives::CmdDel_Click() {
    const Outcome outcome = m_archives.Delete(m_ui->CboCode->currentText());
    if (outcome.done()) {
        m_ui->CboCode->removeItem(m_ui->CboCode->currentIndex());
        if (m_ui->CboCode->count() > 0) {
            m_ui->CboCode->setCurrentIndex(0);
            CboCode_Click();
        }
    }
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmArchives::CmdACS_Click() {
    // The editor starts from the lists this dialog holds, whatever another dialog left pending.
    setRights(m_rights);
    FrmACS* editor = ShowRightsEditor(m_session, this);
    disconnect(m_acsConnection);
    m_acsConnection = connect(editor, &FrmACS::confirmed, this, [this](QObject* requester) {
        if (requester != this)
            return;
        const UserContext& c = m_session.ctx;
        m_rights = {c.PendingRead, c.PendingWrite, c.PendingDelete, c.PendingChange};
    });
}

} // namespace velda
