#include "items/Borrowed.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "store/Database.h"

#include <QSqlQuery>

namespace velda {

namespace {
BorrowRecord upper(const BorrowRecord& r) {
    return {r.part.toUpper(), r.product.toUpper(), r.section.toUpper(), r.date};
}
// Matches a stored code whatever the case it was stored in.
const QString kSameItem = QStringLiteral("upper(名称)=?");
} // namespace

QString SectionCode(const QString& product, const QString& section) { return product + QLatin1Char('-') + section; }

QString BorrowDateText(const QDate& date) { return date.toString(QStringLiteral("yyyy/MM/dd")); }

Outcome BorrowedParts::Add(const BorrowRecord& typed) {
    if (typed.part.isEmpty() || typed.product.isEmpty() || typed.section.isEmpty() || typed.date.isEmpty())
        return Outcome::refusal(BorrowText::MissingFields);
    const BorrowRecord r = upper(typed);
    return Guarded([&]() -> Outcome {
        Database& db = m_session.db();
        Transaction tx(db);
        db.exec(QStringLiteral(
                    "insert into 借用件 (名称, 借用产品, 借用结合部, 入库时间, 入库帐号) values (?, ?, ?, ?, ?)"),
                {r.part, r.product, r.section, r.date, m_session.ctx.UserId});
        AppendLogRow(m_session, LogWord::BorrowedLogCode(r.part, r.product, r.section), LogWord::AddBorrowed);
        tx.commit();
        return Outcome::success(BorrowText::Added);
    });
}

Outcome BorrowedParts::Delete(const BorrowRecord& typed) {
    if (typed.part.isEmpty())
        return Outcome::refusal(BorrowText::NameFirst);
    const BorrowRecord r = upper(typed);
    return Guarded([&]() -> Outcome {
        Database& db = m_session.db();
        Transaction tx(db);
        // Ownership is part of the deletion itself: another user's identical record is his, and stays.
        QSqlQuery q = db.exec(QStringLiteral("delete from 借用件 where ") + kSameItem +
                                  QStringLiteral(" and upper(借用产品)=? and upper(借用结合部)=? and 入库帐号=?"),
                              {r.part, r.product, r.section, m_session.ctx.UserId});
        if (q.numRowsAffected() <= 0)
            return Outcome::refusal(BorrowText::Refused);
        q = QSqlQuery();
        AppendLogRow(m_session, LogWord::BorrowedLogCode(r.part, r.product, r.section), LogWord::DeleteBorrowed);
        tx.commit();
        return Outcome::success(BorrowText::Deleted);
    });
}

Outcome BorrowedParts::Borrowers(const QString& code, QStringList& sections) {
    sections.clear();
    return Guarded([&]() -> Outcome {
        QSqlQuery q = m_session.db().exec(QStringLiteral("select 借用产品, 借用结合部 from 借用件 where ") + kSameItem,
                                          {code.toUpper()});
        while (q.next())
            sections << SectionCode(q.value(0).toString(), q.value(1).toString());
        return Outcome::success();
    });
}

Outcome BorrowedParts::HasBorrowers(const QString& code, bool& has) {
    has = false;
    return Guarded([&]() -> Outcome {
        has = m_session.db()
                  .scalar(QStringLiteral("select count(*) from 借用件 where ") + kSameItem, {code.toUpper()})
                  .toInt() > 0;
        return Outcome::success();
    });
}

Outcome BorrowedParts::SortedBorrowers(const QString& code, QList<Borrower>& borrowers) {
    borrowers.clear();
    return Guarded([&]() -> Outcome {
        QSqlQuery q = m_session.db().exec(QStringLiteral("select 借用产品, 借用结合部, 入库时间 from 借用件 where ") +
                                              kSameItem + QStringLiteral(" order by 借用产品,借用结合部"),
                                          {code.toUpper()});
        while (q.next())
            borrowers << Borrower{SectionCode(q.value(0).toString(), q.value(1).toString()), q.value(2).toString()};
        return Outcome::success();
    });
}

Outcome BorrowedParts::LogBrowse(const QString& code) {
    return Guarded([&]() -> Outcome {
        AppendLogRow(m_session, code, LogWord::BrowseBorrowed);
        return Outcome::success();
    });
}

} // namespace velda
