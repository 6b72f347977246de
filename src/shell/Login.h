#pragma once

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// Start-up's last step: the groups one can log in with, in the order the database returns them.
// Throws Error when there is none to select.
QStringList LoadLoginGroups(Session& session);

enum class LoginOutcome { Refused, LoggedIn };

// Checks account, password and membership of the chosen group exactly; on success fills the
// session's identity and volume fields and writes the login row. Throws Error on a failure of the
// database.
LoginOutcome Login(Session& session, const QString& account, const QString& password, const QString& group);

inline const QString kLoginRefused = QStringLiteral("密码有误，请重新输入！");

} // namespace velda
