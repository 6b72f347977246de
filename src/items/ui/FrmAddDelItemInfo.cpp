#include "items/ui/FrmAddDelItemInfo.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "items/ItemRecords.h"
#include "ui_FrmAddDelItemInfo.h"

#include <QFocusEvent>

namespace velda {

namespace {

void fill(QComboBox* box, const QStringList& entries, const QString& chosen) {
    box->clear();
    box->addItems(entries);
    const int at = static_cast<int>(entries.indexOf(chosen));
    box->setCurrentIndex(at >= 0 ? at : 0);
}

} // namespace

FrmAddDelItemInfo::FrmAddDelItemInfo(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmAddDelItemInfo>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 7440, 4470);
    fill(m_ui->CboBL, ScaleList(), kDefaultScale);
    fill(m_ui->CboSize, SheetSizeList(), kDefaultSheetSize);
    fill(m_ui->CboTotal, PageCountList(), PageCountList().constFirst());
    fill(m_ui->CboSym, DrawingMarkList(), DrawingMarkList().constFirst());
    m_ui->TxtDate->setText(DateBoxText(session.clock().today()));
    const Outcome materials = Guarded([&] {
        const QStringList list = MaterialList(session.db());
        fill(m_ui->CboMat, list, list.value(0));
        return Outcome::success();
    });
    ShowOutcome(session.feedback(), materials);

    // The records keep their texts as typed, blanks and all; only the length is held to what the library takes.
    MakeCodeBox(m_ui->TxtCode);
    m_ui->TxtCode->installEventFilter(this);
    connect(m_ui->TxtCode, &QLineEdit::textChanged, this, &FrmAddDelItemInfo::TxtCode_Change);
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmAddDelItemInfo::CmdAct_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmAddDelItemInfo::CmdDel_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmAddDelItemInfo::~FrmAddDelItemInfo() = default;

bool FrmAddDelItemInfo::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the box for another control of this dialog, not another window or a message box taking
    // the focus for a moment.
    if (watched == m_ui->TxtCode && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            TxtCode_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

// Typed, pasted or dropped: the code is held in capitals, so its kind is judged on what is stored.
void FrmAddDelItemInfo::TxtCode_Change() {
    QLineEdit* box = m_ui->TxtCode;
    const QString upper = UpperCaseCode(box->text());
    if (upper == box->text())
        return;
    const int cursor = box->cursorPosition();
    box->setText(upper);
    box->setCursorPosition(cursor);
}

void FrmAddDelItemInfo::TxtCode_LostFocus() {
    const QString code = m_ui->TxtCode->text();
    if (code.isEmpty())
        return;
    for (QLineEdit* box : {m_ui->TxtName, m_ui->TxtZL, m_ui->TxtDesign, m_ui->TxtVerify, m_ui->TxtMain, m_ui->TxtHead,
                           m_ui->TxtBZ, m_ui->TxtGY, m_ui->TxtBM})
        box->clear();
    if (m_ui->CmdDel->isEnabled()) {
        for (QComboBox* box : {m_ui->CboSize, m_ui->CboTotal, m_ui->CboSym, m_ui->CboMat, m_ui->CboBL})
            box->setEditText(QString());
        m_ui->TxtDate->clear();
    }
    ItemRecords records;
    const Outcome loaded = Guarded([&] {
        records = LoadItemRecords(m_session.db(), code);
        return Outcome::success();
    });
    if (!ShowOutcome(m_session.feedback(), loaded))
        return;
    if (records.part) {
        m_ui->TxtName->setText(records.part->name);
        m_ui->TxtZL->setText(records.part->weight);
        m_ui->CboMat->setEditText(records.part->material);
    }
    if (const auto& d = records.drawing) {
        m_ui->TxtDesign->setText(d->design);
        m_ui->TxtVerify->setText(d->verify);
        m_ui->TxtMain->setText(d->main);
        m_ui->TxtHead->setText(d->head);
        m_ui->TxtBZ->setText(d->standard);
        m_ui->TxtGY->setText(d->process);
        m_ui->TxtDate->setText(d->date);
        m_ui->CboBL->setEditText(d->scale);
        m_ui->TxtBM->setText(d->coding);
        m_ui->CboSize->setEditText(d->sheetSize);
        m_ui->CboTotal->setEditText(d->pages);
        m_ui->CboSym->setEditText(d->mark);
    }
}

void FrmAddDelItemInfo::CmdAct_Click() {
    ItemEntry e;
    e.code = m_ui->TxtCode->text();
    e.part = {m_ui->TxtName->text(), m_ui->TxtZL->text(), m_ui->CboMat->currentText()};
    e.drawing = {m_ui->TxtDesign->text(),      m_ui->TxtVerify->text(),       m_ui->TxtMain->text(),
                 m_ui->TxtHead->text(),        m_ui->TxtBZ->text(),           m_ui->TxtGY->text(),
                 m_ui->TxtDate->text(),        m_ui->CboBL->currentText(),    m_ui->TxtBM->text(),
                 m_ui->CboSize->currentText(), m_ui->CboTotal->currentText(), m_ui->CboSym->currentText()};
    ShowOutcome(m_session.feedback(), AddItemRecords(m_session, e));
}

void FrmAddDelItemInfo::CmdDel_Click() {
    ShowOutcome(m_session.feedback(), DeleteItemRecords(m_session, m_ui->TxtCode->text()));
}

} // namespace velda
