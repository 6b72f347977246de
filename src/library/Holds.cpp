#include "library/Holds.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "accounts/Acl.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "store/Database.h"

#include <QSqlQuery>

#include <optional>

namespace velda {

namespace {

QDate StoredDate(const QString& text) {
    const QStringList parts = text.trimmed().split(u'/');
    if (parts.size() != 3)
        return {};
    return QDate(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
}

struct HoldRow {
    QString holder, since;
    qint64 checkOut = 0;
};

// The number of the holder's last check-out log row, read beside each hold.
const QString kCheckOutNumber = QStringLiteral(
    "(select max(序号) from PDM日志 where PDM日志.代号=PDM出库图纸信息.代号 and PDM日志.ID=出库帐号 and 方式=?)");

std::optional<HoldRow> ReadHold(Database& db, const QString& code) {
    QSqlQuery q =
        db.exec(QStringLiteral("select 出库帐号,出库时间,%1 from PDM出库图纸信息 where 代号=?").arg(kCheckOutNumber),
                {LogWord::CheckOut, code});
    if (!q.next())
        return std::nullopt;
    return HoldRow{q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong()};
}

struct LibraryRow {
    bool exists = false;
    QString write;
};

LibraryRow ReadLibraryRow(Database& db, const QString& code) {
    LibraryRow r;
    QSqlQuery q = db.exec(QStringLiteral("select 写 from PDM入库图纸信息 where 代号=?"), {code});
    if (q.next()) {
        r.exists = true;
        r.write = q.value(0).toString();
    }
    return r;
}

// The rules, on the rows as read.
std::optional<Outcome> Refuse(const UserContext& ctx, const HeldDrawing& shown, const std::optional<HoldRow>& hold,
                              const LibraryRow& row) {
    if (!hold)
        return Outcome::refusal(HoldText::NotHeld(shown.code));
    if (hold->holder != shown.holder || hold->since != shown.since || hold->checkOut != shown.checkOut)
        return Outcome::refusal(HoldText::HoldChanged(shown.code, hold->holder, hold->since));
    if (ctx.isAdministrator())
        return std::nullopt;
    if (!row.exists || !Acl::Grants(row.write, ctx))
        return Outcome::refusal(LibraryText::NoRight);
    if (hold->holder != ctx.UserId)
        return Outcome::refusal(HoldText::NotHolder(shown.code, hold->holder));
    return std::nullopt;
}

} // namespace

std::vector<HeldDrawing> ListHolds(Database& db, const QDate& today, const QString& holder) {
    std::vector<HeldDrawing> list;
    QString sql =
        QStringLiteral("select PDM出库图纸信息.代号,出库帐号,出库时间,目录名称,%1 from PDM出库图纸信息 left join "
                       "PDM入库图纸信息 on PDM出库图纸信息.代号=PDM入库图纸信息.代号")
            .arg(kCheckOutNumber);
    QVariantList values{LogWord::CheckOut};
    if (!holder.isEmpty()) {
        sql += QStringLiteral(" where 出库帐号=?");
        values << holder;
    }
    sql += QStringLiteral(" order by PDM出库图纸信息.代号");
    QSqlQuery q = db.exec(sql, values);
    while (q.next()) {
        HeldDrawing h;
        h.code = q.value(0).toString();
        h.holder = q.value(1).toString();
        h.since = q.value(2).toString();
        h.volume = q.value(3).toString();
        h.checkOut = q.value(4).toLongLong();
        const QDate since = StoredDate(h.since);
        h.days = since.isValid() ? int(since.daysTo(today)) : -1;
        list.push_back(std::move(h));
    }
    return list;
}

QStringList Holders(Database& db) {
    QStringList names;
    QSqlQuery q = db.exec(QStringLiteral("select distinct 出库帐号 from PDM出库图纸信息 order by 出库帐号"));
    while (q.next())
        names << q.value(0).toString();
    return names;
}

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
        Database& db = m_session.db();
        if (auto no = Refuse(ctx, shown, ReadHold(db, shown.code), ReadLibraryRow(db, shown.code)))
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
        if (auto no = Refuse(ctx, shown, ReadHold(db, shown.code), ReadLibraryRow(db, shown.code)))
            return *no;
        if (onStep)
            onStep(u"checked");
        Transaction tx(db, Transaction::Kind::Write);
        // The library's own lock: a release serialises with check-ins and check-outs of the code.
        rows::lockCode(db, shown.code);
        const std::optional<HoldRow> hold = ReadHold(db, shown.code);
        if (auto no = Refuse(ctx, shown, hold, ReadLibraryRow(db, shown.code)))
            return *no;
        // Only the hold the list showed goes (the check-out compared above, under the lock): a second
        // release that lost the race finds no row.
        const int gone =
            db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=? and 出库时间=?"),
                    {shown.code, hold->holder, hold->since})
                .numRowsAffected();
        if (gone != 1)
            return Outcome::refusal(HoldText::NotHeld(shown.code));
        db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='正常' where 代号=?"), {shown.code});
        db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
                {ctx.UserId, HoldText::LogCode(shown.code, hold->holder), LogTimeText(m_session.clock().now()),
                 HoldText::LogRelease});
        tx.commit();
        return Outcome::success(HoldText::Released(shown.code));
    });
}

} // namespace velda
