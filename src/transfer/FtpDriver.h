#pragma once

#include "core/TransferOptions.h"
#include "transfer/FtpClient.h"
#include "transfer/FtpReply.h"
#include "transfer/TransferCommand.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <curl/curl.h>

#include <atomic>
#include <map>
#include <vector>

namespace velda {

class Sha256;

// One libcurl request against a server: where, which commands around it, and what flows which way.
struct FtpRequest {
    QStringList path;                  // URL path segments below the account's root; empty: the root itself
    bool folderUrl = false;            // the URL names a folder (listing, or commands only)
    std::vector<QByteArray> quote;     // after login, before the transfer
    std::vector<QByteArray> postQuote; // after a successful transfer
    bool noBody = false;
    bool listNames = false;
    QByteArray listCommand; // a folder listing by another verb than LIST (MLSD)
    bool skipSize = false;  // download: no SIZE before RETR; the closing reply alone tells it complete
    QIODevice* source = nullptr;
    qint64 sourceSize = -1;
    Sha256* sourceDigest = nullptr; // fed every byte read from source, as it goes out
    QIODevice* sink = nullptr;
    const TransferProgress* progress = nullptr;
    const std::atomic<bool>* stop = nullptr; // set: the transfer is abandoned at the next progress report
};

// What one request did: libcurl's verdict, the dialogue on the control connection and the bytes moved.
struct FtpPerformed {
    CURLcode code = CURLE_OK;
    QString curlText; // libcurl's description of the failure
    FtpDialogue dialogue;
    qint64 announcedSize = -1; // what the server said the download would hold
    qint64 received = 0;
    qint64 sent = 0;
    bool outOfStep = false; // the replies did not answer the commands sent; the connection was closed
    bool sinkFailed = false;
    bool sourceFailed = false;
    curl_off_t lastDone = -1;
    curl_off_t lastTotal = -1;
    const FtpRequest* request = nullptr;
    // TLS: whether the server was asked for it, the key pinned for it (empty: none yet) and the key
    // it showed on a new connection ("sha256//..." both).
    bool tlsAsked = false;
    bool tlsRequired = false;
    QString pinnedKey;
    QString shownKey;

    // The code of the final reply to exactly this command, 0 when it got none; text receives its last line.
    int reply(const QByteArray& command, QString* text = nullptr) const;
};

// The pin of a PEM certificate's public key: "sha256//" + base64 of the SHA-256 of its
// SubjectPublicKeyInfo, as CURLOPT_PINNEDPUBLICKEY takes it; empty when the text is no certificate.
QString PublicKeyPin(const QByteArray& pemCertificate);
// How a file server is named in the TLS table: "host:port".
QString TlsServerKey(const VolumeAddress& server);

// "VERB argument", the argument in UTF-8.
QByteArray FtpCommand(const char* verb, const QString& argument);
// A quoted command that libcurl runs on even when the server refuses it; the reply is judged by the caller.
QByteArray Tolerant(const QByteArray& command);

// Runs requests with libcurl, keeping one connection per server and account open between them. Not
// thread-safe: its owner lets one thread at a time in.
class FtpDriver final {
public:
    explicit FtpDriver(FtpOptions options = {});
    ~FtpDriver();
    FtpDriver(const FtpDriver&) = delete;
    FtpDriver& operator=(const FtpDriver&) = delete;

    const FtpOptions& options() const { return m_options; }

    FtpPerformed perform(const VolumeAddress& server, const FtpRequest& request);
    // Commands only, on the account's root folder; each is run even if the one before was refused.
    FtpPerformed commands(const VolumeAddress& server, const std::vector<QByteArray>& list);
    // Closes the kept connections; the next request connects again.
    void disconnect();
    // The folder the server puts the account in at login, from the PWD libcurl sends then; empty
    // until a connection to that server was made.
    QByteArray loginFolder(const VolumeAddress& server) const;
    // Whether the kept connection to that server logged in without TLS (false when not known).
    bool plainConnection(const VolumeAddress& server) const;

    // The URL a request addresses on a server, credentials left out.
    static QByteArray urlOf(const VolumeAddress& server, const FtpRequest& request);

    // The longest path a command may carry. Servers cut longer command lines in two and answer each
    // part, after which every reply on that connection belongs to the command before.
    static constexpr int kMaxPathBytes = 1000;
    // What a download reads from its data connection at once: the most every libcurl takes (newer
    // ones take more).
    static constexpr long kReceiveBufferBytes = 512 * 1024;

private:
    CURLcode performBounded(CURL* handle);
    // Whether libcurl waits on no socket of the batch (curl_multi_fdset sees sockets below
    // FD_SETSIZE only; a higher one reads as none, which costs a few needless steps, not a wait).
    bool watchesNothing() const;
    static QString keyOf(const VolumeAddress& server);
    CURL* handleFor(const QString& key);
    // True when the kept connection to that server has something to read before anything was asked:
    // a reply that belongs to no command (the replies are out of step) or the server's goodbye.
    bool staleConnection(const QString& key) const;

    FtpOptions m_options;
    std::map<QString, CURL*> m_handles;         // one per server and account
    std::map<QString, curl_socket_t> m_sockets; // the control connection each handle last used
    // What a login on each server and account showed: its folder, and whether it stayed plain.
    void noteLogin(const QString& key, const FtpDialogue& dialogue);
    std::map<QString, QByteArray> m_loginFolders;
    std::map<QString, bool> m_plain;
    curl_socket_t m_lastSocket = CURL_SOCKET_BAD;
    CURLM* m_multi = nullptr; // keeps the connections between requests
};

} // namespace velda
