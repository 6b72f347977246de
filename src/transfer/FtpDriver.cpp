#include "transfer/FtpDriver.h"

#include "transfer/Sha256.h"

#include <QUrl>

#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>

namespace velda {

namespace {

size_t WriteToSink(char* data, size_t size, size_t count, void* user) {
    auto* outcome = static_cast<FtpPerformed*>(user);
    const qint64 length = qint64(size * count);
    if (outcome->request->sink->write(data, length) != length) {
        outcome->sinkFailed = true;
        return 0;
    }
    outcome->received += length;
    return size_t(length);
}

size_t ReadFromSource(char* buffer, size_t size, size_t count, void* user) {
    auto* outcome = static_cast<FtpPerformed*>(user);
    const qint64 length = outcome->request->source->read(buffer, qint64(size * count));
    if (length < 0) {
        outcome->sourceFailed = true;
        return CURL_READFUNC_ABORT;
    }
    outcome->sent += length;
    if (outcome->request->sourceDigest)
        outcome->request->sourceDigest->addData(QByteArrayView(buffer, length));
    return size_t(length);
}

int ReportProgress(void* user, curl_off_t downTotal, curl_off_t downDone, curl_off_t upTotal, curl_off_t upDone) {
    auto* outcome = static_cast<FtpPerformed*>(user);
    if (outcome->request->stop && outcome->request->stop->load())
        return 1; // libcurl ends the transfer with CURLE_ABORTED_BY_CALLBACK
    if (!outcome->request->progress || !*outcome->request->progress)
        return 0;
    const bool upload = outcome->request->source != nullptr;
    const curl_off_t done = upload ? upDone : downDone;
    // libcurl says 0 for a total it does not know yet; an empty file has no bytes to report anyway.
    const curl_off_t total = upload ? upTotal : (downTotal > 0 ? downTotal : -1);
    if (done != outcome->lastDone || total != outcome->lastTotal) {
        outcome->lastDone = done;
        outcome->lastTotal = total;
        (*outcome->request->progress)(qint64(done), qint64(total));
    }
    return 0;
}

int CollectDialogue(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* outcome = static_cast<FtpPerformed*>(user);
    if (type == CURLINFO_HEADER_OUT)
        outcome->dialogue.outgoing(data, size);
    else if (type == CURLINFO_HEADER_IN)
        outcome->dialogue.incoming(data, size);
    else if (type == CURLINFO_TEXT && outcome->dialogue.trace)
        std::fprintf(stderr, "ftp* %.*s", int(size), data);
    return 0;
}

class SList final {
public:
    explicit SList(const std::vector<QByteArray>& lines) {
        for (const QByteArray& line : lines)
            m_list = curl_slist_append(m_list, line.constData());
    }
    ~SList() { curl_slist_free_all(m_list); }
    SList(const SList&) = delete;
    SList& operator=(const SList&) = delete;
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The key the server showed on a connection made by this request, or an empty text (a kept
// connection, or no TLS).
QString ShownKey(CURL* handle) {
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return {};
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
        const QByteArray line(field->data);
        if (line.startsWith("Cert:"))
            return PublicKeyPin(line.mid(5));
    }
    return {};
}

} // namespace

int FtpPerformed::reply(const QByteArray& command, QString* text) const {
    const FtpExchange* exchange = dialogue.replyTo(command);
    if (text)
        *text = exchange ? exchange->lastLine() : QString();
    return exchange ? exchange->code : 0;
}

QString PublicKeyPin(const QByteArray& pemCertificate) {
    BIO* bio = BIO_new_mem_buf(pemCertificate.constData(), int(pemCertificate.size()));
    X509* certificate = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!certificate)
        return {};
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    X509_free(certificate);
    if (length <= 0)
        return {};
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der, size_t(length), digest);
    OPENSSL_free(der);
    return QStringLiteral("sha256//") +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toBase64());
}

QString TlsServerKey(const VolumeAddress& server) {
    return server.host.toLower() + u':' + QString::number(server.port);
}

QString TlsVolumeKey(const VolumeAddress& server, const QString& volume) {
    return volume.isEmpty() ? TlsServerKey(server) : TlsServerKey(server) + u'/' + volume;
}

