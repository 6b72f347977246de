#pragma once

#include "accounts/Acl.h"

#include <QWidget>

#include <memory>

class QListWidget;

namespace Ui {
class FrmACS;
}

namespace velda {

class Session;

// The rights editor: composes the four pending lists from the users and groups of the office.
class FrmACS final : public QWidget {
    Q_OBJECT
public:
    FrmACS(Session& session, QWidget* parent = nullptr);
    ~FrmACS() override;

    // Loads the users and groups and shows what the pending lists grant.
    void Form_Load();
    // The dialog whose rights button opened the editor last.
    void setRequester(QObject* requester) { m_requester = requester; }

signals:
    // The pending lists were just set by 确定, for the dialog that asked.
    void confirmed(QObject* requester);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void grant(RightsEditorModel::Right r);
    void withdraw(RightsEditorModel::Right r);
    void refresh();
    QListWidget* target(RightsEditorModel::Right r) const;
    void CmdAct_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmACS> m_ui;
    std::unique_ptr<RightsEditorModel> m_model;
    QObject* m_requester = nullptr;
};

// Opens the one rights editor over the pending lists as they stand and returns at once; the lists
// change only when the user confirms there.
FrmACS* ShowRightsEditor(Session& session, QWidget* caller);

} // namespace velda
