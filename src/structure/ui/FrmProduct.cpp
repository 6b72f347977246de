#include "structure/ui/FrmProduct.h"

#include "core/Session.h"
#include "core/ui/Forms.h"
#include "structure/StructureStore.h"
#include "structure/ui/FrmView.h"
#include "ui_FrmProduct.h"

namespace velda {

FrmProduct::FrmProduct(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_ui(std::make_unique<Ui::FrmProduct>()) {
    m_ui->setupUi(this);
    SizeFormInTwips(this, 3570, 2445);
    m_ui->StatusBar->hide();
    connect(m_ui->CboProductCode, &QComboBox::currentIndexChanged, this, &FrmProduct::CboProductCode_Click);
    connect(m_ui->CmdOK, &QPushButton::clicked, this, &FrmProduct::CmdOK_Click);
    connect(m_ui->CmdCancel, &QPushButton::clicked, this, &FrmProduct::CmdCancel_Click);
    Form_Load();
}

FrmProduct::~FrmProduct() = default;

void FrmProduct::Form_Load() {
    const Loaded<QStringList> products = StoredProducts(m_session);
    if (!ShowOutcome(m_session.feedback(), products.outcome))
        return;
    {
        const QSignalBlocker quiet(m_ui->CboProductCode);
        m_ui->CboProductCode->addItems(products.value);
    }
    if (m_ui->CboProductCode->count() > 0) {
        m_ui->CboProductCode->setCurrentIndex(0);
        CboProductCode_Click();
    }
}

void FrmProduct::CboProductCode_Click() {
    m_ui->CboAsmCode->clear();
    const Loaded<QStringList> sections = StoredSections(m_session, m_ui->CboProductCode->currentText());
    if (!ShowOutcome(m_session.feedback(), sections.outcome))
        return;
    m_ui->CboAsmCode->addItems(sections.value);
    if (m_ui->CboAsmCode->count() > 0)
        m_ui->CboAsmCode->setCurrentIndex(0);
}

void FrmProduct::CmdOK_Click() {
    const Outcome chosen =
        ChooseStructure(m_session, m_ui->CboProductCode->currentText(), m_ui->CboAsmCode->currentText());
    if (!ShowOutcome(m_session.feedback(), chosen))
        return;
    m_ui->StatusBar->showMessage(StructureText::Loading);
    m_ui->StatusBar->show();
    m_ui->StatusBar->repaint();
    // The main window owns the one structure window; without one it stands on its own.
    if (!ShowOtherForm(this, QStringLiteral("FrmView"))) {
        auto* view = new FrmView(m_session);
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->show();
    }
    CloseForm(this);
}

void FrmProduct::CmdCancel_Click() { CloseForm(this); }

} // namespace velda
