#include "structure/WhereUsed.h"

#include "accounts/Acl.h"
#include "core/Session.h"
#include "library/ChangeImpact.h"
#include "structure/NodeKey.h"
#include "structure/ReportWorkbook.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace velda {

namespace {

// The rows that list the code itself. Comparisons, never LIKE: no character of a code is a pattern.
// The code part of code#spec#name is found in the range of stored codes from the code up to the code
// followed by "$" ("$" follows "#"), which the index on the stored code serves as one range; of that
// range only the code itself and what follows "code#" are kept.
QString matchCondition(const QString& column, bool withCatalogue, const QString& collate) {
    const QString c = column + collate;
    if (!withCatalogue)
        return c + QStringLiteral(" = ?");
    return QStringLiteral("(%1 >= ? and %1 < ? and (%1 = ? or %1 >= ?))").arg(c);
}

// How many codes one statement of the walk asks about at most: well within both databases' limits on
// bound values, and few statements for the widest level.
constexpr int kCodesPerStatement = 500;

// The rows listing the code (first level), or listing any of a set of sections met on the way up, with
// their sections' headers. The sections met are asked about in sets, breadth first, each set one
// statement through the index on the stored code: the plan stays an index look-up on both databases
// however many sections a level holds.
QString levelSql(const QString& condition) {
    return QStringLiteral(
               "select s.结合部代号, s.结点代号, s.结点数量, h.结合部名称, h.入库者, h.入库时间 from 产品结构 s "
               "left join 产品结构入库人员信息表 h on h.结合部代号 = s.结合部代号 where ") +
           condition;
}

QString listCondition(int codes, const QString& collate) {
    QStringList marks;
    for (int i = 0; i < codes; ++i)
        marks << QStringLiteral("?");
    return QStringLiteral("s.结点代号") + collate + QStringLiteral(" in (") + marks.join(QLatin1Char(',')) +
           QLatin1Char(')');
}

qint64 saturatedMul(qint64 a, qint64 b, bool& overflow) {
    qint64 r = 0;
    if (__builtin_mul_overflow(a, b, &r)) {
        overflow = true;
        return std::numeric_limits<qint64>::max();
    }
    return r;
}

qint64 saturatedAdd(qint64 a, qint64 b, bool& overflow) {
    qint64 r = 0;
    if (__builtin_add_overflow(a, b, &r)) {
        overflow = true;
        return std::numeric_limits<qint64>::max();
    }
    return r;
}

struct Totals {
    std::map<QString, qint64> byProduct;
    std::set<QString> overflowed;
};

} // namespace

QVariantList WhereUsedValues(const QString& code) {
    if (code.contains(QLatin1Char('#')))
        return {code};
    return {code, code + QLatin1Char('$'), code, code + QLatin1Char('#')};
}

QString ProductOfSection(const QString& sectionCode) {
    const qsizetype dash = sectionCode.indexOf(QLatin1Char('-'));
    return dash < 0 ? sectionCode : sectionCode.left(dash);
}

const UsedSection* WhereUsed::section(const QString& code) const {
    const auto it = m_sectionAt.find(code);
    return it == m_sectionAt.end() ? nullptr : &sections[static_cast<std::size_t>(*it)];
}

std::vector<const UseRow*> WhereUsed::usesOf(const QString& childSection) const {
    std::vector<const UseRow*> out;
    for (const qsizetype at : m_usesAt.value(childSection))
        out.push_back(&rows[static_cast<std::size_t>(at)]);
    return out;
}

void WhereUsed::index() {
    m_sectionAt.clear();
    m_usesAt.clear();
    for (std::size_t i = 0; i < sections.size(); ++i)
        m_sectionAt.insert(sections[i].code, static_cast<qsizetype>(i));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].level > 1)
            m_usesAt[rows[i].child].append(static_cast<qsizetype>(i));
    }
}

