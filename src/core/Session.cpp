#include "core/Session.h"

#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velda {

Session::Session(Feedback& feedback, const Clock& clock, Configuration config, ProgramPaths paths,
                 QString machineSerialHex)
    : m_feedback(feedback), m_clock(clock), m_config(std::move(config)), m_paths(std::move(paths)),
      m_machineSerialHex(std::move(machineSerialHex)) {}

Database& Session::db() {
    if (!m_db || !m_db->isOpen())
        throw Error(QStringLiteral("尚未连接数据库"));
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
    const ConnectionSpec spec = specFor(serverAddress);
    if (spec.dialect == Dialect::SQLite && !QFileInfo::exists(spec.filePath))
        CreateLocalDatabase(spec.filePath, m_clock.today());
    auto db = std::make_unique<Database>();
    db->open(spec);
    m_db = std::move(db);
}

void Session::disconnect() { m_db.reset(); }

void Session::endProgram(int code) {
    m_endRequested = true;
    if (onEndProgram)
        onEndProgram(code);
    else
        QCoreApplication::exit(code);
}

} // namespace velda
