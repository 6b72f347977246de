#pragma once

#include "core/Clock.h"
#include "core/Configuration.h"
#include "core/Feedback.h"
#include "core/ProgramPaths.h"
#include "core/UserContext.h"
#include "store/Database.h"
#include "core/TransferOptions.h"

#include <functional>
#include <memory>

namespace velda {

// Where the program looked for the local database and how one is made.
QString MissingLocalDatabaseText(const QString& filePath);

// What the whole run shares; created in main, handed to every dialog.
class Session final {
public:
    Session(Feedback& feedback, const Clock& clock, Configuration config, ProgramPaths paths,
            QString machineSerialHex);

    UserContext ctx;

    Feedback& feedback() { return m_feedback; }
    const Clock& clock() const { return m_clock; }
    const Configuration& config() const { return m_config; }
    const ProgramPaths& paths() const { return m_paths; }
    const QString& machineSerialHex() const { return m_machineSerialHex; }

    // The shared connection; throws Error when none is open.
    Database& db();
    bool hasConnection() const { return m_db && m_db->isOpen(); }
    // Opens a new connection for the address ("None": the local file, which must exist) and puts
    // it in place of the previous one. The previous one stays when the new one fails.
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

private:
    Feedback& m_feedback;
    const Clock& m_clock;
    Configuration m_config;
    ProgramPaths m_paths;
    QString m_machineSerialHex;
    std::unique_ptr<Database> m_db;
    bool m_endRequested = false;
};

} // namespace velda
