#pragma once

#include <QWidget>

#include <memory>

class QFileSystemModel;

namespace Ui {
class FrmMultiOutLib;
}

namespace velda {

class Session;
class FormTransfer;
class ConditionPanel;
class BatchControls;

// Checks out into one folder every drawing whose part or drawing record a condition finds.
class FrmMultiOutLib final : public QWidget {
    Q_OBJECT
public:
    explicit FrmMultiOutLib(Session& session, QWidget* parent = nullptr);
    ~FrmMultiOutLib() override;

    QString selectedFolder() const;
    void selectFolder(const QString& path);

private:
    void CmdOutLib_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmMultiOutLib> m_ui;
    ConditionPanel* m_panel = nullptr;
    QFileSystemModel* m_folders = nullptr;
    FormTransfer* m_transfer = nullptr;
    std::unique_ptr<BatchControls> m_batch;
};

} // namespace velda
