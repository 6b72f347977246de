#pragma once

#include "core/Loaded.h"
#include "core/Outcome.h"

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// Every group name, in the order the database returns them. Throws Error.
QStringList ListGroupNames(Session& session);
// Every storage volume's name, in the order the database returns them. Throws Error.
QStringList ListVolumeNames(Session& session);
// The IDs of the accounts whose group list names exactly that group.
Loaded<QStringList> ListMembers(Session& session, const QString& group);

// The group commands end in an outcome worded for the group dialog: done with its message, a refusal (no
// name, a taken name, a permanent group, a group that is gone, a caller outside the group admin) or the
// database's failure.

// Adds a group with its volume (none when empty) and remark; a name that cannot be one is refused with
// the text of AccountNameProblem (accounts/Users.h).
Outcome AddGroup(Session& session, const QString& name, const QString& volume, const QString& remark);
// Deletes the group of exactly that name; "admin" and "user" themselves are refused. Users'
// group lists and rights lists that name it stay as they are.
Outcome DeleteGroup(Session& session, const QString& name);

// The volume a group names now; the empty text when it names none or does not exist. Throws Error.
QString GroupVolumeName(Session& session, const QString& group);

// Texts of changing a group's volume.
namespace GroupVolumeText {
inline const QString NoGroup = QStringLiteral("请先选择欲更改存储目录的组");
inline const QString NoVolume = QStringLiteral("请先选择存储目录");
inline const QString UnknownGroup = QStringLiteral("组<%1>不存在，可能已被删除！");
inline const QString UnknownVolume = QStringLiteral("存储目录<%1>不存在，请先添加该存储目录！");
inline const QString Changed = QStringLiteral("组<%1>的存储目录已改为<%2>！");
} // namespace GroupVolumeText

// Gives an existing group an existing storage volume (the permanent groups too: the first one has
// none after set-up), in one statement, then writes a log row with the group's name as its code.
// Members check into the new volume from their next login; the session's own login group takes it
// at once. Administrators only.
Outcome ChangeGroupVolume(Session& session, const QString& group, const QString& volume);

// What adding a group answers, in the group dialog and on the command line alike.
namespace GroupText {
inline const QString NameMissing = QStringLiteral("请先输入新的组名");
inline const QString Added = QStringLiteral("添加完毕！");
inline const QString Exists = QStringLiteral("组<%1>已存在，请换一个组名！");
} // namespace GroupText

} // namespace velda
