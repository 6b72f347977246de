#pragma once

#include "core/Loaded.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

namespace velda {

class Session;
struct UserContext;

// Rights lists: "/" followed by entries such as alice(U)/ and design(G)/.
namespace Acl {

QString UserEntry(const QString& userId); // alice(U)
QString GroupEntry(const QString& group); // design(G)

// The list new records get: the administrator and the user, then the administrator group and the
// login group.
QString DefaultList(const QString& userId, const QString& loginGroup);

// The right is held when the list names the user or the login group (not the other groups).
bool Grants(const QString& list, const QString& userId, const QString& loginGroup);
bool Grants(const QString& list, const UserContext& ctx);

// "/" + each entry + "/".
QString Compose(const QStringList& entries);

// A condition for SQL that tests one rights column, with its values to bind.
struct SqlTest {
    QString text;
    QVariantList values;
};
SqlTest ColumnTest(const QString& column, const QString& userId, const QString& loginGroup);

void SetPending(UserContext& ctx, const QString& read, const QString& write, const QString& del, const QString& change);
bool PendingComplete(const UserContext& ctx);

} // namespace Acl

// Whom the rights editor offers: every account ID and every group name, in the order the database
// returns them.
struct RightsCandidates {
    QStringList users;
    QStringList groups;
};
Loaded<RightsCandidates> LoadRightsCandidates(Session& session);

// What the rights editor shows and changes, apart from its widgets.
class RightsEditorModel final {
public:
    enum Right { Read = 0, Write = 1, Delete = 2, Change = 3 };

    RightsEditorModel(QStringList users, QStringList groups);

    const QStringList& users() const { return m_users; }
    const QStringList& groups() const { return m_groups; }
    const QStringList& granted(Right r) const { return m_granted[r]; }

    // Shows what the pending lists hold, for the users and groups that still exist.
    void load(const UserContext& ctx);
    // Grants the right to the selected users (rows of users()) and groups; no entry twice.
    void grant(Right r, const QList<int>& userRows, const QList<int>& groupRows);
    // Withdraws one entry (a row of granted(r)).
    void withdraw(Right r, int row);
    // Writes the four lists back to the pending lists.
    void confirm(UserContext& ctx) const;

private:
    QStringList m_users;
    QStringList m_groups;
    QStringList m_granted[4];
};

} // namespace velda
