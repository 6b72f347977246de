#pragma once

#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <functional>

class QMdiArea;
class QMdiSubWindow;

namespace velda {

class Session;
struct Command;

// The main window: the whole menu, each command's gates and mode word, and the dialogs it opens.
class FrmMain final : public QMainWindow {
    Q_OBJECT
public:
    using FormFactory = std::function<QWidget*(Session&)>;

    explicit FrmMain(Session& session, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Runs the menu command of that item name, exactly as choosing it from the menu does.
    void RunCommand(const QString& item);
    // The open instance of a dialog, or nullptr.
    QWidget* openForm(const QString& name) const;
    QMdiArea* mdiArea() const { return m_mdi; }

    void registerForm(const QString& name, FormFactory factory);

signals:
    void reLoginRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenu();
    void showForm(const QString& name, const QStringList& disable);
    void keepAtCorner();
    QMdiSubWindow* liveWindow(const QString& name) const;

    Session& m_session;
    QMdiArea* m_mdi = nullptr;
    QMap<QString, FormFactory> m_factories;
    QMap<QString, QPointer<QMdiSubWindow>> m_open;
    bool m_closing = false;
};

} // namespace velda
