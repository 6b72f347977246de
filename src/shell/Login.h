#pragma once

#include "core/Outcome.h"

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// Start-up's last step: the groups one can log in with, in the order the database returns them.
// Throws Error when there is none to select.
QStringList LoadLoginGroups(Session& session);

inline const QString kLoginRefused = QStringLiteral("密码有误，请重新输入！");

// Checks account, password and membership of the chosen group exactly; on success fills the
// session's identity and volume fields and writes the login row. A wrong account, password or group
// is refused with kLoginRefused; a failure of the database is reported in the program's own title,
// without icon.
Outcome Login(Session& session, const QString& account, const QString& password, const QString& group);

} // namespace velda
