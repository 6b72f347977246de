#include "FtpServer.h"

#include "transfer/FtpClient.h"
#include "transfer/FtpDriver.h"
#include "transfer/FtpFailureText.h"
#include "transfer/TransferCommand.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace velda {
namespace {

using test::FtpServer;
using test::FtpServerOptions;
using test::MakeTestCertificate;

QString PinOf(const QString& certificatePath) {
    QFile file(certificatePath);
    return file.open(QIODevice::ReadOnly) ? PublicKeyPin(file.readAll()) : QString();
}

// Each list's uploads (local file, remote path) on a client of its own, the lists at once; the
// messages of those that failed.
QStringList PutAtOnce(const FtpOptions& options, const QString& url,
                      const std::vector<std::vector<std::pair<QString, QString>>>& lists) {
    std::vector<std::thread> senders;
    QStringList failures;
    std::mutex guard;
    for (const auto& list : lists)
        senders.emplace_back([&options, &url, &failures, &guard, &list] {
            FtpClient client(options);
            for (const auto& [local, remote] : list) {
                const TransferResult r = client.Put(url, local, remote);
                if (!r.ok) {
                    const std::lock_guard<std::mutex> lock(guard);
                    failures << r.message;
                }
            }
        });
    for (std::thread& s : senders)
        s.join();
    return failures;
}

bool ClearTextHasPassword(const FtpServer& server) {
    for (const QString& line : server.clearCommands())
        if (line.startsWith(QLatin1String("PASS"), Qt::CaseInsensitive) || line.contains(server.password()))
            return true;
    return false;
}

// Greets, agrees to AUTH TLS and then says nothing more: a TLS handshake that never ends. Every
// connection is held open until the server goes.
class StallingTlsServer final {
public:
    StallingTlsServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on a loopback port");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~StallingTlsServer() {
        m_stop = true;
        m_thread.join();
        for (int s : m_held)
            ::close(s);
        ::close(m_listener);
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    int connections() const { return m_connections; }

private:
    bool readable(int s) const {
        pollfd p{s, POLLIN, 0};
        return ::poll(&p, 1, 50) > 0;
    }
    void serve() {
        while (!m_stop) {
            if (!readable(m_listener))
                continue;
            const int s = ::accept(m_listener, nullptr, nullptr);
            if (s < 0)
                continue;
            ++m_connections;
            m_held.push_back(s);
            const QByteArray hello = "220 ready\r\n";
            ::send(s, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL);
            QByteArray line;
            while (!m_stop) {
                char c = 0;
                if (!readable(s))
                    continue;
                if (::recv(s, &c, 1, 0) != 1)
                    break;
                if (c != '\n') {
                    line += c;
                    continue;
                }
                const QByteArray reply =
                    line.startsWith("AUTH") ? QByteArray("234 go ahead\r\n") : QByteArray("530 encrypt first\r\n");
                ::send(s, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
                if (line.startsWith("AUTH"))
                    break; // the client's handshake is never answered
                line.clear();
            }
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::vector<int> m_held;
    std::thread m_thread;
};

class FtpTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        first = MakeTestCertificate(dir.path(), QStringLiteral("first"));
        FtpServerOptions o;
        o.tlsCertificate = first.certificate;
        o.tlsKey = first.key;
        o.tlsRequired = true; // a plain USER or PASS is refused: nothing works unless encrypted
        server = std::make_unique<FtpServer>(o);
        options.connectTimeout = std::chrono::seconds(5);
        options.stallTime = std::chrono::seconds(10);
        options.tls = std::make_shared<FtpTlsTable>();
        options.tls->onFirstKey = [this](const QString& s, const QString& pin) { recorded << s + u'=' + pin; };
        key = QStringLiteral("127.0.0.1:%1").arg(server->port());
        local = dir.filePath(QStringLiteral("a.dwg"));
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(200 * 1024, 'x'));
    }
    TransferResult put(const QString& name) {
        FtpClient client(options);
        return client.Put(server->volumeUrl(), local, QStringLiteral("Volume/") + name);
    }

