#include "transfer/FtpClient.h"

#include "transfer/FtpDriver.h"
#include "transfer/FtpListing.h"
#include "transfer/FtpReply.h"
#include "transfer/TransferCommand.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// The user reads what went wrong in Chinese first; the words of libcurl or of the server follow on a line
// of their own, for whoever looks after the server.
QString Detail(const QString& said) {
    return said.isEmpty() ? QString() : QStringLiteral("\n（详细信息：%1）").arg(said);
}

QString ConnectFailedText(const QString& where, const QString& cause) {
    return QStringLiteral("无法连接FTP服务器%1：%2").arg(where, cause);
}

const QString kCheckServer = QStringLiteral("请检查服务器地址、端口及服务器是否已启动。");

// 452 and 552 are the replies of a server whose disk (or the account's quota) is full; servers that
// abort the transfer instead (426, 451) say so in words.
bool DiskFull(const FtpPerformed& outcome) {
    const QString refusal = outcome.dialogue.lastRefusal();
    return outcome.code == CURLE_REMOTE_DISK_FULL || refusal.startsWith(QLatin1String("452")) ||
           refusal.startsWith(QLatin1String("552")) ||
           refusal.contains(QLatin1String("No space left"), Qt::CaseInsensitive) ||
           refusal.contains(QLatin1String("quota"), Qt::CaseInsensitive);
}

// The server's own refusal where it gave one, else libcurl's description.
QString ServerWords(const FtpPerformed& outcome) {
    const QString refusal = outcome.dialogue.lastRefusal();
    return refusal.isEmpty() ? outcome.curlText : refusal;
}

TransferResult BusyFailure() {
    return Failure(TransferFailure::Busy, QStringLiteral("上一个文件传输还没有结束，请稍候再试"));
}

} // namespace

namespace {

// Why the system refused to write a local file, in the user's words, the system's own text after
// it for the administrator. Without the cause a full disk read "写入本地文件…失败：Unknown error".
QString LocalWriteProblem(int error, const QString& systemText) {
    QString cause;
    switch (error) {
    case ENOSPC:
        cause = QStringLiteral("磁盘空间不足");
        break;
    case EDQUOT:
        cause = QStringLiteral("超出磁盘配额");
        break;
    case EACCES:
    case EPERM:
        cause = QStringLiteral("没有写入权限");
        break;
    case EROFS:
        cause = QStringLiteral("磁盘为只读，不能写入");
        break;
    case EFBIG:
        cause = QStringLiteral("文件超出系统允许的大小");
        break;
    case EIO:
        cause = QStringLiteral("磁盘读写出错");
        break;
    case ENOENT:
        cause = QStringLiteral("文件夹不存在");
        break;
    case EEXIST:
        cause = QStringLiteral("同名文件已存在");
        break;
    case EISDIR:
        cause = QStringLiteral("这是一个文件夹");
        break;
    case ENAMETOOLONG:
        cause = QStringLiteral("文件名过长");
        break;
    case EMFILE:
    case ENFILE:
        cause = QStringLiteral("打开的文件过多");
        break;
    case EBUSY:
    case ETXTBSY:
        cause = QStringLiteral("文件正被使用");
        break;
    default:
        break;
    }
    const QString detail = error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : systemText;
    if (cause.isEmpty())
        return detail.isEmpty() ? QStringLiteral("原因不明") : detail;
    return QStringLiteral("%1（%2）").arg(cause, detail);
}

// A file that keeps the system's reason for its first refused write: QFile keeps only a text, and
// closing or removing the file clears it.
class LocalFile final : public QFile {
public:
    using QFile::QFile;
    int refusal() const { return m_errno; }
    void noteRefusal(int error) {
        if (m_errno == 0)
            m_errno = error;
    }

protected:
    qint64 writeData(const char* data, qint64 length) override {
        errno = 0;
        const qint64 written = QFile::writeData(data, length);
        if (written != length)
            noteRefusal(errno);
        return written;
    }

private:
    int m_errno = 0;
};

// A download's own file beside its target, moved over the target in one step once complete and
// removed otherwise, so the target is either as it was or the whole file. Unlike QSaveFile it asks
// for no sync to disk: a copy lost to a power cut is fetched again from the library, and a sync
// per file would cost more than the transfer itself.
class PartFile final {
public:
    // direct: the target is already a name nobody else reads; it is written in place, created new.
    PartFile(const QString& target, bool direct)
        : m_target(target),
          m_file(direct ? target
                        : QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName() +
                              QStringLiteral(".down-") + QString::number(QRandomGenerator::global()->generate64(), 36)),
          m_direct(direct) {}
    ~PartFile() {
        if (!m_done)
            cancelWriting();
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool open() {
        errno = 0;
        m_created = m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        if (!m_created)
            noteProblem(errno);
        return m_created;
    }
    QIODevice* device() { return &m_file; }
    // Only a file this download created is removed: a name already taken belongs to someone else.
    void cancelWriting() {
        noteProblem(m_file.refusal());
        m_file.close();
        if (m_created)
            m_file.remove();
        m_done = true;
    }
    bool commit() {
        errno = 0;
        const bool written = m_file.flush();
        if (!written)
            m_file.noteRefusal(errno);
        errno = 0;
        m_file.close();
        if (!written || m_file.error() != QFileDevice::NoError) {
            m_file.noteRefusal(errno);
            cancelWriting();
            return false;
        }
        if (!m_direct && std::rename(QFile::encodeName(m_file.fileName()).constData(),
                                     QFile::encodeName(m_target).constData()) != 0) {
            noteProblem(errno);
            cancelWriting();
            return false;
        }
        m_done = true;
        return true;
    }
    // Why the file could not be written; meant once writing has failed.
    QString errorString() const { return m_problem.isEmpty() ? LocalWriteProblem(0, m_file.errorString()) : m_problem; }

private:
    // The first reason wins: what a later close or removal says is a consequence.
    void noteProblem(int error) {
        if (m_problem.isEmpty() && (error != 0 || m_file.error() != QFileDevice::NoError))
            m_problem = LocalWriteProblem(error, m_file.errorString());
    }

    QString m_target;
    LocalFile m_file;
    bool m_direct;
    QString m_problem;
    bool m_created = false;
    bool m_done = false;
};

} // namespace

struct FtpClient::Impl {
    explicit Impl(FtpOptions options) : driver(options) {}

