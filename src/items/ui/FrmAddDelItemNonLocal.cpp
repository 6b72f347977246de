#include "items/ui/FrmAddDelItemNonLocal.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "ui_FrmAddDelItemNonLocal.h"

namespace velda {

namespace {
// Codes are kept in capitals: what is typed shows as it will be stored.
void upperCaseAsTyped(QLineEdit* box) {
    QObject::connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = box->cursorPosition();
        box->setText(upper);
        box->setCursorPosition(cursor);
    });
}
} // namespace

FrmAddDelItemNonLocal::FrmAddDelItemNonLocal(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmAddDelItemNonLocal>()), m_records(session) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 7575, 2310);
    m_ui->TxtDate->setText(BorrowDateText(session.clock().today()));
    for (QLineEdit* box : {m_ui->TxtPartCode, m_ui->TxtProductCode, m_ui->TxtAsmCode})
        upperCaseAsTyped(box);
    connect(m_ui->CmdAct, &QPushButton::clicked, this, &FrmAddDelItemNonLocal::CmdAct_Click);
    connect(m_ui->CmdDel, &QPushButton::clicked, this, &FrmAddDelItemNonLocal::CmdDel_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, [this] { CloseForm(this); });
}

FrmAddDelItemNonLocal::~FrmAddDelItemNonLocal() = default;

BorrowRecord FrmAddDelItemNonLocal::fromControls() const {
    return {m_ui->TxtPartCode->text(), m_ui->TxtProductCode->text(), m_ui->TxtAsmCode->text(), m_ui->TxtDate->text()};
}

void FrmAddDelItemNonLocal::CmdAct_Click() { ShowOutcome(m_session.feedback(), m_records.Add(fromControls())); }

void FrmAddDelItemNonLocal::CmdDel_Click() { ShowOutcome(m_session.feedback(), m_records.Delete(fromControls())); }

} // namespace velda
