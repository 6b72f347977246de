#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmGroup;
}

namespace velda {

class Session;

// Adds and deletes groups; the main window disables the controls of the other function.
class FrmGroup final : public QWidget {
    Q_OBJECT
public:
    explicit FrmGroup(Session& session, QWidget* parent = nullptr);
    ~FrmGroup() override;

private:
    void Form_Load();
    void CmdAdd_Click();
    void CmdDel_Click();
    void CmdCancel_Click();

    void removeGroupEntry(const QString& name);

    Session& m_session;
    std::unique_ptr<Ui::FrmGroup> m_ui;
};

} // namespace velda
