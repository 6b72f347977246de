#pragma once

#include "items/Borrowed.h"

#include <QWidget>

#include <memory>

namespace Ui {
class FrmAddDelItemNonLocal;
}

namespace velda {

class Session;

// Adds or deletes one borrow record; the menu disables the command that does not apply.
class FrmAddDelItemNonLocal final : public QWidget {
    Q_OBJECT
public:
    explicit FrmAddDelItemNonLocal(Session& session, QWidget* parent = nullptr);
    ~FrmAddDelItemNonLocal() override;

private:
    void CmdAct_Click();
    void CmdDel_Click();
    BorrowRecord fromControls() const;

    Session& m_session;
    std::unique_ptr<Ui::FrmAddDelItemNonLocal> m_ui;
    BorrowedParts m_records;
};

} // namespace velda
