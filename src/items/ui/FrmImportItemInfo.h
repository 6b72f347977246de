#pragma once

#include "items/RecordImport.h"

#include <QWidget>

#include <memory>

namespace Ui {
class FrmImportItemInfo;
}

namespace velda {

class Session;

// Brings an office's part list into the part and drawing records: the file, its columns matched to
// the fields (the user's choices remembered for the account), the dry run, then the import with its
// progress, a stop between records, and the report of what each row did.
class FrmImportItemInfo final : public QWidget {
    Q_OBJECT
public:
    explicit FrmImportItemInfo(Session& session, QWidget* parent = nullptr);
    ~FrmImportItemInfo() override;

    // The file to read, as the chooser would give it.
    void OpenFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CmdBrowse_Click();
    void CmdDryRun_Click();
    void CmdImport_Click();
    void CmdReport_Click();
    void CmdExport_Click();
    void ChkUsersMayImport_Click();
    void readFile();
    void fillMapping();
    void mappingChanged();
    void showPlan();
    void setRunning(bool running);

    Session& m_session;
    std::unique_ptr<Ui::FrmImportItemInfo> m_ui;
    SheetTable m_table;
    ImportMapping m_mapping;
    ImportPlan m_plan;
    bool m_planned = false;
    bool m_stop = false;
    bool m_running = false;
    bool m_filling = false;
};

} // namespace velda
