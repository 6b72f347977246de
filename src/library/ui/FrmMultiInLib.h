#pragma once

#include <QStringList>
#include <QWidget>

#include <memory>

class QFileSystemModel;
class QLabel;

namespace Ui {
class FrmMultiInLib;
}

namespace velda {

class Session;
class FormTransfer;
class BatchControls;

// Checks in every drawing of a folder (and its sub-folders, on request).
class FrmMultiInLib final : public QWidget {
    Q_OBJECT
public:
    explicit FrmMultiInLib(Session& session, QWidget* parent = nullptr);
    ~FrmMultiInLib() override;

    // The folder the tree has selected (tests and the batch read it).
    QString selectedFolder() const;
    void selectFolder(const QString& path);
    // Files dropped on the library list: the next 入库 takes exactly these instead of the folder's,
    // until another folder is chosen.
    void setFiles(const QStringList& files);

private:
    void CmdInLib_Click();
    void CmdACS_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmMultiInLib> m_ui;
    QFileSystemModel* m_folders = nullptr;
    FormTransfer* m_transfer = nullptr;
    QStringList m_composed; // the lists confirmed in the editor this dialog opened
    QMetaObject::Connection m_acsConnection;
    std::unique_ptr<BatchControls> m_batch;
    QStringList m_dropped;
    QLabel* m_droppedLabel = nullptr;
};

} // namespace velda
