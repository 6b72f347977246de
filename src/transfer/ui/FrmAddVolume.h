#pragma once

#include "core/TransferOptions.h"

#include <QWidget>

#include <memory>

namespace Ui {
class FrmAddVolume;
}

namespace velda {

class FormTransfer;
class Session;

// Creates a storage volume: its folder on the typed server, then its record.
class FrmAddVolume final : public QWidget {
    Q_OBJECT
public:
    explicit FrmAddVolume(Session& session, QWidget* parent = nullptr);
    ~FrmAddVolume() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void CmdAct_Click();
    void CmdCancel_Click();
    // The encryption of the volume chosen in the list: shown, changed, and its server's new key accepted.
    void LstVolume_Click();
    void CmdSaveTls_Click();
    void CmdAcceptKey_Click();
    FtpTlsMode chosenTls() const;

    Session& m_session;
    std::unique_ptr<Ui::FrmAddVolume> m_ui;
    FormTransfer* m_inet1 = nullptr; // owned by the form
};

} // namespace velda
