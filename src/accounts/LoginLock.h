#pragma once

#include "core/Outcome.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace velda {

class Database;
class Session;

// Guessing passwords is slowed by locking a name out after a run of failures. The count is kept in
// the database, by the name as typed, so that it holds across clients and restarts, and so that a
// name nobody has is counted and locked like any account: the answers never tell whether it exists.
namespace LoginLockSetting {
inline const QString Failures = QStringLiteral("登录失败锁定次数");
inline const QString WindowMinutes = QStringLiteral("登录失败计数分钟");
inline const QString LockMinutes = QStringLiteral("登录锁定分钟");
} // namespace LoginLockSetting

struct LoginLockRules {
    qint64 failures = 5;
    qint64 windowSeconds = 10 * 60;
    qint64 lockSeconds = 5 * 60;
    // The office's numbers, each read with the default above. Throws Error.
    static LoginLockRules Read(Database& db);
};

// When the lock-out of that name ends, or nothing when it is not locked now. Throws Error.
std::optional<QDateTime> LoginLockedUntil(Session& session, const QString& account);
// What the database keeps of a name's failed logins, in one read: whether it keeps any (a login that
// finds none has no count to start again) and the end of a lock-out in force now. Throws Error.
struct LoginFailures {
    bool recorded = false;
    std::optional<QDateTime> lockedUntil;
};
LoginFailures ReadLoginFailures(Session& session, const QString& account);
// The read behind it, for a login that sends its reads together.
inline const QString kLoginFailuresRead = QStringLiteral("select 锁至 from 登录失败 where 帐号=?");
// Counts one failed login of the name and writes its log row (the name as ID, this machine's name as
// code); the failure that completes the run starts the lock-out. Throws Error.
void RecordLoginFailure(Session& session, const QString& account);
// A failure while the name is locked: logged, but the lock is not prolonged. Throws Error.
void LogLoginFailure(Session& session, const QString& account);
// A successful login starts the count again. Throws Error.
void ClearLoginFailures(Session& session, const QString& account);

struct LockedAccount {
    QString account;
    QDateTime until;
};
// The names locked now, sorted. Throws Error.
std::vector<LockedAccount> LockedAccounts(Session& session);
// Ends a lock-out early; for administrators only.
Outcome UnlockAccount(Session& session, const QString& account);

namespace LoginLockText {
// "登录失败次数过多，该帐号已被锁定至2024年03月05日09时12分03秒，请到时再试！"
QString Locked(const QDateTime& until);
inline const QString Unlocked = QStringLiteral("帐号<%1>已解锁！");
inline const QString NotLocked = QStringLiteral("帐号<%1>未被锁定！");
} // namespace LoginLockText

} // namespace velda
