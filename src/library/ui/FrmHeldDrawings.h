#pragma once

#include "library/Holds.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace Ui {
class FrmHeldDrawings;
}

namespace velda {

class Session;

// Every drawing checked out, with who holds it and since when; a hold can be released from here.
class FrmHeldDrawings final : public QWidget {
    Q_OBJECT
public:
    explicit FrmHeldDrawings(Session& session, QWidget* parent = nullptr);
    ~FrmHeldDrawings() override;

    // Reads the holds again, keeping the chosen holder when he still holds something.
    void Reload();

private:
    void CboHolder_Click();
    void CmdRelease_Click();
    void fillTable();

    Session& m_session;
    std::unique_ptr<Ui::FrmHeldDrawings> m_ui;
    std::vector<HeldDrawing> m_holds;
};

} // namespace velda
