#pragma once

#include "core/Outcome.h"

#include <QString>
#include <QStringEncoder>
#include <QStringList>

#include <functional>
#include <vector>

namespace velda {

class Session;
class Database;
struct ConnectionSpec;

namespace LogViewText {
inline const QString NothingToDelete = QStringLiteral("请先选中欲删除的日志");
inline const QString Deleted = QStringLiteral("删除完毕");
inline const QString NothingToExport = QStringLiteral("请先选中欲导出的日志项");
inline const QString Exported = QStringLiteral("导出已完成");
inline const QString ExportHeading = QStringLiteral("日志输出");
inline const QString ExportFilter = QStringLiteral("日志文件(*.log)");
inline const QString ExportCaption = QStringLiteral("导出日志");
// The question before every listed row goes.
QString ConfirmDeleteAll(qsizetype rows);
// What the deletion's own log row carries as its code: how many rows went.
QString DeletedCountCode(qsizetype rows);
} // namespace LogViewText

// One row of PDM日志 as the list shows it.
struct LogRow {
    qint64 seq = 0;
    QString id;
    QString code; // a null 代号 is the empty text
    QString time;
    QString word;
};

// The encoding of the user's locale, in which the export file is written.
QStringEncoder LocaleEncoder();
// Number of characters as a reader counts them: a Chinese character, or any other, is one.
int CharacterCount(const QString& text);
// The value right-aligned in a field of the given width, padded with blanks on the left; a longer
// value is kept whole and pushes what follows.
QString RightAligned(const QString& value, int width);
// One line of the export file, without its line end.
QString ExportLine(const LogRow& row);

// The statement of a search over the log for a condition text, or why it may not run: an empty
// text, or one that holds something other than a plain condition on the log's columns.
struct LogSearch {
    Outcome verdict; // done when sql is ready
    QString sql;
};
LogSearch PrepareLogSearch(const Database& db, const QString& conditionText);

// The rows of a prepared search, read on a connection of its own so a worker thread may run it
// while the window stays live. error is the database's description when it failed.
struct LogFetch {
    std::vector<LogRow> rows;
    QString error;
};
LogFetch FetchLogRows(const ConnectionSpec& spec, const QString& sql);
LogFetch FetchLogRows(const Database& db, const QString& sql);

// Deletes the rows with these numbers and appends one row that says who deleted how many, all in
// one transaction: either every listed row goes and the deletion is on record, or nothing changes.
// between runs after each batch of statements (the dialog repaints there). deleted receives the
// number of rows that really went (another client may have deleted some already).
Outcome DeleteLogRows(Session& session, const std::vector<qint64>& seqs, qsizetype* deleted = nullptr,
                      const std::function<void()>& between = {});

// The file an export goes to: the chosen name, with ".log" added when it has no extension of its own.
QString LogExportPath(const QString& chosen);

// Writes the heading and one line per row (rows[i] for each i of which, in that order) to the file
// in the encoding of the user's locale, lines ended by CR LF. The file is replaced only when all of
// it was written.
Outcome ExportLogRows(const QString& path, const std::vector<LogRow>& rows, const std::vector<int>& which);

} // namespace velda
