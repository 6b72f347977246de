#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "core/Session.h"
#include "core/ui/KeyRules.h"
#include "core/ui/Translations.h"
#include "core/ui/WidgetFeedback.h"
#include "shell/ui/FrmLogin.h"
#include "shell/ui/FrmMain.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <functional>

int main(int argc, char* argv[]) {
    velda::PreferChineseDates();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELDA"));
    QApplication::setApplicationDisplayName(QStringLiteral("VELDA"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velda.svg")));
    QApplication::setDesktopFileName(QStringLiteral("velda"));
    // The program ends when the main window closes or the first login is cancelled, not when the
    // login dialog gives way to the main window.
    QApplication::setQuitOnLastWindowClosed(false);
    // File dialogs, context menus and standard buttons in Chinese like the rest of the program.
    velda::LoadQtChineseTranslations(app);
    velda::InstallKeyRules(app);

    velda::WidgetFeedback feedback;
    velda::SystemClock clock;
    const velda::Configuration config;
    velda::Session session(feedback, clock, config, velda::ProgramPaths::detect(config),
                           velda::VolumeSerialHex(velda::ReadMachineSerial()));
    int exitCode = 0;
    session.onEndProgram = [&](int code) {
        exitCode = code;
        // Also when asked before the event loop runs (start-up ending the program).
        QTimer::singleShot(0, &app, [&app, code] { app.exit(code); });
        app.exit(code);
    };

    QPointer<velda::FrmMain> mainWindow;
    std::function<void()> showLogin = [&] {
        auto* login = velda::FrmLogin::open(session, mainWindow);
        QObject::connect(login, &velda::FrmLogin::loggedIn, &app, [&] {
            if (!mainWindow) {
                mainWindow = new velda::FrmMain(session, velda::ProgramForms());
                mainWindow->setAttribute(Qt::WA_DeleteOnClose);
                QObject::connect(mainWindow, &velda::FrmMain::reLoginRequested, &app, [&] { showLogin(); });
            }
            mainWindow->RefreshStatus();
            mainWindow->show();
            mainWindow->raise();
            mainWindow->activateWindow();
        });
        login->show();
        login->Form_Load();
    };
    showLogin();
    if (session.endRequested())
        return exitCode;
    return app.exec();
}
