#include "transfer/Volumes.h"

#include "core/GateText.h"
#include "core/Session.h"
#include "store/Database.h"
#include "transfer/FtpDriver.h"
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

// A volume's entry in the run's TLS table.
FtpTlsTable::Server ListedTls(FtpTlsMode mode, const QString& pin) {
    return {mode, mode == FtpTlsMode::Off ? kTlsListedOff : pin};
}

// A key not known yet is stored as the empty text: the column takes no null.
QString PinText(const QString& pin) { return pin.isEmpty() ? QStringLiteral("") : pin; }

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

        // The first connection to the server already speaks as the volume will.
        if (!session.ftpOptions.tls)
            session.ftpOptions.tls = std::make_shared<FtpTlsTable>();
        const QString tlsName = TlsVolumeOf(volume.serverIp, volume.name);
        session.ftpOptions.tls->set(tlsName, ListedTls(volume.tls, {}));
        const TransferResult made =
            run(VolumeUrl(session.ctx.AdminPassword, volume.serverIp), MkdirCommand(volume.name));
        if (!made.ok)
            return Outcome::failure(kMkdirFailed.arg(volume.serverIp, volume.name, made.message));

        try {
            db.exec(QStringLiteral("insert into PDM存储目录 (目录名称, 服务器IP, 备注) values (?, ?, ?)"),
                    {volume.name, volume.serverIp, volume.remark});
            // The key the folder's connection was shown (when encrypted) is the one pinned.
            const QString pin = volume.tls != FtpTlsMode::Off ? session.ftpOptions.tls->find(tlsName).pin : QString();
            db.exec(QStringLiteral("insert into 存储目录加密 (目录名称, 加密方式, 公钥指纹) values (?, ?, ?) "
                                   "on conflict (目录名称) do update set 加密方式=excluded.加密方式, "
                                   "公钥指纹=excluded.公钥指纹"),
                    {volume.name, TlsModeWord(volume.tls), PinText(pin)});
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
        db.exec(QStringLiteral("delete from 存储目录加密 where 目录名称=?"), {name});
        return Outcome::success(kRemoved);
    });
}

VolumeTls ReadVolumeTls(Database& db, const QString& volume) {
    QSqlQuery q = db.exec(QStringLiteral("select 加密方式, 公钥指纹 from 存储目录加密 where 目录名称=?"), {volume});
    VolumeTls tls;
    if (q.next()) {
        tls.mode = TlsModeFromWord(q.value(0).toString()).value_or(FtpTlsMode::Prefer);
        tls.pin = q.value(1).toString();
    }
    return tls;
}

QString TlsModeWord(FtpTlsMode mode) {
    switch (mode) {
    case FtpTlsMode::Require:
        return QStringLiteral("require");
    case FtpTlsMode::Off:
        return QStringLiteral("off");
    case FtpTlsMode::Prefer:
        break;
    }
    return QStringLiteral("prefer");
}

std::optional<FtpTlsMode> TlsModeFromWord(const QString& word) {
    for (const FtpTlsMode mode : {FtpTlsMode::Require, FtpTlsMode::Prefer, FtpTlsMode::Off})
        if (word.trimmed().compare(TlsModeWord(mode), Qt::CaseInsensitive) == 0)
            return mode;
    return std::nullopt;
}

QString TlsServerOf(const QString& serverIp) {
    const auto address = ParseVolumeUrl(VolumeUrl(QStringLiteral("x"), serverIp.trimmed()));
    return address ? TlsServerKey(*address) : serverIp.trimmed().toLower();
}

QString TlsVolumeOf(const QString& serverIp, const QString& volume) { return TlsServerOf(serverIp) + u'/' + volume; }

const QString kVolumeTlsRead = QStringLiteral("select PDM存储目录.目录名称, 服务器IP, 加密方式, 公钥指纹 from "
                                              "PDM存储目录 left join 存储目录加密 on "
                                              "存储目录加密.目录名称=PDM存储目录.目录名称");

