#include "accounts/ui/FrmUser.h"

#include "accounts/Groups.h"
#include "accounts/LoginLock.h"
#include "accounts/Users.h"
#include "core/ActivityLog.h"
#include "core/Loaded.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmUser.h"

namespace velda {

namespace {
const QString kNotFound = QStringLiteral("帐号<%1>不存在，可能已被删除！");
const QString kNoAccounts = QStringLiteral("系统中没有任何用户帐号！");

const QString kModeAdd = QStringLiteral("Add");
const QString kModeDel = QStringLiteral("Del");
const QString kModeEdit = QStringLiteral("Edit");

// Whether the account is still recorded; a failure to read counts as recorded, so no entry goes.
bool AccountStillThere(Session& session, const QString& id) {
    const auto account = Load([&] { return LoadAccount(session, id); });
    return !account.ok() || account.value.has_value();
}
} // namespace

FrmUser::FrmUser(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmUser>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 6135, 3150);
    const QString stars = QStringLiteral("lineedit-password-character: 42");
    m_ui->TxtPwd->setStyleSheet(stars);
    m_ui->TxtPwdII->setStyleSheet(stars);
    m_ui->TxtOldPwd->setStyleSheet(stars);
    // Choosing an entry of the list loads that account; typing an ID does not.
    connect(m_ui->CboUser, &QComboBox::activated, this, &FrmUser::CboUser_Click);
    connect(m_ui->CmdAdd, &QPushButton::clicked, this, &FrmUser::CmdAdd_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmUser::CmdDel_Click);
    connect(m_ui->CmdEdit, &QPushButton::clicked, this, &FrmUser::CmdEdit_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmUser::CmdCancel_Click);
    connect(m_ui->CmdUnlock, &QPushButton::clicked, this, &FrmUser::CmdUnlock_Click);
    connect(m_ui->CboUser, &QComboBox::editTextChanged, this, &FrmUser::showAccountState);
    Form_Load();
}

FrmUser::~FrmUser() = default;

void FrmUser::Form_Load() {
    const UserContext& ctx = m_session.ctx;
    const auto groups = Load([&] { return ListGroupNames(m_session); });
    ShowOutcome(m_session.feedback(), groups.outcome);
    m_ui->LstGrp->addItems(groups.value);

    if (ctx.FormMode == kModeAdd) {
        m_ui->CmdEdit->setEnabled(false);
        m_ui->CmdDel->setEnabled(false);
    } else if (ctx.FormMode == kModeDel) {
        m_ui->CmdAdd->setEnabled(false);
        m_ui->CmdEdit->setEnabled(false);
    } else if (ctx.FormMode == kModeEdit) {
        m_ui->CmdAdd->setEnabled(false);
        m_ui->CmdDel->setEnabled(false);
    }
    showLocks();
    if (ctx.FormMode != kModeDel && ctx.FormMode != kModeEdit) {
        showAccountState();
        return;
    }

    if (!ctx.isAdministrator()) {
        m_ui->CboUser->setEnabled(false);
        m_ui->LstGrp->setEnabled(false);
        m_ui->TxtMemo->setEnabled(false);
        m_ui->CboUser->setEditText(ctx.UserId);
        showAccountState();
        return;
    }
    const Loaded<QStringList> ids = ListAccountIds(m_session);
    if (!ShowOutcome(m_session.feedback(), ids.outcome))
        return;
    m_ui->CboUser->addItems(ids.value);
    if (ids.value.isEmpty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNoAccounts));
        return;
    }
    m_ui->CboUser->setCurrentIndex(0);
    CboUser_Click();
}

