#pragma once

#include "core/Outcome.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferRunner.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velda {

class Database;
class Session;

// One row of PDM存储目录.
struct Volume {
    QString name;     // 目录名称, also the folder below "Volume" on the server
    QString serverIp; // 服务器IP as typed when the volume was made
    QString remark;   // 备注
    FtpTlsMode tls = FtpTlsMode::Prefer;
};

// What still relies on a volume: groups that check into it and drawings stored on it.
struct VolumeUse {
    int groups = 0;
    int drawings = 0;
    bool inUse() const { return groups > 0 || drawings > 0; }
};

// Names of all volumes, in the order the database returns them.
QStringList VolumeNames(Database& db);
std::optional<Volume> FindVolume(Database& db, const QString& name);
VolumeUse CountVolumeUse(Database& db, const QString& name);

// The reason a name cannot become a folder below "Volume", or an empty text when it can.
QString VolumeNameProblem(const QString& name);

// Makes the folder on the typed server, then records the volume. The values are kept exactly as typed.
// Refused when the input is not acceptable or the name is taken; a failure when the server did not
// create the folder or the row cannot be written. Only a created folder gets a row.
Outcome CreateVolume(Session& session, const TransferRunner& run, const Volume& volume);

// Removes the folder from the volume's server, then the row. Refused, changing no row, when the volume
// is unknown or still used by groups or drawings; a failure when its folder stays on the server.
Outcome RemoveVolume(Session& session, const TransferRunner& run, const QString& name);

// How a volume's transfers are encrypted (table 存储目录加密). A volume without a row, made before
// encryption was kept, is "prefer" with no key pinned.
struct VolumeTls {
    FtpTlsMode mode = FtpTlsMode::Prefer;
    QString pin;
};
VolumeTls ReadVolumeTls(Database& db, const QString& volume);
// "require", "prefer", "off": the words stored and typed on the command line.
QString TlsModeWord(FtpTlsMode mode);
std::optional<FtpTlsMode> TlsModeFromWord(const QString& word);
// The server key of a volume's 服务器IP, as the TLS table names servers ("host:port").
QString TlsServerOf(const QString& serverIp);
// How the TLS table names a volume on that server ("host:port/volume").
QString TlsVolumeOf(const QString& serverIp, const QString& volume);

// Fills the run's TLS table from every volume and keeps each volume's first key in the database:
// transfers made after this use the volumes' settings, each volume its own. Throws Error.
void InstallVolumeTls(Session& session);
// The read behind it, for a login that sends its reads together.
extern const QString kVolumeTlsRead;
// Administrators: a volume's encryption. Turning it off forgets the pinned key.
Outcome SetVolumeTls(Session& session, const QString& volume, FtpTlsMode mode);
// Administrators: the key now shown by the volume's server, after checking it, replaces the pinned one.
Outcome AcceptVolumeKey(Session& session, const QString& volume, const QString& pin);
// The key the volume's server shows now (connecting without any pin), or an empty text when it offers
// no TLS; a failure to connect is the result's message. Blocks while it connects.
QString ProbeServerKey(const FtpOptions& base, const QString& serverIp, const QString& adminPassword, QString* failure);

namespace VolumeTlsText {
inline const QString Saved = QStringLiteral("加密方式已保存");
inline const QString Accepted = QStringLiteral("已接受存储目录<%1>的新公钥");
inline const QString NoTls = QStringLiteral("服务器%1不提供加密连接（AUTH TLS）");
inline const QString SameKey = QStringLiteral("服务器的公钥与记录的相同，无需接受");
inline const QString AskAccept = QStringLiteral("存储目录<%1>的服务器现在出示的公钥指纹：\n%2\n记录的公钥指纹：\n%3\n"
                                                "请与服务器管理员核对无误后再接受。接受新公钥吗？");
} // namespace VolumeTlsText

// What the volume commands answer when done.
namespace VolumeText {
inline const QString Added = QStringLiteral("添加完毕");
inline const QString Removed = QStringLiteral("删除完毕");
} // namespace VolumeText

} // namespace velda
