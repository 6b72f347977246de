#include "core/DatabaseTls.h"

#include "core/Configuration.h"
#include "store/Database.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace velda {

namespace {
const QString kModeKey = QStringLiteral("Database/SslMode");
const QString kRootCertKey = QStringLiteral("Database/SslRootCert");
} // namespace

bool DatabaseTls::KnownMode(const QString& mode) {
    return mode == QLatin1String("prefer") || mode == QLatin1String("require") || mode == QLatin1String("verify-full");
}

DatabaseTls DatabaseTls::Read(const Configuration& config) {
    DatabaseTls tls;
    if (!QFileInfo::exists(config.filePath()))
        return tls;
    const QSettings s(config.filePath(), QSettings::IniFormat);
    const QString mode = s.value(kModeKey).toString().trimmed().toLower();
    if (!mode.isEmpty())
        tls.sslMode = mode;
    tls.rootCertificate = s.value(kRootCertKey).toString().trimmed();
    return tls;
}

void ApplyDatabaseTls(const DatabaseTls& tls) {
    // An unknown word goes through too: libpq then refuses the connection and says which word, where
    // falling back to "prefer" would quietly weaken what the office asked for.
    qputenv("PGSSLMODE", tls.sslMode.toUtf8());
    if (tls.rootCertificate.isEmpty())
        qunsetenv("PGSSLROOTCERT");
    else
        qputenv("PGSSLROOTCERT", QFile::encodeName(tls.rootCertificate));
}

bool ConnectionEncrypted(const Database& db) {
    if (!db.isOpen() || db.dialect() != Dialect::PostgreSQL)
        return false;
    try {
        return db.scalar(QStringLiteral("select ssl from pg_stat_ssl where pid = pg_backend_pid()")).toBool();
    } catch (const Error&) {
        return false;
    }
}

} // namespace velda