    QTemporaryDir dir;
    test::TestCertificate first;
    std::unique_ptr<FtpServer> server;
    FtpOptions options;
    QString key;
    QString local;
    QStringList recorded;
};

// The first connection pins the key it was shown; the password never crosses in clear; a data
// connection of its own is encrypted too (the server refuses plain ones).
TEST_F(FtpTls, PrefersTlsPinsTheFirstKeyAndSendsNoPasswordInClear) {
    QDir().mkpath(server->localPath(QStringLiteral("Volume")));
    options.tls->set(key, {FtpTlsMode::Prefer, {}});
    const TransferResult sent = put(QStringLiteral("a.dwg"));
    ASSERT_TRUE(sent.ok) << sent.message.toStdString();
    EXPECT_EQ(QFileInfo(server->localPath(QStringLiteral("Volume/a.dwg"))).size(), 200 * 1024);
    const QString pin = PinOf(first.certificate);
    ASSERT_TRUE(pin.startsWith(QLatin1String("sha256//")));
    EXPECT_EQ(options.tls->find(key).pin, pin);
    EXPECT_EQ(recorded, QStringList{key + u'=' + pin});
    EXPECT_FALSE(ClearTextHasPassword(*server)) << server->clearCommands().join(u'|').toStdString();
    EXPECT_FALSE(server->clearCommands().isEmpty()) << "AUTH TLS itself is read in clear";
}

// A server showing another key is refused before the login, naming both keys, and nothing is
// written; once the administrator accepts the new key it is served again.
TEST_F(FtpTls, AChangedKeyIsRefusedUntilAccepted) {
    QDir().mkpath(server->localPath(QStringLiteral("Volume")));
    options.tls->set(key, {FtpTlsMode::Prefer, PinOf(first.certificate)});
    const auto second = MakeTestCertificate(dir.path(), QStringLiteral("second"));
    server->useCertificate(second);
    const TransferResult refused = put(QStringLiteral("b.dwg"));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.failure, TransferFailure::ConnectFailed);
    EXPECT_TRUE(refused.message.contains(PinOf(first.certificate))) << refused.message.toStdString();
    EXPECT_TRUE(refused.message.contains(PinOf(second.certificate))) << refused.message.toStdString();
    EXPECT_EQ(server->loginCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(server->localPath(QStringLiteral("Volume/b.dwg"))));
    EXPECT_TRUE(recorded.isEmpty());

    options.tls->set(key, {FtpTlsMode::Prefer, PinOf(second.certificate)});
    const TransferResult sent = put(QStringLiteral("b.dwg"));
    EXPECT_TRUE(sent.ok) << sent.message.toStdString();
    EXPECT_FALSE(ClearTextHasPassword(*server));
}

// A server that speaks TLS 1.3 and nothing older is served, and drawings sent to it arrive whole
// while it is busy with other connections: its session tickets come after the handshake, and a data
// connection closed with them unread, or before they came, is reset, which drops whatever the server
// had not read yet.
TEST_F(FtpTls, ATls13OnlyServerGetsEveryUploadWhole) {
    FtpServerOptions o;
    o.tlsCertificate = first.certificate;
    o.tlsKey = first.key;
    o.tlsRequired = true;
    o.tls13Only = true;
    server = std::make_unique<FtpServer>(o);
    key = QStringLiteral("127.0.0.1:%1").arg(server->port());
    options.tls->set(key, {FtpTlsMode::Require, {}});
    QDir().mkpath(server->localPath(QStringLiteral("Volume")));
    const auto sha = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    };
    std::map<QString, QByteArray> sent; // remote name: SHA-256 of what was sent
    const auto make = [&](const QString& name, int kb) {
        QByteArray bytes(kb * 1024, Qt::Uninitialized);
        for (char& c : bytes)
            c = char(QRandomGenerator::global()->generate());
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        sent[name] = sha(bytes);
        return f.fileName();
    };

    const QString single = make(QStringLiteral("one.dwg"), 200);
    const TransferResult put = FtpClient(options).Put(server->volumeUrl(), single, QStringLiteral("Volume/one.dwg"));
    ASSERT_TRUE(put.ok) << put.message.toStdString();

    std::vector<std::vector<std::pair<QString, QString>>> lists(4);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 6; ++i) {
            const QString name = QStringLiteral("b%1-%2.dwg").arg(t).arg(i);
            lists[size_t(t)].emplace_back(make(name, 1024), QStringLiteral("Volume/") + name);
        }
    const QStringList failures = PutAtOnce(options, server->volumeUrl(), lists);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
    for (const auto& [name, digest] : sent) {
        QFile stored(server->localPath(QStringLiteral("Volume/") + name));
        ASSERT_TRUE(stored.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_EQ(sha(stored.readAll()), digest) << name.toStdString();
    }
}

