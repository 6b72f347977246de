#include "items/ui/FrmSeekItemInfo.h"

#include "core/Condition.h"
#include "core/Session.h"
#include "core/ui/Forms.h"
#include "items/ItemSearch.h"
#include "library/DrawingLibrary.h"
#include "transfer/TransferCommand.h"
#include "transfer/ui/FormTransfer.h"
#include "ui_FrmSeekItemInfo.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QStringListModel>

namespace velda {

namespace {

constexpr int kKeptPictures = 64;

const QString kCopyPrefix = QStringLiteral("预览-");

// Copies left behind by a program that ended without closing its windows (a crash, a power cut): their
// process is gone. Another running program's copies stay.
void removeOrphanCopies(const QString& dataFolder) {
    if (!QFileInfo::exists(QStringLiteral("/proc/self")))
        return;
    QDir dir(dataFolder);
    for (const QString& name : dir.entryList({kCopyPrefix + QStringLiteral("*")}, QDir::Files)) {
        bool ok = false;
        const qint64 pid = name.mid(kCopyPrefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            dir.remove(name);
    }
}

QString windowPreviewName(const QString& dataFolder) {
    QDir().mkpath(dataFolder);
    removeOrphanCopies(dataFolder);
    const QString tag = QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') +
                        QString::number(QRandomGenerator::system()->generate64(), 36);
    return dataFolder + QLatin1Char('/') + kCopyPrefix + tag + QStringLiteral(".dwg");
}

} // namespace

FrmSeekItemInfo::FrmSeekItemInfo(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmSeekItemInfo>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 12510, 7710);
    m_ui->FmCond->configure(session, ConditionConfig::itemSearch(session.ctx.SeekMode));
    m_ui->FmCond->placeCommand(m_ui->CmdSeek);
    // The count belongs under the list it counts.
    m_count = m_ui->FmCond->findChild<QLabel*>(QStringLiteral("LblNum"));
    if (m_count)
        m_ui->LayResult->addWidget(m_count);

    m_results = new QStringListModel(this);
    m_ui->LstResult->setModel(m_results);
    m_ui->LstResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui->LstResult->setUniformItemSizes(true);
    m_ui->LstResult->setSelectionMode(QAbstractItemView::SingleSelection);
    for (QLineEdit* box : findChildren<QLineEdit*>()) {
        if (box->parent() == m_ui->FmPartInfo)
            box->setReadOnly(true); // for display: nothing typed here is kept
    }
    m_ui->Dwg->showBlank();

    m_previewFile = windowPreviewName(session.paths().dataFolder);
    m_transfer = new FormTransfer(this, {m_ui->CmdSeek}, session.ftpOptions);

    // Where the part shown is used: the structure window's 使用位置, opened by name.
    auto* whereUsed = new QAction(QStringLiteral("使用位置"), this);
    whereUsed->setObjectName(QStringLiteral("MnuWhereUsed"));
    for (QWidget* w : {static_cast<QWidget*>(m_ui->FmPartInfo), static_cast<QWidget*>(m_ui->LstResult)}) {
        w->setContextMenuPolicy(Qt::ActionsContextMenu);
        w->addAction(whereUsed);
    }
    connect(whereUsed, &QAction::triggered, this, [this] {
        if (!m_ui->TxtCode->text().isEmpty())
            ShowOtherFormWithCode(this, QStringLiteral("FrmWhereUsed"), m_ui->TxtCode->text());
    });
    connect(m_ui->CmdSeek, &QPushButton::clicked, this, &FrmSeekItemInfo::CmdSeek_Click);
    connect(m_ui->LstResult, &QListView::clicked, this, &FrmSeekItemInfo::LstResult_Click);
    // Moving through the list with the keys shows each line as a click does.
    m_ui->LstResult->installEventFilter(this);
    connect(m_ui->LstResult->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (m_keyMoving && current.isValid()) {
                    m_keyMoving = false; // clicks during this view's fetch are clicks again
                    LstResult_Click();
                }
            });
}

