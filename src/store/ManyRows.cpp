#include "store/ManyRows.h"

#include "store/Database.h"

#include <QSqlQuery>

#include <algorithm>

namespace velda {

int SliceSize(const Database& db) { return db.dialect() == Dialect::SQLite ? 100 : 500; }

QString Marks(qsizetype n) {
    QString s;
    s.reserve(n * 2);
    for (qsizetype i = 0; i < n; ++i)
        s += i ? QStringLiteral(",?") : QStringLiteral("?");
    return s;
}

void SelectSliced(Database& db, const QString& sql, const QVariantList& before, const QStringList& keys,
                  const std::function<void(const QSqlQuery&)>& row) {
    const int size = SliceSize(db);
    for (qsizetype at = 0; at < keys.size(); at += size) {
        const QStringList slice = keys.mid(at, size);
        QVariantList values = before;
        for (const QString& k : slice)
            values << k;
        QSqlQuery q = db.exec(sql.arg(Marks(slice.size())), values);
        while (q.next())
            row(q);
    }
}

// A server gets one "insert ... values (...),(...)" per slice of rows, each statement costing round
// trips. The local file gets one row's statement, prepared once and run for each row: it has no round
// trips, and parsing a statement of hundreds of values cost it more than writing the rows (its lookup
// of each value's mark grows with the square of their number).
void InsertRows(Database& db, const QString& table, const QStringList& columns, const QList<QVariantList>& rows,
                const QString& tail, const std::function<void(QSqlQuery&)>& answer) {
    const QString one = QLatin1Char('(') + Marks(columns.size()) + QLatin1Char(')');
    if (db.dialect() == Dialect::SQLite) {
        db.execEach(
            QStringLiteral("insert into %1 (%2) values %3%4").arg(table, columns.join(QLatin1Char(',')), one, tail),
            rows, answer);
        return;
    }
    const qsizetype perStatement = std::max<qsizetype>(1, 2000 / std::max<qsizetype>(1, columns.size()));
    for (qsizetype at = 0; at < rows.size(); at += perStatement) {
        const qsizetype count = std::min(perStatement, rows.size() - at);
        QStringList tuples;
        QVariantList values;
        for (qsizetype k = at; k < at + count; ++k) {
            tuples << one;
            values << rows[k];
        }
        QSqlQuery q = db.exec(QStringLiteral("insert into %1 (%2) values %3%4")
                                  .arg(table, columns.join(QLatin1Char(',')), tuples.join(QLatin1Char(',')), tail),
                              values);
        if (answer)
            answer(q);
    }
}

} // namespace velda
