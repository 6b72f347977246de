#include "transfer/FtpDriver.h"

#include "transfer/Sha256.h"

#include <QUrl>

#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>

#include <poll.h>
#include <sys/select.h>

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
CURLcode FtpDriver::performBounded(CURL* handle) {
    if (!m_multi)
        m_multi = curl_multi_init();
    if (!m_multi)
        return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(m_multi, handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    m_lastSocket = CURL_SOCKET_BAD;
    int idle = 0; // steps in a row after which libcurl watched no socket
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(m_multi, &queued)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == handle) {
                result = m->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        long wait = -1;
        curl_multi_timeout(m_multi, &wait);
        long most = 10;
        if (!watchesNothing()) {
            idle = 0;
        } else if (++idle <= 3) {
            continue;
        } else if (idle <= 20) {
            most = 1;
        }
        if (wait < 0 || wait > most)
            wait = most;
        curl_multi_poll(m_multi, nullptr, 0, int(wait), nullptr);
    }
    if (curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &m_lastSocket) != CURLE_OK)
        m_lastSocket = CURL_SOCKET_BAD;
    curl_multi_remove_handle(m_multi, handle);
    return result;
}

bool FtpDriver::watchesNothing() const {
    fd_set read, write, error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int highest = -1;
    return curl_multi_fdset(m_multi, &read, &write, &error, &highest) == CURLM_OK && highest < 0;
}

void FtpDriver::disconnect() {
    // The kept connections live in the multi handle; cleaning it up closes them.
    if (m_multi)
        curl_multi_cleanup(m_multi);
    m_multi = nullptr;
    for (auto& [key, handle] : m_handles)
        curl_easy_cleanup(handle);
    m_handles.clear();
    m_sockets.clear();
    m_plain.clear();
}

void FtpDriver::noteLogin(const QString& key, const FtpDialogue& dialogue) {
    bool loggedIn = false;
    bool encrypted = false;
    for (const FtpExchange& exchange : dialogue.exchanges()) {
        loggedIn = loggedIn || exchange.command.startsWith("USER ");
        encrypted = encrypted || (exchange.command.startsWith("AUTH ") && exchange.code == 234);
        if (exchange.command == "PWD" && exchange.complete)
            if (const QByteArray folder = ParsePwdReply(exchange.reply.split('\n').last()); !folder.isEmpty())
                m_loginFolders[key] = folder;
    }
    if (loggedIn)
        m_plain[key] = !encrypted;
}

bool FtpDriver::plainConnection(const VolumeAddress& server) const {
    const auto it = m_plain.find(keyOf(server));
    return it != m_plain.end() && it->second;
}

QByteArray FtpDriver::loginFolder(const VolumeAddress& server) const {
    const auto it = m_loginFolders.find(keyOf(server));
    return it == m_loginFolders.end() ? QByteArray() : it->second;
}

QString FtpDriver::keyOf(const VolumeAddress& server) {
    return server.host + u'\n' + QString::number(server.port) + u'\n' + server.user;
}

bool FtpDriver::staleConnection(const QString& key) const {
    const auto it = m_sockets.find(key);
    if (it == m_sockets.end() || it->second == CURL_SOCKET_BAD)
        return false;
    pollfd watch{};
    watch.fd = it->second;
    watch.events = POLLIN;
    return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

CURL* FtpDriver::handleFor(const QString& key) {
    auto it = m_handles.find(key);
    if (it == m_handles.end())
        it = m_handles.emplace(key, curl_easy_init()).first;
    return it->second;
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
void SetTlsOptions(CURL* handle, const FtpTlsTable::Server& tls, FtpPerformed& outcome) {
    if (tls.mode != FtpTlsMode::Off) {
        outcome.tlsAsked = true;
        outcome.pinnedKey = tls.pin;
        // A server whose key is pinned must keep speaking TLS: falling back to plain text under
        // "prefer" would hand the password to whoever took its place.
        outcome.tlsRequired = tls.mode == FtpTlsMode::Require || !tls.pin.isEmpty();
        curl_easy_setopt(handle, CURLOPT_USE_SSL, long(outcome.tlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        curl_easy_setopt(handle, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        // TLS 1.2 at most: under 1.3 the server sends its session tickets after the handshake, an
        // upload's data connection never reads them, and closing it with them unread resets it, so
        // a server still reading loses the file's tail (seen on busy servers: a 200 KB drawing
        // stored as 112 KB, refused by the size check).
        curl_easy_setopt(handle, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
        // Office servers make their own certificates: the pinned key decides, not a CA.
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
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
    FtpPerformed outcome;
    outcome.request = &request;
    outcome.dialogue.trace = m_options.trace;
    const QString key = keyOf(server);
    // A connection whose replies ran ahead of its commands would pair every later command with the
    // reply to the one before: it is closed, and this request opens a new one.
    if (staleConnection(key))
        disconnect();
    CURL* handle = handleFor(key);
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
    const FtpTlsTable::Server tls = m_options.tls ? m_options.tls->find(TlsServerKey(server)) : FtpTlsTable::Server{};
    SetTlsOptions(handle, tls, outcome);

    outcome.code = performBounded(handle);
    if (outcome.code != CURLE_OK) {
        outcome.curlText = QString::fromUtf8(errorText).trimmed();
        if (outcome.curlText.isEmpty())
            outcome.curlText = QString::fromUtf8(curl_easy_strerror(outcome.code));
    }
    noteLogin(key, outcome.dialogue);
    if (m_lastSocket != CURL_SOCKET_BAD)
        m_sockets[key] = m_lastSocket;
    else
        m_sockets.erase(key);
    if (outcome.tlsAsked) {
        outcome.shownKey = ShownKey(handle);
        if (outcome.pinnedKey.isEmpty() && !outcome.shownKey.isEmpty())
            m_options.tls->learn(TlsServerKey(server), outcome.shownKey);
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
