#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmDelVolume;
}

namespace velda {

class FormTransfer;
class Session;

// Removes a storage volume nothing uses any more: its folder on its server, then its record.
class FrmDelVolume final : public QWidget {
    Q_OBJECT
public:
    explicit FrmDelVolume(Session& session, QWidget* parent = nullptr);
    ~FrmDelVolume() override;

private:
    void Form_Load();
    void CmdAct_Click();
    void CmdCancel_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmDelVolume> m_ui;
    FormTransfer* m_inet1 = nullptr; // owned by the form
};

} // namespace velda
