#include "accounts/Users.h"

#include "core/GateText.h"
#include "core/GroupList.h"
#include "core/Session.h"
#include "core/TextRules.h"
#include "store/DatabaseInit.h"

#include <QSqlQuery>

namespace velda {

namespace {
const QString kAdminAccount = QStringLiteral("admin");
const QString kSlash = QStringLiteral("/");

const QString kMissingIdOrPassword = QStringLiteral("用户帐号/密码不能为空！");
const QString kChooseGroups = QStringLiteral("请选择用户所属组！");
const QString kChooseGroupsEdit = QStringLiteral("请选择用户所属组（可多选）！");
const QString kAdded = QStringLiteral("添加完毕！");
const QString kProtected = QStringLiteral("此帐号不能被删除！");
const QString kDeleted = QStringLiteral("删除完毕！");
const QString kWrongPassword = QStringLiteral("密码有误！");
const QString kEdited = QStringLiteral("修改完毕！");
const QString kExists = QStringLiteral("帐号<%1>已存在，请换一个帐号！");
const QString kNotFound = QStringLiteral("帐号<%1>不存在，可能已被删除！");
const QString kHolds = QStringLiteral("帐号<%1>尚有%2张图纸处于出库状态，请先将其入库后再删除该帐号！");

bool PasswordsUsable(const QString& password, const QString& passwordAgain) {
    return !password.isEmpty() && !passwordAgain.isEmpty() && password == passwordAgain;
}
} // namespace

QString AccountNameProblem(const QString& name, bool group) {
    const bool bad = name.contains(u'/') || name.contains(u'(') || name.contains(u')') || HasUnstorableCharacter(name);
    if (!bad)
        return {};
    return group ? QStringLiteral("组名不能含有“/”、“(”、“)”、控制字符或无效字符！")
                 : QStringLiteral("用户帐号不能含有“/”、“(”、“)”、控制字符或无效字符！");
}

QString GroupListText(const QStringList& selectedInListOrder) {
    QString list;
    for (const QString& group : selectedInListOrder)
        list += kSlash + group;
    return list;
}

bool GroupListNames(const QString& groupList, const QString& group, const QStringList& existingGroups) {
    return GroupListMembers(groupList, existingGroups).contains(group);
}

QString CreationDateText(const QDate& date) { return ShortDateText(date); }

Loaded<QStringList> ListAccountIds(Session& session) {
    return Load([&] {
        // The whole row: a select of ID alone can be answered from the key's index, sorted.
        QSqlQuery q = session.db().exec(QStringLiteral("select * from PDM用户"));
        QStringList ids;
        while (q.next())
            ids << q.value(QStringLiteral("ID")).toString();
        return ids;
    });
}

std::optional<UserAccount> LoadAccount(Session& session, const QString& id) {
    QSqlQuery q = session.db().exec(QStringLiteral("select ID, 密码, 备注, 所属组 from PDM用户 where ID=?"), {id});
    if (!q.next())
        return std::nullopt;
    // A null reads as the empty text.
    return UserAccount{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()};
}

Outcome AddAccount(Session& session, const QString& id, const QString& password, const QString& passwordAgain,
                   const QStringList& selectedGroups, const QString& remark) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    if (id.isEmpty() || !PasswordsUsable(password, passwordAgain))
        return Outcome::refusal(kMissingIdOrPassword);
    if (selectedGroups.isEmpty())
        return Outcome::refusal(kChooseGroups);
    if (const QString problem = AccountNameProblem(id, false); !problem.isEmpty())
        return Outcome::refusal(problem);
    return Guarded([&] {
        try {
            session.db().exec(
                QStringLiteral("insert into PDM用户 (ID, 密码, 备注, 所属组, 创建日期) values (?, ?, ?, ?, ?)"),
                {id, password, remark, GroupListText(selectedGroups) + kSlash,
                 CreationDateText(session.clock().today())});
        } catch (const DuplicateKeyError&) {
            return Outcome::refusal(kExists.arg(id));
        }
        return Outcome::success(kAdded);
    });
}

Outcome DeleteAccount(Session& session, const QString& id) {
    if (!session.ctx.isAdministrator())
        return Outcome::refusal(GateText::Administrator);
    if (id == kAdminAccount)
        return Outcome::refusal(kProtected);
    return Guarded([&] {
        // One statement, so a check-out cannot slip in between the test and the deletion.
        QSqlQuery q = session.db().exec(QStringLiteral("delete from PDM用户 where ID=? and not exists (select 1 from "
                                                       "PDM出库图纸信息 where 出库帐号=?)"),
                                        {id, id});
        if (q.numRowsAffected() > 0)
            return Outcome::success(kDeleted);
        const int holds =
            session.db().scalar(QStringLiteral("select count(*) from PDM出库图纸信息 where 出库帐号=?"), {id}).toInt();
        if (holds > 0)
            return Outcome::refusal(kHolds.arg(id).arg(holds));
        return Outcome::refusal(kNotFound.arg(id));
    });
}

bool EditNeedsOldPassword(const Session& session, const QString& id) {
    const UserContext& ctx = session.ctx;
    return !ctx.isAdministrator() || id == ctx.UserId;
}

Outcome EditAccount(Session& session, const QString& id, const QString& password, const QString& passwordAgain,
                    const QStringList& selectedGroups, const QString& remark, const QString& oldPassword) {
    if (!PasswordsUsable(password, passwordAgain))
        return Outcome::refusal(kWrongPassword);
    const UserContext& ctx = session.ctx;
    if (ctx.isAdministrator() && selectedGroups.isEmpty())
        return Outcome::refusal(kChooseGroupsEdit);
    return Guarded([&] {
        const QString target = ctx.isAdministrator() ? id : ctx.UserId;
        if (EditNeedsOldPassword(session, target)) {
            // Saving one's groups or remark with the password left as it was needs no old one.
            const std::optional<UserAccount> present = LoadAccount(session, target);
            if (present && present->password != password && present->password != oldPassword)
                return Outcome::refusal(UserText::WrongOldPassword);
        }
        QSqlQuery q;
        if (!ctx.isAdministrator()) {
            // Only his own row, whatever the dialog's account box says.
            q = session.db().exec(QStringLiteral("update PDM用户 set 密码=? where ID=?"), {password, ctx.UserId});
        } else {
            q = session.db().exec(QStringLiteral("update PDM用户 set 密码=?,所属组=?,备注=? where ID=?"),
                                  {password, GroupListText(selectedGroups) + kSlash, remark, id});
        }
        return q.numRowsAffected() > 0 ? Outcome::success(kEdited) : Outcome::refusal(kNotFound.arg(id));
    });
}

} // namespace velda
