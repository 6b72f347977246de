#pragma once

#include <QString>
#include <QStringList>

namespace velda {

// The group names a stored group list ("/admin/user/") holds, in its order. A list cannot show where a
// name that itself holds "/" ends: such groups were once accepted ("admin/旧"), and read segment by
// segment they would make their members members of "admin". The list is therefore read against the
// groups that exist, the longest of those with "/" first; every other segment is one name.
QStringList GroupListMembers(const QString& list, const QStringList& existingGroups);

// The list the session keeps of the groups read: each name between slashes ("/admin/user/"), "/" for
// none. Names with "/" are left out, as nothing could read them back from it exactly.
QString SessionGroupList(const QStringList& members);

} // namespace velda
