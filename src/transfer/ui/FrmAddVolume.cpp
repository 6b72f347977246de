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
    connect(m_ui->LstVolume, &QListWidget::currentRowChanged, this, &FrmAddVolume::LstVolume_Click);
    connect(m_ui->CmdSaveTls, &QPushButton::clicked, this, &FrmAddVolume::CmdSaveTls_Click);
    connect(m_ui->CmdAcceptKey, &QPushButton::clicked, this, &FrmAddVolume::CmdAcceptKey_Click);
    m_ui->CboTls->addItem(QStringLiteral("必须加密"), int(FtpTlsMode::Require));
    m_ui->CboTls->addItem(QStringLiteral("优先加密"), int(FtpTlsMode::Prefer));
    m_ui->CboTls->addItem(QStringLiteral("不加密"), int(FtpTlsMode::Off));
    m_ui->CboTls->setCurrentIndex(1);
    Form_Load();
}

FrmAddVolume::~FrmAddVolume() = default;

void FrmAddVolume::Form_Load() {
    m_ui->LstVolume->clear();
    const auto names = Load([&] { return VolumeNames(m_session.db()); });
    if (ShowOutcome(m_session.feedback(), names.outcome))
        m_ui->LstVolume->addItems(names.value);
    LstVolume_Click();
}

FtpTlsMode FrmAddVolume::chosenTls() const { return FtpTlsMode(m_ui->CboTls->currentData().toInt()); }

void FrmAddVolume::LstVolume_Click() {
    const QListWidgetItem* item = m_ui->LstVolume->currentItem();
    m_ui->CmdSaveTls->setEnabled(item != nullptr);
    m_ui->CmdAcceptKey->setEnabled(item != nullptr);
    if (!item) {
        m_ui->LblTls->clear();
        return;
    }
    const auto tls = Load([&] { return ReadVolumeTls(m_session.db(), item->text()); });
    if (!tls.ok()) {
        m_ui->LblTls->setText(tls.outcome.text);
        return;
    }
    const QString word = tls.value.mode == FtpTlsMode::Require  ? QStringLiteral("必须加密")
                         : tls.value.mode == FtpTlsMode::Prefer ? QStringLiteral("优先加密")
                                                                : QStringLiteral("不加密");
    m_ui->LblTls->setText(QStringLiteral("传输加密：%1\n公钥指纹：%2")
                              .arg(word, tls.value.pin.isEmpty() ? QStringLiteral("（尚未记录）") : tls.value.pin));
}

void FrmAddVolume::CmdSaveTls_Click() {
    const QListWidgetItem* item = m_ui->LstVolume->currentItem();
    if (!item)
        return;
    ShowOutcome(m_session.feedback(), SetVolumeTls(m_session, item->text(), chosenTls()));
    LstVolume_Click();
}

void FrmAddVolume::CmdAcceptKey_Click() {
    const QListWidgetItem* item = m_ui->LstVolume->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    const auto volume = Load([&] { return FindVolume(m_session.db(), name); });
    if (!ShowOutcome(m_session.feedback(), volume.outcome) || !volume.value)
        return;
    QString failure;
    const QString shown =
        ProbeServerKey(m_session.ftpOptions, volume.value->serverIp, m_session.ctx.AdminPassword, &failure);
    if (shown.isEmpty()) {
        ShowOutcome(m_session.feedback(),
                    Outcome::refusal(failure.isEmpty() ? VolumeTlsText::NoTls.arg(volume.value->serverIp) : failure));
        return;
    }
    const QString pinned = Load([&] { return ReadVolumeTls(m_session.db(), name).pin; }).value;
    if (shown == pinned) {
        ShowOutcome(m_session.feedback(), Outcome::success(VolumeTlsText::SameKey));
        return;
    }
    if (!m_session.feedback().question(
            VolumeTlsText::AskAccept.arg(name, shown, pinned.isEmpty() ? QStringLiteral("（尚未记录）") : pinned),
            QString()))
        return;
    ShowOutcome(m_session.feedback(), AcceptVolumeKey(m_session, name, shown));
    LstVolume_Click();
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
    const Volume volume{m_ui->TxtPath->text(), m_ui->TxtIP->text(), m_ui->TxtMemo->text(), chosenTls()};
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
