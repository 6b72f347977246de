#include "library/ui/FrmHeldDrawings.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmHeldDrawings.h"

#include <QHeaderView>
#include <QTableWidgetItem>

namespace velda {

namespace {
const QString kAllHolders = QStringLiteral("全部");
const QString kChooseFirst = QStringLiteral("请先选中欲撤销出库的图纸！");
const int kIndexRole = Qt::UserRole + 1;
} // namespace

FrmHeldDrawings::FrmHeldDrawings(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmHeldDrawings>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 9000, 5400);
    m_ui->LstHeld->horizontalHeader()->setStretchLastSection(true);
    m_ui->LstHeld->verticalHeader()->setVisible(false);
    connect(m_ui->CboHolder, &QComboBox::activated, this, &FrmHeldDrawings::CboHolder_Click);
    connect(m_ui->CmdRefresh, &QPushButton::clicked, this, &FrmHeldDrawings::Reload);
    connect(m_ui->CmdRelease, &QPushButton::clicked, this, &FrmHeldDrawings::CmdRelease_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
    Reload();
}

FrmHeldDrawings::~FrmHeldDrawings() = default;

void FrmHeldDrawings::Reload() {
    const QString chosen = m_ui->CboHolder->currentIndex() > 0 ? m_ui->CboHolder->currentText() : QString();
    const Outcome read = Guarded([&] {
        Database& db = m_session.db();
        const QStringList holders = Holders(db);
        m_ui->CboHolder->clear();
        m_ui->CboHolder->addItem(kAllHolders);
        m_ui->CboHolder->addItems(holders);
        const int at = holders.indexOf(chosen);
        m_ui->CboHolder->setCurrentIndex(at >= 0 ? at + 1 : 0);
        m_holds = ListHolds(db, m_session.clock().today(), at >= 0 ? chosen : QString());
        return Outcome::success();
    });
    if (!read.done())
        m_holds.clear();
    fillTable();
    ShowOutcome(m_session.feedback(), read);
}

void FrmHeldDrawings::CboHolder_Click() { Reload(); }

void FrmHeldDrawings::fillTable() {
    QTableWidget* t = m_ui->LstHeld;
    t->setSortingEnabled(false);
    t->clearContents();
    t->setRowCount(int(m_holds.size()));
    for (int r = 0; r < int(m_holds.size()); ++r) {
        const HeldDrawing& h = m_holds[size_t(r)];
        auto* code = new QTableWidgetItem(h.code);
        code->setData(kIndexRole, r);
        t->setItem(r, 0, code);
        t->setItem(r, 1, new QTableWidgetItem(h.holder));
        t->setItem(r, 2, new QTableWidgetItem(h.since));
        auto* days = new QTableWidgetItem;
        // Numbers, so the column sorts as numbers do.
        if (h.days >= 0)
            days->setData(Qt::DisplayRole, h.days);
        t->setItem(r, 3, days);
        t->setItem(r, 4, new QTableWidgetItem(h.volume));
    }
    t->setSortingEnabled(true);
    t->resizeColumnsToContents();
    m_ui->LblCount->setText(QStringLiteral("共%1份图纸处于出库状态").arg(m_holds.size()));
}

void FrmHeldDrawings::CmdRelease_Click() {
    const int row = m_ui->LstHeld->currentRow();
    QTableWidgetItem* item = row >= 0 ? m_ui->LstHeld->item(row, 0) : nullptr;
    if (!item || !m_ui->LstHeld->selectionModel()->isRowSelected(row, {})) {
        m_session.feedback().stop(kChooseFirst);
        return;
    }
    const HeldDrawing shown = m_holds[size_t(item->data(kIndexRole).toInt())];
    const CommandGuard running(m_session, HoldText::LogRelease);
    if (!running) {
        m_session.feedback().stop(running.refusal());
        return;
    }
    Holds holds(m_session);
    const Holds::Check check = holds.Prepare(shown);
    if (!ShowOutcome(m_session.feedback(), check.refusal)) {
        Reload();
        return;
    }
    if (!check.question.isEmpty() && !m_session.feedback().question(check.question, kTitleFeedback))
        return;
    const Outcome released = holds.Release(shown);
    ShowOutcome(m_session.feedback(), released);
    Reload();
}

} // namespace velda
