#include "transfer/ui/FrmAddVolume.h"

#include "core/Loaded.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "transfer/Volumes.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmAddVolume.h"

#include <QKeyEvent>

namespace velda {

namespace {} // namespace

FrmAddVolume::FrmAddVolume(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmAddVolume>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 6825, 3150);
    m_inet1 = new FormTransfer(this, {m_ui->CmdAct, m_ui->CmdCancel}, session.ftpOptions);
    m_inet1->setObjectName(QStringLiteral("Inet1"));
    m_ui->TxtIP->installEventFilter(this);
    m_ui->TxtPath->installEventFilter(this);
    m_ui->TxtMemo->installEventFilter(this);
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmAddVolume::CmdAct_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmAddVolume::CmdCancel_Click);
    Form_Load();
}

FrmAddVolume::~FrmAddVolume() = default;

void FrmAddVolume::Form_Load() {
    m_ui->LstVolume->clear();
    const auto names = Load([&] { return VolumeNames(m_session.db()); });
    if (ShowOutcome(m_session.feedback(), names.outcome))
        m_ui->LstVolume->addItems(names.value);
}

bool FrmAddVolume::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == m_ui->TxtIP) {
                m_ui->TxtPath->setFocus();
                return true;
            }
            if (watched == m_ui->TxtPath) {
                m_ui->TxtMemo->setFocus();
                return true;
            }
            if (watched == m_ui->TxtMemo) {
                m_ui->CmdAct->setFocus();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmAddVolume::CmdAct_Click() {
    // Taken now: the boxes stay editable while the server works.
    const Volume volume{m_ui->TxtPath->text(), m_ui->TxtIP->text(), m_ui->TxtMemo->text()};
    const CommandGuard running(m_session, QStringLiteral("添加存储目录"));
    if (!running) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(running.refusal()));
        return;
    }
    const Outcome outcome = CreateVolume(
        m_session, TransferRunner([this](const TransferOperation& op) { return m_inet1->run(op); }), volume);
    if (outcome.done())
        m_ui->LstVolume->addItem(volume.name);
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmAddVolume::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
