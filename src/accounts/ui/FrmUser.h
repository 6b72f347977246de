#pragma once

#include "accounts/Users.h"

#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class FrmUser;
}

namespace velda {

class Session;

// Adds, deletes and edits user accounts; the main window's mode word says which.
class FrmUser final : public QWidget {
    Q_OBJECT
public:
    explicit FrmUser(Session& session, QWidget* parent = nullptr);
    ~FrmUser() override;

private:
    void Form_Load();
    void CboUser_Click();
    void CmdAdd_Click();
    void CmdDel_Click();
    void CmdEdit_Click();
    void CmdCancel_Click();
    void CmdUnlock_Click();
    // Administrators see the names locked out now and may end a lock-out.
    void showLocks();
    // What fits the account in the box: unlocking it, asking for its present password.
    void showAccountState();

    // The entries of LstGrp that are selected, in list order.
    QStringList selectedGroups() const;
    void clearAccountFields();
    // Shows the box for a command's outcome; adding and editing word a missing group differently.

    Session& m_session;
    std::unique_ptr<Ui::FrmUser> m_ui;
    QStringList m_locked;
};

} // namespace velda
