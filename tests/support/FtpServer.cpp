#include "FtpServer.h"

#include "transfer/TransferCommand.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#ifndef VELDA_FTP_SERVER_SCRIPT
#error "VELDA_FTP_SERVER_SCRIPT must name tests/support/ftp_server.py"
#endif
#ifndef VELDA_PYTHON
#define VELDA_PYTHON "/usr/bin/python3"
#endif

namespace velda::test {

namespace {

constexpr int kStartSeconds = 10; // python start-up on a loaded two-core machine

[[noreturn]] void Fail(const QString& why) {
    throw std::runtime_error((QStringLiteral("FTP test server: ") + why).toStdString());
}

QByteArray Tail(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return all.right(2000);
}

// Below the test run's own folder when the test script gives one, so that the script can stop the
// servers of a test program that crashed (their command line names the folder).
QString TemporaryFolderTemplate(const QString& name) {
    QString base = qEnvironmentVariable("VELDA_TEST_RUN_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    return base + QLatin1Char('/') + name + QStringLiteral("-XXXXXX");
}

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
// Lets every password in: the server listens on loopback only and lives as long as its test.
const QString kVsftpdPam = QStringLiteral("/etc/pam.d/velda-test-ftp");
const QByteArray kVsftpdPamRules =
    "auth required pam_permit.so\naccount required pam_permit.so\nsession required pam_permit.so\n";

bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

} // namespace

QString VsftpdMissing() {
    if (::geteuid() != 0)
        return QStringLiteral("vsftpd needs root for its PAM service");
    if (!QFileInfo(QString::fromLatin1(kVsftpd)).isExecutable())
        return QStringLiteral("%1 is not installed (apt-get install vsftpd)").arg(QString::fromLatin1(kVsftpd));
    return {};
}

FtpServer::FtpServer(FtpServerOptions options)
    : m_options(std::move(options)), m_root(TemporaryFolderTemplate(QStringLiteral("velda-ftp-root"))),
      m_state(TemporaryFolderTemplate(QStringLiteral("velda-ftp-state"))) {
    if (!m_root.isValid() || !m_state.isValid())
        Fail(QStringLiteral("cannot create temporary folders"));
    start();
}

FtpServer::~FtpServer() { stop(); }

QString FtpServer::rootPath() const { return m_root.path(); }

QString FtpServer::address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

QString FtpServer::volumeUrl() const { return VolumeUrl(m_options.password, address()); }

QString FtpServer::localPath(const QString& relative) const { return QDir(m_root.path()).filePath(relative); }

bool FtpServer::isRunning() const { return m_process.state() != QProcess::NotRunning; }

void FtpServer::start() {
    if (isRunning())
        return;
    if (m_options.vsftpd) {
        startVsftpd();
        return;
    }
    const QString script = QStringLiteral(VELDA_FTP_SERVER_SCRIPT);
    const QString python = QStringLiteral(VELDA_PYTHON);
    if (!QFile::exists(script))
        Fail(QStringLiteral("script %1 is missing").arg(script));
    if (!QFile::exists(python))
        Fail(QStringLiteral("%1 is missing; the server needs Debian's python3 with python3-pyftpdlib").arg(python));

    const QString log = QDir(m_state.path()).filePath(QStringLiteral("server.log"));
    QStringList arguments{script,
                          QStringLiteral("--root"),
                          m_root.path(),
                          QStringLiteral("--user"),
                          user(),
                          QStringLiteral("--password"),
                          m_options.password,
                          QStringLiteral("--port"),
                          QString::number(m_port),
                          QStringLiteral("--events"),
                          QDir(m_state.path()).filePath(QStringLiteral("events.txt"))};
    if (m_options.bytesPerSecond > 0)
        arguments << QStringLiteral("--rate") << QString::number(m_options.bytesPerSecond);
    for (const QString& folder : m_options.readOnlyFolders)
        arguments << QStringLiteral("--read-only") << folder;
    if (m_options.withoutMlst)
        arguments << QStringLiteral("--no-mlst");
    if (m_options.fullAfterBytes >= 0)
        arguments << QStringLiteral("--full-after") << QString::number(m_options.fullAfterBytes);
    if (m_options.renameRace)
        arguments << QStringLiteral("--rename-race");
    if (!m_options.extraReplyTo.isEmpty())
        arguments << QStringLiteral("--extra-reply") << m_options.extraReplyTo;
    if (!m_options.tlsCertificate.isEmpty())
        arguments << QStringLiteral("--tls-cert") << m_options.tlsCertificate << QStringLiteral("--tls-key")
                  << m_options.tlsKey;
    if (m_options.tlsRequired)
        arguments << QStringLiteral("--tls-required");
    if (m_options.tls13Only)
        arguments << QStringLiteral("--tls13-only");

    // The server logs every command; a file never fills up the way an unread pipe does.
    m_process.setStandardErrorFile(log, QIODevice::Append);
    m_process.start(python, arguments);
    if (!m_process.waitForStarted(kStartSeconds * 1000))
        Fail(QStringLiteral("cannot run %1: %2").arg(python, m_process.errorString()));

    const QDeadlineTimer deadline(kStartSeconds * 1000);
    while (!m_process.canReadLine()) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_process.kill();
            m_process.waitForFinished(2000);
            const QByteArray said = Tail(log);
            if (said.contains("cannot import pyftpdlib"))
                Fail(QStringLiteral("python3-pyftpdlib is not installed (%1 cannot import pyftpdlib); "
                                    "install it with apt-get install python3-pyftpdlib")
                         .arg(python));
            Fail(QStringLiteral("did not report its port within %1 s; its log ends with:\n%2")
                     .arg(kStartSeconds)
                     .arg(QString::fromUtf8(said)));
        }
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    }
    bool ok = false;
    const int port = m_process.readLine().trimmed().toInt(&ok);
    if (!ok || port <= 0) {
        stop();
        Fail(QStringLiteral("reported no usable port"));
    }
    m_port = port;
}

