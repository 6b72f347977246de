#include "accounts/LoginLock.h"

#include "core/ActivityLog.h"
#include "core/GateText.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"

#include <QSqlQuery>
#include <QSysInfo>

#include <algorithm>

namespace velda {

LoginLockRules LoginLockRules::Read(Database& db) {
    const OfficeSettings settings(db);
    LoginLockRules rules;
    // A limit below one would lock every name at its first try, or never count: keep the default.
    const auto positive = [](qint64 value, qint64 fallback) { return value > 0 ? value : fallback; };
    rules.failures = positive(settings.number(LoginLockSetting::Failures, rules.failures), rules.failures);
    rules.windowSeconds = positive(settings.number(LoginLockSetting::WindowMinutes, 10), 10) * 60;
    rules.lockSeconds = positive(settings.number(LoginLockSetting::LockMinutes, 5), 5) * 60;
    return rules;
}

namespace {
qint64 Now(const Session& session) { return session.clock().now().toSecsSinceEpoch(); }
} // namespace

LoginFailures ReadLoginFailures(Session& session, const QString& account) {
    const QVariant until = session.db().scalar(kLoginFailuresRead, {account});
    LoginFailures failures;
    failures.recorded = !until.isNull();
    if (failures.recorded && until.toLongLong() > Now(session))
        failures.lockedUntil = QDateTime::fromSecsSinceEpoch(until.toLongLong());
    return failures;
}

std::optional<QDateTime> LoginLockedUntil(Session& session, const QString& account) {
    return ReadLoginFailures(session, account).lockedUntil;
}

void LogLoginFailure(Session& session, const QString& account) {
    AppendLogRow(session, session.db(), account, QSysInfo::machineHostName(), LogWord::LoginFailed);
}

void RecordLoginFailure(Session& session, const QString& account) {
    Database& db = session.db();
    const LoginLockRules rules = LoginLockRules::Read(db);
    const qint64 now = Now(session);
    const qint64 windowStart = now - rules.windowSeconds;
    // One statement, so that clients failing at once all count: a run older than the window starts
    // again at one.
    QSqlQuery q = db.exec(QStringLiteral("insert into 登录失败 (帐号, 次数, 首次, 锁至) values (?, 1, ?, 0) "
                                         "on conflict (帐号) do update set "
                                         "次数 = case when 登录失败.首次 > ? then 登录失败.次数 + 1 else 1 end, "
                                         "首次 = case when 登录失败.首次 > ? then 登录失败.首次 else ? end "
                                         "returning 次数"),
                          {account, now, windowStart, windowStart, now});
    const qint64 count = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (count >= rules.failures)
        db.exec(QStringLiteral("update 登录失败 set 次数=0, 锁至=? where 帐号=?"), {now + rules.lockSeconds, account});
    LogLoginFailure(session, account);
}

void ClearLoginFailures(Session& session, const QString& account) {
    session.db().exec(QStringLiteral("delete from 登录失败 where 帐号=?"), {account});
}

std::vector<LockedAccount> LockedAccounts(Session& session) {
    QSqlQuery q = session.db().exec(QStringLiteral("select 帐号, 锁至 from 登录失败 where 锁至>?"), {Now(session)});
    std::vector<LockedAccount> locked;
    while (q.next())
        locked.push_back({q.value(0).toString(), QDateTime::fromSecsSinceEpoch(q.value(1).toLongLong())});
    // Sorted here: the two databases order texts differently.
    std::sort(locked.begin(), locked.end(),
              [](const LockedAccount& a, const LockedAccount& b) { return a.account < b.account; });
    return locked;
}

Outcome UnlockAccount(Session& session, const QString& account) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    return Guarded([&] {
        QSqlQuery q =
            session.db().exec(QStringLiteral("delete from 登录失败 where 帐号=? and 锁至>?"), {account, Now(session)});
        return q.numRowsAffected() > 0 ? Outcome::success(LoginLockText::Unlocked.arg(account))
                                       : Outcome::refusal(LoginLockText::NotLocked.arg(account));
    });
}

QString LoginLockText::Locked(const QDateTime& until) {
    return QStringLiteral("登录失败次数过多，该帐号已被锁定至%1，请到时再试！").arg(LogTimeText(until));
}

} // namespace velda
