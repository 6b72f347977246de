#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class FrmSQLServer;
}

namespace velda {

class Session;

// Asks for the database server address ("None" for the local file) and connects to it: when none is
// stored, and when the stored one cannot be reached. An address is stored only once a connection to
// it has opened, so a mistyped one never traps the next start; a failed one stays in the box to be
// corrected.
class FrmSQLServer final : public QDialog {
    Q_OBJECT
public:
    explicit FrmSQLServer(Session& session, QWidget* parent = nullptr);
    ~FrmSQLServer() override;

    // Puts an address into the box for the user to correct, all of it selected.
    void setAddress(const QString& address);

private:
    void CmdOK_Click();
    bool eventFilter(QObject* watched, QEvent* event) override;

    Session& m_session;
    std::unique_ptr<Ui::FrmSQLServer> m_ui;
};

} // namespace velda
