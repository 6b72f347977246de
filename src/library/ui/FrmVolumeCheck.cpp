#include "library/ui/FrmVolumeCheck.h"

#include "core/GateText.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "transfer/Volumes.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmVolumeCheck.h"

#include <QHeaderView>
#include <QTableWidgetItem>

namespace velda {

namespace {
const QString kFilter = QStringLiteral("文本文件(*.txt);;Excel工作簿(*.xlsx)");
const QString kCheckFirst = QStringLiteral("请先进行存储目录检查！");
const QString kNoLeftovers = QStringLiteral("没有超过一小时的遗留文件需要清理！");
const QString kNoOrphans = QStringLiteral("没有孤立文件需要移动！");

QString AskCleanUp(int count) {
    return QStringLiteral("将从存储目录中删除%1个超过一小时的遗留文件（库中记录所指的文件和孤立的图纸文件不会被删除）。"
                          "确定清理吗？")
        .arg(count);
}
QString AskMoveOrphans(int count) {
    return QStringLiteral("将把%1个孤立文件移入各自存储目录下的“%2”文件夹。确定移动吗？")
        .arg(count)
        .arg(VolumeCheckText::OrphanFolder);
}
} // namespace

FrmVolumeCheck::FrmVolumeCheck(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmVolumeCheck>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 10800, 6600);
    m_ui->LstResult->verticalHeader()->setVisible(false);
    m_ui->LstResult->horizontalHeader()->setStretchLastSection(true);
    m_transfer =
        new FormTransfer(this,
                         {m_ui->CboVolume, m_ui->CmdCheck, m_ui->CmdExport, m_ui->CmdClean, m_ui->CmdMoveOrphans,
                          m_ui->CmdCancel, m_ui->CmdVerify, m_ui->SpnKeepVersions, m_ui->CmdKeepVersions},
                         session.ftpOptions);
    m_check =
        std::make_unique<VolumeCheck>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    m_check->onProgress = [this](int done, int total, const QString& volume) {
        m_ui->PrgCheck->setRange(0, total);
        m_ui->PrgCheck->setValue(done);
        if (!volume.isEmpty())
            m_ui->LblCount->setText(
                QStringLiteral("正在检查存储目录<%1>（%2/%3）……").arg(volume).arg(done + 1).arg(total));
    };
    connect(m_ui->CmdCheck, &QPushButton::clicked, this, &FrmVolumeCheck::CmdCheck_Click);
    connect(m_ui->CmdExport, &QPushButton::clicked, this, &FrmVolumeCheck::CmdExport_Click);
    connect(m_ui->CmdClean, &QPushButton::clicked, this, &FrmVolumeCheck::CmdClean_Click);
    connect(m_ui->CmdMoveOrphans, &QPushButton::clicked, this, &FrmVolumeCheck::CmdMoveOrphans_Click);
    connect(m_ui->CmdVerify, &QPushButton::clicked, this, &FrmVolumeCheck::CmdVerify_Click);
    connect(m_ui->CmdKeepVersions, &QPushButton::clicked, this, &FrmVolumeCheck::CmdKeepVersions_Click);
    connect(m_ui->CmdStop, &QPushButton::clicked, this, [this] { m_transfer->requestStop(); });
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });

    m_ui->CboVolume->addItem(VolumeCheckText::AllVolumes);
    const Outcome read = Guarded([&] {
        m_ui->CboVolume->addItems(VolumeNames(m_session.db()));
        m_ui->SpnKeepVersions->setValue(int(OfficeSettings(m_session.db()).number(kKeepVersionsSetting, 0)));
        return Outcome::success();
    });
    ShowOutcome(m_session.feedback(), read);
}

FrmVolumeCheck::~FrmVolumeCheck() = default;

void FrmVolumeCheck::CmdCheck_Click() {
    const QString volume = m_ui->CboVolume->currentIndex() > 0 ? m_ui->CboVolume->currentText() : QString();
    m_transfer->runCommand(m_session, VolumeCheckText::LogCheck, [&] {
        const Outcome o = m_check->Run(volume, m_result);
        m_checked = o.done();
        fillTable();
        return o;
    });
}