void FtpServer::startVsftpd() {
    if (const QString missing = VsftpdMissing(); !missing.isEmpty())
        Fail(missing);
    QFile pam(kVsftpdPam);
    if (!pam.open(QIODevice::ReadOnly) || pam.readAll() != kVsftpdPamRules) {
        pam.close();
        if (!pam.open(QIODevice::WriteOnly | QIODevice::Truncate) || pam.write(kVsftpdPamRules) < 0)
            Fail(QStringLiteral("cannot write %1").arg(kVsftpdPam));
    }
    pam.close();
    if (m_port == 0)
        m_port = UnusedLoopbackPort();
    const QDir state(m_state.path());
    state.mkpath(QStringLiteral("empty"));
    // Passive ports above the range for outgoing connections, as ftp_server.py takes them.
    int high = 60999;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly))
        high = range.readAll().simplified().split(' ').value(1, "60999").toInt();
    const QString conf = state.filePath(QStringLiteral("vsftpd.conf"));
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(QStringLiteral("cannot write %1").arg(conf));
    file.write(QStringLiteral("listen=YES\nlisten_address=127.0.0.1\nlisten_port=%1\nbackground=NO\n"
                              "anonymous_enable=NO\nlocal_enable=YES\nguest_enable=YES\nguest_username=root\n"
                              "virtual_use_local_privs=YES\nwrite_enable=YES\nlocal_umask=022\nlocal_root=%2\n"
                              "chroot_local_user=YES\nallow_writeable_chroot=YES\npam_service_name=%3\n"
                              "pasv_min_port=%4\npasv_max_port=65535\nseccomp_sandbox=NO\n"
                              "secure_chroot_dir=%5\nxferlog_enable=NO\nmax_clients=200\nmax_per_ip=200\n"
                              "vsftpd_log_file=%6\n%7")
                   .arg(m_port)
                   .arg(m_root.path(), QFileInfo(kVsftpdPam).fileName())
                   .arg(std::min(high + 1, 65000))
                   .arg(state.filePath(QStringLiteral("empty")), state.filePath(QStringLiteral("server.log")),
                        // As scripts/office-server.sh sets it up: TLS required on both connections,
                        // each data connection resuming its own control connection's session.
                        m_options.tlsCertificate.isEmpty()
                            ? QString()
                            : QStringLiteral("ssl_enable=YES\nrsa_cert_file=%1\nrsa_private_key_file=%2\n"
                                             "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                                             "require_ssl_reuse=YES\nssl_ciphers=HIGH\n")
                                  .arg(m_options.tlsCertificate, m_options.tlsKey))
                   .toUtf8());
    file.close();
    // A group of its own, so that stop() ends the sessions it forked too.
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.setStandardOutputFile(state.filePath(QStringLiteral("stdout.log")));
    m_process.setStandardErrorFile(state.filePath(QStringLiteral("stdout.log")), QIODevice::Append);
    m_process.start(QString::fromLatin1(kVsftpd), {conf});
    if (!m_process.waitForStarted(kStartSeconds * 1000))
        Fail(QStringLiteral("cannot run vsftpd: %1").arg(m_process.errorString()));
    const QDeadlineTimer deadline(kStartSeconds * 1000);
    while (!Accepts(m_port)) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            stop();
            Fail(QStringLiteral("vsftpd did not listen on port %1 within %2 s: %3")
                     .arg(m_port)
                     .arg(kStartSeconds)
                     .arg(QString::fromUtf8(Tail(state.filePath(QStringLiteral("stdout.log"))))));
        }
        QThread::msleep(20);
    }
}

