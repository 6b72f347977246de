#include "library/LibraryStore.h"

#include "core/ActivityLog.h"
#include "store/Database.h"
#include "store/ManyRows.h"

#include <QSet>
#include <QSqlQuery>

namespace velda {

using rows::Holder;
using rows::StoredDrawing;

namespace {

// The number of the holder's last check-out log row, read beside each hold: holder and date alone
// cannot tell a hold from a newer one the same holder took the same day. Takes LogWord::CheckOut.
const QString kCheckOutNumber = QStringLiteral(
    "(select max(序号) from PDM日志 where PDM日志.代号=PDM出库图纸信息.代号 and PDM日志.ID=出库帐号 and 方式=?)");

const QStringList kDrawingColumns{
    QStringLiteral("代号"), QStringLiteral("读"),       QStringLiteral("写"),       QStringLiteral("删"),
    QStringLiteral("改"),   QStringLiteral("入库帐号"), QStringLiteral("入库时间"), QStringLiteral("入库文件名称"),
    QStringLiteral("状态"), QStringLiteral("目录名称")};

// Columns from `first` on: 读,写,删,改,状态,入库文件名称,目录名称, the volume's 服务器IP and 目录名称
// (null when the volume is gone). By position: the server folds the ASCII part of 服务器IP.
StoredDrawing DrawingAt(const QSqlQuery& q, int first) {
    StoredDrawing d;
    d.exists = true;
    d.read = q.value(first).toString();
    d.write = q.value(first + 1).toString();
    d.del = q.value(first + 2).toString();
    d.change = q.value(first + 3).toString();
    d.state = q.value(first + 4).toString();
    d.fileName = q.value(first + 5).toString();
    d.volume = q.value(first + 6).toString();
    d.volumeKnown = !q.value(first + 8).isNull();
    if (d.volumeKnown)
        d.server = q.value(first + 7).toString();
    return d;
}

} // namespace

QVariantList CheckInRow::values() const { return {code, read, write, del, change, account, date, storedName, volume}; }

StoredDrawing LibraryStore::readDrawing(const QString& code) const {
    // One round trip: the row and its volume's server together.
    QSqlQuery q =
        m_db.exec(QStringLiteral("select d.读,d.写,d.删,d.改,d.状态,d.入库文件名称,d.目录名称,v.服务器IP,"
                                 "v.目录名称 from PDM入库图纸信息 d left join PDM存储目录 v on v.目录名称=d.目录名称 "
                                 "where d.代号=?"),
                  {code});
    return q.next() ? DrawingAt(q, 0) : StoredDrawing{};
}

QHash<QString, StoredDrawing> LibraryStore::readDrawings(const QStringList& codes) const {
    QHash<QString, StoredDrawing> found;
    SelectSliced(
        m_db,
        QStringLiteral("select d.代号,d.读,d.写,d.删,d.改,d.状态,d.入库文件名称,d.目录名称,v.服务器IP,v.目录名称 "
                       "from PDM入库图纸信息 d left join PDM存储目录 v on v.目录名称=d.目录名称 where d.代号 in (%1)"),
        {}, codes, [&](const QSqlQuery& q) { found.insert(q.value(0).toString(), DrawingAt(q, 1)); });
    return found;
}

Holder LibraryStore::holderOf(const QString& code) const {
    QSqlQuery q =
        m_db.exec(QStringLiteral("select 出库帐号,出库时间,%1 from PDM出库图纸信息 where 代号=?").arg(kCheckOutNumber),
                  {LogWord::CheckOut, code});
    if (!q.next())
        return {};
    return Holder{true, q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong()};
}

QHash<QString, Holder> LibraryStore::holdersOf(const QStringList& codes) const {
    QHash<QString, Holder> found;
    SelectSliced(m_db,
                 QStringLiteral("select 代号,出库帐号,出库时间,") + kCheckOutNumber +
                     QStringLiteral(" from PDM出库图纸信息 where 代号 in (%1)"),
                 {LogWord::CheckOut}, codes, [&](const QSqlQuery& q) {
                     found.insert(q.value(0).toString(),
                                  Holder{true, q.value(1).toString(), q.value(2).toString(), q.value(3).toLongLong()});
                 });
    return found;
}

QHash<QString, QStringList> LibraryStore::codesOfFiles(const QString& volume, const QStringList& names) const {
    QHash<QString, QStringList> found;
    SelectSliced(
        m_db, QStringLiteral("select 入库文件名称,代号 from PDM入库图纸信息 where 目录名称=? and 入库文件名称 in (%1)"),
        {volume}, names, [&](const QSqlQuery& q) { found[q.value(0).toString()] << q.value(1).toString(); });
    return found;
}

QString LibraryStore::otherCodeOfFile(const QString& code, const QString& volume, const QString& storedName) const {
    QSqlQuery q =
        m_db.exec(QStringLiteral("select 代号 from PDM入库图纸信息 where 目录名称=? and 入库文件名称=? and 代号<>?"),
                  {volume, storedName, code});
    return q.next() ? q.value(0).toString() : QString();
}

QHash<QString, QString> LibraryStore::filesOn(const QString& volume) const {
    QHash<QString, QString> named;
    QSqlQuery q =
        m_db.exec(QStringLiteral("select 代号, 入库文件名称 from PDM入库图纸信息 where 目录名称=?"), {volume});
    while (q.next())
        named.insert(q.value(1).toString(), q.value(0).toString());
    return named;
}

std::vector<HoldRow> LibraryStore::holds(const QString& holder, HoldOrder order) const {
    QString sql =
        QStringLiteral("select PDM出库图纸信息.代号,出库帐号,出库时间,目录名称,%1 from PDM出库图纸信息 left join "
                       "PDM入库图纸信息 on PDM出库图纸信息.代号=PDM入库图纸信息.代号")
            .arg(kCheckOutNumber);
    QVariantList values{LogWord::CheckOut};
    if (!holder.isEmpty()) {
        sql += QStringLiteral(" where 出库帐号=?");
        values << holder;
    }
    sql += order == HoldOrder::ByCode ? QStringLiteral(" order by PDM出库图纸信息.代号")
                                      : QStringLiteral(" order by 出库时间,PDM出库图纸信息.代号");
    std::vector<HoldRow> list;
    QSqlQuery q = m_db.exec(sql, values);
    while (q.next())
        list.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                        q.value(4).toLongLong()});
    return list;
}

