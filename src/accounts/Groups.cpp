#include "accounts/Groups.h"

#include "accounts/Users.h"
#include "core/Session.h"

#include <QSqlQuery>

namespace velda {

namespace {
const QString kAdminGroup = QStringLiteral("admin");
const QString kUserGroup = QStringLiteral("user");

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

QStringList ListMembers(Session& session, const QString& group) {
    return Column(session, QStringLiteral("ID"),
                  QStringLiteral("select * from PDM用户 where 所属组 like ? escape '\\'"), {MembershipPattern(group)});
}

GroupOutcome AddGroup(Session& session, const QString& name, const QString& volume, const QString& remark) {
    if (!session.ctx.isAdministrator())
        return GroupOutcome::NotAdministrator;
    if (name.isEmpty())
        return GroupOutcome::NameMissing;
    if (const QString problem = AccountNameProblem(name, true); !problem.isEmpty())
        throw Error(problem);
    try {
        // Without a volume (none is recorded yet) the group has none, as the permanent groups.
        session.db().exec(QStringLiteral("insert into PDM组 (组名, 目录名称, 备注) values (?, ?, ?)"),
                          {name, volume.isEmpty() ? QVariant() : QVariant(volume), remark});
    } catch (const DuplicateKeyError&) {
        return GroupOutcome::Exists;
    }
    return GroupOutcome::Done;
}

GroupOutcome DeleteGroup(Session& session, const QString& name) {
    if (!session.ctx.isAdministrator())
        return GroupOutcome::NotAdministrator;
    if (name == kAdminGroup || name == kUserGroup)
        return GroupOutcome::Permanent;
    QSqlQuery q = session.db().exec(QStringLiteral("delete from PDM组 where 组名=?"), {name});
    return q.numRowsAffected() > 0 ? GroupOutcome::Done : GroupOutcome::NotFound;
}

} // namespace velda
