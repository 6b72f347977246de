#pragma once

#include "core/Outcome.h"
#include "core/SheetFile.h"
#include "items/ItemRecords.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

namespace velda {

class Database;
class Session;

// Bringing an office's part list into the part and drawing records from a workbook or a CSV file:
// the columns are matched to the record fields, a dry run says what each row would do, and the
// import writes each code's pair of records the way the records dialog does (the code in capitals,
// the kind from the code, both records and the log row in one transaction, the dialog's log word).

// The sixteen fields of a code's two records, in the records dialog's order, then the kind, which a
// file may carry only to have it checked against the code.
enum RecordField : int {
    FieldCode,
    FieldName,
    FieldWeight,
    FieldMaterial,
    FieldDesign,
    FieldVerify,
    FieldMain,
    FieldHead,
    FieldStandard,
    FieldProcess,
    FieldDate,
    FieldScale,
    FieldCoding,
    FieldSheetSize,
    FieldPages,
    FieldMark,
    FieldKind,
    kRecordFieldCount
};
// The stored column names: 代号, 名称, ..., 图样, 类型.
const QStringList& RecordFieldNames();
// A field by its column name or a common variant of it ("图号", "材质", "重量(kg)"); -1 for none.
int RecordFieldOf(const QString& header);
// The values of a code's records by field (the kind included), as LoadItemRecords gives them.
std::array<QString, kRecordFieldCount> RecordValues(const QString& code, const ItemRecords& records);

namespace ImportText {
inline const QString NoCodeColumn = QStringLiteral("文件中找不到代号列，请指定哪一列是代号");
inline const QString EmptyFile = QStringLiteral("文件中没有数据");
inline const QString UnknownField = QStringLiteral("没有名为“%1”的字段");
inline const QString UnknownColumn = QStringLiteral("文件中没有名为“%1”的列");
inline const QString EmptyCode = QStringLiteral("代号为空");
inline const QString CodeTooLong = QStringLiteral("代号超过%1字节");
inline const QString Unstorable = QStringLiteral("%1含有无法保存的字符（控制字符或不成对的代理项）");
inline const QString Duplicate = QStringLiteral("与第%1行的代号重复");
inline const QString EmptyName = QStringLiteral("名称为空");
inline const QString EmptyScale = QStringLiteral("比例为空");
inline const QString UnknownMaterial = QStringLiteral("材料“%1”不在材料表中");
inline const QString UnknownKind = QStringLiteral("类型“%1”不是组焊件、焊接件、装配件或零件");
inline const QString WrongKind = QStringLiteral("类型“%1”与代号不符，按代号应为%2");
inline const QString WordNew = QStringLiteral("新增");
inline const QString WordChanged = QStringLiteral("修改");
inline const QString WordUnchanged = QStringLiteral("不变");
inline const QString WordRefused = QStringLiteral("拒绝");
inline const QString WordAdded = QStringLiteral("已添加");
inline const QString WordUpdated = QStringLiteral("已修改");
inline const QString WordSkipped = QStringLiteral("未修改（未选择更新已有记录）");
inline const QString WordFailed = QStringLiteral("失败");
inline const QString WordNotReached = QStringLiteral("未导入（已停止）");
QString Summary(int added, int updated, int unchanged, int skipped, int refused, int failed);
QString StoppedSummary(int finished, int left);
} // namespace ImportText

// Which column (from 0) holds each field; -1 where none does.
struct ImportMapping {
    int headerRow = 0;   // the spreadsheet's row of the headers; the data are the rows below it
    QStringList headers; // that row's texts by column
    std::array<int, kRecordFieldCount> column;
    ImportMapping() { column.fill(-1); }
};

// The header row among the first rows (the one naming most fields) and its columns matched by name.
ImportMapping MatchColumns(const SheetTable& table);
// The user's word for one field: "FIELD=COLUMN" where COLUMN is a header text or a column letter, or
// empty to leave the field out. Returns why it cannot be used, or an empty text.
QString MapColumn(ImportMapping& mapping, const QString& field, const QString& column);

enum class RowVerdict { New, Changed, Unchanged, Refused };
enum class RowResult { Pending, Added, Updated, Skipped, Failed, NotReached };

struct FieldChange {
    int field;
    QString before, after;
};

struct ImportRow {
    int row = 0; // the spreadsheet's row
    QString code;
    RowVerdict verdict = RowVerdict::Refused;
    QString reason; // why refused
    std::vector<FieldChange> changes;
    ItemEntry next; // both records as they will be
    bool hadPart = false, hadDrawing = false;
    RowResult result = RowResult::Pending;
    QString message; // why it failed
};

struct ImportPlan {
    std::vector<ImportRow> rows;
    bool stopped = false; // the dry run was stopped before it had looked at every row
    int count(RowVerdict verdict) const;
    int count(RowResult result) const;
};

// Called as the work goes on; returning false stops it (an import after the records finished so far).
using ImportStep = std::function<bool(int finished, int total)>;

// The dry run: what each data row would do; reads only. The fields a file lacks keep their stored
// values, and a new record takes the dialog's offered values for them. Throws Error. A step that
// returns false leaves the plan stopped and unfinished, good for nothing but to be thrown away.
ImportPlan PlanImport(const Database& db, const SheetTable& table, const ImportMapping& mapping,
                      const ImportStep& step = {});

// Writes the new records, and the changed ones when update is set, each code in its own transaction.
// The rows' results say what happened to each; the outcome counts them (and, when stopped, how many
// finished and how many were left).
Outcome ApplyImport(Session& session, ImportPlan& plan, bool update, const ImportStep& step = {});
// The same on a connection of the caller's (a worker thread's own); the session gives the account and
// the time of the log rows.
Outcome ApplyImport(Session& session, Database& db, ImportPlan& plan, bool update, const ImportStep& step = {});

// The plan (and what the import did) as a table: 行号, 代号, 结果, 说明; for a report or its export.
QList<QStringList> ImportReportRows(const ImportPlan& plan);
inline const QStringList kImportReportHeaders = {QStringLiteral("行号"), QStringLiteral("代号"), QStringLiteral("结果"),
                                                 QStringLiteral("说明")};

} // namespace velda
