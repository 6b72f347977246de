#include "transfer/FtpClient.h"

#include "transfer/TransferCommand.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace velda {

TransferError::TransferError(TransferResult result)
    : std::runtime_error(result.message.toStdString()), m_result(std::move(result)) {}

const TransferResult& ThrowIfFailed(const TransferResult& result) {
    if (!result.ok)
        throw TransferError(result);
    return result;
}

namespace {

// FTP reply codes the outcome turns on.
constexpr int kFileStatus = 213;
constexpr int kActionDone = 250;
constexpr int kPathCreated = 257;
constexpr int kPendingRename = 350;

// One command on the control connection and the server's final reply to it.
struct Exchange {
    QByteArray command; // empty for the greeting and anything the server says unasked
    int code = 0;
    QByteArray reply; // the lines of the latest reply, joined with "\n"
    bool complete = false;
};

// The control-connection dialogue of one request, collected from libcurl's debug stream. Replies to
// commands sent with a leading "*" (run on even when refused) are only visible here.
class Dialogue final {
public:
    bool trace = false;

    void outgoing(const char* data, size_t size) {
        // Only the line end goes: a path may end in a blank, and replies are matched by the exact text.
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("PASS "))
            line = "PASS ***";
        if (trace)
            std::fprintf(stderr, "ftp> %s\n", line.constData());
        m_exchanges.push_back(Exchange{line, 0, {}, false});
    }

    void incoming(const char* data, size_t size) {
        m_partial.append(data, qsizetype(size));
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            const QByteArray line = m_partial.left(end).trimmed();
            m_partial.remove(0, end + 1);
            addLine(line);
        }
    }

    // The last exchange that sent exactly this command.
    const Exchange* replyTo(const QByteArray& command) const {
        for (auto it = m_exchanges.rbegin(); it != m_exchanges.rend(); ++it) {
            if (it->command == command)
                return it->complete ? &*it : nullptr;
        }
        return nullptr;
    }

    // The last reply that refused something, for the detail of a message.
    QString lastRefusal() const {
        for (auto it = m_exchanges.rbegin(); it != m_exchanges.rend(); ++it) {
            if (it->complete && it->code >= 400)
                return QString::fromUtf8(it->reply.split('\n').last());
        }
        return {};
    }

    bool heardServer() const { return m_heard; }

private:
    void addLine(const QByteArray& line) {
        m_heard = true;
        if (trace)
            std::fprintf(stderr, "ftp< %s\n", line.constData());
        if (m_exchanges.empty() || (m_exchanges.back().complete && m_exchanges.back().code >= 200))
            m_exchanges.push_back(Exchange{});
        Exchange& current = m_exchanges.back();
        if (current.complete) {
            // A preliminary 1xx reply is followed by the final one to the same command.
            current.complete = false;
            current.reply.clear();
        }
        if (!current.reply.isEmpty())
            current.reply.append('\n');
        current.reply.append(line);
        const bool finalLine = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                               std::isdigit(static_cast<unsigned char>(line[1])) &&
                               std::isdigit(static_cast<unsigned char>(line[2])) &&
                               (line.size() == 3 || line[3] == ' ');
        if (finalLine) {
            current.code = line.left(3).toInt();
            current.complete = true;
        }
    }

    std::vector<Exchange> m_exchanges;
    QByteArray m_partial;
    bool m_heard = false;
};

struct Request {
    QStringList path;                  // URL path segments below the account's root; empty: the root itself
    bool folderUrl = false;            // the URL names a folder (listing, or commands only)
    std::vector<QByteArray> quote;     // after login, before the transfer
    std::vector<QByteArray> postQuote; // after a successful transfer
    bool noBody = false;
    bool listNames = false;
    QIODevice* source = nullptr;
    qint64 sourceSize = -1;
    QIODevice* sink = nullptr;
    const TransferProgress* progress = nullptr;
};

