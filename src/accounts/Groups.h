#pragma once

#include "core/Outcome.h"

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// Every group name, in the order the database returns them. Throws Error.
QStringList ListGroupNames(Session& session);
// Every storage volume's name, in the order the database returns them. Throws Error.
QStringList ListVolumeNames(Session& session);
// The IDs of the accounts whose group list names exactly that group. Throws Error.
QStringList ListMembers(Session& session, const QString& group);

// The group commands end in an outcome worded for the group dialog: done with its message, a refusal (no
// name, a taken name, a permanent group, a group that is gone, a caller outside the group admin) or the
// database's failure.

// Adds a group with its volume (none when empty) and remark.
Outcome AddGroup(Session& session, const QString& name, const QString& volume, const QString& remark);
// Deletes the group of exactly that name; "admin" and "user" themselves are refused. Users'
// group lists and rights lists that name it stay as they are.
Outcome DeleteGroup(Session& session, const QString& name);

} // namespace velda
