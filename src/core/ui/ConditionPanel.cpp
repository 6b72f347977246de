#include "core/ui/ConditionPanel.h"

#include "core/Outcome.h"
#include "core/Session.h"
#include "ui_ConditionPanel.h"

#include <QKeyEvent>

namespace velda {

ConditionPanel::ConditionPanel(QWidget* parent) : QGroupBox(parent), m_ui(std::make_unique<Ui::ConditionPanel>()) {
    m_ui->setupUi(this);
    // The count appears only once a search has found rows.
    m_ui->LblNum->setVisible(false);
    m_ui->TxtAttr->installEventFilter(this);
    connect(m_ui->CmdAdd, &QPushButton::clicked, this, &ConditionPanel::CmdAdd_Click);
    connect(m_ui->OptAnd, &QRadioButton::clicked, this, &ConditionPanel::OptAnd_Click);
    connect(m_ui->OptOr, &QRadioButton::clicked, this, &ConditionPanel::OptOr_Click);
    connect(m_ui->OptNot, &QRadioButton::clicked, this, &ConditionPanel::OptNot_Click);
    connect(m_ui->CmdClear, &QPushButton::clicked, this, &ConditionPanel::CmdClear_Click);
}

ConditionPanel::~ConditionPanel() = default;

void ConditionPanel::configure(Session& session, const ConditionConfig& config) {
    m_session = &session;
    m_config = config;
    if (!config.caption.isEmpty())
        setTitle(config.caption);
    m_ui->LblNum->setVisible(false);

    m_ui->CboSym->clear();
    m_ui->CboSym->addItems(ComparisonWords());
    m_ui->CboSym->setCurrentIndex(0);

    m_ui->CboAttr->clear();
    QStringList offered;
    const Outcome read = Guarded([&] {
        offered = OfferedColumns(session.db(), config);
        return Outcome::success();
    });
    if (!ShowOutcome(session.feedback(), read))
        return;
    m_ui->CboAttr->addItems(offered);
    if (m_ui->CboAttr->count() > 0)
        m_ui->CboAttr->setCurrentIndex(0);
}

QString ConditionPanel::conditionText() const { return m_ui->TxtCond->text(); }

std::optional<FoundRows> ConditionPanel::run(const std::function<void()>& onStart) { return run(m_config, onStart); }

std::optional<FoundRows> ConditionPanel::run(const ConditionConfig& current, const std::function<void()>& onStart) {
    if (!m_session)
        return std::nullopt;
    FoundRows found;
    const Outcome outcome = RunConditionSearch(*m_session, current, conditionText(), found, [&] {
        if (current.clearsCountOnRun)
            m_ui->LblNum->clear();
        if (onStart)
            onStart();
    });
    if (!ShowOutcome(m_session->feedback(), outcome))
        return std::nullopt;
    return found;
}

void ConditionPanel::setCount(int rows) {
    m_ui->LblNum->setText(CountText(rows));
    m_ui->LblNum->setVisible(m_config.showsCount);
}

void ConditionPanel::placeCommand(QWidget* command) { m_ui->commandSlot->addWidget(command); }

bool ConditionPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->TxtAttr && event->type() == QEvent::KeyPress)
        return TxtAttr_KeyPress(static_cast<QKeyEvent*>(event));
    return QGroupBox::eventFilter(watched, event);
}

void ConditionPanel::CmdAdd_Click() {
    m_ui->TxtCond->setText(m_ui->TxtCond->text() + ComposeClause(m_ui->CboAttr->currentText(),
                                                                 m_ui->CboSym->currentText(), m_ui->TxtAttr->text()));
}

void ConditionPanel::OptAnd_Click() { appendJoin(m_ui->OptAnd, ConditionText::And); }
void ConditionPanel::OptOr_Click() { appendJoin(m_ui->OptOr, ConditionText::Or); }
void ConditionPanel::OptNot_Click() { appendJoin(m_ui->OptNot, ConditionText::Not); }

void ConditionPanel::appendJoin(QRadioButton* option, const QString& word) {
    m_ui->TxtCond->setText(m_ui->TxtCond->text() + JoinWord(word));
    // Unchecked again at once, so the option acts as a button that can be clicked any number of times.
    option->setChecked(false);
}

void ConditionPanel::CmdClear_Click() { m_ui->TxtCond->clear(); }

bool ConditionPanel::TxtAttr_KeyPress(QKeyEvent* event) {
    if (!m_config.upperCaseValues)
        return false;
    const QString typed = event->text();
    if (typed.size() != 1 || typed[0] < QLatin1Char('a') || typed[0] > QLatin1Char('z'))
        return false;
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    m_ui->TxtAttr->insert(typed.toUpper());
    return true;
}

} // namespace velda