    FtpDriver driver;
    std::atomic<bool> busy{false};
    std::atomic<bool> stop{false};

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
        if (std::optional<TransferResult> tooLong = overlong(*path))
            return *tooLong;
        return operation(*server, *path);
    }

    // Refused before anything is sent: see FtpDriver::kMaxPathBytes.
    static std::optional<TransferResult> overlong(const QStringList& path) {
        const qsizetype bytes = path.join(u'/').toUtf8().size();
        if (bytes <= FtpDriver::kMaxPathBytes)
            return std::nullopt;
        return Failure(TransferFailure::BadCommand,
                       QStringLiteral("远程路径过长（%1字节，最多%2字节），未发送给FTP服务器")
                           .arg(bytes)
                           .arg(FtpDriver::kMaxPathBytes));
    }

    // Failures of the connection itself, whatever the command was.
    // The user reads what failed and where first, in Chinese, with the port even when it was left to
    // the default; libcurl's own words follow on a line of their own, for the administrator.
    std::optional<TransferResult> linkFailure(const VolumeAddress& server, const FtpPerformed& outcome) const {
        VolumeAddress shown = server;
        shown.explicitPort = true;
        const QString where = shown.display();
        const QString said = Detail(outcome.curlText);
        const int code = int(outcome.code);
        if (outcome.outOfStep) {
            // A server that fails a session after login often says why in a reply of its own (vsftpd's
            // "500 OOPS: ..."): the administrator needs that line.
            const QString refusal = outcome.dialogue.lastRefusal();
            return Failure(TransferFailure::Interrupted,
                           QStringLiteral("FTP服务器%1的应答与所发命令不对应，连接已断开，请重试").arg(where) +
                               (refusal.isEmpty() ? QString() : QStringLiteral("\n服务器应答：") + refusal),
                           code);
        }
        switch (outcome.code) {
        case CURLE_OK:
            return std::nullopt;
        case CURLE_ABORTED_BY_CALLBACK:
            return Failure(TransferFailure::Stopped, QStringLiteral("与FTP服务器%1的传输已停止").arg(where), code);
        case CURLE_COULDNT_RESOLVE_HOST:
            return Failure(TransferFailure::ConnectFailed,
                           ConnectFailedText(where, QStringLiteral("找不到该服务器，请检查服务器地址。")) + said, code);
        case CURLE_COULDNT_CONNECT:
            return Failure(TransferFailure::ConnectFailed,
                           ConnectFailedText(where, QStringLiteral("服务器拒绝连接，") + kCheckServer) + said, code);
        case CURLE_LOGIN_DENIED:
            return Failure(TransferFailure::LoginDenied,
                           QStringLiteral("FTP服务器%1拒绝登录，请检查管理员信息").arg(where) +
                               Detail(ServerWords(outcome)),
                           code, 530);
        case CURLE_OPERATION_TIMEDOUT:
            if (!outcome.dialogue.heardServer()) {
                const double seconds = double(driver.options().connectTimeout.count()) / 1000.0;
                return Failure(TransferFailure::Timeout,
                               ConnectFailedText(where, QStringLiteral("连接超时，%1秒内没有应答").arg(seconds)) + said,
                               code);
            }
            return Failure(TransferFailure::Timeout,
                           QStringLiteral("FTP服务器%1在%2秒内没有响应，传输中断")
                                   .arg(where)
                                   .arg(driver.options().stallTime.count()) +
                               said,
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
                return Failure(TransferFailure::ConnectFailed, ConnectFailedText(where, kCheckServer) + said, code);
            if (DiskFull(outcome))
                return std::nullopt; // the operation names what it could not store
            return Failure(TransferFailure::Interrupted,
                           QStringLiteral("与FTP服务器%1的传输中断：连接意外断开。").arg(where) + said, code);
        default:
            return std::nullopt;
        }
    }

    // A failure not tied to the connection: the operation's own wording with the server's refusal.
    TransferResult refusal(const QString& what, const FtpPerformed& outcome, int reply = 0) const {
        const QString detail = ServerWords(outcome);
        const QString cause = DiskFull(outcome) ? QStringLiteral("FTP服务器磁盘空间已满")
                              : outcome.dialogue.lastRefusal().isEmpty() ? QStringLiteral("传输出错")
                                                                         : QStringLiteral("服务器拒绝执行");
        return Failure(TransferFailure::RemoteRefused, what + QStringLiteral("：") + cause + Detail(detail),
                       int(outcome.code), reply ? reply : detail.left(3).toInt());
    }

    TransferResult noAnswer(const VolumeAddress& server, const QByteArray& command, const FtpPerformed& outcome) const {
        return Failure(TransferFailure::Internal,
                       QStringLiteral("FTP服务器%1没有答复命令%2")
                           .arg(server.display(), QString::fromUtf8(command.split(' ').first())),
                       int(outcome.code));
    }

    TransferResult exists(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QByteArray mlst = FtpCommand("MLST", joined);
        const FtpPerformed outcome = driver.commands(server, {mlst});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const FtpExchange* exchange = outcome.dialogue.replyTo(mlst);
        if (!exchange)
            return noAnswer(server, mlst, outcome);

        TransferResult result = Success();
        result.ftpReply = exchange->code;
        result.kind = ParseMlstReply(exchange->code, exchange->reply);
        if (result.kind != RemoteKind::Unknown)
            return result;
        return existsWithoutMlst(server, path);
    }

    // For servers without MLST: a file answers SIZE; a folder shows up in its parent's name list.
    TransferResult existsWithoutMlst(const VolumeAddress& server, const QStringList& path) {
        const QByteArray size = FtpCommand("SIZE", path.join(u'/'));
        const FtpPerformed sized = driver.commands(server, {"TYPE I", size});
        if (auto failed = linkFailure(server, sized))
            return *failed;
        TransferResult result = Success();
        if (sized.reply(size) == kFtpFileStatus) {
            result.kind = RemoteKind::File;
            return result;
        }

        QBuffer names;
        names.open(QIODevice::WriteOnly);
        FtpRequest listing;
        listing.path = path.mid(0, path.size() - 1);
        listing.folderUrl = true;
        listing.listNames = true;
        listing.sink = &names;
        const FtpPerformed listed = driver.perform(server, listing);
        if (auto failed = linkFailure(server, listed))
            return *failed;
        result.kind = RemoteKind::Absent;
        if (listed.code != CURLE_OK)
            return result; // no readable parent folder, so nothing below it either
        if (NameListHolds(names.data(), path.last()))
            result.kind = RemoteKind::Folder;
        return result;
    }

    TransferResult size(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QByteArray size = FtpCommand("SIZE", joined);
        // Some servers refuse SIZE in ASCII mode, the default of a fresh login.
        const FtpPerformed outcome = driver.commands(server, {"TYPE I", size});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        QString text;
        const int code = outcome.reply(size, &text);
        if (code == kFtpFileStatus) {
            if (const auto bytes = ParseSizeReply(text)) {
                TransferResult result = Success();
                result.ftpReply = code;
                result.size = *bytes;
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
        const QByteArray partSize = FtpCommand("SIZE", part);

        FtpRequest upload;
        upload.path = partPath;
        upload.source = &source;
        upload.sourceSize = source.size();
        upload.progress = &progress;
        upload.stop = &stop;
        upload.postQuote = {Tolerant(partSize)};
        const FtpPerformed sent = driver.perform(server, upload);
        if (sent.code != CURLE_OK) {
            if (sent.sourceFailed)
                return discardPart(server, part,
                                   Failure(TransferFailure::LocalReadFailed,
                                           QStringLiteral("读取本地文件%1失败").arg(localPath), int(sent.code)));
            if (auto failed = linkFailure(server, sent)) {
                // A server that cut the transfer off (a full disk answers 426, 452 or 552) is still
                // there to remove what it kept; one that cannot be reached is not asked again.
                if (failed->failure == TransferFailure::Interrupted || failed->failure == TransferFailure::Incomplete ||
                    failed->failure == TransferFailure::Stopped)
                    return discardPart(server, part, *failed);
                return *failed;
            }
            return discardPart(server, part, refusal(uploadFailed, sent));
        }
        QString sizeText;
        if (sent.reply(partSize, &sizeText) == kFtpFileStatus &&
            sizeText.mid(4).trimmed().toLongLong() != upload.sourceSize)
            return discardPart(server, part,
                               Failure(TransferFailure::Incomplete,
                                       QStringLiteral("%1：传输中断，服务器上只有%2字节，应为%3字节")
                                           .arg(uploadFailed, sizeText.mid(4).trimmed())
                                           .arg(upload.sourceSize),
                                       0, kFtpFileStatus));

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
                const FtpPerformed removed = driver.commands(server, {FtpCommand("DELE", target)});
                if (removed.reply(FtpCommand("DELE", target)) == kFtpActionDone)
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
        driver.commands(server, {FtpCommand("DELE", part)});
        return failure;
    }

    TransferResult get(const VolumeAddress& server, const QStringList& path, const QString& localPath,
                       const TransferProgress& progress, bool askSize, bool direct = false) {
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

        // The download lands in a file of its own beside the target and replaces it only when complete;
        // a private target is that file already.
        PartFile target(localPath, direct);
        if (!target.open())
            return Failure(TransferFailure::LocalWriteFailed,
                           QStringLiteral("写入本地文件%1失败：%2").arg(localPath, target.errorString()));

        FtpRequest download;
        download.path = path;
        download.sink = target.device();
        download.progress = &progress;
        download.stop = &stop;
        download.skipSize = !askSize;
        const FtpPerformed received = driver.perform(server, download);
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
                                   QStringLiteral("FTP服务器%1上不存在文件%2").arg(where, source) +
                                       Detail(ServerWords(received)),
                                   int(received.code), 550);
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
        const QByteArray command = FtpCommand(verb, joined);
        const FtpPerformed outcome = driver.commands(server, {command});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const int code = outcome.reply(command);
        if (code == 0)
            return noAnswer(server, command, outcome);
        if (code == kFtpActionDone)
            return Success(code);
        return absentOrRefused(server, path, outcome, failureText.arg(server.display(), joined));
    }

    // A refused removal counts as done when the thing is not there at all.
    TransferResult absentOrRefused(const VolumeAddress& server, const QStringList& path, const FtpPerformed& outcome,
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
        const QByteArray command = FtpCommand("MKD", joined);
        FtpPerformed outcome = driver.commands(server, {command});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        if (outcome.reply(command) == kFtpPathCreated)
            return Success(kFtpPathCreated);

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
            chain.push_back(FtpCommand("MKD", path.mid(0, depth).join(u'/')));
        chain.push_back(command);
        outcome = driver.commands(server, chain);
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        if (outcome.reply(command) == kFtpPathCreated)
            return Success(kFtpPathCreated);
        return refusal(what, outcome);
    }

    // One listing request; nullopt when the server refused the verb (the caller tries another).
    std::optional<TransferResult> listWith(const VolumeAddress& server, const QStringList& path, const QByteArray& verb,
                                           QByteArray& body) {
        QBuffer sink(&body);
        sink.open(QIODevice::WriteOnly);
        FtpRequest listing;
        listing.path = path;
        listing.folderUrl = true;
        listing.listCommand = verb;
        listing.sink = &sink;
        const FtpPerformed outcome = driver.perform(server, listing);
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        if (outcome.code == CURLE_OK)
            return Success();
        return std::nullopt;
    }

    TransferResult list(const VolumeAddress& server, const QStringList& path, std::vector<RemoteEntry>& entries) {
        entries.clear();
        QByteArray body;
        if (auto done = listWith(server, path, "MLSD", body)) {
            if (done->ok)
                entries = ParseMlsdListing(body);
            return *done;
        }
        body.clear();
        if (auto done = listWith(server, path, "LIST", body)) {
            if (done->ok)
                entries = ParseUnixListing(body, QDateTime::currentDateTimeUtc());
            return *done;
        }
        const QString joined = path.join(u'/');
        const TransferResult found = exists(server, path);
        if (!found.ok)
            return found;
        if (found.kind != RemoteKind::Folder)
            return Failure(TransferFailure::RemoteMissing,
                           QStringLiteral("FTP服务器%1上不存在文件夹%2").arg(server.display(), joined));
        return unlistable(server, path);
    }

    static TransferResult unlistable(const VolumeAddress& server, const QStringList& path) {
        return Failure(TransferFailure::RemoteRefused,
                       QStringLiteral("无法列出FTP服务器%1上文件夹%2的内容").arg(server.display(), path.join(u'/')));
    }

    TransferResult listNames(const VolumeAddress& server, const QStringList& path, QStringList& names) {
        names.clear();
        QByteArray body;
        if (auto done = listWith(server, path, "NLST", body)) {
            if (done->ok)
                names = NameListNames(body);
            return *done;
        }
        return unlistable(server, path);
    }

    TransferResult removeFolder(const VolumeAddress& server, const QStringList& path) {
        return removeWith("RMD", server, path, QStringLiteral("删除FTP服务器%1上的文件夹%2失败"));
    }

    TransferResult rename(const VolumeAddress& server, const QStringList& from, const QStringList& to,
                          const QString& what) {
        const QByteArray rnfr = FtpCommand("RNFR", from.join(u'/'));
        const QByteArray rnto = FtpCommand("RNTO", to.join(u'/'));
        const FtpPerformed outcome = driver.commands(server, {rnfr, rnto});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const int fromCode = outcome.reply(rnfr);
        if (fromCode == 0)
            return noAnswer(server, rnfr, outcome);
        if (fromCode != kFtpPendingRename) {
            const TransferResult found = exists(server, from);
            if (found.ok && found.kind == RemoteKind::Absent)
                return Failure(TransferFailure::RemoteMissing,
                               QStringLiteral("FTP服务器%1上不存在文件%2").arg(server.display(), from.join(u'/')), 0,
                               fromCode);
            return refusal(what, outcome, fromCode);
        }
        const int toCode = outcome.reply(rnto);
        if (toCode == kFtpActionDone)
            return Success(toCode);
        return toCode == 0 ? noAnswer(server, rnto, outcome) : refusal(what, outcome, toCode);
    }
};

FtpClient::FtpClient(FtpOptions options) : m_impl(std::make_unique<Impl>(options)) {}

FtpClient::~FtpClient() = default;

const FtpOptions& FtpClient::options() const { return m_impl->driver.options(); }

void FtpClient::Disconnect() {
    const BusyGuard guard(m_impl->busy);
    if (guard.owned())
        m_impl->driver.disconnect();
}

void FtpClient::SetStopRequested(bool stop) { m_impl->stop = stop; }
bool FtpClient::StopRequested() const { return m_impl->stop; }

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
                              const TransferProgress& progress, bool askSize) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->get(server, path, localPath, progress, askSize);
    });
}

