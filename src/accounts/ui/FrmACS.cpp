#include "accounts/ui/FrmACS.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmACS.h"

#include <QEvent>
#include <QPointer>

namespace velda {

FrmACS::FrmACS(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_ui(std::make_unique<Ui::FrmACS>()) {
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    SizeFormInTwips(this, 11085, 8280);
    m_ui->LstUser->installEventFilter(this);
    m_ui->LstGrp->installEventFilter(this);
    using R = RightsEditorModel;
    connect(m_ui->CmdAddRead, &QPushButton::clicked, this, [this] { grant(R::Read); });
    connect(m_ui->CmdAddWrite, &QPushButton::clicked, this, [this] { grant(R::Write); });
    connect(m_ui->CmdAddDel, &QPushButton::clicked, this, [this] { grant(R::Delete); });
    connect(m_ui->CmdAddChg, &QPushButton::clicked, this, [this] { grant(R::Change); });
    connect(m_ui->CmdDelRead, &QPushButton::clicked, this, [this] { withdraw(R::Read); });
    connect(m_ui->CmdDelWrite, &QPushButton::clicked, this, [this] { withdraw(R::Write); });
    connect(m_ui->CmdDelDel, &QPushButton::clicked, this, [this] { withdraw(R::Delete); });
    connect(m_ui->CmdDelChg, &QPushButton::clicked, this, [this] { withdraw(R::Change); });
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmACS::CmdAct_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &QWidget::close);
}

FrmACS::~FrmACS() = default;

void FrmACS::Form_Load() {
    // A failure is shown and leaves the editor empty: the pending lists are still shown as they stand.
    const Loaded<RightsCandidates> loaded = LoadRightsCandidates(m_session);
    ShowOutcome(m_session.feedback(), loaded.outcome);
    const QStringList& users = loaded.value.users;
    const QStringList& groups = loaded.value.groups;
    m_model = std::make_unique<RightsEditorModel>(users, groups);
    m_model->load(m_session.ctx);
    m_ui->LstUser->clear();
    m_ui->LstUser->addItems(users);
    m_ui->LstGrp->clear();
    m_ui->LstGrp->addItems(groups);
    refresh();
}

QListWidget* FrmACS::target(RightsEditorModel::Right r) const {
    switch (r) {
    case RightsEditorModel::Read:
        return m_ui->LstRead;
    case RightsEditorModel::Write:
        return m_ui->LstWrite;
    case RightsEditorModel::Delete:
        return m_ui->LstDel;
    case RightsEditorModel::Change:
        return m_ui->LstChg;
    }
    return nullptr;
}

void FrmACS::refresh() {
    for (auto r :
         {RightsEditorModel::Read, RightsEditorModel::Write, RightsEditorModel::Delete, RightsEditorModel::Change}) {
        target(r)->clear();
        target(r)->addItems(m_model->granted(r));
    }
}

namespace {
QList<int> selectedRows(QListWidget* list) {
    QList<int> rows;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            rows << i;
    return rows;
}
} // namespace

void FrmACS::grant(RightsEditorModel::Right r) {
    m_model->grant(r, selectedRows(m_ui->LstUser), selectedRows(m_ui->LstGrp));
    refresh();
}

void FrmACS::withdraw(RightsEditorModel::Right r) {
    const QList<int> rows = selectedRows(target(r));
    if (rows.isEmpty())
        return;
    m_model->withdraw(r, rows.first());
    refresh();
}

void FrmACS::CmdAct_Click() {
    m_model->confirm(m_session.ctx);
    emit confirmed(m_requester);
    close();
}

bool FrmACS::eventFilter(QObject* watched, QEvent* event) {
    // One source list at a time: focusing one clears the other's selection.
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_ui->LstUser)
            m_ui->LstGrp->clearSelection();
        else if (watched == m_ui->LstGrp)
            m_ui->LstUser->clearSelection();
    }
    return QWidget::eventFilter(watched, event);
}

FrmACS* ShowRightsEditor(Session& session, QWidget* caller) {
    static QPointer<FrmACS> open;
    if (!open) {
        QWidget* host = caller ? caller->window() : nullptr;
        open = new FrmACS(session, host);
        if (host)
            open->move(host->mapToGlobal(QPoint(0, 0)));
    }
    open->setRequester(caller);
    open->Form_Load();
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

} // namespace velda
