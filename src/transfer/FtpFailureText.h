#pragma once

#include "core/TransferOptions.h"
#include "transfer/FtpClient.h"
#include "transfer/FtpDriver.h"
#include "transfer/TransferCommand.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

// The FTP client's results and what its failures say to the user, kept apart from the operations so
// that every operation words the same failure the same way.
namespace ftp {

TransferResult Success(int ftpReply = 0);
TransferResult Failure(TransferFailure failure, const QString& message, int curlCode = 0, int ftpReply = 0);
TransferResult BusyFailure();
// A remote path too long to send; nullopt when it fits.
std::optional<TransferResult> Overlong(const QStringList& path);

QString Detail(const QString& said);
QString ConnectFailedText(const QString& where, const QString& cause);
bool DiskFull(const FtpPerformed& outcome);
QString ServerWords(const FtpPerformed& outcome);

// Failures of the connection itself, whatever the command was; nullopt when the connection held.
std::optional<TransferResult> LinkFailure(const VolumeAddress& server, const FtpPerformed& outcome,
                                          const FtpOptions& options);
// A failure not tied to the connection: the operation's own wording with the server's refusal.
TransferResult Refusal(const QString& what, const FtpPerformed& outcome, int reply = 0);
TransferResult NoAnswer(const VolumeAddress& server, const QByteArray& command, const FtpPerformed& outcome);

} // namespace ftp

namespace FtpTlsText {
// A server showing another key than the one pinned: both fingerprints, and what the administrator does.
QString KeyChanged(const QString& where, const QString& pinned, const QString& shown);
// A server that agreed to AUTH TLS and then left the handshake unanswered for the connection timeout.
QString HandshakeStalled(const QString& where, double seconds);
} // namespace FtpTlsText
} // namespace velda
