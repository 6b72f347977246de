#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Configuration.h"
#include "core/DatabaseTls.h"
#include "store/Database.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

using namespace velda;
using namespace velda::test;

// The configuration's mode and office certificate reach every connection: verify-full accepts the
// server whose certificate the office named and refuses it when another is named; "prefer" encrypts
// whenever the server offers TLS.
TEST(DatabaseTlsTest, TheConfigurationEncryptsAndVerifiesTheServerConnection) {
    PgCluster& pg = PgCluster::instance();
    ASSERT_TRUE(pg.ok()) << pg.error().toStdString();
    ConnectionSpec spec = ConnectionSpec::server(pg.address());
    spec.databaseName = pg.createDatabase();
    QTemporaryDir dir;
    const Configuration config(dir.filePath(QStringLiteral("velda.ini")));
    const auto connect = [&](const QString& mode, const QString& certificate) {
        {
            QSettings s(config.filePath(), QSettings::IniFormat);
            s.setValue(QStringLiteral("Database/SslMode"), mode);
            s.setValue(QStringLiteral("Database/SslRootCert"), certificate);
        }
        ApplyDatabaseTls(DatabaseTls::Read(config));
        auto db = std::make_unique<Database>();
        db->open(spec);
        return db;
    };
    const auto cleanup = qScopeGuard([] { ApplyDatabaseTls(DatabaseTls{}); });

    EXPECT_TRUE(ConnectionEncrypted(*connect(QStringLiteral("prefer"), QString())));
    EXPECT_TRUE(ConnectionEncrypted(*connect(QStringLiteral("verify-full"), pg.certificatePath())));

    const QString other = dir.filePath(QStringLiteral("other.crt"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"),
                   dir.filePath(QStringLiteral("other.key")), QStringLiteral("-out"), other});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    EXPECT_THROW(connect(QStringLiteral("verify-full"), other), Error);
    EXPECT_FALSE(ConnectionEncrypted(Database()));
    pg.dropDatabase(spec.databaseName);
}
