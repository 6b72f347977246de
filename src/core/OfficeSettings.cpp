#include "core/OfficeSettings.h"

#include <QSqlQuery>

namespace velda {

QString OfficeSettings::text(const QString& name, const QString& fallback) const {
    QSqlQuery q = m_db.exec(QStringLiteral("select 值 from 系统设置 where 名称=?"), {name});
    if (!q.next() || q.value(0).isNull())
        return fallback;
    return q.value(0).toString();
}

qint64 OfficeSettings::number(const QString& name, qint64 fallback) const {
    bool ok = false;
    const qint64 value = text(name).trimmed().toLongLong(&ok);
    return ok ? value : fallback;
}

bool OfficeSettings::flag(const QString& name, bool fallback) const {
    const QString value = text(name).trimmed();
    if (value == QLatin1String("1"))
        return true;
    if (value == QLatin1String("0"))
        return false;
    return fallback;
}

void OfficeSettings::set(const QString& name, const QString& value) {
    // Both databases take the same upsert, so two administrators saving at once leave one row.
    m_db.exec(QStringLiteral("insert into 系统设置 (名称, 值) values (?, ?) "
                             "on conflict (名称) do update set 值=excluded.值"),
              {name, value});
}

} // namespace velda
