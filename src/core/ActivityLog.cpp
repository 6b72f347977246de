#include "core/ActivityLog.h"

#include "core/Session.h"
#include "store/Database.h"
#include "store/ManyRows.h"

#include <QSqlQuery>

#include <algorithm>

namespace velda {

QString LogTimeText(const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::asprintf("%04d", d.year()) + QStringLiteral("年") + QString::asprintf("%02d", d.month()) +
           QStringLiteral("月") + QString::asprintf("%02d", d.day()) + QStringLiteral("日") +
           QString::asprintf("%02d", t.hour()) + QStringLiteral("时") + QString::asprintf("%02d", t.minute()) +
           QStringLiteral("分") + QString::asprintf("%02d", t.second()) + QStringLiteral("秒");
}

void AppendLogRow(Session& session, const QString& code, const QString& operationWord) {
    // Login and logout have no code: written as the empty text, never as a null.
    const QString codeText = code.isNull() ? QStringLiteral("") : code;
    AppendLogRow(session, session.db(), session.ctx.UserId, codeText, operationWord);
}

void AppendLogRow(Session& session, Database& db, const QString& user, const QString& code,
                  const QString& operationWord) {
    db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
            {user, code, LogTimeText(session.clock().now()), operationWord});
}

qint64 AppendNumberedLogRow(Session& session, Database& db, const QString& user, const QString& code,
                            const QString& operationWord) {
    QSqlQuery q =
        db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?) returning 序号"),
                {user, code, LogTimeText(session.clock().now()), operationWord});
    if (!q.next())
        throw Error(QStringLiteral("日志记录没有返回序号"));
    return q.value(0).toLongLong();
}

QHash<QString, qint64> AppendLogRows(Session& session, Database& db, const QString& user, const QStringList& codes,
                                     const QString& operationWord) {
    const QString when = LogTimeText(session.clock().now());
    QList<QVariantList> rows;
    for (const QString& code : codes)
        rows << QVariantList{user, code, when, operationWord};
    QHash<QString, qint64> numbers;
    InsertRows(db, QStringLiteral("PDM日志"),
               {QStringLiteral("ID"), QStringLiteral("代号"), QStringLiteral("时间"), QStringLiteral("方式")}, rows,
               QStringLiteral(" returning 代号, 序号"), [&](QSqlQuery& q) {
                   while (q.next())
                       numbers.insert(q.value(0).toString(), q.value(1).toLongLong());
               });
    return numbers;
}

std::vector<qint64> ReserveLogNumbers(Database& db, int count) {
    std::vector<qint64> numbers;
    if (count <= 0)
        return numbers;
    if (db.dialect() == Dialect::PostgreSQL) {
        QSqlQuery q = db.exec(QStringLiteral("select nextval(pg_get_serial_sequence('PDM日志', '序号')) from "
                                             "generate_series(1, ?::integer)"),
                              {count});
        while (q.next())
            numbers.push_back(q.value(0).toLongLong());
    } else {
        // The counter behind the local file's automatic numbers, moved on past the numbers taken; the
        // file's own transaction makes the step atomic.
        Transaction tx(db, Transaction::Kind::Write);
        qint64 top = 0;
        {
            QSqlQuery q =
                db.exec(QStringLiteral("update sqlite_sequence set seq = seq + ? where name = ? returning seq"),
                        {count, QStringLiteral("PDM日志")});
            if (q.next())
                top = q.value(0).toLongLong();
        }
        if (top == 0) {
            top = db.scalar(QStringLiteral("select coalesce(max(序号), 0) from PDM日志")).toLongLong() + count;
            db.exec(QStringLiteral("insert into sqlite_sequence (name, seq) values (?, ?)"),
                    {QStringLiteral("PDM日志"), top});
        }
        tx.commit();
        for (qint64 k = top - count + 1; k <= top; ++k)
            numbers.push_back(k);
    }
    if (int(numbers.size()) != count)
        throw Error(QStringLiteral("无法预留日志序号"));
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void AppendLogRows(Session& session, Database& db, const QString& user, const QStringList& codes,
                   const std::vector<qint64>& numbers, const QString& operationWord) {
    const QString when = LogTimeText(session.clock().now());
    QList<QVariantList> rows;
    for (qsizetype k = 0; k < codes.size(); ++k)
        rows << QVariantList{numbers[size_t(k)], user, codes[k], when, operationWord};
    InsertRows(db, QStringLiteral("PDM日志"),
               {QStringLiteral("序号"), QStringLiteral("ID"), QStringLiteral("代号"), QStringLiteral("时间"),
                QStringLiteral("方式")},
               rows);
}

} // namespace velda
