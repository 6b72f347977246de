#pragma once

#include <QString>

namespace velda {

class Configuration;
class Database;

// How the connection to the database server is encrypted, from the configuration file:
//   [Database] SslMode=prefer|require|verify-full  (prefer when missing: TLS whenever the server offers it)
//              SslRootCert=FILE                    (the office's certificate that verify-full checks the
//                                                   server against)
struct DatabaseTls {
    QString sslMode = QStringLiteral("prefer");
    QString rootCertificate;

    static DatabaseTls Read(const Configuration& config);
    // Whether the words are usable; an unknown mode is refused rather than left to the driver's guess.
    static bool KnownMode(const QString& mode);
};

// Hands the settings to the PostgreSQL client library for every connection the process opens after
// this (the session's and the ones transfers open on their own threads).
void ApplyDatabaseTls(const DatabaseTls& tls);

// Whether the connection's channel is encrypted: the server's own view of this session. The local
// file has no channel and reads as false. Never throws.
bool ConnectionEncrypted(const Database& db);

} // namespace velda
