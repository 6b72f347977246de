#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmAddDelItemInfo;
}

namespace velda {

class Session;

// Adds or deletes the part and drawing records of one code; the main window leaves only the button
// of the chosen function enabled.
class FrmAddDelItemInfo final : public QWidget {
    Q_OBJECT
public:
    explicit FrmAddDelItemInfo(Session& session, QWidget* parent = nullptr);
    ~FrmAddDelItemInfo() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TxtCode_Change();
    void TxtCode_LostFocus();
    void CmdAct_Click();
    void CmdDel_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmAddDelItemInfo> m_ui;
};

} // namespace velda
