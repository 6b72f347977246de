#include "transfer/FtpClient.h"

#include "transfer/FtpDriver.h"
#include "transfer/FtpFailureText.h"
#include "transfer/FtpListing.h"
#include "transfer/FtpLocalFile.h"
#include "transfer/FtpReply.h"
#include "transfer/Sha256.h"
#include "transfer/TransferCommand.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <curl/curl.h>

#include <atomic>
#include <optional>
#include <set>
#include <vector>

namespace velda {

using namespace ftp;

TransferError::TransferError(TransferResult result)
    : std::runtime_error(result.message.toStdString()), m_result(std::move(result)) {}

const TransferResult& ThrowIfFailed(const TransferResult& result) {
    if (!result.ok)
        throw TransferError(result);
    return result;
}

namespace {

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
        if (std::optional<TransferResult> tooLong = Overlong(*path))
            return *tooLong;
        // Each volume is spoken to with its own TLS settings.
        driver.useVolume(path->size() > 1 && path->first() == QLatin1String("Volume") ? path->at(1) : QString());
        return operation(*server, *path);
    }

    std::optional<TransferResult> linkFailure(const VolumeAddress& server, const FtpPerformed& outcome) const {
        return LinkFailure(server, outcome, driver.options());
    }

    // Servers that answered MLST with "not implemented": asking them again costs a command each time.
    std::set<QString> withoutMlst;

    TransferResult exists(const VolumeAddress& server, const QStringList& path) {
        if (withoutMlst.count(TlsServerKey(server)))
            return existsWithoutMlst(server, path);
        const QString joined = path.join(u'/');
        const QByteArray mlst = FtpCommand("MLST", joined);
        const FtpPerformed outcome = driver.commands(server, {mlst});
        if (auto failed = linkFailure(server, outcome))
            return *failed;
        const FtpExchange* exchange = outcome.dialogue.replyTo(mlst);
        if (!exchange)
            return NoAnswer(server, mlst, outcome);

        TransferResult result = Success();
        result.ftpReply = exchange->code;
        result.kind = ParseMlstReply(exchange->code, exchange->reply);
        if (result.kind != RemoteKind::Unknown)
            return result;
        if (exchange->code == 500 || exchange->code == 502)
            withoutMlst.insert(TlsServerKey(server));
        return existsWithoutMlst(server, path);
    }

    // For servers without MLST: a file answers SIZE; a folder takes a CWD. The CWD replaces a listing of
    // the parent folder, a data connection whose cost grows with the folder (a volume's thousands of
    // drawings, listed for every staged file looked for on vsftpd).
    TransferResult existsWithoutMlst(const VolumeAddress& server, const QStringList& path) {
        const QString joined = path.join(u'/');
        const QByteArray size = FtpCommand("SIZE", joined);
        const QByteArray into = FtpCommand("CWD", joined);
        const FtpPerformed asked = driver.commands(server, {"TYPE I", size, into});
        if (auto failed = linkFailure(server, asked))
            return *failed;
        TransferResult result = Success();
        const int entered = asked.reply(into);
        if (entered == kFtpActionDone)
            leaveFolder(server);
        if (asked.reply(size) == kFtpFileStatus)
            result.kind = RemoteKind::File;
        else if (entered == kFtpActionDone)
            result.kind = RemoteKind::Folder;
        else if (entered == 0)
            return NoAnswer(server, into, asked);
        else
            result.kind = RemoteKind::Absent;
        return result;
    }

    // Whether a file lies there, where a folder counts as none: on a server without MLST a SIZE tells
    // it alone, sparing the CWD (and the way back) that telling a folder from nothing costs.
    TransferResult isFile(const VolumeAddress& server, const QStringList& path) {
        if (!withoutMlst.count(TlsServerKey(server)))
            return exists(server, path);
        const QByteArray size = FtpCommand("SIZE", path.join(u'/'));
        const FtpPerformed asked = driver.commands(server, {"TYPE I", size});
        if (auto failed = linkFailure(server, asked))
            return *failed;
        const int code = asked.reply(size);
        if (code != kFtpFileStatus && code != kFtpUnavailable)
            return existsWithoutMlst(server, path);
        TransferResult result = Success();
        result.kind = code == kFtpFileStatus ? RemoteKind::File : RemoteKind::Absent;
        return result;
    }

