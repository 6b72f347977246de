#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

// The fixed FTP account every volume URL logs in with.
inline constexpr char kVolumeAccount[] = "velda";

// "ftp://velda:" + password + "@" + address, joined without blanks.
QString VolumeUrl(const QString& adminPassword, const QString& serverAddress);

// Check-in date as yyyyMMdd, then the code with every "/" turned into "-", then ".dwg".
QString StoredFileName(const QDate& checkInDate, const QString& code);

// "Volume/" + volume + "/" + stored file name.
QString RemotePath(const QString& volumeName, const QString& storedFileName);

// The five command texts. Local paths go between double quotes, remote paths never do.
QString PutCommand(const QString& localPath, const QString& volumeName, const QString& storedFileName);
QString GetCommand(const QString& remotePath, const QString& localPath);
QString DeleteCommand(const QString& remotePath);
QString MkdirCommand(const QString& volumeName);
QString RmdirCommand(const QString& volumeName);

enum class TransferVerb { Put, Get, Delete, Mkdir, Rmdir };

struct ParsedCommand {
    TransferVerb verb = TransferVerb::Delete;
    QString localPath;  // put and get only
    QString remotePath; // exactly as written in the text, before canonicalisation
};

// Splits a command text back into its parts. Returns nothing, with a reason in *error, when the text is
// not one of the five forms. A local path cannot hold a double quote (none can on the system's platform),
// else the texts would be ambiguous; remote paths may hold anything but control characters.
std::optional<ParsedCommand> ParseCommand(const QString& text, QString* error = nullptr);

struct VolumeAddress {
    QString user;
    QString password;
    QString host;  // without brackets for IPv6 literals
    int port = 21; // the FTP default when the address names none
    bool explicitPort = false;

    // The server as the messages name it: the address as it was given, without credentials.
    QString display() const;
};

// Splits a volume URL. The credentials end at the last "@" and the account name at the first ":", so a
// password may hold either character. Returns nothing when the text is not an ftp URL with a host.
std::optional<VolumeAddress> ParseVolumeUrl(const QString& url, QString* error = nullptr);

// The segments of a remote path as the server is addressed: empty segments from a trailing "/" dropped,
// and the top folder "volume" in any letter case taken as "Volume", since the folder commands spell it in
// lower case and the file commands capitalised, yet both mean the one folder on a case-sensitive server.
// Returns nothing for an empty path, an empty inner segment, "." or "..", or a control character.
std::optional<QStringList> CanonicalRemoteSegments(const QString& remotePath, QString* error = nullptr);

// CanonicalRemoteSegments joined with "/"; an empty string when the path is not acceptable.
QString CanonicalRemotePath(const QString& remotePath);

} // namespace velda