TransferResult FtpClient::GetPrivate(const QString& volumeUrl, const QString& remotePath, const QString& localPath,
                                     const TransferProgress& progress, bool askSize) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->get(server, path, localPath, progress, askSize, true);
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

TransferResult FtpClient::List(const QString& volumeUrl, const QString& folderPath, std::vector<RemoteEntry>& entries) {
    return m_impl->run(volumeUrl, folderPath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->list(server, path, entries);
    });
}

TransferResult FtpClient::ListNames(const QString& volumeUrl, const QString& folderPath, QStringList& names) {
    return m_impl->run(volumeUrl, folderPath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->listNames(server, path, names);
    });
}

TransferResult FtpClient::Rename(const QString& volumeUrl, const QString& fromRemotePath, const QString& toRemotePath) {
    return m_impl->run(volumeUrl, fromRemotePath, [&](const VolumeAddress& server, const QStringList& from) {
        QString error;
        const auto to = CanonicalRemoteSegments(toRemotePath, &error);
        if (!to)
            return Failure(TransferFailure::BadCommand, error);
        if (std::optional<TransferResult> tooLong = Impl::overlong(*to))
            return *tooLong;
        return m_impl->rename(
            server, from, *to,
            QStringLiteral("在FTP服务器%1上将%2改名为%3失败").arg(server.display(), from.join(u'/'), to->join(u'/')));
    });
}

} // namespace velda
