#include "logview/LogView.h"

#include "core/ActivityLog.h"
#include "core/Condition.h"
#include "core/Loaded.h"
#include "core/Session.h"
#include "store/Database.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringEncoder>

#include <langinfo.h>

namespace velda {

namespace LogViewText {
QString ConfirmDeleteAll(qsizetype rows) { return QStringLiteral("确实要删除列出的%1条日志吗？").arg(rows); }
QString DeletedCountCode(qsizetype rows) { return QStringLiteral("共%1条").arg(rows); }
} // namespace LogViewText

namespace {
// Statements with more bound values than this are split; well below every driver's limit.
constexpr qsizetype kDeleteBatch = 500;
} // namespace

QStringEncoder LocaleEncoder() {
    // The codeset of the user's locale; the plain C locale names ASCII, which cannot hold the log's
    // Chinese, so UTF-8 stands in for it there.
    const QByteArray codeset = QByteArray(nl_langinfo(CODESET)).toUpper();
    if (!codeset.isEmpty() && codeset != "ANSI_X3.4-1968" && codeset != "ASCII" && codeset != "US-ASCII") {
        QStringEncoder encoder(codeset.constData());
        if (encoder.isValid())
            return encoder;
    }
    return QStringEncoder(QStringConverter::Utf8);
}

int CharacterCount(const QString& text) {
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character outside the basic plane is two UTF-16 units but one character.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

QString RightAligned(const QString& value, int width) {
    const int pad = width - CharacterCount(value);
    return pad > 0 ? QString(pad, QLatin1Char(' ')) + value : value;
}

QString ExportLine(const LogRow& row) {
    static const QString gap5(5, QLatin1Char(' '));
    static const QString gap6(6, QLatin1Char(' '));
    QString line;
    line.reserve(96);
    line += RightAligned(QString::number(row.seq), 5);
    line += gap5;
    line += RightAligned(row.id, 12);
    line += gap6;
    line += RightAligned(row.code + QLatin1Char(' '), 22);
    line += gap6;
    line += RightAligned(row.time, 21);
    line += gap6;
    line += RightAligned(row.word, 5);
    return line;
}

LogSearch PrepareLogSearch(const Database& db, const QString& conditionText) {
    const ConditionConfig config = ConditionConfig::activityLog();
    if (conditionText.isEmpty())
        return {Outcome{Outcome::Kind::Refused, ConditionText::EmptyCondition, Icon::None, kTitleProgram}, {}};
    const auto columns = Load([&] { return TableColumns(db, config.table); });
    if (!columns.ok())
        return {columns.outcome, {}};
    // The text runs as SQL: nothing but a plain condition on the log's columns.
    if (const auto refused = CheckConditionText(conditionText, columns.value))
        return {Outcome::refusal(*refused), {}};
    return {Outcome::success(), config.selectPrefix + conditionText + config.orderSuffix};
}

LogFetch FetchLogRows(const Database& db, const QString& sql) {
    LogFetch out;
    try {
        QSqlQuery q = db.exec(sql);
        // Fields by name: the server spells ASCII names in lower case.
        const QSqlRecord record = q.record();
        const auto field = [&record](const char* name) {
            for (int i = 0; i < record.count(); ++i) {
                if (record.fieldName(i).compare(QString::fromUtf8(name), Qt::CaseInsensitive) == 0)
                    return i;
            }
            throw Error(QStringLiteral("日志表缺少字段%1").arg(QString::fromUtf8(name)));
        };
        const int seq = field("序号"), id = field("ID"), code = field("代号"), time = field("时间"),
                  word = field("方式");
        if (q.size() > 0)
            out.rows.reserve(static_cast<size_t>(q.size()));
        while (q.next()) {
            LogRow r;
            r.seq = q.value(seq).toLongLong();
            r.id = q.value(id).toString();
            r.code = q.value(code).toString();
            r.time = q.value(time).toString();
            r.word = q.value(word).toString();
            out.rows.push_back(std::move(r));
        }
        // A failure while stepping through the rows must not pass for the end of the rows.
        if (q.lastError().type() != QSqlError::NoError)
            throw Error(QStringLiteral("数据库操作失败：%1").arg(q.lastError().text()));
    } catch (const Error& e) {
        out.rows.clear();
        out.error = e.description();
    }
    return out;
}

LogFetch FetchLogRows(const ConnectionSpec& spec, const QString& sql) {
    Database db;
    try {
        db.open(spec);
    } catch (const Error& e) {
        LogFetch out;
        out.error = e.description();
        return out;
    }
    return FetchLogRows(db, sql);
}

Outcome DeleteLogRows(Session& session, const std::vector<qint64>& seqs, qsizetype* deleted,
                      const std::function<void()>& between) {
    if (deleted)
        *deleted = 0;
    return Guarded([&]() -> Outcome {
        Database& db = session.db();
        Transaction tx(db);
        qsizetype gone = 0;
        for (size_t from = 0; from < seqs.size(); from += kDeleteBatch) {
            const size_t to = std::min(seqs.size(), from + static_cast<size_t>(kDeleteBatch));
            QString marks;
            QVariantList values;
            for (size_t i = from; i < to; ++i) {
                marks += i == from ? QStringLiteral("?") : QStringLiteral(",?");
                values << QVariant::fromValue(seqs[i]);
            }
            QSqlQuery q =
                db.exec(QStringLiteral("delete from PDM日志 where 序号 in (") + marks + QLatin1Char(')'), values);
            gone += std::max(0, q.numRowsAffected());
            if (between)
                between();
        }
        AppendLogRow(session, LogViewText::DeletedCountCode(gone), LogWord::DeleteLog);
        tx.commit();
        if (deleted)
            *deleted = gone;
        return Outcome::success();
    });
}

QString LogExportPath(const QString& chosen) {
    const QString name = QFileInfo(chosen).fileName();
    if (name.isEmpty() || !QFileInfo(chosen).suffix().isEmpty())
        return chosen;
    return chosen + (name.endsWith(QLatin1Char('.')) ? QStringLiteral("log") : QStringLiteral(".log"));
}

Outcome ExportLogRows(const QString& path, const std::vector<LogRow>& rows, const std::vector<int>& which) {
    if (path.isEmpty())
        return Outcome::failure(QStringLiteral("未指定导出文件名"));
    QSaveFile file(path);
    // A folder that admits no side file still lets an existing file be written in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::failure(QStringLiteral("无法创建文件%1：%2").arg(path, file.errorString()));
    QStringEncoder encode = LocaleEncoder();
    const QString crlf = QStringLiteral("\r\n");
    QByteArray chunk;
    chunk.reserve(1 << 20);
    chunk += encode(LogViewText::ExportHeading + crlf);
    for (int i : which) {
        if (i < 0 || static_cast<size_t>(i) >= rows.size())
            continue;
        chunk += encode(ExportLine(rows[static_cast<size_t>(i)]) + crlf);
        if (chunk.size() >= (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return Outcome::failure(QStringLiteral("写入文件%1失败：%2").arg(path, file.errorString()));
            chunk.clear();
        }
    }
    if (file.write(chunk) != chunk.size() || !file.commit())
        return Outcome::failure(QStringLiteral("写入文件%1失败：%2").arg(path, file.errorString()));
    return Outcome::success(LogViewText::Exported);
}

} // namespace velda
