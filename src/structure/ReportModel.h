#pragma once

#include "core/Loaded.h"
#include "structure/StructureTree.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <functional>
#include <vector>

namespace velda {

class Session;
class StructureLoader;

namespace ReportKind {
inline const QString PartsList = QStringLiteral("零件明细");
inline const QString Purchased = QStringLiteral("外购件汇总");
inline const QString Standard = QStringLiteral("标准件汇总");
QStringList All();
// The sheet of a report: 零件明细表, 外购件汇总表, 标准件汇总表.
QString SheetName(const QString& kind);
} // namespace ReportKind

namespace ReportText {
inline const QString Making = QStringLiteral("正在生成报表，请稍后...");
inline QString MakingPage(int n) { return QStringLiteral("正在生成第%1页").arg(n); }
inline const QString Nothing = QStringLiteral("没有符合条件的报表可生产，请检查输入是否正确！");
inline const QString ErrorPrefix = QStringLiteral("程序运行出错！错误为：");
inline const QString PasswordEmpty = QStringLiteral("入库密码都不能为空");
inline const QString NoRight = QStringLiteral("您权限不够，无法预览该结合部结构");
inline QString PageLabel(int n) { return QStringLiteral("第 %1 页").arg(n); }
inline QString PageTotal(int n) { return QStringLiteral("共 %1 页").arg(n); }
inline QString Written(const QString& path) {
    return QStringLiteral("报表已保存为：%1\n是否打开所在的文件夹？").arg(path);
}
inline const QString PdfCaption = QStringLiteral("输出到PDF文件");
inline const QString PdfFilter = QStringLiteral("PDF 文件 (*.pdf)");
} // namespace ReportText

// One page of a report: cell texts by row (1 = the page's first row) and column (1 = A).
struct ReportPage {
    QHash<quint32, QString> cells;
    void set(int row, int col, const QString& text) { cells.insert(key(row, col), text); }
    QString at(int row, int col) const { return cells.value(key(row, col)); }
    static quint32 key(int row, int col) { return quint32(row) << 16 | quint32(col); }
};

// A rectangle of one page row that shows one value: a single cell or cells merged across columns.
struct ReportBlock {
    enum class Style { Title, Heading, Data, Label, Value, Page };
    int row = 0;
    int firstCol = 0;
    int lastCol = 0;
    Style style = Style::Data;
    QString fixedText; // the block's own text (titles, headings, labels); else the page's cell at firstCol
};

// The layout of a report's pages, shared by the workbook and the painter.
struct ReportLayout {
    QString sheet;
    int pageRows = 0;
    QVector<double> columnWidths; // in characters, column 1 first
    QVector<double> rowHeights;   // in points, page row 1 first
    QVector<ReportBlock> blocks;
    QString blockText(const ReportBlock& b, const ReportPage& page) const {
        return b.fixedText.isEmpty() ? page.at(b.row, b.firstCol) : b.fixedText;
    }
};
const ReportLayout& LayoutFor(const QString& kind);

struct ReportDocument {
    QString kind;
    QString sectionCode; // of the selected node: names the file and the log row
    std::vector<ReportPage> pages;
    const ReportLayout& layout() const { return LayoutFor(kind); }
};

// One row of the summaries: an entry of the collection and its usage entries.
struct KindEntry {
    QString text;
    qint64 total = 0;
    QString memoPart;
};
// The standard or purchased parts of the tree (root excluded), one entry per text, sorted by text.
std::vector<KindEntry> CollectKindNodes(const StructureTree& tree, const QString& kind);

// Computes the pages of one report from the loaded tree; throws velda::Error on a database error.
class ReportBuilder final {
public:
    using Status = std::function<void(const QString&)>;
    ReportBuilder(Session& session, StructureTree& tree, StructureLoader& loader, Status status = {});

    ReportDocument build(const QString& kind, StructureNode* node, bool withSubs);

private:
    void writePartsList(StructureNode* node, StructureNode* parent);
    void expandSubtree(StructureNode* node);
    void writeSummary(const QString& kind);
    ReportPage& newPage();

    Session& m_session;
    StructureTree& m_tree;
    StructureLoader& m_loader;
    Status m_status;
    ReportDocument m_doc;
};

// The section the password of a report is proved against: the one the node's children are stored under.
Loaded<bool> ReportPasswordMatches(Session& session, const QString& sectionCode, const QString& password);
// The file of a report in the data folder: section code, kind, ".xlsx", with every character a file
// name cannot hold replaced.
QString ReportFilePath(const QString& folder, const QString& sectionCode, const QString& kind);
// The name the PDF save dialog suggests: the product code with ".pdf", in the folder the user last saved
// a report's PDF to while it still exists, else in the data folder.
QString ReportPdfPath(const QString& lastFolder, const QString& dataFolder, const QString& productCode);

} // namespace velda
