#include "accounts/Acl.h"

#include "core/Session.h"
#include "core/UserContext.h"
#include "store/Database.h"

#include <algorithm>

namespace velda {
namespace Acl {

QString UserEntry(const QString& userId) { return userId + QStringLiteral("(U)"); }
QString GroupEntry(const QString& group) { return group + QStringLiteral("(G)"); }

QString DefaultList(const QString& userId, const QString& loginGroup) {
    QString list = userId == QLatin1String("admin")
                       ? QStringLiteral("/admin(U)/")
                       : QStringLiteral("/admin(U)/") + UserEntry(userId) + QLatin1Char('/');
    list += loginGroup == QLatin1String("admin")
                ? QStringLiteral("/admin(G)/")
                : QStringLiteral("/admin(G)/") + GroupEntry(loginGroup) + QLatin1Char('/');
    return list;
}

bool Grants(const QString& list, const QString& userId, const QString& loginGroup) {
    return list.contains(QLatin1Char('/') + UserEntry(userId) + QLatin1Char('/')) ||
           list.contains(QLatin1Char('/') + GroupEntry(loginGroup) + QLatin1Char('/'));
}

bool Grants(const QString& list, const UserContext& ctx) { return Grants(list, ctx.UserId, ctx.LoginGroup); }

QString Compose(const QStringList& entries) {
    QString out = QStringLiteral("/");
    for (const QString& e : entries)
        out += e + QLatin1Char('/');
    return out;
}

SqlTest ColumnTest(const QString& column, const QString& userId, const QString& loginGroup) {
    // Names are escaped so that a user called % cannot match every list.
    return {QStringLiteral("(%1 like ? escape '\\' or %1 like ? escape '\\')").arg(column),
            {QStringLiteral("%/") + LikeEscape(UserEntry(userId)) + QStringLiteral("/%"),
             QStringLiteral("%/") + LikeEscape(GroupEntry(loginGroup)) + QStringLiteral("/%")}};
}

void SetPending(UserContext& ctx, const QString& read, const QString& write, const QString& del,
                const QString& change) {
    ctx.PendingRead = read;
    ctx.PendingWrite = write;
    ctx.PendingDelete = del;
    ctx.PendingChange = change;
}

bool PendingComplete(const UserContext& ctx) {
    return !ctx.PendingRead.isEmpty() && !ctx.PendingWrite.isEmpty() && !ctx.PendingDelete.isEmpty() &&
           !ctx.PendingChange.isEmpty();
}

} // namespace Acl

Loaded<RightsCandidates> LoadRightsCandidates(Session& session) {
    return Load([&] {
        RightsCandidates c;
        QSqlQuery u = session.db().exec(QStringLiteral("select * from PDM用户"));
        while (u.next())
            c.users << u.value(QStringLiteral("ID")).toString();
        QSqlQuery g = session.db().exec(QStringLiteral("select * from PDM组"));
        while (g.next())
            c.groups << g.value(QStringLiteral("组名")).toString();
        return c;
    });
}

RightsEditorModel::RightsEditorModel(QStringList users, QStringList groups)
    : m_users(std::move(users)), m_groups(std::move(groups)) {}

void RightsEditorModel::load(const UserContext& ctx) {
    const QString* pending[4] = {&ctx.PendingRead, &ctx.PendingWrite, &ctx.PendingDelete, &ctx.PendingChange};
    for (auto& g : m_granted)
        g.clear();
    for (const QString& u : m_users)
        for (int r = 0; r < 4; ++r)
            if (pending[r]->contains(QLatin1Char('/') + Acl::UserEntry(u) + QLatin1Char('/')))
                m_granted[r] << Acl::UserEntry(u);
    for (const QString& g : m_groups)
        for (int r = 0; r < 4; ++r)
            if (pending[r]->contains(QLatin1Char('/') + Acl::GroupEntry(g) + QLatin1Char('/')))
                m_granted[r] << Acl::GroupEntry(g);
}

void RightsEditorModel::grant(Right r, const QList<int>& userRows, const QList<int>& groupRows) {
    QList<int> us = userRows;
    QList<int> gs = groupRows;
    std::sort(us.begin(), us.end());
    std::sort(gs.begin(), gs.end());
    for (int row : us) {
        const QString e = Acl::UserEntry(m_users.value(row));
        if (row >= 0 && row < m_users.size() && !m_granted[r].contains(e))
            m_granted[r] << e;
    }
    for (int row : gs) {
        const QString e = Acl::GroupEntry(m_groups.value(row));
        if (row >= 0 && row < m_groups.size() && !m_granted[r].contains(e))
            m_granted[r] << e;
    }
}

void RightsEditorModel::withdraw(Right r, int row) {
    if (row >= 0 && row < m_granted[r].size())
        m_granted[r].removeAt(row);
}

void RightsEditorModel::confirm(UserContext& ctx) const {
    Acl::SetPending(ctx, Acl::Compose(m_granted[Read]), Acl::Compose(m_granted[Write]), Acl::Compose(m_granted[Delete]),
                    Acl::Compose(m_granted[Change]));
}

} // namespace velda
