#include "items/ui/FrmImportItemInfo.h"

#include "core/GateText.h"
#include "core/Loaded.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "items/RecordExport.h"
#include "transfer/TransferPool.h"
#include "ui_FrmImportItemInfo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>

#include <atomic>

namespace velda {

namespace {

const QString kMappingValue = QStringLiteral("导入列对应");
const QString kNotImported = QStringLiteral("（不导入）");
const QString kFileFilter = QStringLiteral("工作簿或CSV文件 (*.xlsx *.csv *.txt);;所有文件 (*)");
const QString kTableFilter = QStringLiteral("工作簿 (*.xlsx);;CSV文件 (*.csv)");
const QString kRunning = QStringLiteral("导入零件信息");
const QString kDryRunStopped = QStringLiteral("预演已停止，没有导入任何记录");

} // namespace

// What the worker is given and gives back: the window's copies of the file, the mapping and the plan,
// never the window's own, which stay the window's while the worker runs.
struct ImportJob {
    ConnectionSpec spec;
    SheetTable table;
    ImportMapping mapping;
    ImportPlan plan;
    bool planFirst = false, apply = false, update = false;
    std::atomic<bool> stop{false};
    Outcome planned = Outcome::success(), applied = Outcome::success();
};

FrmImportItemInfo::FrmImportItemInfo(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmImportItemInfo>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 12900, 9300);
    m_ui->TblMap->verticalHeader()->hide();
    m_ui->TblMap->horizontalHeader()->setStretchLastSection(true);
    m_ui->TblPlan->verticalHeader()->hide();
    m_ui->TblPlan->horizontalHeader()->setStretchLastSection(true);
    m_ui->Splitter->setStretchFactor(1, 2);
    fillMapping();
    // Only an administrator decides whether the users may import too: an office-wide setting.
    const bool admin = session.ctx.isAdministrator();
    m_ui->ChkUsersMayImport->setVisible(admin);
    if (admin) {
        Guarded([&] {
            m_ui->ChkUsersMayImport->setChecked(OfficeSettings(session.db()).flag(kSettingUsersMayImport, false));
            return Outcome::success();
        });
    }
    setRunning(false);
    connect(m_ui->CmdBrowse, &QPushButton::clicked, this, &FrmImportItemInfo::CmdBrowse_Click);
    connect(m_ui->CboSheet, &QComboBox::activated, this, [this] { readFile(); });
    connect(m_ui->CboEncoding, &QComboBox::activated, this, [this] { readFile(); });
    connect(m_ui->CmdDryRun, &QPushButton::clicked, this, &FrmImportItemInfo::CmdDryRun_Click);
    connect(m_ui->CmdImport, &QPushButton::clicked, this, &FrmImportItemInfo::CmdImport_Click);
    connect(m_ui->CmdStop, &QPushButton::clicked, this, [this] {
        if (m_job)
            m_job->stop = true;
    });
    connect(m_ui->CmdReport, &QPushButton::clicked, this, &FrmImportItemInfo::CmdReport_Click);
    connect(m_ui->CmdExport, &QPushButton::clicked, this, &FrmImportItemInfo::CmdExport_Click);
    connect(m_ui->ChkUsersMayImport, &QCheckBox::clicked, this, &FrmImportItemInfo::ChkUsersMayImport_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmImportItemInfo::~FrmImportItemInfo() {
    // Gone with the program under a running import: the worker stops after its current record.
    if (m_job)
        m_job->stop = true;
    m_pool.reset();
}

void FrmImportItemInfo::closeEvent(QCloseEvent* event) {
    // The worker writes on the window's behalf; the window goes only when it has stopped.
    if (m_running)
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void FrmImportItemInfo::CmdBrowse_Click() {
    const QString path = m_session.feedback().openFileName(QStringLiteral("选择要导入的文件"), QString(), kFileFilter);
    if (!path.isEmpty())
        OpenFile(path);
}

void FrmImportItemInfo::OpenFile(const QString& path) {
    m_ui->TxtFile->setText(path);
    // Another file: its own first sheet and its own encoding, until the user says otherwise.
    m_ui->CboSheet->clear();
    m_ui->CboEncoding->setCurrentIndex(0);
    readFile();
}

void FrmImportItemInfo::readFile() {
    m_planned = false;
    m_plan = {};
    showPlan();
    SheetReadOptions options;
    options.sheet = m_ui->CboSheet->currentText();
    options.encoding = TextEncoding(m_ui->CboEncoding->currentIndex());
    // A workbook of a hundred thousand rows takes seconds to read: off the window.
    const QString path = m_ui->TxtFile->text();
    setRunning(true);
    m_ui->CmdStop->setEnabled(false);
    SheetTable table;
    WaitForWork([&] { table = ReadSheetFile(path, options); });
    m_table = std::move(table);
    setRunning(false);
    m_ui->CboSheet->clear();
    m_ui->CboSheet->addItems(m_table.sheetNames);
    m_ui->CboSheet->setCurrentText(m_table.sheet);
    m_ui->CboSheet->setEnabled(!m_table.sheetNames.isEmpty());
    if (!m_table.ok()) {
        m_mapping = {};
        fillMapping();
        ShowOutcome(m_session.feedback(), Outcome::refusal(m_table.error));
        return;
    }
    if (!m_table.encoding.isEmpty())
        m_ui->CboEncoding->setCurrentIndex(m_table.encoding == QLatin1String("GBK") ? 2 : 1);
    m_mapping = MatchColumns(m_table);
    // The account's last choices, where this file has the column they named.
    const QString remembered = m_session.config().ReadAccountValue(m_session.ctx.UserId, kMappingValue);
    for (const QString& line : remembered.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString column = line.mid(eq + 1);
        if (eq > 0 && (column.isEmpty() || m_mapping.headers.contains(column)))
            MapColumn(m_mapping, line.left(eq), column);
    }
    fillMapping();
}

void FrmImportItemInfo::fillMapping() {
    m_filling = true;
    QTableWidget* table = m_ui->TblMap;
    table->setRowCount(kRecordFieldCount);
    QStringList choices{kNotImported};
    for (qsizetype c = 0; c < m_mapping.headers.size(); ++c)
        choices << SheetColumnName(int(c)) + QStringLiteral("：") + m_mapping.headers[c];
    for (int f = 0; f < kRecordFieldCount; ++f) {
        auto* name = new QTableWidgetItem(RecordFieldNames()[f]);
        name->setFlags(Qt::ItemIsEnabled);
        table->setItem(f, 0, name);
        auto* box = qobject_cast<QComboBox*>(table->cellWidget(f, 1));
        if (!box) {
            box = new QComboBox(table);
            box->setObjectName(QStringLiteral("CboField%1").arg(f));
            table->setCellWidget(f, 1, box);
            connect(box, &QComboBox::currentIndexChanged, this, &FrmImportItemInfo::mappingChanged);
        }
        box->clear();
        box->addItems(choices);
        box->setCurrentIndex(m_mapping.column[f] + 1 < box->count() ? m_mapping.column[f] + 1 : 0);
    }
    m_filling = false;
}

void FrmImportItemInfo::mappingChanged() {
    if (m_filling)
        return;
    for (int f = 0; f < kRecordFieldCount; ++f)
        m_mapping.column[f] = static_cast<QComboBox*>(m_ui->TblMap->cellWidget(f, 1))->currentIndex() - 1;
    m_planned = false;
}

void FrmImportItemInfo::CmdDryRun_Click() { startWork(true, false); }

void FrmImportItemInfo::CmdImport_Click() { startWork(!m_planned, true); }

void FrmImportItemInfo::rememberMapping() {
    QStringList remembered;
    for (int f = 0; f < kRecordFieldCount; ++f)
        remembered << RecordFieldNames()[f] + QLatin1Char('=') + m_mapping.headers.value(m_mapping.column[f]);
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kMappingValue, remembered.join(QLatin1Char('\n')));
}

void FrmImportItemInfo::startWork(bool plan, bool apply) {
    if (m_running)
        return;
    if (plan) {
        if (!m_table.ok() || m_table.rows.empty()) {
            ShowOutcome(m_session.feedback(), Outcome::refusal(m_table.ok() ? ImportText::EmptyFile : m_table.error));
            return;
        }
        if (m_mapping.column[FieldCode] < 0) {
            ShowOutcome(m_session.feedback(), Outcome::refusal(ImportText::NoCodeColumn));
            return;
        }
        rememberMapping();
    }
    auto command = std::make_unique<CommandGuard>(m_session, kRunning);
    if (!*command) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(command->refusal()));
        return;
    }
    // The worker's connection is made like the window's: reaching that may open it again, and fail.
    const auto db = Load([&] { return &m_session.db(); });
    if (!ShowOutcome(m_session.feedback(), db.outcome))
        return;
    auto job = std::make_shared<ImportJob>();
    job->spec = db.value->spec();
    job->planFirst = plan;
    job->apply = apply;
    job->update = m_ui->ChkUpdate->isChecked();
    if (plan) {
        job->table = m_table;
        job->mapping = m_mapping;
    } else {
        job->plan = std::move(m_plan);
        m_plan = {};
    }
    m_job = job;
    m_command = std::move(command);
    if (!m_pool) {
        m_client = std::make_unique<FtpClient>();
        m_pool = std::make_unique<TransferPool>(*m_client);
        m_watch = new TransferWatch(this);
        connect(m_watch, &TransferWatch::progressed, this, [this](qint64 done, qint64 total) {
            m_ui->PrgImport->setMaximum(int(std::max<qint64>(total, 1)));
            m_ui->PrgImport->setValue(int(done));
        });
        connect(m_watch, &TransferWatch::finished, this, &FrmImportItemInfo::workEnded);
    }
    m_ui->PrgImport->setValue(0);
    setRunning(true);
    Session& session = m_session;
    std::vector<TransferOperation> work;
    work.push_back([job, &session](FtpClient&, const TransferProgress& progress) {
        const ImportStep step = [&](int finished, int total) {
            progress(finished, total);
            return !job->stop.load();
        };
        Database db;
        Outcome o = Guarded([&] {
            db.open(job->spec);
            if (job->planFirst)
                job->plan = PlanImport(db, job->table, job->mapping, step);
            return Outcome::success();
        });
        if (job->planFirst)
            job->planned = o;
        else if (!o.done())
            job->applied = o;
        if (o.done() && job->apply && !job->plan.stopped)
            job->applied = ApplyImport(session, db, job->plan, job->update, step);
        TransferResult r;
        r.ok = true;
        return r;
    });
    m_pool->submit(std::move(work), false, true, m_watch);
}

