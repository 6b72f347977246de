#pragma once

#include "core/Outcome.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace velda {

class Session;

namespace BorrowText {
inline const QString MissingFields =
    QStringLiteral("借用件名称、借用产品代号、借用产品结合部代号及借用时间都不得为空！");
inline const QString Added = QStringLiteral("添加完成！");
inline const QString NameFirst = QStringLiteral("请先输入借用件名称");
inline const QString Refused = QStringLiteral("您权限不够，操作失败");
inline const QString Deleted = QStringLiteral("删除完成！");
} // namespace BorrowText

// One use of an item (a part or a section code) in a section of another product.
struct BorrowRecord {
    QString part;    // 名称
    QString product; // 借用产品
    QString section; // 借用结合部
    QString date;    // 入库时间, the borrow date as typed
};

// The borrowing section's code: product, "-", section suffix.
QString SectionCode(const QString& product, const QString& section);
// Today as the date box offers it: yyyy/mm/dd.
QString BorrowDateText(const QDate& date);

// One borrower of an item as the list shows it.
struct Borrower {
    QString section; // the borrowing section's code
    QString date;
};

// Borrow records of 借用件. Codes are kept in capitals, as they are typed for a search; records
// an older client stored in small letters are still found.
class BorrowedParts final {
public:
    explicit BorrowedParts(Session& session) : m_session(session) {}

    Outcome Add(const BorrowRecord& record);
    // Deletes the user's own records with these three values; other users' stay.
    Outcome Delete(const BorrowRecord& record);

    // The sections that borrow the code, in the database's order (the tree's children).
    Outcome Borrowers(const QString& code, QStringList& sections);
    // Whether anything borrows the code (the tree's image of a node).
    Outcome HasBorrowers(const QString& code, bool& has);
    // The borrowers sorted by product and section suffix, with their dates (the list).
    Outcome SortedBorrowers(const QString& code, QList<Borrower>& borrowers);
    // The log row of opening the tree for a code.
    Outcome LogBrowse(const QString& code);

private:
    Session& m_session;
};

} // namespace velda