void FtpServer::stop() {
    if (!isRunning())
        return;
    if (m_options.vsftpd && m_process.processId() > 0)
        ::kill(-pid_t(m_process.processId()), SIGKILL);
    m_process.kill();
    m_process.waitForFinished(5000);
}

int FtpServer::countEvents(const QByteArray& prefix) const {
    QFile file(QDir(m_state.path()).filePath(QStringLiteral("events.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int count = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            ++count;
    }
    return count;
}

QStringList FtpServer::clearCommands() const {
    QFile file(QDir(m_state.path()).filePath(QStringLiteral("events.txt")));
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("CLEAR "))
            lines << QString::fromUtf8(line.mid(6));
    return lines;
}

void FtpServer::useCertificate(const TestCertificate& certificate) {
    stop();
    m_options.tlsCertificate = certificate.certificate;
    m_options.tlsKey = certificate.key;
    start();
}

TestCertificate MakeTestCertificate(const QString& folder, const QString& name) {
    const TestCertificate made{QDir(folder).filePath(name + QStringLiteral(".crt")),
                               QDir(folder).filePath(name + QStringLiteral(".key"))};
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"), made.key,
                   QStringLiteral("-out"), made.certificate});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        Fail(QStringLiteral("openssl could not make a certificate: %1")
                 .arg(QString::fromUtf8(openssl.readAllStandardError())));
    QFile::setPermissions(made.key, QFile::ReadOwner | QFile::WriteOwner);
    return made;
}

int FtpServer::loginCount() const { return countEvents("LOGIN "); }

int FtpServer::connectionCount() const { return countEvents("CONNECT "); }

SilentPort::SilentPort() {
    m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket < 0)
        Fail(QStringLiteral("cannot open a socket"));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_socket, 16) != 0 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail(QStringLiteral("cannot listen on a loopback port"));
    m_port = ntohs(address.sin_port);
}

SilentPort::~SilentPort() {
    if (m_socket >= 0)
        ::close(m_socket);
}

QString SilentPort::address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

int UnusedLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (probe < 0 || ::bind(probe, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail(QStringLiteral("cannot find a free loopback port"));
    ::close(probe); // bound but never listening, and closed: connections to it are refused
    return ntohs(address.sin_port);
}

} // namespace velda::test