void FrmUser::CboUser_Click() {
    const QString id = m_ui->CboUser->currentText();
    const auto loaded = Load([&] { return LoadAccount(m_session, id); });
    if (!ShowOutcome(m_session.feedback(), loaded.outcome))
        return;
    const std::optional<UserAccount>& account = loaded.value;
    if (!account) {
        clearAccountFields();
        ShowOutcome(m_session.feedback(), Outcome::refusal(kNotFound.arg(id)));
        return;
    }
    m_ui->TxtPwd->setText(account->password);
    m_ui->TxtPwdII->setText(account->password);
    m_ui->TxtMemo->setText(account->remark);
    QStringList groups;
    for (int row = 0; row < m_ui->LstGrp->count(); ++row)
        groups << m_ui->LstGrp->item(row)->text();
    for (int row = 0; row < m_ui->LstGrp->count(); ++row) {
        QListWidgetItem* item = m_ui->LstGrp->item(row);
        item->setSelected(GroupListNames(account->groups, item->text(), groups));
    }
}

QStringList FrmUser::selectedGroups() const {
    QStringList groups;
    for (int row = 0; row < m_ui->LstGrp->count(); ++row) {
        const QListWidgetItem* item = m_ui->LstGrp->item(row);
        if (item->isSelected())
            groups << item->text();
    }
    return groups;
}

void FrmUser::clearAccountFields() {
    m_ui->TxtPwd->clear();
    m_ui->TxtPwdII->clear();
    m_ui->TxtMemo->clear();
    m_ui->LstGrp->clearSelection();
}

void FrmUser::CmdAdd_Click() {
    const QString id = m_ui->CboUser->currentText();
    ShowOutcome(m_session.feedback(), AddAccount(m_session, id, m_ui->TxtPwd->text(), m_ui->TxtPwdII->text(),
                                                 selectedGroups(), m_ui->TxtMemo->text()));
}

void FrmUser::CmdDel_Click() {
    const QString id = m_ui->CboUser->currentText();
    const Outcome outcome = DeleteAccount(m_session, id);
    // Deleted now or by somebody else before: its own entry leaves the list, whatever was chosen.
    if (outcome.done() || (outcome.refused() && !AccountStillThere(m_session, id))) {
        const int row = m_ui->CboUser->findText(id, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (row >= 0) {
            m_ui->CboUser->removeItem(row);
            m_ui->CboUser->setCurrentIndex(-1);
            m_ui->CboUser->clearEditText();
        }
    }
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmUser::CmdEdit_Click() {
    const UserContext& ctx = m_session.ctx;
    // Somebody outside the group admin edits his own account, whatever the box shows.
    const QString id = ctx.isAdministrator() ? m_ui->CboUser->currentText() : ctx.UserId;
    const Outcome outcome = EditAccount(m_session, id, m_ui->TxtPwd->text(), m_ui->TxtPwdII->text(), selectedGroups(),
                                        m_ui->TxtMemo->text(), m_ui->TxtOldPwd->text());
    ShowOutcome(m_session.feedback(), outcome);
    m_ui->TxtOldPwd->clear();
}

void FrmUser::CmdUnlock_Click() {
    ShowOutcome(m_session.feedback(), UnlockAccount(m_session, m_ui->CboUser->currentText()));
    showLocks();
}

void FrmUser::showLocks() {
    m_locked.clear();
    const bool admin = m_session.ctx.isAdministrator();
    m_ui->CmdUnlock->setVisible(admin);
    m_ui->LblLocked->setVisible(admin);
    if (admin) {
        const auto locked = Load([&] { return LockedAccounts(m_session); });
        QStringList names;
        for (const LockedAccount& a : locked.value) {
            m_locked << a.account;
            names << QStringLiteral("%1（至%2）").arg(a.account, LogTimeText(a.until));
        }
        m_ui->LblLocked->setText(names.isEmpty() ? QString()
                                                 : QStringLiteral("已锁定的帐号：") + names.join(QStringLiteral("、")));
    }
    showAccountState();
}

void FrmUser::showAccountState() {
    const QString id = m_ui->CboUser->currentText();
    m_ui->CmdUnlock->setEnabled(m_locked.contains(id));
    // The present password is asked only where it is needed: a new password for one's own account.
    const bool own = m_session.ctx.FormMode == kModeEdit && EditNeedsOldPassword(m_session, id);
    m_ui->Label6->setVisible(own);
    m_ui->TxtOldPwd->setVisible(own);
    if (!own)
        m_ui->TxtOldPwd->clear();
}

void FrmUser::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
