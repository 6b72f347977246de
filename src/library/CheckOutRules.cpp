#include "library/CheckOutRules.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryStore.h"
#include "store/Database.h"

namespace velda {

using namespace rows;

CheckOutRule CheckOutRuleFor(const UserContext& ctx, const QString& code, const StoredDrawing& fetched, qint64 version,
                             const StoredDrawing& now, qint64 nowVersion, const std::function<Holder()>& holder) {
    CheckOutRule rule;
    if (!now.exists) {
        rule.outcome = Outcome::refusal(LibraryText::NotInLibrary);
        rule.missing = true;
        return rule;
    }
    // The copy is the drawing the row describes only if no check-in came in between.
    if (!now.sameFile(fetched) || nowVersion != version) {
        rule.kind = CheckOutRule::Kind::Changed;
        return rule;
    }
    if (!Acl::Grants(now.read, ctx)) {
        rule.outcome = Outcome::refusal(LibraryText::NoRight);
        return rule;
    }
    rule.kind = CheckOutRule::Kind::Granted;
    // Only a user who may write the drawing back takes the hold; anybody else's hold would lock the
    // drawing against every writer with no way to release it.
    if (now.state != kOut && Acl::Grants(now.write, ctx)) {
        rule.takesHold = true;
        rule.outcome = Outcome::success(LibraryText::CheckedOut);
        return rule;
    }
    const Holder h = holder();
    if (!Acl::Grants(now.write, ctx)) {
        rule.outcome = Outcome::success(h.exists ? LibraryText::AlreadyOut(code, h.account, h.when)
                                                 : LibraryText::CheckedOutForViewing);
    } else if (h.exists) {
        rule.outcome = Outcome::success(LibraryText::AlreadyOut(code, h.account, h.when));
    } else {
        rule.kind = CheckOutRule::Kind::Broken;
        rule.outcome = Outcome::failure(QStringLiteral("图纸<%1>标记为出库，但没有出库记录").arg(code));
        return rule;
    }
    // The user gets a copy of a drawing someone else is working on: the summary says whose.
    if (h.exists && h.account != ctx.UserId)
        rule.copyOf = h.account;
    return rule;
}

void RecordCheckOut(Session& session, Database& db, const QString& user, const QString& code, bool takesHold) {
    if (takesHold)
        LibraryStore(db).markCheckedOut(code, user, LibraryDate(session.clock().today()));
    AppendLogRow(session, db, user, code, LogWord::CheckOut);
}

} // namespace velda