FtpTlsTable::Server TlsSettingsOf(const FtpTlsTable& table, const VolumeAddress& server, const QString& volume,
                                  QString* name) {
    QString key = TlsVolumeKey(server, volume);
    FtpTlsTable::Server settings = table.find(key);
    if (settings.mode == FtpTlsMode::Off && settings.pin.isEmpty() && !volume.isEmpty()) {
        key = TlsServerKey(server);
        settings = table.find(key);
    }
    if (settings.mode == FtpTlsMode::Off)
        settings.pin.clear();
    if (name)
        *name = key;
    return settings;
}

QByteArray FtpCommand(const char* verb, const QString& argument) { return QByteArray(verb) + ' ' + argument.toUtf8(); }

QByteArray Tolerant(const QByteArray& command) { return '*' + command; }

FtpDriver::FtpDriver(FtpOptions options) : m_options(options) { EnsureCurlInitialised(); }

FtpDriver::~FtpDriver() { disconnect(); }

// libcurl's own blocking call waits up to a second whenever the FTP state machine sets no
// timer, which it fails to do now and then after opening a data connection: a batch of 500
// drawings took minutes instead of seconds. Driving the transfer here bounds every wait.
// The commonest case is a 227 reply read in the same step that sent PASV: libcurl then returns
// with its next step (opening the data connection) due at once, yet watches no socket, and its
// only timers are the far-off guards (stall, timeouts). A wait would be pure loss (10 ms a file,
// most of a small drawing's time on a quick server), so the transfer is driven again at once, a
// few times before short waits begin.
CURLcode FtpDriver::performBounded(Kept& kept) {
    if (!kept.multi)
        kept.multi = curl_multi_init();
    if (!kept.multi)
        return CURLE_OUT_OF_MEMORY;
    CURL* handle = kept.easy;
    CURLM* multi = kept.multi;
    if (curl_multi_add_handle(multi, handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    int idle = 0; // steps in a row after which libcurl watched no socket
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == handle) {
                result = m->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        long wait = -1;
        curl_multi_timeout(multi, &wait);
        long most = 10;
        if (!watchesNothing(multi)) {
            idle = 0;
        } else if (++idle <= 3) {
            continue;
        } else if (idle <= 20) {
            most = 1;
        }
        if (wait < 0 || wait > most)
            wait = most;
        curl_multi_poll(multi, nullptr, 0, int(wait), nullptr);
    }
    if (curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &kept.socket) != CURLE_OK)
        kept.socket = CURL_SOCKET_BAD;
    curl_multi_remove_handle(multi, handle);
    return result;
}

bool FtpDriver::watchesNothing(CURLM* multi) {
    fd_set read, write, error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int highest = -1;
    return curl_multi_fdset(multi, &read, &write, &error, &highest) == CURLM_OK && highest < 0;
}

void FtpDriver::disconnect() {
    // The kept connections live in the multi handles; cleaning them up closes them.
    for (auto& [key, kept] : m_kept) {
        if (kept.multi)
            curl_multi_cleanup(kept.multi);
        curl_easy_cleanup(kept.easy);
    }
    m_kept.clear();
}

void FtpDriver::noteLogin(Kept& kept, const FtpDialogue& dialogue) {
    bool loggedIn = false;
    bool encrypted = false;
    for (const FtpExchange& exchange : dialogue.exchanges()) {
        loggedIn = loggedIn || exchange.command.startsWith("USER ");
        encrypted = encrypted || (exchange.command.startsWith("AUTH ") && exchange.code == 234);
        if (exchange.command == "PWD" && exchange.complete)
            if (const QByteArray folder = ParsePwdReply(exchange.reply.split('\n').last()); !folder.isEmpty())
                kept.loginFolder = folder;
    }
    if (loggedIn)
        kept.plain = encrypted ? 0 : 1;
}

QString FtpDriver::keyNow(const VolumeAddress& server) const {
    QString tlsName;
    const FtpTlsTable::Server tls =
        m_options.tls ? TlsSettingsOf(*m_options.tls, server, m_volume, &tlsName) : FtpTlsTable::Server{};
    return keyOf(server, tlsName, tls);
}

bool FtpDriver::plainConnection(const VolumeAddress& server) const {
    const auto it = m_kept.find(keyNow(server));
    return it != m_kept.end() && it->second.plain == 1;
}

QByteArray FtpDriver::loginFolder(const VolumeAddress& server) const {
    const auto it = m_kept.find(keyNow(server));
    return it == m_kept.end() ? QByteArray() : it->second.loginFolder;
}

