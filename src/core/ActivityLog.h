#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace velda {

class Database;
class Session;

// The complete set of operation words of the activity log.
namespace LogWord {
inline const QString Login = QStringLiteral("用户登录");
inline const QString Logout = QStringLiteral("用户注销");
inline const QString CheckIn = QStringLiteral("图纸入库");
inline const QString CheckOut = QStringLiteral("图纸出库");
inline const QString DeleteDrawing = QStringLiteral("图纸删除");
// A kept version of a drawing fetched into a folder: no hold, only this row.
inline const QString FetchVersion = QStringLiteral("取出历史版本");
inline const QString AddItemInfo = QStringLiteral("添加图纸信息");
inline const QString DeleteItemInfo = QStringLiteral("删除图纸信息");
inline const QString BrowseItemInfo = QStringLiteral("浏览图纸信息");
inline const QString AddBorrowed = QStringLiteral("添加借用信息");
inline const QString DeleteBorrowed = QStringLiteral("删除借用信息");
inline const QString BrowseBorrowed = QStringLiteral("浏览借用信息");
inline const QString AddArchive = QStringLiteral("添加产品文档");
inline const QString EditArchive = QStringLiteral("编辑产品文档");
inline const QString DeleteArchive = QStringLiteral("删除产品文档");
inline const QString BrowseArchive = QStringLiteral("浏览产品文档");
inline const QString BrowseStructure = QStringLiteral("浏览产品结构");
// A group given another storage volume; the code is the group's name.
inline const QString ChangeGroupVolume = QStringLiteral("更改组存储目录");
// Deleting rows of the log itself; the code tells how many went ("共3条"), so no deletion is silent.
inline const QString DeleteLog = QStringLiteral("删除日志记录");
// A login refused for its name, password or group, or for a lock-out; the ID is the name tried and the
// code the name of the machine it came from.
inline const QString LoginFailed = QStringLiteral("登录失败");
// "输出" + report name + "表": 输出零件明细表, 输出标准件汇总表, 输出外购件汇总表.
inline QString ReportOutput(const QString& reportName) {
    return QStringLiteral("输出") + reportName + QStringLiteral("表");
}
// The code written for a borrowed-part record: part name + "被" + product + "-" + section + "借用".
inline QString BorrowedLogCode(const QString& partName, const QString& product, const QString& section) {
    return partName + QStringLiteral("被") + product + QLatin1Char('-') + section + QStringLiteral("借用");
}
} // namespace LogWord

// Fixed-width local time, year to second, so that texts sort as times do.
QString LogTimeText(const QDateTime& when);

// Appends one row for the session's user; throws velda::Error when the row cannot be written.
void AppendLogRow(Session& session, const QString& code, const QString& operationWord);

// The rows of a command that writes on a connection of its own, or inside its own transaction, for
// the user it started with (who may have logged in as somebody else since); the time is the session's.
void AppendLogRow(Session& session, Database& db, const QString& user, const QString& code,
                  const QString& operationWord);
// The same, returning the new row's 序号.
qint64 AppendNumberedLogRow(Session& session, Database& db, const QString& user, const QString& code,
                            const QString& operationWord);
// One row for each code, numbered in the codes' order; returns each code's new 序号.
QHash<QString, qint64> AppendLogRows(Session& session, Database& db, const QString& user, const QStringList& codes,
                                     const QString& operationWord);
// Numbers for count rows yet to be written, ascending, never given out again: the rows may be written
// with them later (AppendLogRows with numbers), or never. Throws velda::Error when it cannot reserve them.
std::vector<qint64> ReserveLogNumbers(Database& db, int count);
// One row for each code with the 序号 given beside it (numbers reserved before), in that order.
void AppendLogRows(Session& session, Database& db, const QString& user, const QStringList& codes,
                   const std::vector<qint64>& numbers, const QString& operationWord);

} // namespace velda