void FrmVolumeCheck::fillTable() {
    QTableWidget* t = m_ui->LstResult;
    t->setSortingEnabled(false);
    t->clearContents();
    t->setRowCount(int(m_result.findings.size()));
    int r = 0;
    for (const Finding& f : m_result.findings) {
        t->setItem(r, 0, new QTableWidgetItem(VolumeCheckText::KindName(f.kind)));
        t->setItem(r, 1, new QTableWidgetItem(f.volume));
        t->setItem(r, 2, new QTableWidgetItem(f.code));
        t->setItem(r, 3, new QTableWidgetItem(f.fileName));
        auto* size = new QTableWidgetItem;
        if (f.size >= 0)
            size->setData(Qt::DisplayRole, f.size);
        t->setItem(r, 4, size);
        t->setItem(r, 5,
                   new QTableWidgetItem(f.modified.isValid()
                                            ? f.modified.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm"))
                                            : QString()));
        ++r;
    }
    t->setSortingEnabled(true);
    t->resizeColumnsToContents();
    QString counts = QStringLiteral("共检查%1个存储目录，%2条库中记录，%3个文件：")
                         .arg(m_result.volumes.size())
                         .arg(m_result.rows)
                         .arg(m_result.files) +
                     VolumeCheckText::Counts(m_result);
    if (!m_result.failed.isEmpty())
        counts += QStringLiteral("，%1个存储目录无法检查").arg(m_result.failed.size());
    m_ui->LblCount->setText(counts);
}

void FrmVolumeCheck::CmdExport_Click() {
    if (!m_checked) {
        m_session.feedback().stop(kCheckFirst);
        return;
    }
    const QString path = m_session.feedback().saveFileName(QString(), QString(), kFilter);
    if (path.isEmpty())
        return;
    const Outcome written = path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)
                                ? VolumeCheck::ExportWorkbook(m_result, path)
                                : VolumeCheck::ExportText(m_result, path);
    ShowOutcome(m_session.feedback(), written);
}

// 校验 after a check, on the volumes it checked: each file downloaded once, its SHA-256 and size
// compared with its version row; the findings join the list.
void FrmVolumeCheck::CmdVerify_Click() {
    if (!m_checked) {
        m_session.feedback().stop(kCheckFirst);
        return;
    }
    const auto checking = m_check->onProgress;
    m_check->onProgress = [this](int done, int total, const QString& file) {
        m_ui->PrgCheck->setRange(0, total);
        m_ui->PrgCheck->setValue(done);
        if (!file.isEmpty())
            m_ui->LblCount->setText(QStringLiteral("正在校验%1（%2/%3）……").arg(file).arg(done + 1).arg(total));
    };
    m_transfer->runCommand(m_session, QStringLiteral("校验"), [&] {
        const Outcome o = m_check->Verify(m_result, false, [this] { return m_transfer->stopRequested(); });
        fillTable();
        return o.text.isEmpty() ? Outcome::success(QStringLiteral("校验完毕：共校验%1个文件，不符%2个。")
                                                       .arg(m_result.verified)
                                                       .arg(m_result.count(FindingKind::Mismatch)))
                                : o;
    });
    m_check->onProgress = checking;
}

// The office's number of versions kept per drawing, for every client; the clean-up removes older ones.
void FrmVolumeCheck::CmdKeepVersions_Click() {
    if (!m_session.ctx.isAdministrator()) {
        m_session.feedback().stop(GateText::Administrator);
        return;
    }
    const int keep = m_ui->SpnKeepVersions->value();
    ShowOutcome(m_session.feedback(), Guarded([&] {
                    OfficeSettings(m_session.db()).setNumber(kKeepVersionsSetting, keep);
                    return Outcome::success(keep > 0 ? QStringLiteral("已设定：每份图纸保留最近%1版。").arg(keep)
                                                     : QStringLiteral("已设定：保留全部版本。"));
                }));
}

void FrmVolumeCheck::CmdClean_Click() {
    if (!m_checked) {
        m_session.feedback().stop(kCheckFirst);
        return;
    }
    const int count = m_check->RemovableCount(m_result);
    if (count == 0) {
        m_session.feedback().info(kNoLeftovers);
        return;
    }
    if (!m_session.feedback().question(AskCleanUp(count), kTitleFeedback))
        return;
    m_transfer->runCommand(m_session, VolumeCheckText::LogCleanUp, [&] {
        CareCounts counts;
        const Outcome o = m_check->CleanUp(m_result, counts);
        fillTable();
        return o;
    });
}

void FrmVolumeCheck::CmdMoveOrphans_Click() {
    if (!m_checked) {
        m_session.feedback().stop(kCheckFirst);
        return;
    }
    if (m_result.orphans == 0) {
        m_session.feedback().info(kNoOrphans);
        return;
    }
    if (!m_session.feedback().question(AskMoveOrphans(m_result.orphans), kTitleFeedback))
        return;
    m_transfer->runCommand(m_session, VolumeCheckText::LogMoveOrphans, [&] {
        CareCounts counts;
        const Outcome o = m_check->MoveOrphans(m_result, counts);
        fillTable();
        return o;
    });
}

} // namespace velda
