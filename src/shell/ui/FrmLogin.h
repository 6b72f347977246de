#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class FrmLogin;
}

namespace velda {

class Session;

// The login dialog. Loading it is the program's start-up: configuration, connection, groups.
class FrmLogin final : public QDialog {
    Q_OBJECT
public:
    explicit FrmLogin(Session& session, QWidget* parent = nullptr);
    ~FrmLogin() override;

    // A login that deletes itself when closed. Over an open main window (a change of account) it is that
    // window's dialog, so the window manager keeps it in front of it, yet not modal: the main window
    // stays usable while it is shown.
    static FrmLogin* open(Session& session, QWidget* mainWindow);

    // Start-up: reads the address (asking for it when none is stored), connects, lists the groups.
    void Form_Load();

signals:
    void loggedIn();

protected:
    void reject() override; // Escape and the close box act as 取消
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TxtUser_LostFocus();
    void CmdAct_Click();
    void CmdCancel_Click();
    // Shows the server dialog (pre-filled when an address is given); true once it connected.
    bool askForAddress(const QString& address);

    Session& m_session;
    std::unique_ptr<Ui::FrmLogin> m_ui;
};

} // namespace velda
