#pragma once

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

} // namespace velda
