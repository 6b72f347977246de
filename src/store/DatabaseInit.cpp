#include "store/DatabaseInit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

static void initStoreResources() { Q_INIT_RESOURCE(store); }

namespace velda {

namespace {
QStringList splitStatements(const QString& path) {
    initStoreResources();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("缺少数据库定义文件%1").arg(path));
    const QString text = QString::fromUtf8(f.readAll());
    QStringList out;
    QString current;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (trimmed.endsWith(QLatin1Char(';'))) {
            current = current.trimmed();
            current.chop(1);
            out << current;
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}
} // namespace

QString ShortDateText(const QDate& date) {
    return QStringLiteral("%1/%2/%3").arg(date.year()).arg(date.month()).arg(date.day());
}

QStringList SchemaStatements(Dialect dialect) {
    return splitStatements(dialect == Dialect::SQLite ? QStringLiteral(":/store/sql/sqlite.sql")
                                                      : QStringLiteral(":/store/sql/postgresql.sql"));
}

QStringList ReferenceStatements() { return splitStatements(QStringLiteral(":/store/sql/reference.sql")); }

bool HasSchema(const Database& db) {
    return db.handle().tables().contains(QStringLiteral("PDM用户"), Qt::CaseInsensitive) ||
           db.handle().tables().contains(QStringLiteral("pdm用户"), Qt::CaseInsensitive);
}

int AddMissingSchema(Database& db) {
    // The catalogue first, all of it in one statement (every connect pays for this, at a distance a
    // round trip each): a CREATE ... IF NOT EXISTS would wait for the table's lock behind another
    // client's running transaction even when the object is there.
    QSet<QString> present;
    QSqlQuery q = db.exec(
        db.dialect() == Dialect::SQLite
            ? QStringLiteral("select name from sqlite_master")
            : QStringLiteral("select relname from pg_class where relnamespace=current_schema()::regnamespace "
                             "union all select proname from pg_proc where pronamespace=current_schema()::regnamespace "
                             "union all select tgname from pg_trigger where not tgisinternal"));
    while (q.next())
        present.insert(q.value(0).toString().toLower());
    q.finish();
    if (!present.contains(QStringLiteral("pdm用户")))
        return 0; // no schema at all: velda-initdb's work, not a connect's
    static const QRegularExpression added(QStringLiteral(R"(^CREATE\s+(?:TABLE|INDEX|FUNCTION|TRIGGER)\s+([^\s(]+))"));
    int made = 0;
    for (const QString& sql : SchemaStatements(db.dialect())) {
        const QRegularExpressionMatch m = added.match(sql);
        if (!m.hasMatch() || present.contains(m.captured(1).toLower()))
            continue;
        try {
            db.exec(sql);
            ++made;
        } catch (const Error&) {
        }
    }
    return made;
}

void InitializeDatabase(Database& db, const QDate& today) {
    if (HasSchema(db))
        throw Error(QStringLiteral("数据库中已有VELDA的数据表，未做任何改动"));
    const QString created = ShortDateText(today);
    Transaction tx(db);
    for (const QString& sql : SchemaStatements(db.dialect()))
        db.exec(sql);
    for (QString sql : ReferenceStatements()) {
        QVariantList values;
        if (sql.contains(QLatin1String(":today"))) {
            sql.replace(QLatin1String(":today"), QLatin1String("?"));
            values << created;
        }
        db.exec(sql, values);
    }
    tx.commit();
}

void CreateLocalDatabase(const QString& path, const QDate& today) {
    const QFileInfo info(path);
    if (info.exists())
        throw Error(QStringLiteral("本地数据库文件%1已存在，未做任何改动").arg(path));
    if (!QDir().mkpath(info.absolutePath()))
        throw Error(QStringLiteral("无法创建文件夹%1").arg(info.absolutePath()));
    {
        QFile f(path);
        // The driver cannot key the file, so the file system is what keeps it private.
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw Error(QStringLiteral("无法创建本地数据库文件%1：%2").arg(path, f.errorString()));
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    try {
        Database db;
        db.open(ConnectionSpec::localFile(path));
        InitializeDatabase(db, today);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace velda
