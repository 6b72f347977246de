#pragma once

#include "library/Versions.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace Ui {
class FrmDeletedDrawings;
}

namespace velda {

class DrawingHistory;
class FormTransfer;
class Session;

// The administrator's list of deleted drawings, with who deleted each when; 恢复 checks the newest
// version of one in again.
class FrmDeletedDrawings final : public QWidget {
    Q_OBJECT
public:
    explicit FrmDeletedDrawings(Session& session, QWidget* parent = nullptr);
    ~FrmDeletedDrawings() override;

    void Reload();

private:
    void CmdRestore_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmDeletedDrawings> m_ui;
    FormTransfer* m_transfer = nullptr;
    std::unique_ptr<DrawingHistory> m_history;
    std::vector<DeletedDrawing> m_deleted;
};

} // namespace velda
