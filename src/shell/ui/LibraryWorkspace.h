#pragma once

#include "library/DrawingLibrary.h"
#include "library/LibraryList.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSqlDriver;
class QTableView;
class QTimer;
class QToolBar;

namespace velda {

class DwgView;
class FormTransfer;
class FtpClient;
class Session;
class TransferPool;
class WorkingFolder;

// The library itself in the main window: every drawing with its state, holder and local copy, a quick
// filter, the details and preview of the selected one, and the actions on the selection. The actions
// run the commands the dialogs run, through their gates, with their messages and log rows: a single
// check-in opens its dialog filled in for the user to confirm; check-out, open, release and deletion
// call the library's own operations. Another client's change shows within a second or two.
class LibraryWorkspace final : public QWidget {
    Q_OBJECT
public:
    // runCommand runs a menu command as the menu does and answers the dialog it opened (or nullptr).
    LibraryWorkspace(Session& session, std::function<QWidget*(const QString& item)> runCommand,
                     QWidget* parent = nullptr);
    ~LibraryWorkspace() override;

    // Reads the library again for the account logged in now (after each login). A list longer than a
    // page shows its first page at once and the rest once read away from the window.
    void Reload();
    // Whether the rest of the list is being read.
    bool isLoading() const { return m_loading; }
    // Looks for another client's change and shows it (the timer's tick; tests call it at once).
    void CheckForChanges();
    // Keeps the column arrangement for the account (the main window, as it closes or changes account).
    void StoreColumns() const;

    LibraryListModel* model() const { return m_model; }
    QTableView* view() const { return m_view; }
    QString workingFolder() const;
    // The codes of the selected rows, in the list's order.
    QStringList selectedCodes() const;
    QStringList chosenCodes() const;
    // What the list does with files and folders dropped on it (the drop event's paths).
    void DropPaths(const QStringList& paths);

    void OpenSelected();
    void CheckOutSelected();
    void CheckInSelected();
    void ReleaseSelected();
    void DeleteSelected();
    void CopyCodes();
    void ShowWhereUsed();
    void ShowHistory();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildActions();
    void showDetails();
    // Reads the whole list on a connection of its own in the pool and swaps it in when done.
    void startLoad();
    void loaded(int number, LibraryListModel::Prepared prepared, qint64 last, const std::vector<LoggedRow>& near,
                const QString& error);
    enum class Followed { Nothing, Updated, Whole };
    // Reads the log rows written since the list last looked and the rows of the drawings they name,
    // and updates those in place; Whole when the list must be read whole. Throws velda::Error.
    Followed followChanges();
    // After the list's rows changed: the counts, scopes, local copies and details that go with them.
    void showChanged(const QStringList& codes);
    // The server announced another client's change.
    void announced();
    void refreshLocalCopies();
    // On the server: listens for the library's announcements on the session's connection of the
    // moment (a new login or a reconnect brings another one).
    void listen();
    void updateCounts();
    void fillScopes();
    void scopeChosen(int index);
    // The working folder ready to take files, or nothing after the user was told why not (and offered
    // another one).
    bool readyFolder(WorkingFolder& folder);
    void chooseWorkingFolder();
    bool passGates(const QString& item);
    // Brings a copy of the drawing into the working folder, with a hold when asked for; false when none came.
    bool fetch(const QString& code, bool withHold, QString& file);

    Session& m_session;
    std::function<QWidget*(const QString&)> m_runCommand;
    LibraryListModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QLineEdit* m_filter = nullptr;
    QComboBox* m_scope = nullptr;
    QToolBar* m_tools = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_details = nullptr;
    QLabel* m_records = nullptr;
    DwgView* m_preview = nullptr;
    QLabel* m_previewNote = nullptr;
    QListWidget* m_recent = nullptr;
    QTimer* m_poll = nullptr;
    FormTransfer* m_transfer = nullptr;
    // The window's check-outs and deletions; its connection stays logged in from one to the next.
    std::unique_ptr<DrawingLibrary> m_library;
    LogFollower m_follower;
    QElapsedTimer m_clock;     // the follower's time
    bool m_announced = false;  // an announcement came while the whole list was read
    bool m_unexplained = false; // an announcement came that no log row told of yet
    bool m_lost = false;
    QElapsedTimer m_lostAt;           // when the connection was last found lost
    QString m_columnsFor;             // the account whose columns the header shows
    QPointer<QSqlDriver> m_listening; // the server connection whose announcements the list hears
    QString m_listFor;                // the account whose list the model holds
    std::unique_ptr<FtpClient> m_loaderClient;
    std::unique_ptr<TransferPool> m_loader;
    int m_loadNumber = 0;       // the last load started; an older one's answer is dropped
    bool m_loading = false;     // the whole list is being read
    bool m_reloadAfter = false; // a change came meanwhile: read again once the load is in
};

namespace WorkspaceText {
inline const QString ChooseFirst = QStringLiteral("请先在图纸列表中选择图纸！");
inline const QString ChooseOne = QStringLiteral("请只选择一份图纸！");
inline const QString ConnectionLost = QStringLiteral("连接已中断");
inline const QString OnlyDrawings = QStringLiteral("只能拖入.dwg图纸文件或文件夹，其他文件不能入库！");
inline const QString NoCopyToCheckIn = QStringLiteral("工作文件夹中没有所选图纸的副本，无法批量入库！");
QString AskHold(const QString& code);
QString AskDelete(const QStringList& codes);
QString ChangedCopyWillGo(const QString& file);
QString NoProgram(const QString& file);
QString Counts(int shown, int total);
QString FirstPage(int shown);
} // namespace WorkspaceText

} // namespace velda