void FrmImportItemInfo::workEnded() {
    const std::shared_ptr<ImportJob> job = std::move(m_job);
    m_command.reset();
    setRunning(false);
    if (!job)
        return;
    Outcome shown = job->apply ? job->applied : job->planned;
    if (job->planFirst && !job->planned.done()) {
        shown = job->planned;
        m_plan = {};
    } else if (job->plan.stopped) {
        shown = Outcome::success(kDryRunStopped, Icon::None, kTitleFeedback);
        m_plan = {};
    } else {
        m_plan = std::move(job->plan);
    }
    // After an import what is stored has changed: the next import starts from a new dry run.
    m_planned = !job->apply && !m_plan.rows.empty();
    showPlan();
    ShowOutcome(m_session.feedback(), shown);
    emit workFinished();
}

void FrmImportItemInfo::showPlan() {
    const QList<QStringList> rows = ImportReportRows(m_plan);
    QTableWidget* table = m_ui->TblPlan;
    table->setRowCount(int(rows.size()));
    for (qsizetype r = 0; r < rows.size(); ++r)
        for (qsizetype c = 0; c < rows[r].size(); ++c)
            table->setItem(int(r), int(c), new QTableWidgetItem(rows[r][c]));
    m_ui->LblCounts->setText(m_plan.rows.empty() ? QString()
                                                 : QStringLiteral("新增%1条，修改%2条，不变%3条，拒绝%4行")
                                                       .arg(m_plan.count(RowVerdict::New))
                                                       .arg(m_plan.count(RowVerdict::Changed))
                                                       .arg(m_plan.count(RowVerdict::Unchanged))
                                                       .arg(m_plan.count(RowVerdict::Refused)));
}

