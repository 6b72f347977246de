#include "store/Schema.h"

#include "store/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace velda {

namespace {

// Every name of the schema that holds ASCII letters, as the statements spell it. The schema test fails
// for a table or column that is missing here.
const QStringList& SpelledNames() {
    static const QStringList names = {
        QStringLiteral("PDM日志"),
        QStringLiteral("PDM用户"),
        QStringLiteral("PDM组"),
        QStringLiteral("PDM存储目录"),
        QStringLiteral("PDM系统管理员信息"),
        QStringLiteral("PDM入库图纸信息"),
        QStringLiteral("PDM出库图纸信息"),
        QStringLiteral("ID"),
        QStringLiteral("服务器IP"),
    };
    return names;
}

bool IsPlainName(const QString& name) {
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

} // namespace

QString SchemaSpelling(const QString& name) {
    for (const QString& known : SpelledNames()) {
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return known;
    }
    return name;
}

QStringList DatabaseTables(const Database& db) {
    const QString sql =
        db.dialect() == Dialect::SQLite
            ? QStringLiteral("select name from sqlite_master where type = 'table' and name not like 'sqlite\\_%' "
                             "escape '\\'")
            : QStringLiteral("select table_name from information_schema.tables where table_schema = "
                             "current_schema() and table_type = 'BASE TABLE'");
    QSqlQuery q = db.exec(sql);
    QStringList tables;
    while (q.next())
        tables << SchemaSpelling(q.value(0).toString());
    tables.sort();
    return tables;
}

QStringList DatabaseColumns(const Database& db, const QString& table) {
    // The name goes into the statement text, so only a plain identifier is accepted.
    if (!IsPlainName(table))
        throw Error(QStringLiteral("数据表名称有误：%1").arg(table));
    QSqlQuery q = db.exec(QStringLiteral("select * from ") + table + QStringLiteral(" where 1 = 0"));
    const QSqlRecord record = q.record();
    QStringList columns;
    for (int i = 0; i < record.count(); ++i)
        columns << SchemaSpelling(record.fieldName(i));
    return columns;
}

} // namespace velda
