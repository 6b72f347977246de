#pragma once

#include "core/Outcome.h"
#include "core/TransferOptions.h"

#include <QString>
#include <QStringList>

namespace velda {

class Session;

// Start-up's last step: the groups one can log in with, in the order the database returns them.
// Throws Error when there is none to select.
QStringList LoadLoginGroups(Session& session);

// The group the login box offers for an account: the one it last logged in with on this machine when the
// list still holds it, else none (-1). Offering the first group to everybody would put admin before
// each new user and tell a passer-by which group is worth trying.
int PreferredLoginGroup(const Session& session, const QString& account, const QStringList& groups);

// One word on whether a volume's FTP server answers, for the status line: it answers when it greets us,
// whatever it then says to the login. Runs a connection, so never on the window's thread.
QString VolumeServerWord(const FtpOptions& options, const QString& serverAddress, const QString& adminPassword);
inline const QString kServerChecking = QStringLiteral("检查中");

inline const QString kLoginRefused = QStringLiteral("密码有误，请重新输入！");
inline const QString kChooseLoginGroup = QStringLiteral("请选择登录的组！");

// Checks account, password and membership of the chosen group exactly; on success fills the
// session's identity and volume fields and writes the login row. A wrong account, password or group
// is refused with kLoginRefused; a failure of the database is reported in the program's own title,
// without icon.
Outcome Login(Session& session, const QString& account, const QString& password, const QString& group);

} // namespace velda
