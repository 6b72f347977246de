#pragma once

#include "core/TransferOptions.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace velda {

enum class TransferFailure {
    None,
    BadCommand,         // the command text or the remote path is not acceptable
    BadUrl,             // the volume URL cannot be split into account and server
    Busy,               // the client is already running a command on another thread
    LocalFileMissing,   // put: the file to send does not exist
    LocalFolderMissing, // get: the folder that should receive the file does not exist
    LocalReadFailed,
    LocalWriteFailed,
    ConnectFailed, // refused, unresolvable, unreachable
    LoginDenied,
    Timeout,     // no connection within the connect timeout, or a stalled dialogue or transfer
    Interrupted, // the connection broke off during a command
    Incomplete,  // the transfer ended, but not all bytes arrived
    RemoteMissing,
    RemoteRefused, // the server answered the command with a refusal
    Stopped,       // the user stopped an upload or download; nothing of it was kept
    Internal,
};

enum class RemoteKind { Unknown, Absent, File, Folder };

struct RemoteEntry;

struct TransferResult {
    bool ok = false;
    TransferFailure failure = TransferFailure::None;
    QString message;             // for the message box; never holds the password
    int curlCode = 0;            // libcurl's code of the request that failed, 0 when libcurl reported no error
    int ftpReply = 0;            // the FTP reply code that decided the outcome, when there was one
    bool wasAbsent = false;      // delete, rmdir: nothing was there, which counts as done
    bool alreadyExisted = false; // mkdir: the folder was already there, which counts as done
    RemoteKind kind = RemoteKind::Unknown; // Exists
    qint64 size = -1;                      // Size; get: the size the server announced
    qint64 bytes = 0;                      // put, get: bytes moved
    QByteArray sha256;                     // put: the SHA-256 of the bytes sent, in hex, taken as they went out

    explicit operator bool() const { return ok; }
};

// For callers that stop an operation at the first failed step by throwing.
class TransferError final : public std::runtime_error {
public:
    explicit TransferError(TransferResult result);
    const TransferResult& result() const { return m_result; }
    QString message() const { return m_result.message; }

private:
    TransferResult m_result;
};

// Throws TransferError when the result is a failure; returns it otherwise.
const TransferResult& ThrowIfFailed(const TransferResult& result);

// Bytes done and the total (-1 when the server did not say), called on the thread running the command.
using TransferProgress = std::function<void(qint64 done, qint64 total)>;

// Runs transfer commands against FTP servers, blocking the calling thread until each is done. One
// connection per server and account is kept open between commands, so a batch logs in once. An object may
// be used from any thread, but by one thread at a time; a call made while another runs fails with Busy.
class FtpClient final {
public:
    explicit FtpClient(FtpOptions options = {});
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    const FtpOptions& options() const;

    // One of the five command texts against the server the volume URL names.
    TransferResult Execute(const QString& volumeUrl, const QString& commandText, const TransferProgress& progress = {});

    // The remote file appears under its name only once it is complete; an older file of that name stays
    // until then.
    TransferResult Put(const QString& volumeUrl, const QString& localPath, const QString& remotePath,
                       const TransferProgress& progress = {});
    // Uploads straight under remotePath, for callers whose name is already private to them and who move
    // the file into place themselves; an incomplete upload is removed.
    TransferResult PutPrivate(const QString& volumeUrl, const QString& localPath, const QString& remotePath,
                              const TransferProgress& progress = {});
    // The local file is replaced only once the whole remote file arrived; a failure leaves it as it was.
    // askSize: learn the size before the download (a progress bar gets its total, and a short
    // transfer is caught by the count as well as by the server's closing reply). Without it the
    // download starts at once and its end is judged by that reply alone, one round trip less.
    TransferResult Get(const QString& volumeUrl, const QString& remotePath, const QString& localPath,
                       const TransferProgress& progress = {}, bool askSize = true);
    // Downloads straight into localPath, which must not exist yet, for callers whose name is already
    // private to them and who move the file into place themselves; an incomplete download is removed.
    TransferResult GetPrivate(const QString& volumeUrl, const QString& remotePath, const QString& localPath,
                              const TransferProgress& progress = {}, bool askSize = true);
    TransferResult Delete(const QString& volumeUrl, const QString& remotePath);
    // Creates missing parent folders; a folder already there counts as done.
    TransferResult MakeFolder(const QString& volumeUrl, const QString& remotePath);
    // Removes an empty folder; a folder already gone counts as done.
    TransferResult RemoveFolder(const QString& volumeUrl, const QString& remotePath);
    TransferResult Rename(const QString& volumeUrl, const QString& fromRemotePath, const QString& toRemotePath);
    // ok with kind Absent, File or Folder.
    TransferResult Exists(const QString& volumeUrl, const QString& remotePath);
    // ok with kind File, or another kind when no file lies there (a folder may count as Absent);
    // cheaper than Exists on servers without MLST.
    TransferResult IsFile(const QString& volumeUrl, const QString& remotePath);
    // ok with size set, or RemoteMissing.
    TransferResult Size(const QString& volumeUrl, const QString& remotePath);

    // The entries of one folder in one listing (MLSD, or LIST where the server has no MLSD); fails with
    // RemoteMissing when the folder is not there.
    TransferResult List(const QString& volumeUrl, const QString& folderPath, std::vector<RemoteEntry>& entries);
    // Only the names in one folder (NLST): far less work for a server than List, which reads every
    // file's facts. Fails with RemoteRefused when the server will not list it.
    TransferResult ListNames(const QString& volumeUrl, const QString& folderPath, QStringList& names);

    // Closes the kept connections; the next command connects again.
    void Disconnect();

    // From any thread: while set, an upload or download that runs or starts ends at once with Stopped
    // and leaves nothing behind. Commands without data still run, so that what a stopped operation
    // staged can be removed.
    void SetStopRequested(bool stop);
    bool StopRequested() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace velda
