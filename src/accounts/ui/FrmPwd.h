#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmPwd;
}

namespace velda {

class Session;

// Records the file-server account's password for this machine.
class FrmPwd final : public QWidget {
    Q_OBJECT
public:
    explicit FrmPwd(Session& session, QWidget* parent = nullptr);
    ~FrmPwd() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CmdAct_Click();
    void CmdCancel_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmPwd> m_ui;
};

} // namespace velda