void InstallVolumeTls(Session& session) {
    // Filled in place: clients made before (a dialog's) share the table and see the new settings.
    std::shared_ptr<FtpTlsTable> table = session.ftpOptions.tls;
    if (!table)
        table = std::make_shared<FtpTlsTable>();
    table->clear();
    QSqlQuery q = session.db().exec(kVolumeTlsRead);
    while (q.next()) {
        const QString volume = q.value(0).toString();
        const QString server = TlsServerOf(q.value(1).toString());
        const FtpTlsMode mode = q.value(2).isNull()
                                    ? FtpTlsMode::Prefer
                                    : TlsModeFromWord(q.value(2).toString()).value_or(FtpTlsMode::Prefer);
        const QString pin = q.value(3).toString();
        table->set(server + u'/' + volume, ListedTls(mode, pin));
        // Folders outside any volume, and volumes made elsewhere since, are spoken to as strictly as
        // the server's strictest volume, with any key pinned for it.
        FtpTlsTable::Server settings = table->find(server);
        settings.mode = std::max(settings.mode, mode);
        if (settings.pin.isEmpty() && mode != FtpTlsMode::Off)
            settings.pin = pin;
        table->set(server, settings);
    }
    // The first key arrives on a transfer's thread: it is written over a connection of its own. A
    // key learnt for the server as a whole (a probe, or a volume made elsewhere) is every unpinned
    // volume's of that server.
    table->onFirstKey = [spec = session.db().spec(), weak = std::weak_ptr<FtpTlsTable>(table)](const QString& name,
                                                                                               const QString& pin) {
        const qsizetype slash = name.indexOf(u'/');
        const QString server = slash < 0 ? name : name.left(slash);
        try {
            Database db;
            db.open(spec);
            QSqlQuery volumes = db.exec(QStringLiteral("select 目录名称, 服务器IP from PDM存储目录"));
            QStringList names;
            while (volumes.next())
                if (TlsServerOf(volumes.value(1).toString()) == server &&
                    (slash < 0 || volumes.value(0).toString() == name.mid(slash + 1)))
                    names << volumes.value(0).toString();
            volumes.finish();
            if (const auto table = weak.lock(); table && slash < 0) {
                for (const QString& volume : names) {
                    const QString entry = server + u'/' + volume;
                    FtpTlsTable::Server settings = table->find(entry);
                    if (settings.mode != FtpTlsMode::Off && settings.pin.isEmpty())
                        table->set(entry, {settings.mode, pin});
                }
            }
            for (const QString& volume : names)
                db.exec(
                    QStringLiteral("insert into 存储目录加密 (目录名称, 加密方式, 公钥指纹) values (?, 'prefer', ?) "
                                   "on conflict (目录名称) do update set 公钥指纹=excluded.公钥指纹 "
                                   "where 存储目录加密.公钥指纹='' and 存储目录加密.加密方式<>'off'"),
                    {volume, pin});
        } catch (const Error&) {
            // Kept for this run only; the next run pins the key again at its first connection.
        }
    };
    session.ftpOptions.tls = table;
}

Outcome SetVolumeTls(Session& session, const QString& volume, FtpTlsMode mode) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    return Guarded([&] {
        if (!FindVolume(session.db(), volume))
            return Outcome::refusal(kUnknown.arg(volume));
        const QString pin = mode == FtpTlsMode::Off ? QString() : ReadVolumeTls(session.db(), volume).pin;
        session.db().exec(QStringLiteral("insert into 存储目录加密 (目录名称, 加密方式, 公钥指纹) values (?, ?, ?) "
                                         "on conflict (目录名称) do update set 加密方式=excluded.加密方式, "
                                         "公钥指纹=excluded.公钥指纹"),
                          {volume, TlsModeWord(mode), PinText(pin)});
        InstallVolumeTls(session);
        return Outcome::success(VolumeTlsText::Saved);
    });
}

Outcome AcceptVolumeKey(Session& session, const QString& volume, const QString& pin) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    return Guarded([&] {
        if (!FindVolume(session.db(), volume))
            return Outcome::refusal(kUnknown.arg(volume));
        const VolumeTls tls = ReadVolumeTls(session.db(), volume);
        session.db().exec(QStringLiteral("insert into 存储目录加密 (目录名称, 加密方式, 公钥指纹) values (?, ?, ?) "
                                         "on conflict (目录名称) do update set 公钥指纹=excluded.公钥指纹"),
                          {volume, TlsModeWord(tls.mode), pin});
        InstallVolumeTls(session);
        return Outcome::success(VolumeTlsText::Accepted.arg(volume));
    });
}

QString ProbeServerKey(const FtpOptions& base, const QString& serverIp, const QString& adminPassword,
                       QString* failure) {
    FtpOptions options = base;
    options.tls = std::make_shared<FtpTlsTable>();
    const QString server = TlsServerOf(serverIp);
    options.tls->set(server, {FtpTlsMode::Require, {}});
    FtpClient client(options);
    const TransferResult probe = client.Exists(VolumeUrl(adminPassword, serverIp), QStringLiteral("Volume"));
    const QString pin = options.tls->find(server).pin;
    if (pin.isEmpty() && failure)
        *failure = probe.message;
    return pin;
}

} // namespace velda
