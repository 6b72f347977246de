#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class FrmSQLServer;
}

namespace velda {

class Session;

// Asks once for the database server address ("None" for the local file) and connects to it.
class FrmSQLServer final : public QDialog {
    Q_OBJECT
public:
    explicit FrmSQLServer(Session& session, QWidget* parent = nullptr);
    ~FrmSQLServer() override;

private:
    void CmdOK_Click();
    bool eventFilter(QObject* watched, QEvent* event) override;

    Session& m_session;
    std::unique_ptr<Ui::FrmSQLServer> m_ui;
};

} // namespace velda
