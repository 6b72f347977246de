#include "library/ui/FrmDeletedDrawings.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/DrawingHistory.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmDeletedDrawings.h"

#include <QHeaderView>
#include <QTableWidgetItem>

namespace velda {

namespace {
const QString kChooseFirst = QStringLiteral("请先选中欲恢复的图纸！");
const int kIndexRole = Qt::UserRole + 1;
} // namespace

FrmDeletedDrawings::FrmDeletedDrawings(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmDeletedDrawings>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 9000, 5400);
    m_ui->LstDeleted->horizontalHeader()->setStretchLastSection(true);
    m_ui->LstDeleted->verticalHeader()->setVisible(false);
    m_transfer = new FormTransfer(this, {m_ui->CmdRefresh, m_ui->CmdRestore, m_ui->CmdCancel}, session.ftpOptions);
    m_transfer->explainClosing(session.feedback());
    m_history =
        std::make_unique<DrawingHistory>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    connect(m_ui->CmdRefresh, &QPushButton::clicked, this, &FrmDeletedDrawings::Reload);
    connect(m_ui->CmdRestore, &QPushButton::clicked, this, &FrmDeletedDrawings::CmdRestore_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
    Reload();
}

FrmDeletedDrawings::~FrmDeletedDrawings() = default;

void FrmDeletedDrawings::Reload() {
    const Outcome read = m_history->Deleted(m_deleted);
    QTableWidget* t = m_ui->LstDeleted;
    t->setSortingEnabled(false);
    t->setUpdatesEnabled(false);
    t->clearContents();
    t->setRowCount(int(m_deleted.size()));
    for (int r = 0; r < int(m_deleted.size()); ++r) {
        const DeletedDrawing& d = m_deleted[size_t(r)];
        auto* code = new QTableWidgetItem(d.code);
        code->setData(kIndexRole, r);
        t->setItem(r, 0, code);
        t->setItem(r, 1, new QTableWidgetItem(d.deletedBy));
        t->setItem(r, 2, new QTableWidgetItem(d.deletedAt));
        auto* count = new QTableWidgetItem;
        count->setData(Qt::DisplayRole, d.versions);
        t->setItem(r, 3, count);
    }
    t->setUpdatesEnabled(true);
    t->setSortingEnabled(true);
    m_ui->LblCount->setText(QStringLiteral("共%1份已删除图纸").arg(m_deleted.size()));
    ShowOutcome(m_session.feedback(), read);
}

void FrmDeletedDrawings::CmdRestore_Click() {
    const int row = m_ui->LstDeleted->currentRow();
    QTableWidgetItem* item = row >= 0 ? m_ui->LstDeleted->item(row, 0) : nullptr;
    if (!item) {
        m_session.feedback().stop(kChooseFirst);
        return;
    }
    const QString code = item->text();
    bool restored = false;
    m_transfer->runCommand(m_session, QStringLiteral("恢复已删除图纸"), [&] {
        const Outcome out = m_history->Undelete(code);
        restored = out.done();
        return out;
    });
    if (restored)
        Reload();
}

} // namespace velda
