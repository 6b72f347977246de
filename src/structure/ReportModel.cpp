#include "structure/ReportModel.h"

#include "core/Session.h"
#include "structure/NodeKey.h"
#include "structure/StructureStore.h"

#include <QFileInfo>
#include <QSqlQuery>

#include <algorithm>

namespace velda {

namespace {

using Style = ReportBlock::Style;

constexpr int kPartsRows = 21;   // data rows of a parts-list page (rows 3 to 23)
constexpr int kSummaryRows = 39; // data rows of a summary page (rows 3 to 41)

void add(ReportLayout& l, int row, int c1, int c2, Style s, const QString& text = {}) {
    l.blocks.push_back({row, c1, c2, s, text});
}

ReportLayout partsLayout() {
    ReportLayout l;
    l.sheet = QStringLiteral("零件明细表");
    l.pageRows = 31;
    // Sized to fit A4 upright in a spreadsheet program: the material columns are a narrow grid that the
    // footer's page numbers and labels span.
    l.columnWidths = QVector<double>(40, 0.6);
    for (int c = 1; c <= 3; ++c)
        l.columnWidths[c - 1] = 3.5;
    for (int c = 4; c <= 8; ++c)
        l.columnWidths[c - 1] = 2.8;
    l.columnWidths[8] = l.columnWidths[9] = 2.0;
    l.columnWidths[10] = 5.0;
    l.columnWidths[39] = 14.0;
    l.rowHeights = QVector<double>(31, 15.0);
    l.rowHeights[0] = 24.0;
    l.rowHeights[29] = l.rowHeights[30] = 9.0; // room at the foot so rounding never moves a row over
    add(l, 1, 1, 40, Style::Title, QStringLiteral("零 件 明 细 表"));
    const QStringList headings{QStringLiteral("代号"),   QStringLiteral("名称"), QStringLiteral("数量"),
                               QStringLiteral("总数量"), QStringLiteral("材料"), QStringLiteral("备注")};
    const int spans[][2] = {{1, 3}, {4, 8}, {9, 10}, {11, 11}, {12, 39}, {40, 40}};
    for (int i = 0; i < 6; ++i)
        add(l, 2, spans[i][0], spans[i][1], Style::Heading, headings[i]);
    for (int r = 3; r <= 23; ++r) {
        for (const auto& s : spans)
            add(l, r, s[0], s[1], Style::Data);
    }
    add(l, 24, 33, 38, Style::Label, QStringLiteral("结合部"));
    add(l, 24, 39, 40, Style::Value);
    add(l, 26, 33, 38, Style::Label, QStringLiteral("上级"));
    add(l, 26, 39, 40, Style::Value);
    add(l, 28, 21, 26, Style::Page);
    add(l, 28, 27, 32, Style::Page);
    add(l, 28, 33, 38, Style::Label, QStringLiteral("产品"));
    add(l, 28, 39, 40, Style::Value);
    return l;
}

ReportLayout summaryLayout(bool standard) {
    ReportLayout l;
    l.sheet = standard ? QStringLiteral("标准件汇总表") : QStringLiteral("外购件汇总表");
    l.pageRows = 47;
    l.rowHeights = QVector<double>(47, 14.25);
    l.rowHeights[0] = 22.0;
    l.rowHeights[46] = 6.0;
    QStringList headings;
    std::vector<std::pair<int, int>> spans;
    if (standard) {
        l.columnWidths = {3.0, 3.0, 3.0, 3.0, 2.6, 2.6, 2.6, 1.6, 1.6, 3.0, 3.0, 2.6, 2.6, 10.0, 5.0, 4.0, 6.0, 13.0};
        headings = {QStringLiteral("代号"),     QStringLiteral("规格"), QStringLiteral("名称"),
                    QStringLiteral("所属部件"), QStringLiteral("数量"), QStringLiteral("序号"),
                    QStringLiteral("总数量"),   QStringLiteral("备注")};
        spans = {{1, 4}, {5, 9}, {10, 13}, {14, 14}, {15, 15}, {16, 16}, {17, 17}, {18, 18}};
    } else {
        l.columnWidths = {3.0, 3.0, 3.0, 2.6, 2.6, 2.6, 3.0, 2.0, 2.0, 2.0, 2.6, 2.6, 10.0, 5.0, 6.0, 7.0, 3.0, 3.0};
        headings = {QStringLiteral("代号 规格"), QStringLiteral("名称"),   QStringLiteral("所属部件"),
                    QStringLiteral("数量"),      QStringLiteral("总数量"), QStringLiteral("备注")};
        spans = {{1, 6}, {7, 12}, {13, 13}, {14, 14}, {15, 15}, {16, 18}};
    }
    add(l, 1, 1, 18, Style::Title,
        standard ? QStringLiteral("标 准 件 汇 总 表") : QStringLiteral("外 购 件 汇 总 表"));
    for (int i = 0; i < headings.size(); ++i)
        add(l, 2, spans[i].first, spans[i].second, Style::Heading, headings[i]);
    for (int r = 3; r <= 41; ++r) {
        for (const auto& s : spans)
            add(l, r, s.first, s.second, Style::Data);
    }
    add(l, 46, 1, 7, Style::Label, QStringLiteral("产品结构"));
    add(l, 46, 8, 10, Style::Page);
    add(l, 46, 11, 12, Style::Page);
    add(l, 46, 13, 18, Style::Value);
    return l;
}

// The usage entries of a memo part: parent, quantity and (standard parts) item number of each use.
struct Use {
    QString parent, quantity, item;
};
std::vector<Use> usesOf(const QString& memoPart) {
    std::vector<Use> out;
    const int first = memoPart.indexOf(QStringLiteral("/N"));
    if (first < 0)
        return out;
    for (const QString& e : memoPart.mid(first + 2).split(QStringLiteral("/N"))) {
        Use u;
        const int colon = e.indexOf(QLatin1Char(':'));
        const int piece = e.indexOf(QStringLiteral("件"), colon + 1);
        u.parent = colon < 0 ? e : e.left(colon);
        u.quantity = colon < 0 ? QString() : e.mid(colon + 1, (piece < 0 ? e.size() : piece) - colon - 1);
        u.item = piece < 0 ? QString() : e.mid(piece + 1, 2);
        out.push_back(u);
    }
    return out;
}

QString memoProper(const QString& memoPart) {
    const int n = memoPart.indexOf(QStringLiteral("/N"));
    return n < 0 ? memoPart : memoPart.left(n);
}

} // namespace

QStringList ReportKind::All() { return {PartsList, Purchased, Standard}; }

QString ReportKind::SheetName(const QString& kind) { return kind + QStringLiteral("表"); }

const ReportLayout& LayoutFor(const QString& kind) {
    static const ReportLayout parts = partsLayout();
    static const ReportLayout purchased = summaryLayout(false);
    static const ReportLayout standard = summaryLayout(true);
    if (kind == ReportKind::Standard)
        return standard;
    if (kind == ReportKind::Purchased)
        return purchased;
    return parts;
}

std::vector<KindEntry> CollectKindNodes(const StructureTree& tree, const QString& kind) {
    std::vector<KindEntry> out;
    QSet<QString> seen;
    for (const auto& n : tree.nodes()) {
        if (n->isRoot() || n->kind != kind || seen.contains(n->text))
            continue;
        seen.insert(n->text);
        out.push_back({n->text, n->tag(), n->memoPart()});
    }
    std::stable_sort(out.begin(), out.end(), [](const KindEntry& a, const KindEntry& b) { return a.text < b.text; });
    return out;
}

ReportBuilder::ReportBuilder(Session& session, StructureTree& tree, StructureLoader& loader, Status status)
    : m_session(session), m_tree(tree), m_loader(loader), m_status(std::move(status)) {}

ReportPage& ReportBuilder::newPage() {
    m_doc.pages.emplace_back();
    const int n = static_cast<int>(m_doc.pages.size());
    if (m_status)
        m_status(ReportText::MakingPage(n));
    return m_doc.pages.back();
}

ReportDocument ReportBuilder::build(const QString& kind, StructureNode* node, bool withSubs) {
    m_doc = ReportDocument{};
    m_doc.kind = kind;
    m_doc.sectionCode = SectionCodeOf(m_tree, node, m_session.ctx.ProductCode);
    if (kind == ReportKind::PartsList) {
        writePartsList(node, node->parent ? node->parent : node);
        if (withSubs)
            expandSubtree(node);
    } else {
        writeSummary(kind);
    }
    const int total = static_cast<int>(m_doc.pages.size());
    const ReportLayout& l = m_doc.layout();
    const int row = l.pageRows == 31 ? 28 : 46;
    const int col = l.pageRows == 31 ? 27 : 11;
    for (ReportPage& p : m_doc.pages)
        p.set(row, col, ReportText::PageTotal(total));
    return std::move(m_doc);
}

void ReportBuilder::writePartsList(StructureNode* node, StructureNode* parent) {
    const QString product = m_session.ctx.ProductCode;
    const QString c = SectionCodeOf(m_tree, node, product);
    const QString d = SectionCodeOf(m_tree, parent, product);
    struct Row {
        QString code, name, quantity, material;
    };
    std::vector<Row> rows;
    QSqlQuery q = m_session.db().exec(
        QStringLiteral(
            "select 结点代号,结点类型,结点数量,产品结构.备注,名称,材料 from 产品结构,零件信息 where 结合部代号=? "
            "and 结点类型<>'标准件' and 结点类型<>'外购件' and 产品结构.结点代号=零件信息.代号 order by 结点编号"),
        {c});
    while (q.next())
        rows.push_back({q.value(0).toString(), q.value(4).toString(), q.value(2).toString(), q.value(5).toString()});
    q = QSqlQuery();
    ReportPage* page = nullptr;
    int used = kPartsRows;
    const QString productDash = product + QLatin1Char('-');
    for (const Row& r : rows) {
        if (used == kPartsRows) {
            page = &newPage();
            page->set(24, 39, c);
            page->set(26, 39, d);
            page->set(28, 39, product);
            page->set(28, 21, ReportText::PageLabel(static_cast<int>(m_doc.pages.size())));
            used = 0;
        }
        const int row = 3 + used++;
        page->set(row, 1, r.code);
        page->set(row, 4, r.name);
        page->set(row, 9, r.quantity);
        page->set(row, 12, r.material);
        // The total and the remarks come from the node of this part under the listed assembly.
        QString text = r.code;
        text.remove(productDash);
        const auto child = std::find_if(node->children.begin(), node->children.end(),
                                        [&](const StructureNode* n) { return n->text == text; });
        if (child != node->children.end()) {
            page->set(row, 11, QString::number((*child)->tag()));
            const QString memoPart = (*child)->memoPart();
            QString remarks = memoPart.count(QStringLiteral("/N")) < 2 ? memoProper(memoPart)
                                                                       : QString(memoPart).remove(QStringLiteral("/N"));
            page->set(row, 40, remarks.remove(productDash));
        }
    }
}

void ReportBuilder::expandSubtree(StructureNode* node) {
    // Every child once, repeated texts included.
    std::vector<StructureNode*> remembered;
    const std::vector<StructureNode*> children = node->children;
    for (StructureNode* child : children) {
        if (!m_loader.mayHaveChildren(child))
            continue;
        remembered.push_back(child);
        m_loader.fetchChildren(child);
        writePartsList(child, node);
    }
    for (StructureNode* child : remembered)
        expandSubtree(child);
}

void ReportBuilder::writeSummary(const QString& kind) {
    const bool standard = kind == ReportKind::Standard;
    const QString rootText = m_tree.root() ? m_tree.root()->text : QString();
    ReportPage* page = nullptr;
    int used = kSummaryRows;
    for (const KindEntry& e : CollectKindNodes(m_tree, standard ? NodeKind::Standard : NodeKind::Purchased)) {
        const int a = e.text.indexOf(QLatin1Char('#'));
        const int b = e.text.lastIndexOf(QLatin1Char('#'));
        const QString code = a < 0 ? e.text : e.text.left(a);
        const QString spec = a < 0 ? QString() : e.text.mid(a + 1, b - a - 1);
        const QString name = b < 0 ? QString() : e.text.mid(b + 1);
        bool first = true;
        for (const Use& u : usesOf(e.memoPart)) {
            if (used == kSummaryRows) {
                page = &newPage();
                page->set(46, 13, rootText);
                page->set(46, 8, ReportText::PageLabel(static_cast<int>(m_doc.pages.size())));
                used = 0;
            }
            const int row = 3 + used++;
            if (standard) {
                if (first) {
                    page->set(row, 1, code);
                    page->set(row, 5, spec);
                    page->set(row, 10, name);
                    page->set(row, 17, QString::number(e.total));
                    page->set(row, 18, memoProper(e.memoPart));
                }
                page->set(row, 14, u.parent);
                page->set(row, 15, u.quantity);
                page->set(row, 16, u.item);
            } else {
                if (first) {
                    page->set(row, 1, code + QLatin1Char(' ') + spec);
                    page->set(row, 7, name);
                    page->set(row, 15, QString::number(e.total));
                    page->set(row, 16, memoProper(e.memoPart));
                }
                page->set(row, 13, u.parent);
                page->set(row, 14, u.quantity);
            }
            first = false;
        }
    }
}

Loaded<bool> ReportPasswordMatches(Session& session, const QString& sectionCode, const QString& password) {
    return Load([&] {
        QSqlQuery q = session.db().exec(
            QStringLiteral("select 结合部代号 from 产品结构入库人员信息表 where 结合部代号=? and 入库密码=?"),
            {sectionCode, password});
        return q.next();
    });
}

namespace {
// A name the file system takes: every character a file name cannot hold replaced, and no hidden file.
QString SafeFileName(QString name) {
    for (QChar& ch : name) {
        if (ch.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(ch))
            ch = QLatin1Char('_');
    }
    if (name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return name;
}
} // namespace

QString ReportFilePath(const QString& folder, const QString& sectionCode, const QString& kind) {
    return folder + QLatin1Char('/') + SafeFileName(sectionCode + kind) + QStringLiteral(".xlsx");
}

QString ReportPdfPath(const QString& lastFolder, const QString& dataFolder, const QString& productCode) {
    const QString folder = !lastFolder.isEmpty() && QFileInfo(lastFolder).isDir() ? lastFolder : dataFolder;
    return folder + QLatin1Char('/') + SafeFileName(productCode) + QStringLiteral(".pdf");
}

} // namespace velda
