#include "core/Session.h"

#include "core/DatabaseTls.h"

#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velda {

Session::Session(Feedback& feedback, const Clock& clock, Configuration config, ProgramPaths paths,
                 QString machineSerialHex)
    : m_feedback(feedback), m_clock(clock), m_config(std::move(config)), m_paths(std::move(paths)),
      m_machineSerialHex(std::move(machineSerialHex)) {}

QString MissingLocalDatabaseText(const QString& filePath) {
    return QStringLiteral("没有找到本地数据库文件%1。\n程序不会自行新建数据库：请先运行“velda-initdb --local”"
                          "建立本地数据库，然后再启动程序。")
        .arg(filePath);
}

Database& Session::db() {
    if (!m_db)
        throw Error(QStringLiteral("尚未连接数据库"));
    if (!m_db->isOpen()) {
        // Lost under a running program (the server restarted, the network broke): the next command
        // opens it again by itself rather than failing for the rest of the run.
        if (!m_db->wasOpened())
            throw Error(QStringLiteral("尚未连接数据库"));
        try {
            m_db->reopen();
        } catch (const Error& e) {
            throw Error(ReconnectFailedText(e.description()));
        }
    }
    return *m_db;
}

ConnectionSpec Session::specFor(const QString& serverAddress) const {
    if (serverAddress == Configuration::kLocalWord)
        return ConnectionSpec::localFile(m_paths.localDatabase());
    if (serverAddress.trimmed().isEmpty())
        throw Error(QStringLiteral("数据库服务器地址为空，无法连接"));
    ConnectionSpec spec = ConnectionSpec::server(serverAddress);
    spec.databaseName = serverDatabaseName;
    return spec;
}

void Session::connect(const QString& serverAddress) {
    if (commandRunning())
        throw Error(SessionText::CommandRunning(m_running, SessionText::WhatChangeAccount));
    const ConnectionSpec spec = specFor(serverAddress);
    // Never a fresh library in place of a missing one: the user would carry on in an empty
    // database without noticing. Creating one is velda-initdb's job.
    if (spec.dialect == Dialect::SQLite && !QFileInfo::exists(spec.filePath))
        throw Error(MissingLocalDatabaseText(spec.filePath));
    if (spec.dialect == Dialect::PostgreSQL)
        ApplyDatabaseTls(DatabaseTls::Read(m_config));
    auto db = std::make_unique<Database>();
    db->open(spec);
    try {
        AddMissingSchema(*db);
    } catch (const Error&) {
        // The described records are read and written the same without them; what the added tables
        // keep reports its own refusal where it is used.
    }
    m_db = std::move(db);
}

void Session::disconnect() { m_db.reset(); }

QString SessionText::CommandRunning(const QString& command, const QString& what) {
    return QStringLiteral("“%1”操作尚未完成，请待其结束后再%2！").arg(command, what);
}

CommandGuard::CommandGuard(Session& session, const QString& command) : m_session(session) {
    if (m_session.m_running.isEmpty()) {
        m_session.m_running = command;
        m_acquired = true;
    }
}

CommandGuard::~CommandGuard() {
    if (m_acquired)
        m_session.m_running.clear();
}

QString CommandGuard::refusal() const {
    return SessionText::CommandRunning(m_session.m_running, SessionText::WhatOther);
}

void Session::endProgram(int code) {
    m_endRequested = true;
    if (onEndProgram)
        onEndProgram(code);
    else
        QCoreApplication::exit(code);
}

} // namespace velda
