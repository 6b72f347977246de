#pragma once

#include "core/Loaded.h"
#include "core/Outcome.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

class Session;

// One row of PDM用户 as the user dialog shows it.
struct UserAccount {
    QString id;
    QString password;
    QString remark;
    QString groups; // 所属组, for example /admin/user/
};

// The group list of the entries selected, given in list order: "/" before each ("/a/b"). The
// closing "/" is added when the list is stored.
QString GroupListText(const QStringList& selectedInListOrder);
// True when a stored group list names exactly the group, read against the groups that exist
// (GroupListMembers).
bool GroupListNames(const QString& groupList, const QString& group, const QStringList& existingGroups);
// The creation date as stored: year/month/day without leading zeros (2024/3/5).
QString CreationDateText(const QDate& date);

// Why a name cannot be an account ID (group = false) or a group name (group = true), or an empty
// text when it can. Group lists and rights lists are texts joined with "/" and tagged "(U)" or
// "(G)"; a name holding those characters would read as other names there (a group "admin/x" makes
// its members administrators). Control characters, NUL and broken UTF-16 are refused too.
QString AccountNameProblem(const QString& name, bool group);

// Every account ID, in the order the database returns them.
Loaded<QStringList> ListAccountIds(Session& session);
// The account of that exact ID, or nothing when there is no such row. Throws Error.
std::optional<UserAccount> LoadAccount(Session& session, const QString& id);

// The account commands end in an outcome worded for the user dialog: done with its message, a refusal
// (missing or differing passwords, no group chosen, a taken ID, the protected account, an account that
// is gone, a caller outside the group admin) or the database's failure.

// Adds an account created today (the session's clock); an ID that cannot be one is refused with the
// text of AccountNameProblem.
Outcome AddAccount(Session& session, const QString& id, const QString& password, const QString& passwordAgain,
                   const QStringList& selectedGroups, const QString& remark);
// Deletes the account of exactly that ID; "admin" itself is refused, and so is an account that still
// holds checked-out drawings (nobody could end those holds).
Outcome DeleteAccount(Session& session, const QString& id);
// An administrator changes the password, groups and remark of the account id; anybody else
// changes only the password of his own account, whatever id says. A new password for one's own
// account needs the present one as oldPassword (somebody at a desk left logged in must not take the
// account over); an administrator setting another account's does not.
Outcome EditAccount(Session& session, const QString& id, const QString& password, const QString& passwordAgain,
                    const QStringList& selectedGroups, const QString& remark, const QString& oldPassword = {});
// Whether EditAccount on that account asks for the present password: it is the caller's own.
bool EditNeedsOldPassword(const Session& session, const QString& id);

// What the account commands answer, in the user dialog and on the command line alike.
namespace UserText {
inline const QString MissingIdOrPassword = QStringLiteral("用户帐号/密码不能为空！");
inline const QString ChooseGroups = QStringLiteral("请选择用户所属组！");
inline const QString Added = QStringLiteral("添加完毕！");
inline const QString Protected = QStringLiteral("此帐号不能被删除！");
inline const QString Deleted = QStringLiteral("删除完毕！");
inline const QString WrongPassword = QStringLiteral("密码有误！");
inline const QString WrongOldPassword = QStringLiteral("原密码有误！");
inline const QString Exists = QStringLiteral("帐号<%1>已存在，请换一个帐号！");
inline const QString NotFound = QStringLiteral("帐号<%1>不存在，可能已被删除！");
} // namespace UserText

} // namespace velda