struct Outcome {
    CURLcode code = CURLE_OK;
    QString curlText; // libcurl's description of the failure
    Dialogue dialogue;
    qint64 announcedSize = -1; // what the server said the download would hold
    qint64 received = 0;
    qint64 sent = 0;
    bool sinkFailed = false;
    bool sourceFailed = false;
    curl_off_t lastDone = -1;
    curl_off_t lastTotal = -1;
    const Request* request = nullptr;

    int reply(const QByteArray& command, QString* text = nullptr) const {
        const Exchange* exchange = dialogue.replyTo(command);
        if (text)
            *text = exchange ? QString::fromUtf8(exchange->reply.split('\n').last()) : QString();
        return exchange ? exchange->code : 0;
    }
};

size_t WriteToSink(char* data, size_t size, size_t count, void* user) {
    auto* outcome = static_cast<Outcome*>(user);
    const qint64 length = qint64(size * count);
    if (outcome->request->sink->write(data, length) != length) {
        outcome->sinkFailed = true;
        return 0;
    }
    outcome->received += length;
    return size_t(length);
}

size_t ReadFromSource(char* buffer, size_t size, size_t count, void* user) {
    auto* outcome = static_cast<Outcome*>(user);
    const qint64 length = outcome->request->source->read(buffer, qint64(size * count));
    if (length < 0) {
        outcome->sourceFailed = true;
        return CURL_READFUNC_ABORT;
    }
    outcome->sent += length;
    return size_t(length);
}

int ReportProgress(void* user, curl_off_t downTotal, curl_off_t downDone, curl_off_t upTotal, curl_off_t upDone) {
    auto* outcome = static_cast<Outcome*>(user);
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
    auto* outcome = static_cast<Outcome*>(user);
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

QByteArray Command(const char* verb, const QString& argument) {
    return QByteArray(verb) + ' ' + argument.toUtf8();
}

// A quoted command that libcurl runs on even when the server refuses it; the reply is judged here.
QByteArray Tolerant(const QByteArray& command) {
    return '*' + command;
}

TransferResult Success(int ftpReply = 0) {
    TransferResult result;
    result.ok = true;
    result.ftpReply = ftpReply;
    return result;
}

TransferResult Failure(TransferFailure failure, const QString& message, int curlCode = 0, int ftpReply = 0) {
    TransferResult result;
    result.failure = failure;
    result.message = message;
    result.curlCode = curlCode;
    result.ftpReply = ftpReply;
    return result;
}

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Marks the client busy for one call, so that a second thread cannot share its connections.
class BusyGuard final {
public:
    explicit BusyGuard(std::atomic<bool>& busy) : m_busy(busy), m_owned(!busy.exchange(true)) {}
    ~BusyGuard() {
        if (m_owned)
            m_busy = false;
    }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    bool owned() const { return m_owned; }

private:
    std::atomic<bool>& m_busy;
    bool m_owned;
};

TransferResult BusyFailure() {
    return Failure(TransferFailure::Busy, QStringLiteral("上一个文件传输还没有结束，请稍候再试"));
}

} // namespace

struct FtpClient::Impl {
    FtpOptions options;
    std::map<QString, CURL*> handles; // one per server and account
    CURLM* multi = nullptr;           // keeps the connections between commands
    std::atomic<bool> busy{false};

    ~Impl() { disconnect(); }

