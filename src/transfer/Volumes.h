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

// What the volume commands answer when done.
namespace VolumeText {
inline const QString Added = QStringLiteral("添加完毕");
inline const QString Removed = QStringLiteral("删除完毕");
} // namespace VolumeText

} // namespace velda
