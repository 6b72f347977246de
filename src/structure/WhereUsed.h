#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <vector>

namespace velda {

class Session;

namespace WhereUsedText {
inline const QString Title = QStringLiteral("使用位置");
inline const QString CodeFirst = QStringLiteral("请先输入要查询的代号");
// %1: the code.
inline const QString NotUsed = QStringLiteral("代号%1未在已入库的产品结构中使用，也没有借用记录");
// %1: the sections that contain themselves, joined by "、".
inline const QString Cycle = QStringLiteral("产品结构中存在循环引用：结合部%1包含其自身，查询在此截断，不计入产品总数");
inline const QString CycleMark = QStringLiteral("循环引用，不再展开");
inline const QString DepthMark = QStringLiteral("超出查询层数，未再展开");
inline const QString Borrowed = QStringLiteral("借用");
inline const QString Overflow = QStringLiteral("数量过大");
} // namespace WhereUsedText

// One stored row that lists a code under a section: the queried part (level 1) or a section that
// lists the section below it (level 2 and up).
struct UseRow {
    QString child;   // the code as the row stores it
    QString section; // 结合部代号
    QString quantity;
    qint64 quantityValue = 0; // a quantity that is not a number counts as 0
    int level = 1;            // 1: the section lists the part itself
    bool cycle = false;       // the section is already on the way up: not followed
    bool cutByDepth = false;  // the section lies at the last level asked for and is used further up
};

// A section met on the way up, with who checked it in and when.
struct UsedSection {
    QString code, name, checkedInBy, checkedInAt;
    int level = 0; // the fewest steps from the part
};

// A product the part ends up in: how many of the part one product holds (the quantities multiplied
// down each complete path and summed over them), and its archive record when there is one.
struct ProductUse {
    QString product;
    qint64 total = 0;
    bool overflow = false;
    bool hasArchive = false;
    QString archiveName, archiveDesigner, archiveStart;
};

// A borrowed-part record naming the code.
struct BorrowUse {
    QString product, section, date, account;
};

struct WhereUsed {
    QString code;
    std::vector<UseRow> rows;          // by level, then section and row order
    std::vector<UsedSection> sections; // by level, then code
    std::vector<ProductUse> products;  // by product code
    std::vector<BorrowUse> borrowed;
    QStringList cycles; // sections found inside themselves, each once

    bool empty() const { return rows.empty() && borrowed.empty(); }
    const UsedSection* section(const QString& code) const;
    // The rows listing a code further up: the sections that use it.
    std::vector<const UseRow*> usesOf(const QString& childSection) const;
    // Makes the two look-ups above quick; FindWhereUsed does it once its lists are complete.
    void index();

private:
    QHash<QString, qsizetype> m_sectionAt;
    QHash<QString, QList<qsizetype>> m_usesAt;
};

// Where a code is used. Rows match when their stored code is the code itself or, for the code#spec#name
// codes of standard and purchased parts, when the part before the first "#" is the code; a code that
// holds "#" matches only itself, and nothing in a code acts as a pattern. Sections are followed up to
// those no other section lists; maxDepth > 0 stops after that many levels. Cycles in the stored data are
// cut and named. Reads only. Throws velda::Error.
WhereUsed FindWhereUsed(Session& session, const QString& code, int maxDepth = 0);

// Lets the library ask before a new version or a deletion of a used part: the program calls it once
// at start.
void AnswerLibraryImpactQuestions();

// The values of the condition on a code's own rows: the code, or for a code without "#" the range of
// its code#spec#name codes.
QVariantList WhereUsedValues(const QString& code);

// The product of a section code: the text before its first "-".
QString ProductOfSection(const QString& sectionCode);

// The same answer as tables, for the export, the command line and the window alike.
QStringList WhereUsedUseHeadings();
std::vector<QStringList> WhereUsedUseRows(const WhereUsed& w);
QStringList WhereUsedProductHeadings();
std::vector<QStringList> WhereUsedProductRows(const WhereUsed& w);
QStringList WhereUsedBorrowHeadings();
std::vector<QStringList> WhereUsedBorrowRows(const WhereUsed& w);
// The same tables for the command line: one object whose lists hold one object per row, keyed by the
// headings; and plain text, a block per table with its rows tab-separated.
QJsonObject WhereUsedJson(const WhereUsed& w);
QString WhereUsedPlainText(const WhereUsed& w);
// The export: one sheet each for the uses, the products and the borrowed uses. Throws velda::Error.
void WriteWhereUsedWorkbook(const WhereUsed& w, const QString& path);

} // namespace velda