// vsftpd as offices set it up accepts a data connection only when it resumes the TLS session of its
// own control connection: several connections at once each keep to their own.
TEST(FtpTlsVsftpd, ConnectionsAtOnceEachResumeTheirOwnSession) {
    if (const QString missing = test::VsftpdMissing(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    QTemporaryDir dir;
    const auto certificate = MakeTestCertificate(dir.path(), QStringLiteral("office"));
    FtpServerOptions o;
    o.vsftpd = true;
    o.tlsCertificate = certificate.certificate;
    o.tlsKey = certificate.key;
    FtpServer server(o);
    QDir().mkpath(server.localPath(QStringLiteral("Volume")));
    const QString local = dir.filePath(QStringLiteral("a.dwg"));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100 * 1024, 'z'));
    f.close();
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(5);
    options.stallTime = std::chrono::seconds(10);
    options.tls = std::make_shared<FtpTlsTable>();
    options.tls->set(QStringLiteral("127.0.0.1:%1").arg(server.port()), {FtpTlsMode::Require, {}});
    std::vector<std::vector<std::pair<QString, QString>>> lists(3);
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 4; ++i)
            lists[size_t(t)].emplace_back(local, QStringLiteral("Volume/v%1-%2.dwg").arg(t).arg(i));
    const QStringList failures = PutAtOnce(options, server.volumeUrl(), lists);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
    EXPECT_EQ(QDir(server.localPath(QStringLiteral("Volume"))).entryList(QDir::Files).size(), 12);
}

// "require" against a server without TLS stops before the password; "prefer" falls back to plain
// text only while no key is pinned.
TEST(FtpTlsPlain, RequireAndAPinnedKeyRefuseAServerWithoutTls) {
    FtpServer plain;
    QDir().mkpath(plain.localPath(QStringLiteral("Volume")));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("a.dwg"));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("drawing");
    f.close();
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(5);
    options.tls = std::make_shared<FtpTlsTable>();
    const QString key = QStringLiteral("127.0.0.1:%1").arg(plain.port());
    for (const FtpTlsTable::Server& s :
         {FtpTlsTable::Server{FtpTlsMode::Require, {}},
          FtpTlsTable::Server{FtpTlsMode::Prefer,
                              QStringLiteral("sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=")}}) {
        options.tls->set(key, s);
        FtpClient client(options);
        const TransferResult r = client.Put(plain.volumeUrl(), local, QStringLiteral("Volume/a.dwg"));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.contains(QStringLiteral("不提供加密连接"))) << r.message.toStdString();
    }
    for (const QString& line : plain.clearCommands())
        EXPECT_FALSE(line.startsWith(QLatin1String("PASS"))) << line.toStdString();
    EXPECT_FALSE(QFileInfo::exists(plain.localPath(QStringLiteral("Volume/a.dwg"))));
    options.tls->set(key, {FtpTlsMode::Prefer, {}});
    FtpClient client(options);
    EXPECT_TRUE(client.Put(plain.volumeUrl(), local, QStringLiteral("Volume/a.dwg")).ok);
    EXPECT_TRUE(options.tls->find(key).pin.isEmpty());
}

// A server that takes AUTH TLS and then stalls the handshake: the client gives up within its
// connection timeout with a message naming the encrypted connection, and sends no password.
TEST(FtpTlsStall, AStalledHandshakeEndsWithinTheTimeout) {
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("a.dwg"));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("drawing");
    f.close();
    TransferResult r;
    qint64 took = 0;
    FtpOptions options;
    options.connectTimeout = std::chrono::seconds(2);
    options.stallTime = std::chrono::seconds(2);
    options.tls = std::make_shared<FtpTlsTable>();
    QString where;
    {
        StallingTlsServer server;
        where = server.address();
        options.tls->set(where, {FtpTlsMode::Prefer, {}});
        FtpClient client(options);
        QElapsedTimer timer;
        timer.start();
        r = client.Put(VolumeUrl(QStringLiteral("secret"), server.address()), local, QStringLiteral("Volume/a.dwg"));
        took = timer.elapsed();
        EXPECT_EQ(server.connections(), 1) << "no second try in clear";
    }
    EXPECT_FALSE(r.ok);
    EXPECT_LT(took, 6000) << "the connection timeout (2 s) ends it";
    EXPECT_EQ(r.message.split(u'\n').first(), FtpTlsText::HandshakeStalled(where, 2)) << r.message.toStdString();
}

} // namespace
} // namespace velda