    // libcurl's own blocking call waits up to a second whenever the FTP state machine sets no
    // timer, which it fails to do now and then after opening a data connection: a batch of 500
    // drawings took minutes instead of seconds. Driving the transfer here bounds every wait.
    CURLcode performBounded(CURL* handle) {
        if (!multi)
            multi = curl_multi_init();
        if (!multi)
            return CURLE_OUT_OF_MEMORY;
        if (curl_multi_add_handle(multi, handle) != CURLM_OK)
            return CURLE_FAILED_INIT;
        CURLcode result = CURLE_OK;
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
            if (wait < 0 || wait > 10)
                wait = 10;
            curl_multi_poll(multi, nullptr, 0, int(wait), nullptr);
        }
        curl_multi_remove_handle(multi, handle);
        return result;
    }

    // Parses the URL and the remote path and holds the client for one call.
    template <typename Operation>
    TransferResult run(const QString& volumeUrl, const QString& remotePath, Operation&& operation) {
        const BusyGuard guard(busy);
        if (!guard.owned())
            return BusyFailure();
        QString error;
        const auto server = ParseVolumeUrl(volumeUrl, &error);
        if (!server)
            return Failure(TransferFailure::BadUrl, error);
        const auto path = CanonicalRemoteSegments(remotePath, &error);
        if (!path)
            return Failure(TransferFailure::BadCommand, error);
        return operation(*server, *path);
    }

    void disconnect() {
        // The kept connections live in the multi handle; cleaning it up closes them.
        if (multi)
            curl_multi_cleanup(multi);
        multi = nullptr;
        for (auto& [key, handle] : handles)
            curl_easy_cleanup(handle);
        handles.clear();
    }

    CURL* handleFor(const VolumeAddress& server) {
        const QString key = server.host + u'\n' + QString::number(server.port) + u'\n' + server.user;
        auto it = handles.find(key);
        if (it == handles.end())
            it = handles.emplace(key, curl_easy_init()).first;
        return it->second;
    }

    static QByteArray UrlOf(const VolumeAddress& server, const Request& request) {
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

    Outcome perform(const VolumeAddress& server, const Request& request) {
        Outcome outcome;
        outcome.request = &request;
        outcome.dialogue.trace = options.trace;
        CURL* handle = handleFor(server);
        if (!handle) {
            outcome.code = CURLE_FAILED_INIT;
            outcome.curlText = QString::fromUtf8(curl_easy_strerror(outcome.code));
            return outcome;
        }

        const QByteArray url = UrlOf(server, request);
        const QByteArray user = server.user.toUtf8();
        const QByteArray password = server.password.toUtf8();
        const SList quote(request.quote);
        const SList postQuote(request.postQuote);
        char errorText[CURL_ERROR_SIZE] = {};
        const long stallSeconds = std::max<long>(1, long(options.stallTime.count()));

        curl_easy_reset(handle);
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        // Credentials stay out of the URL so that no libcurl message can echo the password.
        curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeout.count()));
        curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, options.stallBytesPerSecond);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stallSeconds);
        // Every command names its path from the login folder, so a reused connection never depends on
        // where an earlier command left it.
        curl_easy_setopt(handle, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        // Plain PASV: the reply names the data address, which also suits servers behind NAT.
        curl_easy_setopt(handle, CURLOPT_FTP_USE_EPSV, 0L);
        curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, CollectDialogue);
        curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &outcome);
        if (quote.get())
            curl_easy_setopt(handle, CURLOPT_QUOTE, quote.get());
        if (postQuote.get())
            curl_easy_setopt(handle, CURLOPT_POSTQUOTE, postQuote.get());
        if (request.noBody)
            curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
        if (request.listNames)
            curl_easy_setopt(handle, CURLOPT_DIRLISTONLY, 1L);
        if (request.source) {
            curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadFromSource);
            curl_easy_setopt(handle, CURLOPT_READDATA, &outcome);
            curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.sourceSize));
        }
        if (request.sink) {
            curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToSink);
            curl_easy_setopt(handle, CURLOPT_WRITEDATA, &outcome);
        }
        if (request.progress && *request.progress) {
            curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, ReportProgress);
            curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &outcome);
        }

        outcome.code = performBounded(handle);
        if (outcome.code != CURLE_OK) {
            outcome.curlText = QString::fromUtf8(errorText).trimmed();
            if (outcome.curlText.isEmpty())
                outcome.curlText = QString::fromUtf8(curl_easy_strerror(outcome.code));
        }
        curl_off_t announced = -1;
        if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK)
            outcome.announcedSize = qint64(announced);
        // The handle outlives this frame and its connection may be closed later; it must not keep
        // pointers to the buffers and lists above.
        curl_easy_reset(handle);
        return outcome;
    }

    // Failures of the connection itself, whatever the command was.
    std::optional<TransferResult> linkFailure(const VolumeAddress& server, const Outcome& outcome) const {
        const QString where = server.display();
        const int code = int(outcome.code);
        switch (outcome.code) {
        case CURLE_OK:
            return std::nullopt;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return Failure(TransferFailure::ConnectFailed,
                           QStringLiteral("连接FTP服务器%1失败：%2").arg(where, outcome.curlText), code);
        case CURLE_LOGIN_DENIED:
            return Failure(TransferFailure::LoginDenied,
                           QStringLiteral("FTP服务器%1拒绝登录，请检查管理员信息").arg(where), code, 530);
        case CURLE_OPERATION_TIMEDOUT:
            if (!outcome.dialogue.heardServer()) {
                const double seconds = double(options.connectTimeout.count()) / 1000.0;
                return Failure(TransferFailure::Timeout,
                               QStringLiteral("连接FTP服务器%1失败：%2秒内没有应答").arg(where).arg(seconds), code);
            }
            return Failure(
                TransferFailure::Timeout,
                QStringLiteral("FTP服务器%1在%2秒内没有响应，传输中断").arg(where).arg(options.stallTime.count()),
                code);
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_CANT_GET_HOST:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            if (!outcome.dialogue.heardServer())
                return Failure(TransferFailure::ConnectFailed,
                               QStringLiteral("连接FTP服务器%1失败：%2").arg(where, outcome.curlText), code);
            return Failure(TransferFailure::Interrupted,
                           QStringLiteral("与FTP服务器%1的传输中断：%2").arg(where, outcome.curlText), code);
        default:
            return std::nullopt;
        }
    }

    // A failure not tied to the connection: the operation's own wording with the server's refusal.
    TransferResult refusal(const QString& what, const Outcome& outcome, int reply = 0) const {
        QString detail = outcome.dialogue.lastRefusal();
        if (detail.isEmpty())
            detail = outcome.curlText;
        return Failure(TransferFailure::RemoteRefused, what + QStringLiteral("：") + detail, int(outcome.code),
                       reply ? reply : detail.left(3).toInt());
    }

    TransferResult noAnswer(const VolumeAddress& server, const QByteArray& command, const Outcome& outcome) const {
        return Failure(TransferFailure::Internal,
                       QStringLiteral("FTP服务器%1没有答复命令%2")
                           .arg(server.display(), QString::fromUtf8(command.split(' ').first())),
                       int(outcome.code));
    }

    // Commands only, on the account's root folder; each is run even if the one before was refused.
    Outcome commands(const VolumeAddress& server, const std::vector<QByteArray>& list) {
        Request request;
        request.folderUrl = true;
        request.noBody = true;
        for (const QByteArray& command : list)
            request.quote.push_back(Tolerant(command));
        return perform(server, request);
    }

    TransferResult exists(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QByteArray mlst = Command("MLST", joined);
        const Outcome outcome = commands(server, {mlst});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const Exchange* exchange = outcome.dialogue.replyTo(mlst);
        if (!exchange)
            return noAnswer(server, mlst, outcome);

        TransferResult result = Success();
        result.ftpReply = exchange->code;
        if (exchange->code == kActionDone) {
            result.kind = RemoteKind::File;
            // The facts sit between the opening "250-" line and the closing one: "type=dir;size=0; path".
            const QByteArrayList lines = exchange->reply.split('\n');
            for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
                const QByteArray facts = lines[i].left(lines[i].indexOf(' '));
                for (const QByteArray& fact : facts.split(';')) {
                    const QByteArray lower = fact.toLower();
                    if (lower == "type=dir" || lower == "type=cdir" || lower == "type=pdir")
                        result.kind = RemoteKind::Folder;
                }
            }
            return result;
        }
        if (exchange->code == 550 || exchange->code == 450) {
            result.kind = RemoteKind::Absent;
            return result;
        }
        return existsWithoutMlst(server, path);
    }

    // For servers without MLST: a file answers SIZE; a folder shows up in its parent's name list.
    TransferResult existsWithoutMlst(const VolumeAddress& server, const QStringList& path) {
        const QByteArray size = Command("SIZE", path.join(u'/'));
        const Outcome sized = commands(server, {"TYPE I", size});
        if (auto failed = linkFailure(server, sized))
            return *failed;
        TransferResult result = Success();
        if (sized.reply(size) == kFileStatus) {
            result.kind = RemoteKind::File;
            return result;
        }

        QBuffer names;
        names.open(QIODevice::WriteOnly);
        Request listing;
        listing.path = path.mid(0, path.size() - 1);
        listing.folderUrl = true;
        listing.listNames = true;
        listing.sink = &names;
        const Outcome listed = perform(server, listing);
        if (auto failed = linkFailure(server, listed))
            return *failed;
        result.kind = RemoteKind::Absent;
        if (listed.code != CURLE_OK)
            return result; // no readable parent folder, so nothing below it either
        for (const QByteArray& line : names.data().split('\n')) {
            const QByteArray entry = line.trimmed();
            const QString name = QString::fromUtf8(entry.mid(entry.lastIndexOf('/') + 1));
            if (name == path.last())
                result.kind = RemoteKind::Folder;
        }
        return result;
    }

    TransferResult size(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QByteArray size = Command("SIZE", joined);
        // Some servers refuse SIZE in ASCII mode, the default of a fresh login.
        const Outcome outcome = commands(server, {"TYPE I", size});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        QString text;
        const int code = outcome.reply(size, &text);
        if (code == kFileStatus) {
            bool ok = false;
            const qint64 bytes = text.mid(4).trimmed().toLongLong(&ok);
            if (ok) {
                TransferResult result = Success();
                result.ftpReply = code;
                result.size = bytes;
                return result;
            }
        }
        const TransferResult found = exists(server, path);
        if (!found.ok)
            return found;
        if (found.kind == RemoteKind::Absent)
            return Failure(TransferFailure::RemoteMissing,
                           QStringLiteral("FTP服务器%1上不存在文件%2").arg(server.display(), joined), 0, code);
        return Failure(TransferFailure::RemoteRefused,
                       QStringLiteral("无法得到FTP服务器%1上%2的大小：%3").arg(server.display(), joined, text), 0,
                       code);
    }

    // direct: the path is already a name nobody reads, so the upload goes there without a part file.
    TransferResult put(const VolumeAddress& server, const QString& localPath, const QStringList& path,
                       const TransferProgress& progress, bool direct = false) {
        const QString where = server.display();
        const QString target = path.join(u'/');
        const QFileInfo local(localPath);
        if (!local.exists())
            return Failure(TransferFailure::LocalFileMissing, QStringLiteral("本地文件不存在：%1").arg(localPath));
        QFile source(localPath);
        if (local.isDir() || !source.open(QIODevice::ReadOnly))
            return Failure(TransferFailure::LocalReadFailed, QStringLiteral("读取本地文件%1失败").arg(localPath));
        const QString uploadFailed = QStringLiteral("上传%1到FTP服务器%2上的%3失败").arg(localPath, where, target);

        // The file goes up under a name of its own and takes its real name only once complete, so a
        // broken upload never leaves a truncated drawing, nor destroys an older one of the same name.
        const QString partName = u'.' + path.last() + u'.' +
                                 QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".part");
        QStringList partPath = path;
        if (!direct)
            partPath.last() = partName;
        const QString part = partPath.join(u'/');
        const QByteArray partSize = Command("SIZE", part);

        Request upload;
        upload.path = partPath;
        upload.source = &source;
        upload.sourceSize = source.size();
        upload.progress = &progress;
        upload.postQuote = {Tolerant(partSize)};
        const Outcome sent = perform(server, upload);
        if (sent.code != CURLE_OK) {
            if (sent.sourceFailed)
                return discardPart(server, part,
                                   Failure(TransferFailure::LocalReadFailed,
                                           QStringLiteral("读取本地文件%1失败").arg(localPath), int(sent.code)));
            if (auto failed = linkFailure(server, sent))
                return *failed; // the connection is gone; the part name is left to a later clean-up
            return discardPart(server, part, refusal(uploadFailed, sent));
        }
        QString sizeText;
        if (sent.reply(partSize, &sizeText) == kFileStatus &&
            sizeText.mid(4).trimmed().toLongLong() != upload.sourceSize)
            return discardPart(server, part,
                               Failure(TransferFailure::Incomplete,
                                       QStringLiteral("%1：传输中断，服务器上只有%2字节，应为%3字节")
                                           .arg(uploadFailed, sizeText.mid(4).trimmed())
                                           .arg(upload.sourceSize),
                                       0, kFileStatus));

        if (direct) {
            TransferResult done = Success();
            done.bytes = sent.sent;
            done.size = upload.sourceSize;
            return done;
        }
        TransferResult renamed = rename(server, partPath, path, uploadFailed);
        if (!renamed.ok && renamed.failure == TransferFailure::RemoteRefused) {
            // Servers that will not rename onto an existing name get the old file removed first; the
            // complete new one is already safe under its part name.
            const TransferResult old = exists(server, path);
            if (old.ok && old.kind == RemoteKind::File) {
                const Outcome removed = commands(server, {Command("DELE", target)});
                if (removed.reply(Command("DELE", target)) == kActionDone)
                    renamed = rename(server, partPath, path, uploadFailed);
            }
        }
        if (!renamed.ok)
            return renamed.failure == TransferFailure::RemoteRefused ? discardPart(server, part, renamed) : renamed;
        TransferResult result = Success();
        result.bytes = sent.sent;
        result.size = upload.sourceSize;
        return result;
    }

    TransferResult discardPart(const VolumeAddress& server, const QString& part, TransferResult failure) {
        commands(server, {Command("DELE", part)});
        return failure;
    }

    TransferResult get(const VolumeAddress& server, const QStringList& path, const QString& localPath,
                       const TransferProgress& progress) {
        const QString where = server.display();
        const QString source = path.join(u'/');
        const QFileInfo local(localPath);
        const QString folder = local.absolutePath();
        if (!QFileInfo(folder).isDir())
            return Failure(TransferFailure::LocalFolderMissing,
                           QStringLiteral("本地文件夹不存在：%1").arg(QDir::toNativeSeparators(folder)));
        if (local.isDir())
            return Failure(TransferFailure::LocalWriteFailed,
                           QStringLiteral("写入本地文件%1失败：这是一个文件夹").arg(localPath));

        // The download lands in a file of its own beside the target and replaces it only when complete.
        QSaveFile target(localPath);
        target.setDirectWriteFallback(false);
        if (!target.open(QIODevice::WriteOnly))
            return Failure(TransferFailure::LocalWriteFailed,
                           QStringLiteral("写入本地文件%1失败：%2").arg(localPath, target.errorString()));

        Request download;
        download.path = path;
        download.sink = &target;
        download.progress = &progress;
        const Outcome received = perform(server, download);
        if (received.code != CURLE_OK) {
            target.cancelWriting();
            if (received.sinkFailed)
                return Failure(TransferFailure::LocalWriteFailed,
                               QStringLiteral("写入本地文件%1失败：%2").arg(localPath, target.errorString()),
                               int(received.code));
            if (auto failed = linkFailure(server, received))
                return *failed;
            const QString what = QStringLiteral("从FTP服务器%1下载%2失败").arg(where, source);
            if (received.code == CURLE_REMOTE_FILE_NOT_FOUND || received.code == CURLE_FTP_COULDNT_RETR_FILE) {
                // 550 means "not there" as often as "not allowed"; ask before saying which.
                const TransferResult found = exists(server, path);
                if (found.ok && found.kind == RemoteKind::Absent)
                    return Failure(TransferFailure::RemoteMissing,
                                   QStringLiteral("FTP服务器%1上不存在文件%2").arg(where, source), int(received.code),
                                   550);
                if (found.ok && found.kind == RemoteKind::Folder)
                    return Failure(TransferFailure::RemoteRefused, QStringLiteral("%1：这是一个文件夹").arg(what),
                                   int(received.code), 550);
            }
            return refusal(what, received);
        }
        if (received.announcedSize >= 0 && received.announcedSize != received.received) {
            target.cancelWriting();
            return Failure(TransferFailure::Incomplete,
                           QStringLiteral("从FTP服务器%1下载%2时传输中断：收到%3字节，应为%4字节")
                               .arg(where, source)
                               .arg(received.received)
                               .arg(received.announcedSize));
        }
        if (!target.commit())
            return Failure(TransferFailure::LocalWriteFailed,
                           QStringLiteral("写入本地文件%1失败：%2").arg(localPath, target.errorString()));
        TransferResult result = Success();
        result.bytes = received.received;
        result.size = received.announcedSize;
        return result;
    }

    TransferResult remove(const VolumeAddress& server, const QStringList& path) {
        return removeWith("DELE", server, path, QStringLiteral("删除FTP服务器%1上的文件%2失败"));
    }

    // DELE and RMD alike: done, or refused because the thing is already gone (which counts as done).
    TransferResult removeWith(const char* verb, const VolumeAddress& server, const QStringList& path,
                              const QString& failureText) {
        const QString joined = path.join(u'/');
        const QByteArray command = Command(verb, joined);
        const Outcome outcome = commands(server, {command});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const int code = outcome.reply(command);
        if (code == 0)
            return noAnswer(server, command, outcome);
        if (code == kActionDone)
            return Success(code);
        return absentOrRefused(server, path, outcome, failureText.arg(server.display(), joined));
    }

    // A refused removal counts as done when the thing is not there at all.
    TransferResult absentOrRefused(const VolumeAddress& server, const QStringList& path, const Outcome& outcome,
                                   const QString& what) {
        const TransferResult found = exists(server, path);
        if (!found.ok)
            return found;
        if (found.kind == RemoteKind::Absent) {
            TransferResult result = Success();
            result.wasAbsent = true;
            return result;
        }
        return refusal(what, outcome);
    }

    TransferResult makeFolder(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QString what = QStringLiteral("在FTP服务器%1上创建文件夹%2失败").arg(server.display(), joined);
        const QByteArray command = Command("MKD", joined);
        Outcome outcome = commands(server, {command});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        if (outcome.reply(command) == kPathCreated)
            return Success(kPathCreated);

        const TransferResult found = exists(server, path);
        if (!found.ok)
            return found;
        if (found.kind == RemoteKind::Folder) {
            TransferResult result = Success();
            result.alreadyExisted = true;
            return result;
        }
        if (found.kind == RemoteKind::File)
            return Failure(TransferFailure::RemoteRefused, what + QStringLiteral("：已有同名文件"), 0,
                           outcome.reply(command));

        // Most likely the top folder is missing on a fresh server: create the parents, then try again.
        std::vector<QByteArray> chain;
        for (qsizetype depth = 1; depth < path.size(); ++depth)
            chain.push_back(Command("MKD", path.mid(0, depth).join(u'/')));
        chain.push_back(command);
        outcome = commands(server, chain);
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        if (outcome.reply(command) == kPathCreated)
            return Success(kPathCreated);
        return refusal(what, outcome);
    }

    TransferResult removeFolder(const VolumeAddress& server, const QStringList& path) {
        return removeWith("RMD", server, path, QStringLiteral("删除FTP服务器%1上的文件夹%2失败"));
    }

    TransferResult rename(const VolumeAddress& server, const QStringList& from, const QStringList& to,
                          const QString& what) {
        const QByteArray rnfr = Command("RNFR", from.join(u'/'));
        const QByteArray rnto = Command("RNTO", to.join(u'/'));
        const Outcome outcome = commands(server, {rnfr, rnto});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const int fromCode = outcome.reply(rnfr);
        if (fromCode == 0)
            return noAnswer(server, rnfr, outcome);
        if (fromCode != kPendingRename) {
            const TransferResult found = exists(server, from);
            if (found.ok && found.kind == RemoteKind::Absent)
                return Failure(TransferFailure::RemoteMissing,
                               QStringLiteral("FTP服务器%1上不存在文件%2").arg(server.display(), from.join(u'/')), 0,
                               fromCode);
            return refusal(what, outcome, fromCode);
        }
        const int toCode = outcome.reply(rnto);
        if (toCode == kActionDone)
            return Success(toCode);
        return toCode == 0 ? noAnswer(server, rnto, outcome) : refusal(what, outcome, toCode);
    }
};

