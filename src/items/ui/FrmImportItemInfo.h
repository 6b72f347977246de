#pragma once

#include "items/RecordImport.h"

#include <QWidget>

#include <memory>

namespace Ui {
class FrmImportItemInfo;
}

namespace velda {

class CommandGuard;
class FtpClient;
class Session;
class TransferPool;
class TransferWatch;
struct ImportJob;

// Brings an office's part list into the part and drawing records: the file, its columns matched to
// the fields (the user's choices remembered for the account), the dry run, then the import with its
// progress, a stop between records, and the report of what each row did. The dry run and the import
// run on a worker of the dialog's own, on a connection of their own, while the window stays live.
class FrmImportItemInfo final : public QWidget {
    Q_OBJECT
public:
    explicit FrmImportItemInfo(Session& session, QWidget* parent = nullptr);
    ~FrmImportItemInfo() override;

    // The file to read, as the chooser would give it.
    void OpenFile(const QString& path);
    bool isRunning() const { return m_running; }

signals:
    // A dry run or an import has ended and what it did is shown.
    void workFinished();

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
    void rememberMapping();
    // Runs the dry run (when plan is set) and the import (when apply is set) off the window.
    void startWork(bool plan, bool apply);
    void workEnded();

    Session& m_session;
    std::unique_ptr<Ui::FrmImportItemInfo> m_ui;
    SheetTable m_table;
    ImportMapping m_mapping;
    ImportPlan m_plan;
    bool m_planned = false;
    bool m_running = false;
    bool m_filling = false;
    std::shared_ptr<ImportJob> m_job;
    std::unique_ptr<CommandGuard> m_command;
    TransferWatch* m_watch = nullptr;
    // Last, so that they go first: the worker has ended before anything it was given goes.
    std::unique_ptr<FtpClient> m_client;
    std::unique_ptr<TransferPool> m_pool;
};

} // namespace velda
