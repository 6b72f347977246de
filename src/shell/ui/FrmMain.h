#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>

class QLabel;
class QMdiArea;
class QMdiSubWindow;

namespace velda {

class FormRegistry;
class FrmHelp;
class LibraryWorkspace;
class Session;
struct Command;

// A command met its dialog open from another function, whose preparation keeps this one's controls off.
inline QString LeftoverPreparationText(const QString& window, const QString& function) {
    return QStringLiteral("“%1”窗口仍保留打开时所选功能的设置，“%2”所需的按钮不可用。请关闭该窗口，再选择“%2”。")
        .arg(window, function);
}

// The main window: the whole menu, each command's gates and mode word, and the dialogs it opens.
class FrmMain final : public QMainWindow {
    Q_OBJECT
public:
    FrmMain(Session& session, const FormRegistry& forms, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Runs the menu command of that item name, exactly as choosing it from the menu does.
    void RunCommand(const QString& item);
    // The open instance of a dialog, or nullptr.
    QWidget* openForm(const QString& name) const;
    QMdiArea* mdiArea() const { return m_mdi; }
    // The library list under the dialogs.
    LibraryWorkspace* workspace() const { return m_workspace; }
    // Shows a form by name as its menu command would, without the command's gates; a form opens
    // another through this.
    Q_INVOKABLE void ShowForm(const QString& name) { showForm(name, {}); }
    // Shows in the status bar who is logged in, with which group, on which database; called after
    // each login.
    void RefreshStatus();

signals:
    void reLoginRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows the login volume and, once found out off this thread, whether its FTP server answers.
    void probeVolume();
    void buildMenu();
    void runCommand(const QString& item);
    void showForm(const QString& name, const QStringList& disable);
    void keepAtCorner();
    QMdiSubWindow* liveWindow(const QString& name) const;
    // Window arrangements kept for the logged-in account, as base64 text in the configuration.
    QByteArray readPlace(const QString& name) const;
    void storePlace(const QString& name, const QByteArray& place) const;
    void storeMainPlace() const;
    void explainLeftoverPreparation(const Command& command);

    Session& m_session;
    QMdiArea* m_mdi = nullptr;
    LibraryWorkspace* m_workspace = nullptr;
    QPointer<QWidget> m_lastShown; // the form the last command showed
    const FormRegistry& m_forms;
    QMap<QString, QPointer<QMdiSubWindow>> m_open;
    bool m_closing = false;
    QPointer<FrmHelp> m_help;
    QLabel* m_statusUser = nullptr;
    QLabel* m_statusGroup = nullptr;
    QLabel* m_statusServer = nullptr;
    QLabel* m_statusVolume = nullptr;
    QLabel* m_statusLockIcon = nullptr;
    QLabel* m_statusLock = nullptr; // shown while both the database and the volume's transfers are encrypted
    QString m_probedVolume; // the volume and server whose answer the status line shows or awaits
};

} // namespace velda
