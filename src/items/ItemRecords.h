#pragma once

#include "core/Outcome.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace velda {

class Database;
class Session;

namespace ItemText {
inline const QString AddFieldsEmpty = QStringLiteral("零件代号、名称及比例都不得为空！");
inline const QString Added = QStringLiteral("添加完成！");
inline const QString DeleteCodeEmpty = QStringLiteral("请先输入零件代号");
inline const QString Deleted = QStringLiteral("删除完成！");
// New: a code without records deletes nothing, and the user is told so instead of "done".
inline QString NothingToDelete(const QString& code) {
    return QStringLiteral("库中没有代号为%1的零件信息和图纸信息，未删除任何记录！").arg(code);
}
inline QString AlreadyThere(const QString& code) {
    return QStringLiteral("代号为%1的零件信息或图纸信息已经存在，未添加任何记录！").arg(code);
}

inline const QString KindWeldedAssembly = QStringLiteral("组焊件");
inline const QString KindWeldedPart = QStringLiteral("焊接件");
inline const QString KindAssembly = QStringLiteral("装配件");
inline const QString KindPart = QStringLiteral("零件");
} // namespace ItemText

// The kind of part a code stands for; the first matching rule wins: "/00" inside, "/" inside, then
// ending in "00" or in "00" and one capital letter, otherwise a plain part.
QString PartKind(const QString& code);

// Codes are capitals: the letters a to z become A to Z, everything else stays as typed.
QString UpperCaseCode(const QString& code);

// The fixed pick lists of the record dialog, in the order offered.
QStringList ScaleList();
QStringList SheetSizeList();
QStringList PageCountList();
QStringList DrawingMarkList();
inline const QString kDefaultScale = QStringLiteral("1:1");
inline const QString kDefaultSheetSize = QStringLiteral("A3");

// The materials of the reference list in their order; throws Error.
QStringList MaterialList(const Database& db);

// The date offered for a new drawing record: yyyy/mm/dd.
QString DateBoxText(const QDate& date);

// 零件信息 without its code and kind.
struct PartFields {
    QString name, weight, material;
};

// 图纸信息 without its code and 页码.
struct DrawingFields {
    QString design, verify, main, head, standard, process, date, scale, coding, sheetSize, pages, mark;
};

struct ItemRecords {
    std::optional<PartFields> part;
    std::optional<DrawingFields> drawing;
};

// The part and drawing records of one code (a null column reads as empty text); throws Error.
ItemRecords LoadItemRecords(const Database& db, const QString& code);

struct ItemEntry {
    QString code;
    PartFields part;
    DrawingFields drawing;
};

// Adds the part record (with its kind), the drawing record (页码 1) and the log row, all or none.
// The texts are stored as typed.
Outcome AddItemRecords(Session& session, const ItemEntry& entry);

// Deletes both records of the code and writes the log row, all or none.
Outcome DeleteItemRecords(Session& session, const QString& code);

} // namespace velda