FtpClient::FtpClient(FtpOptions options) : m_impl(std::make_unique<Impl>()) {
    EnsureCurlInitialised();
    m_impl->options = options;
}

FtpClient::~FtpClient() = default;

const FtpOptions& FtpClient::options() const {
    return m_impl->options;
}

void FtpClient::Disconnect() {
    const BusyGuard guard(m_impl->busy);
    if (guard.owned())
        m_impl->disconnect();
}

TransferResult FtpClient::Execute(const QString& volumeUrl, const QString& commandText,
                                  const TransferProgress& progress) {
    QString error;
    const auto parsed = ParseCommand(commandText, &error);
    if (!parsed)
        return Failure(TransferFailure::BadCommand, error);
    switch (parsed->verb) {
    case TransferVerb::Put:
        return Put(volumeUrl, parsed->localPath, parsed->remotePath, progress);
    case TransferVerb::Get:
        return Get(volumeUrl, parsed->remotePath, parsed->localPath, progress);
    case TransferVerb::Delete:
        return Delete(volumeUrl, parsed->remotePath);
    case TransferVerb::Mkdir:
        return MakeFolder(volumeUrl, parsed->remotePath);
    case TransferVerb::Rmdir:
        return RemoveFolder(volumeUrl, parsed->remotePath);
    }
    return Failure(TransferFailure::BadCommand, error);
}

