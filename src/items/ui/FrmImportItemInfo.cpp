#include "items/ui/FrmImportItemInfo.h"

#include "core/GateText.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "items/RecordExport.h"
#include "ui_FrmImportItemInfo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>

namespace velda {

namespace {

const QString kMappingValue = QStringLiteral("导入列对应");
const QString kNotImported = QStringLiteral("（不导入）");
const QString kFileFilter = QStringLiteral("工作簿或CSV文件 (*.xlsx *.csv *.txt);;所有文件 (*)");
const QString kTableFilter = QStringLiteral("工作簿 (*.xlsx);;CSV文件 (*.csv)");
const QString kRunning = QStringLiteral("导入零件信息");

} // namespace

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
    connect(m_ui->CmdStop, &QPushButton::clicked, this, [this] { m_stop = true; });
    connect(m_ui->CmdReport, &QPushButton::clicked, this, &FrmImportItemInfo::CmdReport_Click);
    connect(m_ui->CmdExport, &QPushButton::clicked, this, &FrmImportItemInfo::CmdExport_Click);
    connect(m_ui->ChkUsersMayImport, &QCheckBox::clicked, this, &FrmImportItemInfo::ChkUsersMayImport_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmImportItemInfo::~FrmImportItemInfo() = default;

void FrmImportItemInfo::closeEvent(QCloseEvent* event) {
    // The import serves events between records; the window goes only when it has stopped.
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
    m_table = ReadSheetFile(m_ui->TxtFile->text(), options);
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

void FrmImportItemInfo::CmdDryRun_Click() {
    if (!m_table.ok() || m_table.rows.empty()) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(m_table.ok() ? ImportText::EmptyFile : m_table.error));
        return;
    }
    if (m_mapping.column[FieldCode] < 0) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(ImportText::NoCodeColumn));
        return;
    }
    QStringList remembered;
    for (int f = 0; f < kRecordFieldCount; ++f)
        remembered << RecordFieldNames()[f] + QLatin1Char('=') + m_mapping.headers.value(m_mapping.column[f]);
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kMappingValue, remembered.join(QLatin1Char('\n')));
    const Outcome planned = Guarded([&] {
        m_plan = PlanImport(m_session.db(), m_table, m_mapping);
        return Outcome::success();
    });
    m_planned = planned.done();
    showPlan();
    ShowOutcome(m_session.feedback(), planned);
}

void FrmImportItemInfo::CmdImport_Click() {
    if (!m_planned) {
        CmdDryRun_Click();
        if (!m_planned)
            return;
    }
    const CommandGuard running(m_session, kRunning);
    if (!running) {
        ShowOutcome(m_session.feedback(), Outcome::refusal(running.refusal()));
        return;
    }
    m_stop = false;
    setRunning(true);
    QElapsedTimer shown;
    shown.start();
    const Outcome o = ApplyImport(m_session, m_plan, m_ui->ChkUpdate->isChecked(), [&](int finished, int total) {
        // A tenth of a second between repaints keeps the window live without slowing the import.
        if (shown.elapsed() >= 100 || finished == total) {
            m_ui->PrgImport->setMaximum(total);
            m_ui->PrgImport->setValue(finished);
            QCoreApplication::processEvents();
            shown.restart();
        }
        return !m_stop;
    });
    setRunning(false);
    // What is stored has changed: the next import starts from a new dry run.
    m_planned = false;
    showPlan();
    ShowOutcome(m_session.feedback(), o);
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
