#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmGrpMember;
}

namespace velda {

class Session;

// Shows which accounts belong to each group.
class FrmGrpMember final : public QWidget {
    Q_OBJECT
public:
    explicit FrmGrpMember(Session& session, QWidget* parent = nullptr);
    ~FrmGrpMember() override;

private:
    void Form_Load();
    void LstGrp_Click();
    void CmdCancel_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmGrpMember> m_ui;
};

} // namespace velda