bool FrmSeekItemInfo::eventFilter(QObject* watched, QEvent* event) {
    // The key goes to the list once more, now marked as a move by key; the second pass is the list's own.
    if (watched == m_ui->LstResult && event->type() == QEvent::KeyPress && !m_keyMoving) {
        m_keyMoving = true;
        QCoreApplication::sendEvent(m_ui->LstResult, event);
        m_keyMoving = false;
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

FrmSeekItemInfo::~FrmSeekItemInfo() { QFile::remove(m_previewFile); }

void FrmSeekItemInfo::CmdSeek_Click() {
    // The mode of this moment: the other search command may have been chosen since the window opened.
    const ConditionConfig config = ConditionConfig::itemSearch(m_session.ctx.SeekMode);
    QStringList codes;
    const Outcome outcome = SearchItemCodes(m_session, config, m_ui->FmCond->conditionText(), &codes, [this] {
        m_results->setStringList({});
        if (m_count)
            m_count->clear();
    });
    if (!ShowOutcome(m_session.feedback(), outcome))
        return;
    const int found = static_cast<int>(codes.size());
    m_results->setStringList(codes);
    m_ui->FmCond->setCount(found);
}

void FrmSeekItemInfo::LstResult_Click() {
    for (QLineEdit* box :
         {m_ui->TxtName, m_ui->TxtZL, m_ui->TxtMat, m_ui->TxtDesign, m_ui->TxtVerify, m_ui->TxtMain, m_ui->TxtHead,
          m_ui->TxtBZ, m_ui->TxtGY, m_ui->TxtDate, m_ui->TxtBL, m_ui->TxtBM, m_ui->TxtFM, m_ui->TxtTotal, m_ui->TxtTY})
        box->clear();
    const QModelIndex current = m_ui->LstResult->currentIndex();
    const bool selected = current.isValid() && m_ui->LstResult->selectionModel()->isSelected(current);
    if (selected)
        m_ui->TxtCode->setText(current.data().toString());
    const QString code = m_ui->TxtCode->text();
    m_ui->Dwg->showBlank();
    // The copy of the drawing shown before goes with its picture.
    QFile::remove(m_previewFile);
    const quint64 view = ++m_view;

    ItemDetail detail;
    const Outcome loaded = Guarded([&] {
        detail = LoadItemDetail(m_session, code, selected);
        return Outcome::success();
    });
    if (!ShowOutcome(m_session.feedback(), loaded))
        return;
    if (const auto& p = detail.records.part) {
        m_ui->TxtName->setText(p->name);
        m_ui->TxtZL->setText(p->weight);
        m_ui->TxtMat->setText(p->material);
        for (QLineEdit* box : {m_ui->TxtName, m_ui->TxtZL, m_ui->TxtMat})
            DisableButKeepLegible(box);
    }
    if (const auto& d = detail.records.drawing) {
        m_ui->TxtDesign->setText(d->design);
        m_ui->TxtVerify->setText(d->verify);
        m_ui->TxtMain->setText(d->main);
        m_ui->TxtHead->setText(d->head);
        m_ui->TxtBZ->setText(d->standard);
        m_ui->TxtGY->setText(d->process);
        m_ui->TxtDate->setText(d->date);
        m_ui->TxtBL->setText(d->scale);
        m_ui->TxtBM->setText(d->coding);
        m_ui->TxtFM->setText(d->sheetSize);
        m_ui->TxtTotal->setText(d->pages);
        m_ui->TxtTY->setText(d->mark);
    }
    m_ui->LblMsg->setText(detail.caption);
    // The fetch comes last, so a click on another line meanwhile finds this view complete.
    if (detail.preview)
        showPreview(view, code, *detail.preview);
}

void FrmSeekItemInfo::showPreview(quint64 view, const QString& code, const PreviewSource& source) {
    if (const auto kept = m_pictures.constFind(source.key); kept != m_pictures.constEnd()) {
        m_ui->Dwg->setPicture(kept->image, QString(), kept->reason);
        return;
    }
    // An earlier view's fetch may still hold the window's connection: this one waits for it there.
    const TransferRunner run = [this](const TransferOperation& operation) { return m_transfer->run(operation); };
    // A check-in cut off after its commit left the new file under its staged name: it is put in place
    // first, as a check-out does, or the picture would show the version before, or none.
    if (source.version > 0) {
        const Outcome recovered = DrawingLibrary(m_session, run).Recover(source.code);
        if (view != m_view)
            return;
        if (!recovered.done()) {
            m_ui->Dwg->showBlank();
            m_session.feedback().stop(SeekText::PreviewFailed(code, recovered.text));
            return;
        }
    }
    // Each fetch lands under its own name; only the latest view's copy takes the window's name.
    const QString landing = m_previewFile + QLatin1Char('.') + QString::number(view);
    QFile::remove(landing);
    const QString command = GetCommand(source.remotePath, landing);
    const QString url = source.url;
    const TransferResult result = run([url, command](FtpClient& client, const TransferProgress& progress) {
        return client.Execute(url, command, progress);
    });
    if (view != m_view) {
        QFile::remove(landing);
        return;
    }
    if (!result) {
        QFile::remove(landing);
        m_ui->Dwg->showBlank();
        m_session.feedback().stop(SeekText::PreviewFailed(code, result.message));
        return;
    }
    QFile::remove(m_previewFile);
    if (!QFile::rename(landing, m_previewFile)) {
        QFile::remove(landing);
        m_session.feedback().stop(SeekText::PreviewFailed(code, QStringLiteral("无法保存到%1").arg(m_previewFile)));
        return;
    }
    m_ui->Dwg->setPath(m_previewFile);
    if (m_pictureOrder.size() >= kKeptPictures)
        m_pictures.remove(m_pictureOrder.takeFirst());
    m_pictures.insert(source.key, {m_ui->Dwg->image(), m_ui->Dwg->reason()});
    m_pictureOrder << source.key;
}

} // namespace velda
