#pragma once

#include "transfer/FtpClient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace velda {

// FTP reply codes the client's decisions turn on.
constexpr int kFtpFileStatus = 213;
constexpr int kFtpActionDone = 250;
constexpr int kFtpPathCreated = 257;
constexpr int kFtpPendingRename = 350;
constexpr int kFtpUnavailable = 550;

// One command on the control connection and the server's final reply to it.
struct FtpExchange {
    QByteArray command; // empty for the greeting and anything the server says unasked
    int code = 0;
    QByteArray reply; // the lines of the latest reply, joined with "\n"
    bool complete = false;

    // The last line of the reply, where the code and the server's words for it stand.
    QString lastLine() const;
};

// Whether a reply line ends its reply: three digits followed by a blank or nothing ("250 ok"), as
// opposed to an opening "250-" line, a continuation line or text.
bool IsFinalReplyLine(const QByteArray& line);

// The control-connection dialogue of one request, fed line by line from what was sent and received.
// Replies to commands sent with a leading "*" (run on even when refused) are only visible here.
class FtpDialogue final {
public:
    bool trace = false; // echo the dialogue on stderr

    // One command as sent, with or without its line end; a password is never kept.
    void outgoing(const char* data, size_t size);
    // Received text in any pieces; lines are taken as they complete.
    void incoming(const char* data, size_t size);

    // The last exchange that sent exactly this command, when its reply is complete.
    const FtpExchange* replyTo(const QByteArray& command) const;
    // The last line of the last reply that refused something, for the detail of a message.
    QString lastRefusal() const;
    bool heardServer() const { return m_heard; }
    // Whether a reply cannot belong to the command it answered: a code that only other commands get
    // ("350" to anything but RNFR, "227" to anything but PASV, ...), or "not understood" (500) for a
    // command every server knows. Then each reply answers the command before, and the connection
    // must go.
    bool outOfStep() const;
    const std::vector<FtpExchange>& exchanges() const { return m_exchanges; }

private:
    void addLine(const QByteArray& line);

    std::vector<FtpExchange> m_exchanges;
    QByteArray m_partial;
    bool m_heard = false;
};

// The byte count of a "213 <size>" reply line; nothing for another code or text that is no number.
std::optional<qint64> ParseSizeReply(const QString& line);

// The folder a "257 "<folder>" ..." reply (to PWD) names; empty for another reply.
QByteArray ParsePwdReply(const QByteArray& line);

// What a complete MLST reply says of its path: File or Folder for "250", the facts ("type=dir;size=0;
// path") standing between the opening and the closing line; Absent for 550 and 450; Unknown for any
// other code (a server without MLST).
RemoteKind ParseMlstReply(int code, const QByteArray& reply);

// The names in a name list (NLST: one entry a line, possibly with the folder before each name).
QStringList NameListNames(const QByteArray& listing);
// Whether a name list holds name.
bool NameListHolds(const QByteArray& listing, const QString& name);

} // namespace velda
