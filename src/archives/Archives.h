#pragma once

#include "core/Outcome.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

class Session;

namespace ArchiveText {
inline const QString MissingFields = QStringLiteral("产品代号/名称/主任设计/主任工艺/主任电气都不得为空！");
inline const QString BadPlanDates = QStringLiteral("立项时间/预计完成时间输入有误（正确格式为 yyyy/mm/dd）！");
inline const QString BadActualDate = QStringLiteral("实际完成时间输入有误（正确格式为 yyyy/mm/dd）！");
inline const QString NoRights = QStringLiteral("请在零件图纸入库前先进行权限定义！");
inline const QString Added = QStringLiteral("产品档案已顺利入库！");
inline const QString Edited = QStringLiteral("产品档案已编辑入库");
inline const QString ChooseCode = QStringLiteral("请先选择产品代号");
inline const QString Refused = QStringLiteral("您权限不够，操作失败");
inline const QString Deleted = QStringLiteral("删除完毕");
QString Duplicate(const QString& code);
} // namespace ArchiveText

// The four rights lists of a record, in the order read, write, delete, change.
struct ArchiveRights {
    QString read;
    QString write;
    QString del;
    QString change;

    bool complete() const { return !read.isEmpty() && !write.isEmpty() && !del.isEmpty() && !change.isEmpty(); }
    bool operator==(const ArchiveRights&) const = default;
};

// One row of 产品档案库. Null dates and texts read as the empty text.
struct ArchiveRecord {
    QString code;
    QString name;
    QString startDate;   // 立项时间
    QString plannedDate; // 预计完成时间
    QString actualDate;  // 实际完成时间, may stay empty
    QString design;
    QString process;
    QString electrical;
    QString indicators; // 主要性能指标
    QString features;   // 主要技术特点
    QString memo;
    QString owner; // 入库帐号
    ArchiveRights rights;
};

// A date typed as year, month and day separated by "/", "-" or "." (2024/3/5, 2024-03-05) that
// names a real calendar day.
bool IsArchiveDate(const QString& text);
// Today as the date boxes offer it: yyyy/mm/dd.
QString ArchiveDateText(const QDate& date);

// What the record is shown with in each mode: which commands the user's rights allow.
struct ArchiveAccess {
    bool write = false;
    bool del = false;
    bool change = false;
};

// Product archive records under their rights lists, for the session's user and login group.
class Archives final {
public:
    explicit Archives(Session& session) : m_session(session) {}

    // The codes the user may read, in code order.
    Outcome ReadableCodes(QStringList& codes);
    // Reads one record and logs that it was opened; found stays empty when there is no such code.
    Outcome Open(const QString& code, std::optional<ArchiveRecord>& found);
    // What the user may do with a record.
    ArchiveAccess AccessTo(const ArchiveRecord& record) const;

    // Adds a new record owned by the user, with these rights.
    Outcome Add(const ArchiveRecord& record);
    // Writes the changeable fields of a record the user may write. Name, start and planned dates
    // stay as stored; an empty actual date keeps the stored one. The rights lists are written only
    // when the user holds the change right of the stored record.
    Outcome Edit(const ArchiveRecord& record);
    // Deletes a record the user may delete.
    Outcome Delete(const QString& code);

private:
    Session& m_session;
};

} // namespace velda
