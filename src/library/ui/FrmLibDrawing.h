#pragma once

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class FrmLibDrawing;
}

namespace velda {

class Session;
class FormTransfer;
class BatchControls;
class DrawingLibrary;
struct Outcome;

// The single-drawing dialog: check-in, check-out or deletion, as the main window prepared it.
class FrmLibDrawing final : public QWidget {
    Q_OBJECT
public:
    explicit FrmLibDrawing(Session& session, QWidget* parent = nullptr);
    ~FrmLibDrawing() override;

    // Fills in the code and the file as the user would, for the library list: in check-in mode the
    // rights are prepared as a file choice prepares them. Nothing runs until the user presses a button.
    void prefill(const QString& code, const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TxtName_MouseDown();
    // Where the chooser opens: the account's last drawing folder, else the home folder; for a
    // check-out with the drawing's name proposed.
    QString chooserStart(const QString& code, bool checkIn) const;
    void CmdInLib_Click();
    void CmdOutLib_Click();
    void CmdDel_Click();
    void CmdACS_Click();
    // Runs one library command with the session's command guard and the dialog's actions off.
    bool prepareRights(const QString& code);
    // One command with the bar and 停止 shown while it moves its file.
    void runTransferCommand(const QString& name, const QString& stoppedText, const std::function<Outcome()>& command);

    Session& m_session;
    std::unique_ptr<Ui::FrmLibDrawing> m_ui;
    FormTransfer* m_transfer = nullptr;
    std::unique_ptr<BatchControls> m_progress;
    std::unique_ptr<DrawingLibrary> m_library;
    QString m_rightsCode; // the code the pending lists were prepared for
};

} // namespace velda
