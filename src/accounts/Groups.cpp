#include "accounts/Groups.h"

#include "accounts/Users.h"
#include "core/ActivityLog.h"
#include "core/GateText.h"
#include "core/Session.h"

#include <QSqlQuery>

namespace velda {

namespace {
const QString kAdminGroup = QStringLiteral("admin");
const QString kUserGroup = QStringLiteral("user");

const QString kNameMissing = QStringLiteral("请先输入新的组名");
const QString kAdded = QStringLiteral("添加完毕！");
const QString kPermanent = QStringLiteral("组帐号<admin>及<user>不可删除！");
const QString kDeleted = QStringLiteral("删除完毕！");
const QString kExists = QStringLiteral("组<%1>已存在，请换一个组名！");
const QString kNotFound = QStringLiteral("组<%1>不存在，可能已被删除！");

// One column of every row, in the order returned. The statements select whole rows: a narrower
// select can be answered from the key's index, which returns the rows sorted instead.
QStringList Column(Session& session, const QString& column, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q = session.db().exec(sql, values);
    QStringList out;
    while (q.next())
        out << q.value(column).toString();
    return out;
}
} // namespace

QStringList ListGroupNames(Session& session) {
    return Column(session, QStringLiteral("组名"), QStringLiteral("select * from PDM组"));
}

QStringList ListVolumeNames(Session& session) {
    return Column(session, QStringLiteral("目录名称"), QStringLiteral("select * from PDM存储目录"));
}

Loaded<QStringList> ListMembers(Session& session, const QString& group) {
    return Load([&] {
        // The pattern narrows the rows; the list read against the groups decides, so that the members of
        // a group named "admin/旧" are not taken for members of admin.
        const QStringList groups = ListGroupNames(session);
        QSqlQuery q = session.db().exec(QStringLiteral("select * from PDM用户 where 所属组 like ? escape '\\'"),
                                        {MembershipPattern(group)});
        QStringList members;
        while (q.next()) {
            if (GroupListNames(q.value(QStringLiteral("所属组")).toString(), group, groups))
                members << q.value(QStringLiteral("ID")).toString();
        }
        return members;
    });
}

Outcome AddGroup(Session& session, const QString& name, const QString& volume, const QString& remark) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    if (name.isEmpty())
        return Outcome::refusal(kNameMissing);
    if (const QString problem = AccountNameProblem(name, true); !problem.isEmpty())
        return Outcome::refusal(problem);
    return Guarded([&] {
        try {
            // Without a volume (none is recorded yet) the group has none, as the permanent groups.
            session.db().exec(QStringLiteral("insert into PDM组 (组名, 目录名称, 备注) values (?, ?, ?)"),
                              {name, volume.isEmpty() ? QVariant() : QVariant(volume), remark});
        } catch (const DuplicateKeyError&) {
            return Outcome::refusal(kExists.arg(name));
        }
        return Outcome::success(kAdded);
    });
}

Outcome DeleteGroup(Session& session, const QString& name) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    if (name == kAdminGroup || name == kUserGroup)
        return Outcome::refusal(kPermanent, kTitleFeedback, Icon::None);
    return Guarded([&] {
        QSqlQuery q = session.db().exec(QStringLiteral("delete from PDM组 where 组名=?"), {name});
        return q.numRowsAffected() > 0 ? Outcome::success(kDeleted) : Outcome::refusal(kNotFound.arg(name));
    });
}

QString GroupVolumeName(Session& session, const QString& group) {
    return session.db().scalar(QStringLiteral("select 目录名称 from PDM组 where 组名=?"), {group}).toString();
}

Outcome ChangeGroupVolume(Session& session, const QString& group, const QString& volume) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    if (group.isEmpty())
        return Outcome::refusal(GroupVolumeText::NoGroup);
    if (volume.isEmpty())
        return Outcome::refusal(GroupVolumeText::NoVolume);
    return Guarded([&]() -> Outcome {
        Database& db = session.db();
        // The volume's existence is tested by the same statement, so a volume removed meanwhile is
        // never written into the group.
        QSqlQuery q = db.exec(QStringLiteral("update PDM组 set 目录名称=? where 组名=? and exists "
                                             "(select * from PDM存储目录 where 目录名称=?)"),
                              {volume, group, volume});
        if (q.numRowsAffected() <= 0) {
            if (!db.scalar(QStringLiteral("select count(*) from PDM组 where 组名=?"), {group}).toInt())
                return Outcome::refusal(GroupVolumeText::UnknownGroup.arg(group));
            return Outcome::refusal(GroupVolumeText::UnknownVolume.arg(volume));
        }
        q.finish();
        if (session.ctx.LoginGroup == group) {
            session.ctx.VolumeName = volume;
            session.ctx.VolumeServerIp =
                db.scalar(QStringLiteral("select 服务器IP from PDM存储目录 where 目录名称=?"), {volume}).toString();
        }
        AppendLogRow(session, group, LogWord::ChangeGroupVolume);
        return Outcome::success(GroupVolumeText::Changed.arg(group, volume));
    });
}

} // namespace velda
