#pragma once

#include "logview/LogListModel.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class FrmLog;
}

namespace velda {

class ConditionPanel;
class Session;

// The activity-log viewer: search with a composed condition, delete and export what was found.
class FrmLog final : public QWidget {
    Q_OBJECT
public:
    explicit FrmLog(Session& session, QWidget* parent = nullptr);
    ~FrmLog() override;

    LogListModel& model() { return m_model; }
    // True while a search, deletion or export is under way.
    bool busy() const { return m_busy; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CmdSeek_Click();
    void CmdDel_Click();
    void CmdDelAll_Click();
    void CmdOut_Click();
    void CmdOutAll_Click();

    // Runs work on a worker thread while the window stays live and its commands are held off.
    void runInBackground(const std::function<void()>& work);
    void setBusy(bool busy);
    // Runs the condition on a worker and lists the rows; quiet leaves out the "none found" box.
    bool search(const QString& condition, bool quiet);
    // Deletes the rows and lists again what the last search's condition now finds.
    bool deleteRows(const std::vector<qint64>& seqs);
    void exportRows(const std::vector<int>& which);
    std::vector<int> selectedRows() const;
    void sizeColumns();

    Session& m_session;
    std::unique_ptr<Ui::FrmLog> m_ui;
    ConditionPanel* m_panel = nullptr;
    LogListModel m_model;
    QString m_listedCondition; // the condition whose rows the list shows
    bool m_busy = false;
};

} // namespace velda
