#include "transfer/Volumes.h"

#include "core/Session.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <QSqlQuery>

namespace velda {

namespace {
const QString kEmptyInput = QStringLiteral("服务器IP地址及新建目录名称不能为空");
const QString kNameEscapes = QStringLiteral("存储目录名称不能含有“/”或“\\”，也不能是“.”或“..”！");
const QString kNameControl = QStringLiteral("存储目录名称不能含有控制字符！");
const QString kDuplicate = QStringLiteral("存储目录<%1>已经存在，不能重复添加！");
const QString kMkdirFailed = QStringLiteral("在服务器%1上创建存储目录<%2>失败：%3");
const QString kUnknown = QStringLiteral("存储目录<%1>不存在，可能已被删除！");
const QString kRmdirFailed = QStringLiteral("从服务器%1上删除存储目录<%2>失败：%3");
const QString kAdded = QStringLiteral("添加完毕");
const QString kRemoved = QStringLiteral("删除完毕");

bool IsBlank(const QString& text) { return text.trimmed().isEmpty(); }

QString InUseText(const QString& name, const VolumeUse& use) {
    QString users;
    if (use.groups > 0 && use.drawings > 0)
        users = QStringLiteral("%1个组和%2份图纸").arg(use.groups).arg(use.drawings);
    else if (use.groups > 0)
        users = QStringLiteral("%1个组").arg(use.groups);
    else
        users = QStringLiteral("%1份图纸").arg(use.drawings);
    return QStringLiteral("存储目录<%1>仍被%2使用，不能删除！").arg(name, users);
}
} // namespace

QStringList VolumeNames(Database& db) {
    QStringList names;
    // The whole row, as the group dialog reads it: selecting the key alone lets SQLite answer from the
    // key's index, sorted by name instead of in the table's order, and the two dialogs disagreed.
    QSqlQuery q = db.exec(QStringLiteral("select * from PDM存储目录"));
    while (q.next())
        names << q.value(QStringLiteral("目录名称")).toString();
    return names;
}

std::optional<Volume> FindVolume(Database& db, const QString& name) {
    QSqlQuery q = db.exec(QStringLiteral("select 目录名称, 服务器IP, 备注 from PDM存储目录 where 目录名称=?"), {name});
    if (!q.next())
        return std::nullopt;
    return Volume{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
}

VolumeUse CountVolumeUse(Database& db, const QString& name) {
    VolumeUse use;
    use.groups = db.scalar(QStringLiteral("select count(*) from PDM组 where 目录名称=?"), {name}).toInt();
    use.drawings = db.scalar(QStringLiteral("select count(*) from PDM入库图纸信息 where 目录名称=?"), {name}).toInt();
    return use;
}

QString VolumeNameProblem(const QString& name) {
    if (IsBlank(name))
        return kEmptyInput;
    // The name becomes one path segment below "Volume"; anything that adds or climbs a level would put
    // the folder (and later every drawing of it) somewhere else than its row says.
    if (name.contains(u'/') || name.contains(u'\\') || name == QLatin1String(".") || name == QLatin1String(".."))
        return kNameEscapes;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return kNameControl;
    }
    return {};
}

Outcome CreateVolume(Session& session, const TransferRunner& run, const Volume& volume) {
    if (IsBlank(volume.serverIp) || IsBlank(volume.name))
        return Outcome::refusal(kEmptyInput);
    if (const QString problem = VolumeNameProblem(volume.name); !problem.isEmpty())
        return Outcome::refusal(problem);
    return Guarded([&] {
        Database& db = session.db();
        // Checked before anything is sent, so a taken name never touches the folder of the volume that has it.
        if (FindVolume(db, volume.name))
            return Outcome::refusal(kDuplicate.arg(volume.name));

        const TransferResult made =
            run(VolumeUrl(session.ctx.AdminPassword, volume.serverIp), MkdirCommand(volume.name));
        if (!made.ok)
            return Outcome::failure(kMkdirFailed.arg(volume.serverIp, volume.name, made.message));

        try {
            db.exec(QStringLiteral("insert into PDM存储目录 (目录名称, 服务器IP, 备注) values (?, ?, ?)"),
                    {volume.name, volume.serverIp, volume.remark});
        } catch (const DuplicateKeyError&) {
            // Another administrator recorded the name meanwhile; the folder is theirs now, so it stays.
            return Outcome::refusal(kDuplicate.arg(volume.name));
        }
        return Outcome::success(kAdded);
    });
}

Outcome RemoveVolume(Session& session, const TransferRunner& run, const QString& name) {
    return Guarded([&] {
        Database& db = session.db();
        const std::optional<Volume> volume = FindVolume(db, name);
        if (!volume)
            return Outcome::refusal(kUnknown.arg(name));
        // Removing it would strand the drawings stored on it and send the groups' check-ins nowhere.
        if (const VolumeUse use = CountVolumeUse(db, name); use.inUse())
            return Outcome::refusal(InUseText(name, use));

        const TransferResult removed = run(VolumeUrl(session.ctx.AdminPassword, volume->serverIp), RmdirCommand(name));
        if (!removed.ok)
            return Outcome::failure(kRmdirFailed.arg(volume->serverIp, name, removed.message));

        db.exec(QStringLiteral("delete from PDM存储目录 where 目录名称=?"), {name});
        return Outcome::success(kRemoved);
    });
}

} // namespace velda