QStringList LibraryStore::holders() const {
    QStringList names;
    QSqlQuery q = m_db.exec(QStringLiteral("select distinct 出库帐号 from PDM出库图纸信息 order by 出库帐号"));
    while (q.next())
        names << q.value(0).toString();
    return names;
}

namespace {
// The list's columns of the drawings in `drawings` (a table or a sub-select named d); where, when given,
// narrows them and may hold %1 for SelectSliced's marks. The size is known for a file stored by a
// check-in that kept its version: the version row numbered by the drawing's last check-in. A client
// that keeps no versions may have replaced the file since; its check-in then has no row and the size
// stays unknown.
QString ListingSql(const QString& drawings, const QString& where = {}) {
    return QStringLiteral("select d.代号,p.名称,d.状态,h.出库帐号,h.出库时间,d.入库帐号,d.入库时间,d.目录名称,"
                          "d.入库文件名称,v.文件大小 from %1 d left join PDM出库图纸信息 h on h.代号=d.代号 "
                          "left join 零件信息 p on p.代号=d.代号 left join 图纸版本 v on v.代号=d.代号 and "
                          "v.版本号=(select max(序号) from PDM日志 l where l.代号=d.代号 and l.方式=?)")
               .arg(drawings) +
           where;
}

// States, accounts, dates and volumes repeat from row to row: each distinct text is kept once and
// shared, which halves the memory of a large list.
class ListedRows {
public:
    void reserve(int n) {
        if (n > 0)
            list.reserve(size_t(n));
    }
    void add(const QSqlQuery& q) {
        list.push_back({q.value(0).toString(), q.value(1).toString(), shared(q, 2), shared(q, 3), shared(q, 4),
                        shared(q, 5), shared(q, 6), shared(q, 7), q.value(8).toString(),
                        q.value(9).isNull() ? -1 : q.value(9).toLongLong()});
    }
    std::vector<ListedDrawing> list;

private:
    QString shared(const QSqlQuery& q, int column) {
        const QString value = q.value(column).toString();
        const auto it = m_seen.constFind(value);
        return it != m_seen.cend() ? *it : *m_seen.insert(value);
    }
    QSet<QString> m_seen;
};
} // namespace

std::vector<ListedDrawing> LibraryStore::listing(int firstByCode) const {
    // The first page by code as the list compares codes (code unit by code unit), whatever the
    // server's collation; the joins then touch that page alone.
    const QString drawings =
        firstByCode <= 0
            ? QStringLiteral("PDM入库图纸信息")
            : QStringLiteral("(select * from PDM入库图纸信息 order by 代号%1 limit %2)")
                  .arg(m_db.dialect() == Dialect::PostgreSQL ? QStringLiteral(" collate \"C\"") : QString())
                  .arg(firstByCode);
    QSqlQuery q = m_db.exec(ListingSql(drawings), {LogWord::CheckIn});
    ListedRows rows;
    rows.reserve(q.size());
    while (q.next())
        rows.add(q);
    return std::move(rows.list);
}

std::vector<ListedDrawing> LibraryStore::listingOf(const QStringList& codes) const {
    ListedRows rows;
    SelectSliced(m_db, ListingSql(QStringLiteral("PDM入库图纸信息"), QStringLiteral(" where d.代号 in (%1)")),
                 {LogWord::CheckIn}, codes, [&rows](const QSqlQuery& q) { rows.add(q); });
    return std::move(rows.list);
}

