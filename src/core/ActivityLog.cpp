#include "core/ActivityLog.h"

#include "core/Session.h"

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
    session.db().exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
                      {session.ctx.UserId, codeText, LogTimeText(session.clock().now()), operationWord});
}

} // namespace velda
