#include "library/Holds.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "store/Database.h"

#include <optional>

namespace velda {

namespace {

QDate StoredDate(const QString& text) {
    const QStringList parts = text.trimmed().split(u'/');
    if (parts.size() != 3)
        return {};
    return QDate(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
}

// The rules, on the rows as read.
std::optional<Outcome> Refuse(const UserContext& ctx, const HeldDrawing& shown, const rows::Holder& hold,
                              const rows::StoredDrawing& row) {
    if (!hold.exists)
        return Outcome::refusal(HoldText::NotHeld(shown.code));
    if (hold.account != shown.holder || hold.when != shown.since || hold.checkOut != shown.checkOut)
        return Outcome::refusal(HoldText::HoldChanged(shown.code, hold.account, hold.when));
    if (ctx.isAdministrator())
        return std::nullopt;
    if (!row.exists || !Acl::Grants(row.write, ctx))
        return Outcome::refusal(LibraryText::NoRight);
    if (hold.account != ctx.UserId)
        return Outcome::refusal(HoldText::NotHolder(shown.code, hold.account));
    return std::nullopt;
}

} // namespace

std::vector<HeldDrawing> ListHolds(Database& db, const QDate& today, const QString& holder) {
    std::vector<HeldDrawing> list;
    for (HoldRow& r : LibraryStore(db).holds(holder)) {
        HeldDrawing h;
        h.code = std::move(r.code);
        h.holder = std::move(r.holder);
        h.since = std::move(r.since);
        h.volume = std::move(r.volume);
        h.checkOut = r.checkOut;
        const QDate since = StoredDate(h.since);
        h.days = since.isValid() ? int(since.daysTo(today)) : -1;
        list.push_back(std::move(h));
    }
    return list;
}

QStringList Holders(Database& db) { return LibraryStore(db).holders(); }

QString HoldText::Released(const QString& code) { return QStringLiteral("图纸<%1>的出库已撤销！").arg(code); }
QString HoldText::NotHeld(const QString& code) {
    return QStringLiteral("图纸<%1>已不在出库状态（已重新入库或出库已被撤销），无法撤销出库！").arg(code);
}
QString HoldText::HoldChanged(const QString& code, const QString& holder, const QString& since) {
    return QStringLiteral("图纸<%1>现已被%2在%3出库，与列表所示不同，请刷新后再操作！").arg(code, holder, since);
}
QString HoldText::NotHolder(const QString& code, const QString& holder) {
    return QStringLiteral("图纸<%1>由%2出库，只有出库人本人或admin组的用户才能撤销！").arg(code, holder);
}
QString HoldText::AskRelease(const QString& code, const QString& holder, const QString& since) {
    return QStringLiteral("图纸<%1>由%2在%3出库，撤销后其他有“写”权限的用户即可将其入库。确定撤销该出库吗？")
        .arg(code, holder, since);
}
QString HoldText::LogCode(const QString& code, const QString& holder) {
    return code + QStringLiteral("（出库人：") + holder + QStringLiteral("）");
}

Holds::Holds(Session& session) : m_session(session) {}

Holds::Check Holds::Prepare(const HeldDrawing& shown) {
    Check c;
    const UserContext& ctx = m_session.ctx;
    c.refusal = Guarded([&] {
        const LibraryStore store(m_session.db());
        if (auto no = Refuse(ctx, shown, store.holderOf(shown.code), store.readDrawing(shown.code)))
            return *no;
        if (shown.holder != ctx.UserId)
            c.question = HoldText::AskRelease(shown.code, shown.holder, shown.since);
        return Outcome::success();
    });
    return c;
}

Outcome Holds::Release(const HeldDrawing& shown) {
    const UserContext ctx = m_session.ctx;
    return Guarded([&] {
        Database& db = m_session.db();
        LibraryStore store(db);
        if (auto no = Refuse(ctx, shown, store.holderOf(shown.code), store.readDrawing(shown.code)))
            return *no;
        if (onStep)
            onStep(u"checked");
        Transaction tx(db, Transaction::Kind::Write);
        // The library's own lock: a release serialises with check-ins and check-outs of the code.
        rows::lockCode(db, shown.code);
        const rows::Holder hold = store.holderOf(shown.code);
        if (auto no = Refuse(ctx, shown, hold, store.readDrawing(shown.code)))
            return *no;
        // Only the hold the list showed goes (the check-out compared above, under the lock): a second
        // release that lost the race finds no row.
        if (!store.releaseHold(shown.code, hold.account, hold.when))
            return Outcome::refusal(HoldText::NotHeld(shown.code));
        AppendLogRow(m_session, db, ctx.UserId, HoldText::LogCode(shown.code, hold.account), HoldText::LogRelease);
        tx.commit();
        return Outcome::success(HoldText::Released(shown.code));
    });
}

} // namespace velda