std::vector<LoggedRow> LibraryStore::logRowsFrom(qint64 first) const {
    std::vector<LoggedRow> found;
    QSqlQuery q = m_db.exec(QStringLiteral("select 序号,代号,方式 from PDM日志 where 序号>=? order by 序号"), {first});
    while (q.next())
        found.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString()});
    return found;
}

qint64 LibraryStore::lastLogNumber() const {
    return m_db.scalar(QStringLiteral("select max(序号) from PDM日志")).toLongLong();
}

std::vector<QStringList> LibraryStore::recentLog(const QString& code, int count) const {
    std::vector<QStringList> found;
    QSqlQuery q = m_db.exec(
        QStringLiteral("select ID,时间,方式 from PDM日志 where 代号=? order by 序号 desc limit %1").arg(count), {code});
    while (q.next())
        found.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    return found;
}

bool LibraryStore::isEmpty() const {
    return m_db.scalar(QStringLiteral("select count(*) from PDM入库图纸信息")).toLongLong() == 0 &&
           m_db.scalar(QStringLiteral("select count(*) from PDM出库图纸信息")).toLongLong() == 0;
}

void LibraryStore::insertCheckIn(const CheckInRow& row) {
    m_db.exec(QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,"
                             "目录名称) values (?,?,?,?,?,?,?,?,'正常',?)"),
              row.values());
}

void LibraryStore::replaceCheckIn(const CheckInRow& row) {
    QVariantList values = row.values();
    values.append(values.takeFirst()); // the code last, for the where clause
    m_db.exec(QStringLiteral("update PDM入库图纸信息 set 读=?,写=?,删=?,改=?,入库帐号=?,入库时间=?,入库文件名称=?,"
                             "状态='正常',目录名称=? where 代号=?"),
              values);
}

void LibraryStore::insertCheckIns(const QList<CheckInRow>& rows) {
    QList<QVariantList> values;
    for (const CheckInRow& row : rows) {
        QVariantList v = row.values();
        v.insert(8, QStringLiteral("正常"));
        values << v;
    }
    if (!values.isEmpty())
        InsertRows(m_db, QStringLiteral("PDM入库图纸信息"), kDrawingColumns, values);
}

void LibraryStore::replaceCheckIns(const QList<CheckInRow>& rows) {
    if (rows.isEmpty())
        return;
    QVariantList values;
    for (const CheckInRow& row : rows)
        values << row.values();
    m_db.exec(QStringLiteral("update PDM入库图纸信息 set 读=v.column2,写=v.column3,删=v.column4,改=v.column5,"
                             "入库帐号=v.column6,入库时间=v.column7,入库文件名称=v.column8,状态='正常',"
                             "目录名称=v.column9 from (values %1) as v where PDM入库图纸信息.代号=v.column1")
                  .arg(QStringLiteral("(?,?,?,?,?,?,?,?,?),").repeated(rows.size()).chopped(1)),
              values);
}

void LibraryStore::dropHold(const QString& code, const QString& account) {
    m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=?"), {code, account});
}

void LibraryStore::dropHolds(const QString& account, const QStringList& codes) {
    if (codes.isEmpty())
        return;
    QVariantList values{account};
    for (const QString& c : codes)
        values << c;
    m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 出库帐号=? and 代号 in (%1)").arg(Marks(codes.size())),
              values);
}

void LibraryStore::markCheckedOut(const QString& code, const QString& account, const QString& date) {
    m_db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号=?"), {code});
    m_db.exec(QStringLiteral("insert into PDM出库图纸信息 (代号,出库帐号,出库时间) values (?,?,?)"),
              {code, account, date});
}

void LibraryStore::markAllCheckedOut(const QStringList& codes, const QString& account, const QString& date) {
    if (codes.isEmpty())
        return;
    QVariantList values;
    QList<QVariantList> rows;
    for (const QString& c : codes) {
        values << c;
        rows << QVariantList{c, account, date};
    }
    m_db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库' where 代号 in (%1)").arg(Marks(codes.size())),
              values);
    InsertRows(m_db, QStringLiteral("PDM出库图纸信息"),
               {QStringLiteral("代号"), QStringLiteral("出库帐号"), QStringLiteral("出库时间")}, rows);
}

bool LibraryStore::releaseHold(const QString& code, const QString& holder, const QString& since) {
    const int gone = m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=? and 出库时间=?"),
                               {code, holder, since})
                         .numRowsAffected();
    if (gone != 1)
        return false;
    m_db.exec(QStringLiteral("update PDM入库图纸信息 set 状态='正常' where 代号=?"), {code});
    return true;
}

void LibraryStore::deleteDrawing(const QString& code) {
    m_db.exec(QStringLiteral("delete from PDM入库图纸信息 where 代号=?"), {code});
}

} // namespace velda
