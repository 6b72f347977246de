#include "library/ui/FrmDrawingHistory.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "library/DrawingHistory.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmDrawingHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTemporaryDir>

namespace velda {

namespace {
const QString kChooseFirst = QStringLiteral("请先选中一个版本！");
const QString kFilter = QStringLiteral("图形文件(*.dwg)");
const QString kLastFetchFolder = QStringLiteral("LastVersionFolder");
} // namespace

FrmDrawingHistory::FrmDrawingHistory(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmDrawingHistory>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 10800, 6000);
    m_ui->LstVersions->horizontalHeader()->setStretchLastSection(true);
    m_ui->LstVersions->verticalHeader()->setVisible(false);
    m_transfer = new FormTransfer(
        this, {m_ui->CmdShow, m_ui->CmdFetch, m_ui->CmdRestore, m_ui->CmdCancel, m_ui->TxtCode}, session.ftpOptions);
    m_transfer->explainClosing(session.feedback());
    m_history =
        std::make_unique<DrawingHistory>(session, [this](const TransferOperation& op) { return m_transfer->run(op); });
    connect(m_ui->CmdShow, &QPushButton::clicked, this, &FrmDrawingHistory::CmdShow_Click);
    connect(m_ui->TxtCode, &QLineEdit::returnPressed, this, &FrmDrawingHistory::CmdShow_Click);
    connect(m_ui->LstVersions, &QTableWidget::itemSelectionChanged, this, &FrmDrawingHistory::LstVersions_Click);
    connect(m_ui->CmdFetch, &QPushButton::clicked, this, &FrmDrawingHistory::CmdFetch_Click);
    connect(m_ui->CmdRestore, &QPushButton::clicked, this, &FrmDrawingHistory::CmdRestore_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmDrawingHistory::~FrmDrawingHistory() = default;

void FrmDrawingHistory::ShowCode(const QString& code) {
    m_ui->TxtCode->setText(code);
    CmdShow_Click();
}

void FrmDrawingHistory::CmdShow_Click() {
    m_code = m_ui->TxtCode->text();
    const Outcome read = m_history->Versions(m_code, m_versions);
    QTableWidget* t = m_ui->LstVersions;
    // Filled once, without sorting on the way: a drawing's thousand versions open at once.
    t->setUpdatesEnabled(false);
    t->clearContents();
    t->setRowCount(int(m_versions.size()));
    for (int r = 0; r < int(m_versions.size()); ++r) {
        const VersionRow& v = m_versions[size_t(r)];
        t->setItem(r, 0, new QTableWidgetItem(QString::number(v.number)));
        t->setItem(r, 1, new QTableWidgetItem(v.user));
        t->setItem(r, 2, new QTableWidgetItem(v.time));
        t->setItem(r, 3, new QTableWidgetItem(v.size < 0 ? QString() : QLocale().formattedDataSize(v.size)));
        t->setItem(r, 4, new QTableWidgetItem(QString(v.comment).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    }
    t->setUpdatesEnabled(true);
    m_ui->LblCount->setText(m_versions.empty() ? QString() : QStringLiteral("共保存%1版").arg(m_versions.size()));
    m_ui->Dwg->showBlank();
    ShowOutcome(m_session.feedback(), read);
}

const VersionRow* FrmDrawingHistory::chosen() const {
    const int row = m_ui->LstVersions->currentRow();
    return row >= 0 && row < int(m_versions.size()) ? &m_versions[size_t(row)] : nullptr;
}

void FrmDrawingHistory::LstVersions_Click() {
    const VersionRow* v = chosen();
    if (!v)
        return;
    // The picture is read from a copy of the version's file, gone again once read.
    QTemporaryDir scratch;
    const QString local = scratch.filePath(DrawingHistory::FetchName(v->code, v->number));
    const Outcome got = m_history->Preview(v->code, v->number, local);
    if (got.done())
        m_ui->Dwg->setPath(local);
    else
        m_ui->Dwg->showBlank();
}

void FrmDrawingHistory::CmdFetch_Click() {
    const VersionRow* v = chosen();
    if (!v) {
        m_session.feedback().stop(kChooseFirst);
        return;
    }
    QString folder = m_session.config().ReadAccountValue(m_session.ctx.UserId, kLastFetchFolder);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString name = DrawingHistory::FetchName(v->code, v->number);
    const QString target = m_session.feedback().saveFileName(QString(), QDir(folder).filePath(name), kFilter);
    if (target.isEmpty())
        return;
    // The folder is the user's choice; the name is the version's.
    const QString into = QFileInfo(target).absolutePath();
    m_session.config().StoreAccountValue(m_session.ctx.UserId, kLastFetchFolder, into);
    const QString code = v->code;
    const qint64 number = v->number;
    m_transfer->runCommand(m_session, QStringLiteral("取出历史版本"),
                           [&] { return m_history->Fetch(code, number, into); });
}

void FrmDrawingHistory::CmdRestore_Click() {
    const VersionRow* v = chosen();
    if (!v) {
        m_session.feedback().stop(kChooseFirst);
        return;
    }
    const QString code = v->code;
    const qint64 number = v->number;
    if (!m_session.feedback().question(
            QStringLiteral("确实要把图纸<%1>恢复为第%2版吗？当前版本会保存为历史版本。").arg(code).arg(number),
            kTitleFeedback))
        return;
    bool restored = false;
    m_transfer->runCommand(m_session, QStringLiteral("恢复历史版本"), [&] {
        const Outcome out = m_history->Restore(code, number);
        restored = out.done();
        return out;
    });
    if (restored)
        ShowCode(code);
}

} // namespace velda
