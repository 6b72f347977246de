#pragma once

#include "core/Condition.h"

#include <QGroupBox>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QRadioButton;

namespace Ui {
class ConditionPanel;
}

namespace velda {

class Session;

// The frame in which a user composes a search condition clause by clause; the item search, the
// batch check-out and the log viewer embed it and differ only in its configuration.
class ConditionPanel final : public QGroupBox {
    Q_OBJECT
public:
    explicit ConditionPanel(QWidget* parent = nullptr);
    ~ConditionPanel() override;

    // The dialog's load: the attributes of the configured table (the first one chosen), the six
    // comparison words (the first one chosen) and the frame's caption. A failure to read the table
    // is shown as its description and leaves the attribute box empty.
    void configure(Session& session, const ConditionConfig& config);
    const ConditionConfig& config() const { return m_config; }

    QString conditionText() const;

    // The search with the configuration given at load, or with one of the moment (the item
    // search's mode may have changed since). Returns the rows, or nullopt once the reason has been
    // shown. onStart runs when the search really starts, for the dialog to empty its result list.
    std::optional<FoundRows> run(const std::function<void()>& onStart = {});
    std::optional<FoundRows> run(const ConditionConfig& current, const std::function<void()>& onStart = {});

    // Shows "共n条记录" in LblNum, for the dialogs that show a count.
    void setCount(int rows);

    // Puts the dialog's own command (its 查询 button) into the frame, beside the condition text.
    void placeCommand(QWidget* command);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CmdAdd_Click();
    void OptAnd_Click();
    void OptOr_Click();
    void OptNot_Click();
    void CmdClear_Click();
    bool TxtAttr_KeyPress(QKeyEvent* event);

    void appendJoin(QRadioButton* option, const QString& word);

    Session* m_session = nullptr;
    ConditionConfig m_config;
    std::unique_ptr<Ui::ConditionPanel> m_ui;
};

} // namespace velda
