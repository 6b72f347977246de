#pragma once

#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/ProgramPaths.h"
#include "core/TransferOptions.h"
#include "core/UserContext.h"
#include "store/Database.h"

#include <functional>
#include <memory>

namespace velda {

// Where the program looked for the local database and how one is made.
QString MissingLocalDatabaseText(const QString& filePath);

// What the whole run shares; created in main, handed to every dialog.
class Session final {
public:
    Session(Feedback& feedback, const Clock& clock, Configuration config, ProgramPaths paths, QString machineSerialHex);

    UserContext ctx;

    Feedback& feedback() { return m_feedback; }
    const Clock& clock() const { return m_clock; }
    const Configuration& config() const { return m_config; }
    const ProgramPaths& paths() const { return m_paths; }
    const QString& machineSerialHex() const { return m_machineSerialHex; }

    // The shared connection; throws Error when none is open. A connection that was lost (the server
    // went away) is opened again here, once per call; when that fails the Error says so.
    Database& db();
    // Whether db() has a connection to give: an open one, or one that was lost and is opened again
    // there.
    bool hasConnection() const { return m_db && (m_db->isOpen() || m_db->wasOpened()); }
    // Opens a new connection for the address ("None": the local file, which must exist) and puts
    // it in place of the previous one. The previous one stays when the new one fails, and while a
    // command runs nothing is replaced: that throws Error.
    void connect(const QString& serverAddress);
    void disconnect();
    ConnectionSpec specFor(const QString& serverAddress) const;

    // Timeouts of the FTP clients the dialogs make; tests shorten them.
    FtpOptions ftpOptions;

    // The server catalogue's name; tests give each run its own.
    QString serverDatabaseName = QStringLiteral("HD信息库");

    // Ends the program (the event loop, or main before it starts it).
    void endProgram(int code = 0);
    bool endRequested() const { return m_endRequested; }
    std::function<void(int)> onEndProgram;

    // The command that runs now (its name, as the user knows it), or an empty text. A command that
    // waits for a transfer or a long query serves the window's events meanwhile; what it uses must
    // stay in place until it ends.
    bool commandRunning() const { return !m_running.isEmpty(); }
    const QString& runningCommand() const { return m_running; }

private:
    friend class CommandGuard;
    Feedback& m_feedback;
    const Clock& m_clock;
    Configuration m_config;
    ProgramPaths m_paths;
    QString m_machineSerialHex;
    std::unique_ptr<Database> m_db;
    bool m_endRequested = false;
    QString m_running;
};

// Held by a command for as long as it runs. Only one command runs at a time: a second one started
// from the events served while the first waits is not acquired and must stop at once (its dialog
// shows refusal()).
class CommandGuard final {
public:
    CommandGuard(Session& session, const QString& command);
    ~CommandGuard();
    CommandGuard(const CommandGuard&) = delete;
    CommandGuard& operator=(const CommandGuard&) = delete;

    bool acquired() const { return m_acquired; }
    explicit operator bool() const { return m_acquired; }
    // The message that stops the second command.
    QString refusal() const;

private:
    Session& m_session;
    bool m_acquired = false;
};

namespace SessionText {
// "“图纸入库”操作尚未完成，请待其结束后再" + what + "！"
QString CommandRunning(const QString& command, const QString& what);
inline const QString WhatClose = QStringLiteral("退出系统");
inline const QString WhatChangeAccount = QStringLiteral("变更登录帐号");
inline const QString WhatOther = QStringLiteral("进行其他操作");
} // namespace SessionText

} // namespace velda