    // Every command names its path from the login folder: after a CWD the connection goes back there,
    // or is closed when it cannot.
    void leaveFolder(const VolumeAddress& server) {
        const QByteArray home = driver.loginFolder(server);
        if (home.isEmpty()) {
            driver.disconnect();
            return;
        }
        const QByteArray back = "CWD " + home;
        if (driver.commands(server, {back}).reply(back) != kFtpActionDone)
            driver.disconnect();
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

        // Hashed as it goes out: a second read of a large drawing would cost as much as the upload.
        Sha256 digest;
        FtpRequest upload;
        upload.path = partPath;
        upload.source = &source;
        upload.sourceDigest = &digest;
        upload.sourceSize = source.size();
        upload.progress = &progress;
        upload.stop = &stop;
        // On a plain data connection the server answers 226 only after it read the upload to its end,
        // which TCP delivers whole before the close, and libcurl counted every byte it sent: asking
        // the size would cost a round trip a file and tell nothing more. Over TLS a reset can cut the
        // tail off a connection the server still answers 226 on, so there the size is asked.
        const auto mayBeTls = [&] {
            return driver.options().tls && driver.options().tls->find(TlsServerKey(server)).mode != FtpTlsMode::Off &&
                   !driver.plainConnection(server);
        };
        const bool sizeAfter = mayBeTls();
        if (sizeAfter)
            upload.postQuote = {Tolerant(partSize)};
        FtpPerformed sent = driver.perform(server, upload);
        if (sent.code == CURLE_OK && !sizeAfter && mayBeTls()) // the upload logged in anew, over TLS
            sent.dialogue = driver.commands(server, {partSize}).dialogue;
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
            return discardPart(server, part, Refusal(uploadFailed, sent));
        }
        QString sizeText;
        qint64 stored = sent.sent;
        if (sent.reply(partSize, &sizeText) == kFtpFileStatus)
            stored = sizeText.mid(4).trimmed().toLongLong();
        if (stored != upload.sourceSize)
            return discardPart(server, part,
                               Failure(TransferFailure::Incomplete,
                                       QStringLiteral("%1：传输中断，服务器上只有%2字节，应为%3字节")
                                           .arg(uploadFailed)
                                           .arg(stored)
                                           .arg(upload.sourceSize),
                                       0, sent.reply(partSize)));

        if (direct) {
            TransferResult done = Success();
            done.bytes = sent.sent;
            done.size = upload.sourceSize;
            done.sha256 = digest.hexResult();
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
        result.sha256 = digest.hexResult();
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
            return Refusal(what, received);
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
            return NoAnswer(server, command, outcome);
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
        return Refusal(what, outcome);
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
        return Refusal(what, outcome);
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
            return NoAnswer(server, rnfr, outcome);
        // A file another client moved away, before RNFR or between RNFR and RNTO (vsftpd then refuses RNTO
        // with 550), is missing, not refused: the library's callers tell a move someone else finished
        // from a refusal by that.
        auto missingOr = [&](int code) {
            const TransferResult found = exists(server, from);
            if (found.ok && found.kind == RemoteKind::Absent)
                return Failure(TransferFailure::RemoteMissing,
                               QStringLiteral("FTP服务器%1上不存在文件%2").arg(server.display(), from.join(u'/')), 0,
                               code);
            return Refusal(what, outcome, code);
        };
        if (fromCode != kFtpPendingRename)
            return missingOr(fromCode);
        const int toCode = outcome.reply(rnto);
        if (toCode == kFtpActionDone)
            return Success(toCode);
        return toCode == 0 ? NoAnswer(server, rnto, outcome) : missingOr(toCode);
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

TransferResult FtpClient::IsFile(const QString& volumeUrl, const QString& remotePath) {
    return m_impl->run(volumeUrl, remotePath, [&](const VolumeAddress& server, const QStringList& path) {
        return m_impl->isFile(server, path);
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
        if (std::optional<TransferResult> tooLong = Overlong(*to))
            return *tooLong;
        return m_impl->rename(
            server, from, *to,
            QStringLiteral("在FTP服务器%1上将%2改名为%3失败").arg(server.display(), from.join(u'/'), to->join(u'/')));
    });
}

} // namespace velda
