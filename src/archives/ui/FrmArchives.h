#pragma once

#include "archives/Archives.h"

#include <QMetaObject>
#include <QWidget>

#include <memory>

namespace Ui {
class FrmArchives;
}

namespace velda {

class Session;

// Product archive records: added, viewed and edited, or deleted, by the mode the menu left.
class FrmArchives final : public QWidget {
    Q_OBJECT
public:
    explicit FrmArchives(Session& session, QWidget* parent = nullptr);
    ~FrmArchives() override;

    // The rights lists the dialog will write: the shown record's, the defaults when adding, or
    // what the rights editor returned to this dialog.
    const ArchiveRights& rights() const { return m_rights; }

private:
    void Form_Load();
    void CboCode_Click();
    void CmdAdd_Click();
    void CmdEdit_Click();
    void CmdDel_Click();
    void CmdACS_Click();

    ArchiveRecord fromControls(const QString& code) const;
    void showRecord(const ArchiveRecord& record);
    void setRights(const ArchiveRights& rights);

    Session& m_session;
    std::unique_ptr<Ui::FrmArchives> m_ui;
    Archives m_archives;
    ArchiveRights m_rights;
    QMetaObject::Connection m_acsConnection;
};

} // namespace velda
