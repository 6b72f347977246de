#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmGroup;
}

namespace velda {

class Session;

// Adds and deletes groups, and changes a group's storage volume; the main window disables the
// controls of the other functions.
class FrmGroup final : public QWidget {
    Q_OBJECT
public:
    explicit FrmGroup(Session& session, QWidget* parent = nullptr);
    ~FrmGroup() override;

private:
    void Form_Load();
    void CmdAdd_Click();
    void CmdDel_Click();
    void CmdVolume_Click();
    void LstGrp_Click();
    void CmdCancel_Click();

    void removeGroupEntry(const QString& name);

    Session& m_session;
    std::unique_ptr<Ui::FrmGroup> m_ui;
};

} // namespace velda
