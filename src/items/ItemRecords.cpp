#include "items/ItemRecords.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "store/Database.h"

#include <QSqlQuery>

namespace velda {

namespace {

bool isCapital(QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); }

// An empty box is stored as empty text, never as null.
QVariant stored(const QString& value) {
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

} // namespace

QString PartKind(const QString& code) {
    if (code.contains(QStringLiteral("/00")))
        return ItemText::KindWeldedAssembly;
    if (code.contains(QLatin1Char('/')))
        return ItemText::KindWeldedPart;
    const qsizetype n = code.size();
    if (code.endsWith(QStringLiteral("00")) ||
        (n >= 3 && code.mid(n - 3, 2) == QStringLiteral("00") && isCapital(code[n - 1])))
        return ItemText::KindAssembly;
    return ItemText::KindPart;
}

QString UpperCaseCode(const QString& code) {
    QString out = code;
    for (QChar& c : out) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return out;
}

QStringList ScaleList() {
    return QStringLiteral("1:1 1:2 1:5 1:10 2:1 5:1 1:1.5 1:2.5 1:3 1:4 1:6 2.5:1 4:1 1:20 1:50")
        .split(QLatin1Char(' '));
}

QStringList SheetSizeList() {
    return QStringLiteral("A0 A1 A1x3 A1x4 A2 A2x3 A2x4 A2x5 A3 A3x3 A3x4 A3x5 A3x6 A4 A4x3 A4x4 A4x5 A4x6")
        .split(QLatin1Char(' '));
}

QStringList PageCountList() {
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")};
}

QStringList DrawingMarkList() {
    return {QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
}

QStringList MaterialList(const Database& db) {
    QSqlQuery q = db.exec(QStringLiteral("select 材料名称 from 材料名称 order by 顺序号"));
    QStringList out;
    while (q.next())
        out << (q.value(0).isNull() ? QString() : q.value(0).toString());
    return out;
}

QString DateBoxText(const QDate& date) { return date.toString(QStringLiteral("yyyy/MM/dd")); }

ItemRecords LoadItemRecords(const Database& db, const QString& code) {
    // Both records in one round trip: the library list asks on every change of its selection.
    QSqlQuery q =
        db.exec(QStringLiteral(
                    "select p.代号,p.名称,p.重量,p.材料,g.代号,g.设计,g.校对,g.主管设计,g.审定,g.标准审查,g.工艺审查,"
                    "g.日期,g.比例,g.编码,g.幅面,g.页数,g.图样 from (select cast(? as text) as 代号) k "
                    "left join 零件信息 p on p.代号=k.代号 left join 图纸信息 g on g.代号=k.代号"),
                {code});
    ItemRecords r;
    if (!q.next())
        return r;
    const auto at = [&q](int column) { return q.value(column).isNull() ? QString() : q.value(column).toString(); };
    if (!q.value(0).isNull())
        r.part = PartFields{at(1), at(2), at(3)};
    if (!q.value(4).isNull())
        r.drawing =
            DrawingFields{at(5), at(6), at(7), at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15), at(16)};
    return r;
}

Outcome AddItemRecords(Session& session, const ItemEntry& entry) {
    if (entry.code.isEmpty() || entry.part.name.isEmpty() || entry.drawing.scale.isEmpty())
        return Outcome::refusal(ItemText::AddFieldsEmpty);
    return Guarded([&] {
        Database& db = session.db();
        Transaction tx(db);
        try {
            const PartFields& p = entry.part;
            db.exec(QStringLiteral("insert into 零件信息 (代号,名称,重量,材料,类型) values (?,?,?,?,?)"),
                    {entry.code, stored(p.name), stored(p.weight), stored(p.material), PartKind(entry.code)});
            const DrawingFields& d = entry.drawing;
            db.exec(QStringLiteral(
                        "insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,"
                        "页数,图样,页码) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                    {entry.code, stored(d.design), stored(d.verify), stored(d.main), stored(d.head), stored(d.standard),
                     stored(d.process), stored(d.date), stored(d.scale), stored(d.coding), stored(d.sheetSize),
                     stored(d.pages), stored(d.mark), QStringLiteral("1")});
        } catch (const DuplicateKeyError&) {
            return Outcome::failure(ItemText::AlreadyThere(entry.code));
        }
        AppendLogRow(session, entry.code, LogWord::AddItemInfo);
        tx.commit();
        return Outcome::success(ItemText::Added);
    });
}

Outcome DeleteItemRecords(Session& session, const QString& code) {
    if (code.isEmpty())
        return Outcome::refusal(ItemText::DeleteCodeEmpty);
    return Guarded([&] {
        Database& db = session.db();
        Transaction tx(db);
        const int parts = db.exec(QStringLiteral("delete from 零件信息 where 代号=?"), {code}).numRowsAffected();
        const int drawings = db.exec(QStringLiteral("delete from 图纸信息 where 代号=?"), {code}).numRowsAffected();
        if (parts <= 0 && drawings <= 0)
            return Outcome::refusal(ItemText::NothingToDelete(code));
        AppendLogRow(session, code, LogWord::DeleteItemInfo);
        tx.commit();
        return Outcome::success(ItemText::Deleted);
    });
}

} // namespace velda
