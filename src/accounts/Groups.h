#pragma once

#include "core/Outcome.h"

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// What a group command came to; the dialog words each outcome.
enum class GroupOutcome {
    Done,
    NameMissing,      // no name typed
    Exists,           // the name is taken
    Permanent,        // the groups admin and user cannot be deleted
    NotFound,         // no such row (deleted meanwhile)
    NotAdministrator, // adding and deleting are for the group admin only
};

// Every group name, in the order the database returns them. Throws Error.
QStringList ListGroupNames(Session& session);
// Every storage volume's name, in the order the database returns them. Throws Error.
QStringList ListVolumeNames(Session& session);
// The IDs of the accounts whose group list names exactly that group. Throws Error.
QStringList ListMembers(Session& session, const QString& group);

// Adds a group with its volume (none when empty) and remark. Throws Error on a database failure, and
// with the text of AccountNameProblem (accounts/Users.h) for a name that cannot be one.
GroupOutcome AddGroup(Session& session, const QString& name, const QString& volume, const QString& remark);
// Deletes the group of exactly that name; "admin" and "user" themselves are refused. Users'
// group lists and rights lists that name it stay as they are. Throws Error.
GroupOutcome DeleteGroup(Session& session, const QString& name);

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
