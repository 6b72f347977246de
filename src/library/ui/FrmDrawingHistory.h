#pragma once

#include "library/Versions.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace Ui {
class FrmDrawingHistory;
}

namespace velda {

class DrawingHistory;
class FormTransfer;
class Session;

// The kept versions of one drawing, newest first, with the picture of the one chosen; a version is
// fetched into a folder or made the current one from here.
class FrmDrawingHistory final : public QWidget {
    Q_OBJECT
public:
    explicit FrmDrawingHistory(Session& session, QWidget* parent = nullptr);
    ~FrmDrawingHistory() override;

    // Shows the drawing's versions (the item search's detail and the library's lists open it so).
    Q_INVOKABLE void ShowCode(const QString& code);

private:
    void CmdShow_Click();
    void LstVersions_Click();
    void CmdFetch_Click();
    void CmdRestore_Click();
    const VersionRow* chosen() const;

    Session& m_session;
    std::unique_ptr<Ui::FrmDrawingHistory> m_ui;
    FormTransfer* m_transfer = nullptr;
    std::unique_ptr<DrawingHistory> m_history;
    QString m_code;
    std::vector<VersionRow> m_versions;
};

} // namespace velda