WhereUsed FindWhereUsed(Session& session, const QString& code, int maxDepth) {
    WhereUsed w;
    w.code = code;
    if (code.isEmpty())
        return w;
    Database& db = session.db();
    const bool postgres = db.dialect() == Dialect::PostgreSQL;
    const bool withCatalogue = !code.contains(QLatin1Char('#'));

    // Graph nodes: 0 is the part (also when a section of that code is met on the way up: a cycle), every
    // section gets the next number.
    QHash<QString, int> ids{{code, 0}};
    std::vector<QString> names{code};
    auto idOf = [&](const QString& section) {
        auto it = ids.find(section);
        if (it != ids.end())
            return *it;
        const int id = static_cast<int>(names.size());
        ids.insert(section, id);
        names.push_back(section);
        return id;
    };
    auto listsThePart = [&](const QString& child) {
        return child == code || (withCatalogue && child.startsWith(code + QLatin1Char('#')));
    };
    struct Edge {
        int from, to;
        UseRow row;
    };
    std::vector<Edge> edges;
    QHash<QString, UsedSection> headers;
    // Each section is asked about once: the walk ends, also where the stored data holds a cycle.
    QSet<QString> asked{code};
    QStringList pending;
    auto read = [&](QSqlQuery& q, bool direct) {
        while (q.next()) {
            UseRow r;
            r.section = q.value(0).toString();
            r.child = q.value(1).toString();
            // A section of the part's own code met on the way: its rows came with the first level.
            if (!direct && listsThePart(r.child))
                continue;
            r.quantity = q.value(2).toString();
            r.quantityValue = QuantityValue(r.quantity).value_or(0);
            if (!headers.contains(r.section))
                headers.insert(r.section, UsedSection{r.section, q.value(3).toString(), q.value(4).toString(),
                                                      q.value(5).toString(), 0});
            if (!asked.contains(r.section)) {
                asked.insert(r.section);
                pending << r.section;
            }
            const int from = direct ? 0 : idOf(r.child);
            const int to = idOf(r.section);
            edges.push_back({from, to, std::move(r)});
        }
    };
    const QString collate = postgres ? QStringLiteral(" collate \"C\"") : QString();
    {
        QSqlQuery q = db.exec(levelSql(matchCondition(QStringLiteral("s.结点代号"), withCatalogue, collate)),
                              WhereUsedValues(code));
        read(q, true);
    }
    while (!pending.isEmpty()) {
        const qsizetype take = std::min<qsizetype>(pending.size(), kCodesPerStatement);
        QVariantList codes;
        for (qsizetype i = 0; i < take; ++i)
            codes << pending.at(i);
        pending.remove(0, take);
        QSqlQuery q = db.exec(levelSql(listCondition(static_cast<int>(take), collate)), codes);
        read(q, false);
    }

    const int n = static_cast<int>(names.size());
    std::vector<std::vector<int>> up(n);
    for (int i = 0; i < static_cast<int>(edges.size()); ++i)
        up[edges[i].from].push_back(i);

    // Levels: the fewest steps from the part.
    std::vector<int> level(n, -1);
    level[0] = 0;
    std::vector<int> queue{0};
    for (std::size_t at = 0; at < queue.size(); ++at) {
        for (int e : up[queue[at]]) {
            if (level[edges[e].to] < 0) {
                level[edges[e].to] = level[queue[at]] + 1;
                queue.push_back(edges[e].to);
            }
        }
    }
    std::vector<bool> kept(edges.size(), false);
    for (int i = 0; i < static_cast<int>(edges.size()); ++i) {
        const int fromLevel = level[edges[i].from];
        kept[i] = fromLevel >= 0 && (maxDepth <= 0 || fromLevel < maxDepth);
        edges[i].row.level = fromLevel + 1;
    }
    std::vector<bool> cutAtDepth(n, false);
    for (int i = 0; i < static_cast<int>(edges.size()); ++i) {
        if (!kept[i] && level[edges[i].from] >= 0)
            cutAtDepth[edges[i].from] = true;
    }

    // Depth first from the part: an edge back to a section still on the way is a cycle and is cut.
    // Sections finish after every section above them, so the totals are made in finishing order.
    std::vector<int> state(n, 0); // 0 unseen, 1 on the way, 2 done
    std::vector<Totals> totals(n);
    std::vector<bool> cycle(edges.size(), false);
    std::vector<std::pair<int, std::size_t>> stack{{0, 0}};
    state[0] = 1;
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next < up[node].size()) {
            const int e = up[node][next++];
            if (!kept[e])
                continue;
            const int to = edges[e].to;
            if (state[to] == 1) {
                cycle[e] = true;
                if (!w.cycles.contains(names[to]))
                    w.cycles << names[to];
            } else if (state[to] == 0) {
                state[to] = 1;
                stack.emplace_back(to, 0);
            }
            continue;
        }
        Totals& t = totals[node];
        bool usedAbove = false;
        for (int e : up[node]) {
            if (!kept[e])
                continue;
            // A section used only inside a cycle is no top: the path adds to no product.
            usedAbove = true;
            if (cycle[e])
                continue;
            const Totals& above = totals[edges[e].to];
            for (const auto& [product, count] : above.byProduct) {
                bool over = above.overflowed.count(product) > 0;
                const qint64 add = saturatedMul(edges[e].row.quantityValue, count, over);
                qint64& sum = t.byProduct[product];
                sum = saturatedAdd(sum, add, over);
                if (over)
                    t.overflowed.insert(product);
            }
        }
        // A section used nowhere above is its product's top; one cut at the depth asked for has no total.
        if (!usedAbove && node != 0 && !cutAtDepth[node])
            t.byProduct[ProductOfSection(names[node])] = 1;
        state[node] = 2;
        stack.pop_back();
    }

    for (int i = 0; i < static_cast<int>(edges.size()); ++i) {
        if (!kept[i])
            continue;
        edges[i].row.cycle = cycle[i];
        edges[i].row.cutByDepth = cutAtDepth[edges[i].to] && !cycle[i];
        w.rows.push_back(edges[i].row);
    }
    std::stable_sort(w.rows.begin(), w.rows.end(), [](const UseRow& a, const UseRow& b) {
        return std::tie(a.level, a.section, a.child, a.quantity) < std::tie(b.level, b.section, b.child, b.quantity);
    });
    for (int id = 1; id < n; ++id) {
        if (level[id] < 0 || (maxDepth > 0 && level[id] > maxDepth))
            continue;
        UsedSection s = headers.value(names[id], UsedSection{names[id], {}, {}, {}, 0});
        s.level = level[id];
        w.sections.push_back(std::move(s));
    }
    std::sort(w.sections.begin(), w.sections.end(), [](const UsedSection& a, const UsedSection& b) {
        return std::tie(a.level, a.code) < std::tie(b.level, b.code);
    });
    w.cycles.sort();
    for (const auto& [product, total] : totals[0].byProduct) {
        ProductUse p;
        p.product = product;
        p.total = total;
        p.overflow = totals[0].overflowed.count(product) > 0;
        w.products.push_back(std::move(p));
    }

    w.index();
    {
        // As the borrowed-part list finds them: whatever the case the code was stored in.
        QSqlQuery q = db.exec(QStringLiteral("select 借用产品, 借用结合部, 入库时间, 入库帐号 from 借用件 where "
                                             "upper(名称) = ? order by 借用产品, 借用结合部"),
                              {code.toUpper()});
        while (q.next())
            w.borrowed.push_back(
                {q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    }
    // An archive is shown as its own search shows it: only to those its read list names.
    for (ProductUse& p : w.products) {
        QSqlQuery q = db.exec(QStringLiteral("select 名称, 主任设计, 立项时间, 读 from 产品档案库 where 代号 = ?"),
                              {p.product});
        if (q.next() && Acl::Grants(q.value(3).toString(), session.ctx)) {
            p.hasArchive = true;
            p.archiveName = q.value(0).toString();
            p.archiveDesigner = q.value(1).toString();
            p.archiveStart = q.value(2).toString();
        }
    }
    return w;
}

QStringList WhereUsedUseHeadings() {
    return {QStringLiteral("层级"),       QStringLiteral("代号"), QStringLiteral("所在结合部"),
            QStringLiteral("结合部名称"), QStringLiteral("数量"), QStringLiteral("入库者"),
            QStringLiteral("入库时间"),   QStringLiteral("说明")};
}

std::vector<QStringList> WhereUsedUseRows(const WhereUsed& w) {
    std::vector<QStringList> out;
    for (const UseRow& r : w.rows) {
        const UsedSection* s = w.section(r.section);
        const QString note = r.cycle ? WhereUsedText::CycleMark : (r.cutByDepth ? WhereUsedText::DepthMark : QString());
        out.push_back({QString::number(r.level), r.child, r.section, s ? s->name : QString(), r.quantity,
                       s ? s->checkedInBy : QString(), s ? s->checkedInAt : QString(), note});
    }
    return out;
}

QStringList WhereUsedProductHeadings() {
    return {QStringLiteral("产品代号"), QStringLiteral("总数量"), QStringLiteral("产品名称"),
            QStringLiteral("主任设计"), QStringLiteral("立项时间")};
}

std::vector<QStringList> WhereUsedProductRows(const WhereUsed& w) {
    std::vector<QStringList> out;
    for (const ProductUse& p : w.products)
        out.push_back({p.product, p.overflow ? WhereUsedText::Overflow : QString::number(p.total), p.archiveName,
                       p.archiveDesigner, p.archiveStart});
    return out;
}

QStringList WhereUsedBorrowHeadings() {
    return {QStringLiteral("借用产品"), QStringLiteral("借用结合部"), QStringLiteral("借用时间"),
            QStringLiteral("入库帐号")};
}

std::vector<QStringList> WhereUsedBorrowRows(const WhereUsed& w) {
    std::vector<QStringList> out;
    for (const BorrowUse& b : w.borrowed)
        out.push_back({b.product, b.section, b.date, b.account});
    return out;
}

namespace {
QJsonArray jsonRows(const QStringList& headings, const std::vector<QStringList>& rows) {
    QJsonArray out;
    for (const QStringList& row : rows) {
        QJsonObject o;
        for (int c = 0; c < headings.size() && c < row.size(); ++c)
            o.insert(headings[c], row[c]);
        out.append(o);
    }
    return out;
}

QString textBlock(const QString& title, const QStringList& headings, const std::vector<QStringList>& rows) {
    QString out = title + QStringLiteral("：\n");
    if (rows.empty())
        return out + QStringLiteral("  （无）\n");
    out += QStringLiteral("  ") + headings.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const QStringList& row : rows)
        out += QStringLiteral("  ") + row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    return out;
}
} // namespace