QString FtpDriver::keyOf(const VolumeAddress& server, const QString& tlsName, const FtpTlsTable::Server& tls) {
    return server.host + u'\n' + QString::number(server.port) + u'\n' + server.user + u'\n' + tlsName + u'\n' +
           QString::number(int(tls.mode));
}

bool FtpDriver::staleConnection(const QString& key) const {
    const auto it = m_kept.find(key);
    if (it == m_kept.end() || it->second.socket == CURL_SOCKET_BAD)
        return false;
    pollfd watch{};
    watch.fd = it->second.socket;
    watch.events = POLLIN;
    return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

FtpDriver::Kept* FtpDriver::keptFor(const QString& key) {
    auto it = m_kept.find(key);
    if (it == m_kept.end()) {
        CURL* easy = curl_easy_init();
        if (!easy)
            return nullptr;
        Kept made;
        made.easy = easy;
        it = m_kept.emplace(key, made).first;
    }
    return &it->second;
}

// Under TLS 1.3 a server sends its session tickets once it has finished the handshake, which a busy
// server does late: an upload's data connection may have sent the whole file by then and never
// reads again. Closing a socket with data unread, or receiving data after closing it, resets the
// connection, and the reset throws away whatever the server had not read yet: the file's tail.
// So a finished upload's data connection is half-closed (the end of the file reaches the server
// after all it was sent) and read until the server closes it, within the stall time; every other
// socket is closed at once.
int FtpDriver::closeSocket(void* driver, curl_socket_t socket) {
    const auto* self = static_cast<const FtpDriver*>(driver);
    const FtpPerformed* running = self ? self->m_running : nullptr;
    bool drain = running && running->tlsAsked && running->request->source &&
                 running->sent == running->request->sourceSize && !running->sourceFailed &&
                 !(running->request->stop && running->request->stop->load());
    if (drain) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int port = 0;
        if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
            if (peer.ss_family == AF_INET)
                port = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
            else if (peer.ss_family == AF_INET6)
                port = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
        }
        drain = port != 0 && port != self->m_controlPort; // the control connection is not waited on
    }
    if (drain && ::shutdown(socket, SHUT_WR) == 0) {
        using Clock = std::chrono::steady_clock;
        const auto deadline =
            Clock::now() + std::chrono::seconds(std::max<long>(1, long(self->m_options.stallTime.count())));
        char discard[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd watch{};
            watch.fd = socket;
            watch.events = POLLIN;
            const int ready = ::poll(&watch, 1, int(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            const ssize_t got = ::recv(socket, discard, sizeof discard, 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            if (got <= 0)
                break; // the server closed it (or reset it: nothing more to save)
        }
    }
    return ::close(socket);
}

QByteArray FtpDriver::urlOf(const VolumeAddress& server, const FtpRequest& request) {
    QByteArray url = "ftp://";
    url += server.host.contains(u':') ? '[' + server.host.toUtf8() + ']' : QUrl::toAce(server.host);
    url += ':' + QByteArray::number(server.port) + '/';
    QByteArrayList encoded;
    for (const QString& segment : request.path)
        encoded << QUrl::toPercentEncoding(segment);
    url += encoded.join('/');
    if (request.folderUrl && !request.path.isEmpty())
        url += '/';
    return url;
}

namespace {
// What the request asks of libcurl: the commands around the transfer, its direction and progress.
void SetRequestOptions(CURL* handle, const FtpRequest& request, const SList& quote, const SList& postQuote,
                       FtpPerformed& outcome) {
    if (quote.get())
        curl_easy_setopt(handle, CURLOPT_QUOTE, quote.get());
    if (postQuote.get())
        curl_easy_setopt(handle, CURLOPT_POSTQUOTE, postQuote.get());
    if (request.noBody)
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    if (request.listNames)
        curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, 1L);
    if (!request.listCommand.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.listCommand.constData());
    if (request.source) {
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadFromSource);
        curl_easy_setopt(handle, CURLOPT_READDATA, &outcome);
        curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.sourceSize));
    }
    if (request.sink) {
        if (request.skipSize)
            curl_easy_setopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToSink);
        // libcurl reads a data connection one buffer per turn of the loop in performBounded, and each
        // turn also asks for the sockets and polls: with its default 16 KB a 200 MB drawing took
        // 12,800 turns and its download was a third slower than lftp's.
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, FtpDriver::kReceiveBufferBytes);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &outcome);
    }
    if ((request.progress && *request.progress) || request.stop) {
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &outcome);
    }
}

