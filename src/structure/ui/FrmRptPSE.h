#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class FrmRptPSE;
}

namespace velda {

class Session;

// Chooses the kind of a structure report and proves the check-in password of the selected node's section.
class FrmRptPSE final : public QDialog {
    Q_OBJECT
public:
    FrmRptPSE(Session& session, QString sectionCode, QWidget* parent = nullptr);
    ~FrmRptPSE() override;

private:
    void Form_Load();
    void CboKind_Click();
    void CmdPreView_Click();
    void CmdPrint_Click();
    void CmdCancel_Click();
    void choose(const QString& action);

    Session& m_session;
    QString m_section;
    std::unique_ptr<Ui::FrmRptPSE> m_ui;
};

} // namespace velda