QJsonObject WhereUsedJson(const WhereUsed& w) {
    return QJsonObject{{QStringLiteral("code"), w.code},
                       {QStringLiteral("products"), jsonRows(WhereUsedProductHeadings(), WhereUsedProductRows(w))},
                       {QStringLiteral("uses"), jsonRows(WhereUsedUseHeadings(), WhereUsedUseRows(w))},
                       {QStringLiteral("borrowed"), jsonRows(WhereUsedBorrowHeadings(), WhereUsedBorrowRows(w))},
                       {QStringLiteral("cycles"), QJsonArray::fromStringList(w.cycles)}};
}

QString WhereUsedPlainText(const WhereUsed& w) {
    return QStringLiteral("代号：%1\n").arg(w.code) +
           textBlock(QStringLiteral("产品"), WhereUsedProductHeadings(), WhereUsedProductRows(w)) +
           textBlock(WhereUsedText::Title, WhereUsedUseHeadings(), WhereUsedUseRows(w)) +
           textBlock(QStringLiteral("借用件"), WhereUsedBorrowHeadings(), WhereUsedBorrowRows(w));
}

void WriteWhereUsedWorkbook(const WhereUsed& w, const QString& path) {
    WriteTableWorkbook({{WhereUsedText::Title, WhereUsedUseHeadings(), WhereUsedUseRows(w)},
                        {QStringLiteral("产品"), WhereUsedProductHeadings(), WhereUsedProductRows(w)},
                        {QStringLiteral("借用件"), WhereUsedBorrowHeadings(), WhereUsedBorrowRows(w)}},
                       path);
}

void AnswerLibraryImpactQuestions() {
    SetProductsUsingCode([](Session& session, const QString& code) {
        QStringList products;
        for (const ProductUse& use : FindWhereUsed(session, code).products)
            products << use.product;
        return products;
    });
}

} // namespace velda