void FrmImportItemInfo::setRunning(bool running) {
    m_running = running;
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_ui->CmdBrowse, m_ui->CboSheet, m_ui->CboEncoding, m_ui->TblMap, m_ui->ChkUpdate, m_ui->CmdDryRun,
             m_ui->CmdImport, m_ui->CmdReport, m_ui->CmdExport, m_ui->CmdCancel, m_ui->ChkUsersMayImport})
        w->setEnabled(!running);
    m_ui->CmdStop->setEnabled(running);
}

void FrmImportItemInfo::CmdReport_Click() {
    if (m_plan.rows.empty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(QStringLiteral("请先预演或导入")));
        return;
    }
    const QString path = m_session.feedback().saveFileName(QStringLiteral("导出报告"), QString(), kTableFilter);
    if (!path.isEmpty())
        ShowOutcome(m_session.feedback(),
                    WriteTableFile(path, QStringLiteral("导入报告"), kImportReportHeaders, ImportReportRows(m_plan)));
}

void FrmImportItemInfo::CmdExport_Click() {
    const QString path =
        m_session.feedback().saveFileName(QStringLiteral("导出全部零件信息和图纸信息"), QString(), kTableFilter);
    if (!path.isEmpty())
        ShowOutcome(m_session.feedback(), ExportItemRecords(m_session.db(), path));
}

void FrmImportItemInfo::ChkUsersMayImport_Click() {
    const bool allowed = m_ui->ChkUsersMayImport->isChecked();
    const Outcome o = Guarded([&] {
        OfficeSettings(m_session.db()).setFlag(kSettingUsersMayImport, allowed);
        return Outcome::success();
    });
    if (!ShowOutcome(m_session.feedback(), o))
        m_ui->ChkUsersMayImport->setChecked(!allowed);
}

} // namespace velda