TransferResult FtpClient::Put(const QString& volumeUrl, const QString& localPath, const QString& remotePath,
                              const TransferProgress& progress) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->put(server, localPath, path, progress);
    });
}

TransferResult FtpClient::PutPrivate(const QString& volumeUrl, const QString& localPath, const QString& remotePath,
                                     const TransferProgress& progress) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->put(server, localPath, path, progress, true);
    });
}

TransferResult FtpClient::Get(const QString& volumeUrl, const QString& remotePath, const QString& localPath,
                              const TransferProgress& progress) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->get(server, path, localPath, progress);
    });
}

TransferResult FtpClient::Delete(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->remove(server, path);
    });
}

TransferResult FtpClient::MakeFolder(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->makeFolder(server, path);
    });
}

TransferResult FtpClient::RemoveFolder(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->removeFolder(server, path);
    });
}

TransferResult FtpClient::Exists(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->exists(server, path);
    });
}

TransferResult FtpClient::Size(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->size(server, path);
    });
}

TransferResult FtpClient::Rename(const QString& volumeUrl, const QString& fromRemotePath, const QString& toRemotePath) {
    return m_impl->run(volumeUrl, fromRemotePath, [&](const VolumeAddress& server, const QStringList& from) {
        QString error;
        const auto to = CanonicalRemoteSegments(toRemotePath, &error);
        if (!to)
            return Failure(TransferFailure::BadCommand, error);
        return m_impl->rename(
            server, from, *to,
            QStringLiteral("在FTP服务器%1上将%2改名为%3失败").arg(server.display(), from.join(u'/'), to->join(u'/')));
    });
}

} // namespace velda
