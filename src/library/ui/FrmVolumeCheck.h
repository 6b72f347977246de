#pragma once

#include "library/VolumeCheck.h"

#include <QWidget>

#include <memory>

namespace Ui {
class FrmVolumeCheck;
}

namespace velda {

class Session;
class FormTransfer;

// Compares the library with its volumes and lists what does not match; leftovers of interrupted
// transfers can be cleared and orphans set aside from here.
class FrmVolumeCheck final : public QWidget {
    Q_OBJECT
public:
    explicit FrmVolumeCheck(Session& session, QWidget* parent = nullptr);
    ~FrmVolumeCheck() override;

    const VolumeCheckResult& result() const { return m_result; }

private:
    void CmdCheck_Click();
    void CmdExport_Click();
    void CmdClean_Click();
    void CmdMoveOrphans_Click();
    void CmdVerify_Click();
    void CmdKeepVersions_Click();
    void fillTable();
    // Runs one command under the session's command guard with the form's actions off.

    Session& m_session;
    std::unique_ptr<Ui::FrmVolumeCheck> m_ui;
    FormTransfer* m_transfer = nullptr;
    std::unique_ptr<VolumeCheck> m_check;
    VolumeCheckResult m_result;
    bool m_checked = false;
};

} // namespace velda
