#include "shell/Login.h"

#include "accounts/LoginLock.h"
#include "core/ActivityLog.h"
#include "core/GroupList.h"
#include "core/Session.h"

#include "transfer/FtpClient.h"
#include "transfer/TransferCommand.h"
#include "transfer/Volumes.h"

#include <QSqlQuery>

namespace velda {

namespace {
// The whole row, as the office always read it: selecting the key alone lets SQLite answer from the
// key's index, in sorted order instead of the table's own.
const QString kGroupsRead = QStringLiteral("select * from PDM组");
const QString kAccountRead = QStringLiteral("select * from PDM用户 where ID=? and 密码=?");
const QString kVolumeRead = QStringLiteral("select PDM组.目录名称,服务器IP from PDM组,PDM存储目录 where 组名=? and "
                                           "PDM组.目录名称=PDM存储目录.目录名称");
} // namespace

QStringList LoadLoginGroups(Session& session) {
    QSqlQuery q = session.db().exec(kGroupsRead);
    QStringList groups;
    while (q.next())
        groups << q.value(QStringLiteral("组名")).toString();
    if (groups.isEmpty())
        throw Error(QStringLiteral("系统中没有任何组（PDM组为空），无法登录"));
    return groups;
}

namespace {
const QString kLastLoginGroup = QStringLiteral("LastLoginGroup");
} // namespace

int PreferredLoginGroup(const Session& session, const QString& account, const QStringList& groups) {
    if (account.isEmpty())
        return -1;
    return int(groups.indexOf(session.config().ReadAccountValue(account, kLastLoginGroup)));
}

QString VolumeServerWord(const FtpOptions& options, const QString& serverAddress, const QString& adminPassword) {
    if (serverAddress.isEmpty())
        return QStringLiteral("无服务器");
    FtpClient client(options);
    const TransferResult probe = client.Exists(VolumeUrl(adminPassword, serverAddress), QStringLiteral("Volume"));
    const bool silent =
        !probe.ok && (probe.failure == TransferFailure::ConnectFailed || probe.failure == TransferFailure::Timeout ||
                      probe.failure == TransferFailure::Interrupted);
    return silent ? QStringLiteral("无法连接") : QStringLiteral("可连接");
}

namespace {
Outcome LogIn(Session& session, const QString& account, const QString& password, const QString& group) {
    // Every refusal takes the same steps whether the name exists or not, so neither the answer nor
    // its time tells an account from a name nobody has. The reads go to a server together: a branch
    // office pays one round trip for them instead of five.
    const ReadAhead ahead(session.db(), {{kLoginFailuresRead, {account}},
                                         {kAccountRead, {account, password}},
                                         {kGroupsRead, {}},
                                         {kVolumeRead, {group}},
                                         {kVolumeTlsRead, {}}});
    const LoginFailures failures = ReadLoginFailures(session, account);
    if (failures.lockedUntil) {
        LogLoginFailure(session, account);
        return Outcome::refusal(LoginLockText::Locked(*failures.lockedUntil));
    }
    const auto refuse = [&] {
        RecordLoginFailure(session, account);
        return Outcome::refusal(kLoginRefused);
    };
    if (group.isEmpty())
        return refuse();
    QSqlQuery q = session.db().exec(kAccountRead, {account, password});
    if (!q.next())
        return refuse();
    const QString list = q.value(QStringLiteral("所属组")).toString();
    q.finish();
    // Membership is an exact name of the list, read against the groups that exist: a pattern or a
    // substring would let a group named "admin/旧" pass for admin.
    const QStringList groups = GroupListMembers(list, LoadLoginGroups(session));
    if (!groups.contains(group))
        return refuse();

    UserContext& ctx = session.ctx;
    ctx.UserId = account;
    ctx.UserGroups = SessionGroupList(groups);
    ctx.LoginGroup = group;

    QSqlQuery v = session.db().exec(kVolumeRead, {group});
    // A group without a volume (as on a local database with no file server) still logs in; the
    // file-storage commands then have no volume to write to and say so themselves.
    if (v.next()) {
        ctx.VolumeName = v.value(0).toString();
        ctx.VolumeServerIp = v.value(1).toString();
    } else {
        ctx.VolumeName.clear();
        ctx.VolumeServerIp.clear();
    }
    v.finish();
    InstallVolumeTls(session);

    if (failures.recorded)
        ClearLoginFailures(session, account);
    AppendLogRow(session, QString(), LogWord::Login);
    session.config().StoreAccountValue(account, kLastLoginGroup, group);
    return Outcome::success();
}
} // namespace

Outcome Login(Session& session, const QString& account, const QString& password, const QString& group) {
    // A login box opened before a command started would otherwise swap the user under it.
    if (session.commandRunning())
        return Outcome::refusal(SessionText::CommandRunning(session.runningCommand(), SessionText::WhatChangeAccount));
    Outcome outcome = Guarded([&] { return LogIn(session, account, password, group); });
    if (outcome.failed()) {
        // The login box has always reported the database's trouble without icon, in the program's title.
        outcome.icon = Icon::None;
        outcome.title = kTitleProgram;
    }
    return outcome;
}

} // namespace velda
