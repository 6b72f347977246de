#include "logview/ui/FrmLog.h"

#include "core/Loaded.h"
#include "core/Session.h"
#include "core/Twips.h"
#include "core/ui/ConditionPanel.h"
#include "core/ui/Forms.h"
#include "transfer/TransferPool.h"
#include "ui_FrmLog.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>

namespace velda {

FrmLog::FrmLog(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmLog>()) {
    m_ui->setupUi(this);
    m_panel = new ConditionPanel(m_ui->PanelArea);
    m_panel->setObjectName(QStringLiteral("Frame1"));
    auto* area = new QVBoxLayout(m_ui->PanelArea);
    area->setContentsMargins(0, 0, 0, 0);
    area->addWidget(m_panel);
    m_panel->placeCommand(m_ui->CmdSeek);
    m_panel->configure(session, ConditionConfig::activityLog());
    m_ui->LstView->setModel(&m_model);
    // Sorting hundreds of thousands of rows takes the window's thread for a noticeable pause.
    m_model.setSortRunner([this](const std::function<void()>& work) { runInBackground(work); });
    m_ui->LstView->header()->setStretchLastSection(false);
    // Newest first until the user clicks a heading to sort otherwise.
    m_ui->LstView->header()->setSortIndicator(LogListModel::kTimeColumn, Qt::DescendingOrder);
    m_ui->LstView->setSortingEnabled(true);
    SizeFormInTwips(this, 12225, 5295);

    connect(m_ui->CmdSeek, &QPushButton::clicked, this, &FrmLog::CmdSeek_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmLog::CmdDel_Click);
    connect(m_ui->CmdDelAll, &QPushButton::clicked, this, &FrmLog::CmdDelAll_Click);
    connect(m_ui->CmdOut, &QPushButton::clicked, this, &FrmLog::CmdOut_Click);
    connect(m_ui->CmdOutAll, &QPushButton::clicked, this, &FrmLog::CmdOutAll_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmLog::~FrmLog() = default;

void FrmLog::sizeColumns() {
    QHeaderView* header = m_ui->LstView->header();
    const int fifth = m_ui->LstView->width() / 5;
    for (int c = 0; c < 4; ++c)
        header->resizeSection(c, fifth);
    // A fifth of the width is too narrow for the time text: the time column widens to show it whole.
    m_ui->LstView->resizeColumnToContents(LogListModel::kTimeColumn);
    if (header->sectionSize(LogListModel::kTimeColumn) < fifth)
        header->resizeSection(LogListModel::kTimeColumn, fifth);
    header->resizeSection(4, TwipsToPixels(1764, logicalDpiX()));
}

void FrmLog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    sizeColumns();
}

void FrmLog::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    sizeColumns();
}

void FrmLog::closeEvent(QCloseEvent* event) {
    // The worker still reads or writes on the window's behalf; it closes once that has ended.
    if (m_busy) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void FrmLog::setBusy(bool busy) {
    m_busy = busy;
    for (QWidget* w :
         {static_cast<QWidget*>(m_panel), static_cast<QWidget*>(m_ui->CmdSeek), static_cast<QWidget*>(m_ui->CmdDel),
          static_cast<QWidget*>(m_ui->CmdDelAll), static_cast<QWidget*>(m_ui->CmdOut),
          static_cast<QWidget*>(m_ui->CmdOutAll), static_cast<QWidget*>(m_ui->CmdCancel)})
        w->setEnabled(!busy);
    // A sort asked for meanwhile would move the rows the worker reads.
    m_ui->LstView->header()->setSectionsClickable(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void FrmLog::runInBackground(const std::function<void()>& work) {
    setBusy(true);
    WaitForWork(work);
    setBusy(false);
}

bool FrmLog::search(const QString& condition, bool quiet) {
    // Reaching the connection may open it again, and that may fail.
    const auto db = Load([&] { return &m_session.db(); });
    if (!ShowOutcome(m_session.feedback(), db.outcome))
        return false;
    const ConnectionSpec spec = db.value->spec();
    const LogSearch prepared = PrepareLogSearch(*db.value, condition);
    if (!ShowOutcome(m_session.feedback(), prepared.verdict))
        return false;
    std::vector<LogRow> listedBefore = m_model.takeRows();
    LogFetch fetch;
    const int column = m_model.sortColumn();
    const Qt::SortOrder order = m_model.sortOrder();
    runInBackground([&fetch, &spec, &prepared, &listedBefore, column, order] {
        // Freeing hundreds of thousands of rows takes a moment: not on the window's thread.
        std::vector<LogRow>().swap(listedBefore);
        fetch = FetchLogRows(spec, prepared.sql);
        // Nor is putting them in the list's order.
        fetch.rows = LogListModel::Ordered(std::move(fetch.rows), column, order);
    });
    if (!fetch.error.isEmpty()) {
        m_session.feedback().stop(fetch.error);
        return false;
    }
    m_listedCondition = condition;
    const int found = static_cast<int>(fetch.rows.size());
    m_model.setOrderedRows(std::move(fetch.rows));
    sizeColumns();
    m_panel->setCount(found);
    m_ui->LstView->clearSelection();
    if (found == 0 && !quiet)
        m_session.feedback().stop(ConditionText::NoRows);
    return found > 0;
}

void FrmLog::CmdSeek_Click() { search(m_panel->conditionText(), false); }

std::vector<int> FrmLog::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_ui->LstView->selectionModel()->selectedRows())
        rows.push_back(index.row());
    // In list order, whatever order the user picked them in.
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool FrmLog::deleteRows(const std::vector<qint64>& seqs) {
    setBusy(true);
    // The deletion runs on the session's connection, which belongs to this thread: the window is
    // painted between its statements rather than served.
    const Outcome outcome = DeleteLogRows(m_session, seqs, nullptr, [this] { repaint(); });
    setBusy(false);
    if (!outcome.done()) {
        ShowOutcome(m_session.feedback(), outcome);
        return false;
    }
    // What the list showed is listed again, whatever the condition box now holds.
    search(m_listedCondition, true);
    return true;
}

void FrmLog::CmdDel_Click() {
    std::vector<qint64> seqs;
    for (int row : selectedRows())
        seqs.push_back(m_model.rows()[static_cast<size_t>(row)].seq);
    if (seqs.empty())
        return;
    deleteRows(seqs);
}

void FrmLog::CmdDelAll_Click() {
    const std::vector<LogRow>& rows = m_model.rows();
    if (rows.empty()) {
        m_session.feedback().stop(LogViewText::NothingToDelete);
        return;
    }
    if (!m_session.feedback().question(LogViewText::ConfirmDeleteAll(static_cast<qsizetype>(rows.size())),
                                       kTitleFeedback))
        return;
    std::vector<qint64> seqs;
    seqs.reserve(rows.size());
    for (const LogRow& r : rows)
        seqs.push_back(r.seq);
    if (deleteRows(seqs))
        m_session.feedback().info(LogViewText::Deleted);
}

void FrmLog::exportRows(const std::vector<int>& which) {
    const QString chosen =
        m_session.feedback().saveFileName(LogViewText::ExportCaption, QString(), LogViewText::ExportFilter);
    // A cancelled save dialog is the user changing his mind, not an error.
    if (chosen.isEmpty())
        return;
    const QString path = LogExportPath(chosen);
    Outcome outcome;
    const std::vector<LogRow>& rows = m_model.rows();
    runInBackground([&outcome, &path, &rows, &which] { outcome = ExportLogRows(path, rows, which); });
    ShowOutcome(m_session.feedback(), outcome);
}

void FrmLog::CmdOut_Click() {
    const std::vector<int> which = selectedRows();
    if (which.empty()) {
        m_session.feedback().stop(LogViewText::NothingToExport);
        return;
    }
    exportRows(which);
}

void FrmLog::CmdOutAll_Click() {
    if (m_model.rows().empty()) {
        m_session.feedback().stop(LogViewText::NothingToExport);
        return;
    }
    std::vector<int> which(m_model.rows().size());
    for (size_t i = 0; i < which.size(); ++i)
        which[i] = static_cast<int>(i);
    exportRows(which);
}

} // namespace velda
