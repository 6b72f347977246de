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
// How a volume is named in the TLS table: "host:port/volume". Volumes on one server keep their own
// mode and pin; the server's entry serves the folders outside any volume and the volumes the table
// does not list yet (made by another client since it was filled).
QString TlsVolumeKey(const VolumeAddress& server, const QString& volume);
// The table reads a name it does not list as Off: a volume whose TLS is off is listed with this
// pin, which Off never uses, so that it is told apart from a volume the table does not know.
inline const QString kTlsListedOff = QStringLiteral("off");
// The settings a request in that volume (empty: none) is made with, and the name they are kept under.
FtpTlsTable::Server TlsSettingsOf(const FtpTlsTable& table, const VolumeAddress& server, const QString& volume,
                                  QString* name = nullptr);

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

    // The volume (the folder below "Volume") the next requests work in, empty outside any: its TLS
    // settings apply to them, and its connections are its own.
    void useVolume(const QString& volume) { m_volume = volume; }

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
    // A kept connection: each has a multi handle of its own, so that libcurl never hands a
    // connection made under one volume's TLS settings to a request under another's.
    struct Kept {
        CURL* easy = nullptr;
        CURLM* multi = nullptr;
        curl_socket_t socket = CURL_SOCKET_BAD; // the control connection it last used
        QString shown; // the key the server showed when it was made ("sha256//..."); empty: no TLS
        // What its login showed: the account's folder, and whether it stayed plain (-1: not known).
        QByteArray loginFolder;
        int plain = -1;
    };
    // The key of the connection a request to that server would take now (the volume in use).
    QString keyNow(const VolumeAddress& server) const;
    static void noteLogin(Kept& kept, const FtpDialogue& dialogue);

    // One attempt; tls13: TLS 1.3 is offered besides 1.2.
    FtpPerformed performOnce(const VolumeAddress& server, const FtpRequest& request, bool tls13);
    CURLcode performBounded(Kept& kept);
    // Whether libcurl waits on no socket of the batch (curl_multi_fdset sees sockets below
    // FD_SETSIZE only; a higher one reads as none, which costs a few needless steps, not a wait).
    static bool watchesNothing(CURLM* multi);
    static QString keyOf(const VolumeAddress& server, const QString& tlsName, const FtpTlsTable::Server& tls);
    Kept* keptFor(const QString& key);
    // libcurl closes every socket through this (CURLOPT_CLOSESOCKETFUNCTION).
    static int closeSocket(void* driver, curl_socket_t socket);
    // True when the kept connection to that server has something to read before anything was asked:
    // a reply that belongs to no command (the replies are out of step) or the server's goodbye.
    bool staleConnection(const QString& key) const;

    FtpOptions m_options;
    QString m_volume;
    std::map<QString, Kept> m_kept; // one per server, account, TLS entry and mode
    // While a request runs: what it did so far and the port of its control connection.
    const FtpPerformed* m_running = nullptr;
    int m_controlPort = 0;
    bool m_readKey = false; // the next request reads the key shown, whether or not it connects anew
};

} // namespace velda
