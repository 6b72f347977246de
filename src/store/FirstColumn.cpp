#include "store/FirstColumn.h"

#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

#include <optional>

namespace velda {

namespace {

// Through the SQLite library itself; nothing when the connection is not an SQLite one.
std::optional<QStringList> sqliteFirstColumn(const Database& db, const QString& sql) {
    const QVariant handle = db.handle().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return std::nullopt;
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData());
    if (!connection)
        return std::nullopt;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, text.constData(), int(text.size()), &statement, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(connection));
        sqlite3_finalize(statement);
        throw Error(QStringLiteral("数据库语句有误：%1").arg(why));
    }
    QStringList rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* chars = static_cast<const QChar*>(sqlite3_column_text16(statement, 0));
        const int bytes = sqlite3_column_bytes16(statement, 0);
        rows << (chars ? QString(chars, bytes / int(sizeof(QChar))) : QString());
    }
    const QString why = QString::fromUtf8(sqlite3_errmsg(connection));
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        throw Error(QStringLiteral("数据库操作失败：%1").arg(why));
    return rows;
}

} // namespace

QStringList FirstColumnTexts(const Database& db, const QString& sql) {
    if (auto rows = sqliteFirstColumn(db, sql))
        return std::move(*rows);
    QStringList rows;
    QSqlQuery q = db.exec(sql);
    while (q.next()) {
        const QVariant v = q.value(0);
        rows << (v.isNull() ? QString() : v.toString());
    }
    // A failure while stepping through the rows must not pass for their end.
    if (q.lastError().type() != QSqlError::NoError)
        throw Error(QStringLiteral("数据库操作失败：%1").arg(q.lastError().text()));
    return rows;
}

} // namespace velda