// TLS as the volume asks for it.
// Servers (TlsServerKey) that refused TLS 1.2 in this run, and so are offered 1.3.
std::mutex g_tls13Guard;
std::set<QString> g_tls13Servers;

bool SpeaksOnlyTls13(const QString& server) {
    const std::lock_guard lock(g_tls13Guard);
    return g_tls13Servers.count(server) != 0;
}

// A TLS handshake on a new control connection failed before anything else was sent: nothing was
// done on the server, so the request may be made again with other TLS versions.
bool HandshakeRefused(const FtpPerformed& outcome) {
    const auto& exchanges = outcome.dialogue.exchanges();
    return outcome.code == CURLE_SSL_CONNECT_ERROR && !exchanges.empty() &&
           exchanges.back().command.startsWith("AUTH ");
}

void SetTlsOptions(CURL* handle, const FtpTlsTable::Server& tls, bool tls13, bool newConnection,
                   FtpPerformed& outcome) {
    if (tls.mode != FtpTlsMode::Off) {
        outcome.tlsAsked = true;
        outcome.pinnedKey = tls.pin;
        // A server whose key is pinned must keep speaking TLS: falling back to plain text under
        // "prefer" would hand the password to whoever took its place.
        outcome.tlsRequired = tls.mode == FtpTlsMode::Require || !tls.pin.isEmpty();
        curl_easy_setopt(handle, CURLOPT_USE_SSL, long(outcome.tlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        curl_easy_setopt(handle, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        // TLS 1.2 first: its session ids resume any number of data connections, while servers hand
        // out TLS 1.3 tickets for one use each, and a server that demands each data connection resume
        // the control connection's session (vsftpd's require_ssl_reuse) then refuses the second
        // upload with 522, its new ticket never read. A server that refuses 1.2 gets 1.3; closeSocket
        // keeps 1.3's late tickets from cutting its uploads short.
        curl_easy_setopt(handle, CURLOPT_SSLVERSION,
                         tls13 ? long(CURL_SSLVERSION_TLSv1_2)
                               : long(CURL_SSLVERSION_TLSv1_2) | long(CURL_SSLVERSION_MAX_TLSv1_2));
        // Office servers make their own certificates: the pinned key decides, not a CA.
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
        // Nor is the system's CA bundle read: libcurl would parse all of it for every connection, each
        // data connection included, though nothing verifies against it.
        curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
        // The key shown is read on a new control connection only (to pin it, or to name it when it
        // is refused): libcurl would otherwise print out every data connection's certificate, and
        // reading the pin back from it cost more than the TLS of a 200 KB drawing.
        if (newConnection)
            curl_easy_setopt(handle, CURLOPT_CERTINFO, 1L);
        // libcurl keeps its own copy of the pin.
        if (!tls.pin.isEmpty())
            curl_easy_setopt(handle, CURLOPT_PINNEDPUBLICKEY, tls.pin.toLatin1().constData());
        // No session cache shared between connections: each data connection resumes the session of
        // its own control connection from the handle's cache, which vsftpd's require_ssl_reuse
        // demands (a session of another connection is refused with 522).
    }
}

} // namespace

FtpPerformed FtpDriver::perform(const VolumeAddress& server, const FtpRequest& request) {
    const QString serverKey = TlsServerKey(server);
    const bool tls13 = SpeaksOnlyTls13(serverKey);
    FtpPerformed outcome = performOnce(server, request, tls13);
    if (!tls13 && outcome.tlsAsked && HandshakeRefused(outcome)) {
        FtpPerformed again = performOnce(server, request, true);
        if (again.code == CURLE_OK || !HandshakeRefused(again)) {
            const std::lock_guard lock(g_tls13Guard);
            g_tls13Servers.insert(serverKey);
        }
        return again;
    }
    // libcurl made a new connection where a kept one was expected (it found that one closed), so
    // the key refused was not read: the handshake failed before login and nothing was done, so
    // the request is made again to read it, as the refusal must name it.
    if (outcome.code == CURLE_SSL_PINNEDPUBKEYNOTMATCH && outcome.shownKey.isEmpty()) {
        m_readKey = true;
        FtpPerformed again = performOnce(server, request, tls13);
        m_readKey = false;
        if (!again.shownKey.isEmpty())
            return again;
    }
    return outcome;
}

FtpPerformed FtpDriver::performOnce(const VolumeAddress& server, const FtpRequest& request, bool tls13) {
    FtpPerformed outcome;
    outcome.request = &request;
    outcome.dialogue.trace = m_options.trace;
    QString tlsName;
    const FtpTlsTable::Server tls =
        m_options.tls ? TlsSettingsOf(*m_options.tls, server, m_volume, &tlsName) : FtpTlsTable::Server{};
    const QString key = keyOf(server, tlsName, tls);
    // A connection whose replies ran ahead of its commands would pair every later command with the
    // reply to the one before: it is closed, and this request opens a new one.
    if (staleConnection(key))
        disconnect();
    // A connection keeps serving once the key it was shown is pinned (its first key learnt), but
    // not after another key was pinned for it (an administrator accepted a new one).
    if (const auto it = m_kept.find(key); it != m_kept.end() && !tls.pin.isEmpty() && it->second.shown != tls.pin) {
        if (it->second.multi)
            curl_multi_cleanup(it->second.multi);
        curl_easy_cleanup(it->second.easy);
        m_kept.erase(it);
    }
    Kept* kept = keptFor(key);
    CURL* handle = kept ? kept->easy : nullptr;
    if (!handle) {
        outcome.code = CURLE_FAILED_INIT;
        outcome.curlText = QString::fromUtf8(curl_easy_strerror(outcome.code));
        return outcome;
    }

    const QByteArray url = urlOf(server, request);
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const SList quote(request.quote);
    const SList postQuote(request.postQuote);
    char errorText[CURL_ERROR_SIZE] = {};
    const long stallSeconds = std::max<long>(1, long(m_options.stallTime.count()));

    curl_easy_reset(handle);
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    // Credentials stay out of the URL so that no libcurl message can echo the password.
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, m_options.stallBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    // Every command names its path from the login folder, so a reused connection never depends on
    // where an earlier command left it.
    curl_easy_setopt(handle, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    // Plain PASV: the reply names the data address, which also suits servers behind NAT.
    curl_easy_setopt(handle, CURLOPT_FTP_USE_EPSV, 0L);
    // libcurl caches the address of every data connection under its port, a new entry each file,
    // and walks the whole cache on every lookup: with a minute's worth of a batch's ports that walk
    // cost more than the lookup it saves. Data addresses are numeric and the control connection is
    // kept, so nothing is lost by keeping no cache.
    curl_easy_setopt(handle, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, CollectDialogue);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &outcome);
    SetRequestOptions(handle, request, quote, postQuote, outcome);
    // libcurl keeps the connection unless it finds it closed, which staleConnection saw first.
    const bool newConnection = kept->socket == CURL_SOCKET_BAD || m_readKey;
    SetTlsOptions(handle, tls, tls13, newConnection, outcome);
    curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &FtpDriver::closeSocket);
    curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, this);

    m_running = &outcome;
    m_controlPort = server.port;
    outcome.code = performBounded(*kept);
    m_running = nullptr;
    if (outcome.code != CURLE_OK) {
        outcome.curlText = QString::fromUtf8(errorText).trimmed();
        if (outcome.curlText.isEmpty())
            outcome.curlText = QString::fromUtf8(curl_easy_strerror(outcome.code));
    }
    noteLogin(*kept, outcome.dialogue);
    if (outcome.tlsAsked && newConnection) {
        outcome.shownKey = ShownKey(handle);
        if (!outcome.shownKey.isEmpty())
            kept->shown = outcome.shownKey;
        if (outcome.pinnedKey.isEmpty() && !outcome.shownKey.isEmpty())
            m_options.tls->learn(tlsName, outcome.shownKey);
    }
    curl_off_t announced = -1;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK)
        outcome.announcedSize = qint64(announced);
    // The handle outlives this frame and its connection may be closed later; it must not keep
    // pointers to the buffers and lists above.
    curl_easy_reset(handle);
    if (outcome.dialogue.outOfStep()) {
        outcome.outOfStep = true;
        disconnect();
    }
    return outcome;
}

FtpPerformed FtpDriver::commands(const VolumeAddress& server, const std::vector<QByteArray>& list) {
    FtpRequest request;
    request.folderUrl = true;
    request.noBody = true;
    for (const QByteArray& command : list)
        request.quote.push_back(Tolerant(command));
    return perform(server, request);
}

} // namespace velda
