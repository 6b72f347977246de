#pragma once

#include "Printers.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace velda::test {

struct FtpServerOptions {
    // Contains the characters a volume URL must cope with in a password.
    QString password = QStringLiteral("s3:cr@t #%x");
    int bytesPerSecond = 0;      // per data connection; 0 means unlimited
    QStringList readOnlyFolders; // below the root, created if missing: the account may only list and read
    bool withoutMlst = false;    // answer MLST with 500, as servers that lack it do
    qint64 fullAfterBytes = -1;  // the disk fills up once a file being written holds this many bytes
    QString extraReplyTo;        // a verb whose first use gets a second, unasked reply
    bool renameRace = false;     // the first RNTO finds its file moved away by another client
    // Explicit TLS (AUTH TLS) with this certificate and key; required: USER and PASS are refused until
    // the control connection is encrypted.
    QString tlsCertificate;
    QString tlsKey;
    bool tlsRequired = false;
    bool tls13Only = false; // refuse every TLS version before 1.3
    // vsftpd, the C server Debian offices run, instead of pyftpdlib: it needs root (a PAM service of
    // its own) and /usr/sbin/vsftpd. Any password logs in, the sessions run as root so that the test
    // reads and writes the served folder as they do, and of the options above only the certificate
    // applies (TLS then required, as scripts/office-server.sh sets it up).
    bool vsftpd = false;
};

// Why a vsftpd server cannot be started on this machine, or empty when it can; a test skips with it.
QString VsftpdMissing();

// A self-signed certificate for 127.0.0.1 and its key (0600), made with openssl in folder as
// name.crt and name.key; throws std::runtime_error when openssl fails.
struct TestCertificate {
    QString certificate;
    QString key;
};
TestCertificate MakeTestCertificate(const QString& folder, const QString& name);

// A pyftpdlib server on 127.0.0.1 serving a fresh temporary folder to the account "velda". Construction
// starts it and throws std::runtime_error saying why when it cannot (pyftpdlib missing, no port within
// a few seconds); the destructor kills it.
class FtpServer final {
public:
    explicit FtpServer(FtpServerOptions options = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Starts again after stop(), on the same port and root folder.
    void start();
    // Restarts with another certificate, as a server does whose key was replaced.
    void useCertificate(const TestCertificate& certificate);
    // Kills the server; open connections break off.
    void stop();
    bool isRunning() const;
    // For tests that freeze the server (SIGSTOP) instead of ending it.
    qint64 processId() const { return m_process.processId(); }

    QString address() const; // "127.0.0.1:PORT"
    int port() const { return m_port; }
    QString rootPath() const;
    QString user() const { return QStringLiteral("velda"); }
    QString password() const { return m_options.password; }
    QString volumeUrl() const;

    // Absolute local path of a path below the root.
    QString localPath(const QString& relative) const;

    // Successful logins and accepted connections since the first start.
    int loginCount() const;
    int connectionCount() const;
    // Every command line the server read while its control connection was not encrypted, as received.
    QStringList clearCommands() const;

private:
    int countEvents(const QByteArray& prefix) const;
    void startVsftpd();

    FtpServerOptions m_options;
    QTemporaryDir m_root;
    QTemporaryDir m_state; // the event record and the server's own log, kept out of the served folder
    QProcess m_process;
    int m_port = 0;
};

// A loopback port that accepts connections into its backlog but never says a word, like a server that
// hangs before its greeting.
class SilentPort final {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int port() const { return m_port; }
    QString address() const;

private:
    int m_socket = -1;
    int m_port = 0;
};

// A loopback port nobody listens on at the moment of the call.
int UnusedLoopbackPort();

} // namespace velda::test
