#include "structure/StructureStore.h"

#include "core/ActivityLog.h"
#include "core/Session.h"
#include "core/TextRules.h"
#include "structure/NodeKey.h"

#include <QSqlQuery>

namespace velda {

namespace {

const QString kHeaderTable = QStringLiteral("产品结构入库人员信息表");

// Rows of a section with the part record found by the code rule of the part lookups; the part's type,
// material and weight only where the child list shows them.
QString childrenSql(bool partData) {
    return QStringLiteral(
               "select 产品结构.结点代号, 产品结构.结点类型, 产品结构.结点序号, 产品结构.结点数量, 产品结构.备注, "
               "零件信息.代号, 零件信息.名称") +
           (partData ? QStringLiteral(", 零件信息.类型, 零件信息.材料, 零件信息.重量 ") : QStringLiteral(" ")) +
           QStringLiteral("from 产品结构 left join 零件信息 on 零件信息.代号 = case when 产品结构.结点代号 like '%-%' "
                          "then 产品结构.结点代号 else cast(? as text) || '-' || 产品结构.结点代号 end "
                          "where 产品结构.结合部代号 = ? order by 产品结构.结点编号");
}

// Plain code-unit order on both databases.
QString codeOrder(Session& session, const QString& column) {
    return session.db().dialect() == Dialect::PostgreSQL ? column + QStringLiteral(" collate \"C\"") : column;
}

struct CheckIn {
    Session& session;
    const StructureTree& tree;
    const QString& password;
    QString product;
    QString date;
    QSet<QString> written;
    QStringList refused;    // sections under another password, checked in by another account
    QStringList refusedOwn; // the same, checked in by this account

    void section(const StructureNode* node) {
        if (node->children.empty())
            return;
        const QString s = SectionCodeOf(tree, node, product);
        // A sub-assembly used in several places is one section: written once per check-in.
        if (written.contains(s))
            return;
        Database& db = session.db();
        QSqlQuery header =
            db.exec(QStringLiteral("select 入库密码, 入库者 from 产品结构入库人员信息表 where 结合部代号=?"), {s});
        if (header.next()) {
            if (header.value(0).toString() != password) {
                // Reached twice, it is still one section left alone.
                if (!refused.contains(s) && !refusedOwn.contains(s))
                    (header.value(1).toString() == session.ctx.UserId ? refusedOwn : refused) << s;
                return;
            }
            header = QSqlQuery();
            db.exec(QStringLiteral("update 产品结构入库人员信息表 set 结合部名称=?, 入库者=?, 入库密码=?, 入库时间=?, "
                                   "备注=? where 结合部代号=?"),
                    {node->name, session.ctx.UserId, password, date, QStringLiteral(""), s});
        } else {
            header = QSqlQuery();
            db.exec(QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, "
                                   "入库时间, 备注) values (?, ?, ?, ?, ?, ?)"),
                    {s, node->name, session.ctx.UserId, password, date, QStringLiteral("")});
        }
        written.insert(s);
        db.exec(QStringLiteral("delete from 产品结构 where 结合部代号=?"), {s});
        int rowNumber = 0;
        for (const StructureNode* child : node->children) {
            const bool catalogue = NodeKind::IsCatalogue(child->kind);
            const QString code = catalogue ? child->text : FullCode(child->text, product);
            if (child->kind == NodeKind::Standard) {
                db.exec(
                    QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注, "
                                   "结点序号) values (?, ?, ?, ?, ?, ?, ?)"),
                    {s, code, child->kind, child->quantity, rowNumber, child->memo, child->itemNumber});
            } else {
                db.exec(
                    QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注) "
                                   "values (?, ?, ?, ?, ?, ?)"),
                    {s, code, child->kind, child->quantity, rowNumber, child->memo});
            }
            ++rowNumber;
        }
        for (const StructureNode* child : node->children)
            section(child);
    }
};

} // namespace

QString SectionCodeOf(const StructureTree& tree, const StructureNode* node, const QString& productCode) {
    if (node == tree.root())
        return tree.rootSection();
    return FullCode(node->text, productCode);
}

Outcome CheckInStructure(Session& session, const StructureTree& tree, const QString& password) {
    if (password.isEmpty())
        return Outcome::refusal(StructureText::PasswordFirst);
    if (!tree.root())
        return Outcome::refusal(StructureText::RootFirst);
    // The editor refuses such texts; a tree that holds one anyway must not fail the whole transaction
    // in the server's words, or reach a file that cannot read it back.
    bool unstorable = HasUnstorableCharacter(password);
    for (const auto& n : tree.nodes())
        unstorable = unstorable || HasUnstorableCharacter(n->text) || HasUnstorableCharacter(n->kind) ||
                     HasUnstorableCharacter(n->quantity) || HasUnstorableCharacter(n->memo) ||
                     HasUnstorableCharacter(n->name);
    if (unstorable)
        return Outcome::refusal(StructureText::Unstorable);
    return Guarded([&] {
        CheckIn run{session,
                    tree,
                    password,
                    session.ctx.ProductCode,
                    session.clock().today().toString(QStringLiteral("yyyy/MM/dd")),
                    {},
                    {},
                    {}};
        Transaction t(session.db());
        run.section(tree.root());
        t.commit();
        const QString sep = QStringLiteral("、");
        if (run.written.isEmpty() && !(run.refused.isEmpty() && run.refusedOwn.isEmpty()))
            return Outcome::refusal(StructureText::NothingCheckedIn.arg((run.refused + run.refusedOwn).join(sep)));
        if (!run.refused.isEmpty()) {
            QString text = StructureText::PasswordMismatch.arg(run.refused.join(sep));
            if (!run.refusedOwn.isEmpty())
                text += StructureText::AlsoOwnPasswordMismatch.arg(run.refusedOwn.join(sep));
            return Outcome::success(text, Icon::Stop);
        }
        if (!run.refusedOwn.isEmpty())
            return Outcome::success(StructureText::OwnPasswordMismatch.arg(run.refusedOwn.join(sep)), Icon::Stop);
        return Outcome::success(StructureText::CheckedIn);
    });
}

Loaded<std::optional<QString>> LookUpPartName(Session& session, const QString& typedCode, const QString& productCode) {
    return Load([&]() -> std::optional<QString> {
        const QString code = FullCode(typedCode, productCode);
        QSqlQuery q = session.db().exec(QStringLiteral("select 名称 from 零件信息 where 代号=?"), {code});
        if (!q.next())
            return std::nullopt;
        return q.value(0).toString();
    });
}

std::vector<ChildRow> StoredChildren(Session& session, const QString& sectionCode, const QString& productCode,
                                     bool partData) {
    static const QString withData = childrenSql(true);
    static const QString namesOnly = childrenSql(false);
    std::vector<ChildRow> rows;
    QSqlQuery q = session.db().exec(partData ? withData : namesOnly, {productCode, sectionCode});
    while (q.next()) {
        ChildRow r;
        r.storedCode = q.value(0).toString();
        r.kind = q.value(1).toString();
        r.itemNumber = q.value(2).toInt();
        r.quantity = q.value(3).toString();
        r.memo = q.value(4).toString();
        r.hasPartRecord = !q.value(5).isNull();
        r.name = q.value(6).toString();
        if (partData) {
            r.partType = q.value(7).toString();
            r.material = q.value(8).toString();
            r.weight = q.value(9).toString();
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

Loaded<std::vector<ChildListRow>> ChildList(Session& session, const QString& sectionCode, const QString& productCode) {
    return Load([&] {
        std::vector<ChildListRow> out;
        for (const ChildRow& r : StoredChildren(session, sectionCode, productCode)) {
            ChildListRow row;
            const int at = productCode.isEmpty() ? -1 : r.storedCode.indexOf(productCode);
            row.code = at < 0 ? r.storedCode : r.storedCode.mid(at + productCode.size() + 1);
            row.quantity = r.quantity;
            row.memo = r.memo;
            if (NodeKind::IsCatalogue(r.kind)) {
                row.kind = r.kind;
            } else {
                row.name = r.name;
                row.kind = r.partType;
                row.material = r.material;
                row.weight = r.weight;
            }
            out.push_back(std::move(row));
        }
        return out;
    });
}

StructureLoader::StructureLoader(Session& session, StructureTree& tree, LoadMode mode)
    : m_session(session), m_tree(tree), m_mode(mode) {}

Outcome StructureLoader::loadStored(const QString& productCode, const QString& asmCode) {
    m_session.ctx.ProductCode = productCode;
    m_session.ctx.AsmCode = asmCode;
    m_tree.clear();
    m_cycles.clear();
    return Guarded([&] {
        const QString r = productCode + QLatin1Char('-') + asmCode;
        QSqlQuery q = m_session.db().exec(
            QStringLiteral("select 结合部名称 from 产品结构入库人员信息表 where  结合部代号=?"), {r});
        if (!q.next())
            return Outcome::failure(StructureText::NoSection.arg(r));
        const QString name = NeutraliseMarkers(q.value(0).toString());
        q = QSqlQuery();
        StructureNode* root = m_tree.addRoot(r, QString(), name, r);
        root->childrenFetched = true;
        for (const ChildRow& row : StoredChildren(m_session, r, m_session.ctx.ProductCode, false)) {
            StructureNode* child = addRow(root, row);
            if (m_mode == LoadMode::Print && child->image == NodeImage::AsmClose)
                fetchChildren(child);
        }
        root->image = NodeImage::AsmOpen;
        return Outcome::success();
    });
}

std::vector<StructureNode*> StructureLoader::fetchChildren(StructureNode* node) {
    std::vector<StructureNode*> added = fetchOne(node);
    if (m_mode == LoadMode::Print) {
        std::vector<StructureNode*> remembered;
        for (StructureNode* n : added) {
            if (n->image == NodeImage::AsmClose)
                remembered.push_back(n);
        }
        for (StructureNode* n : remembered)
            fetchChildren(n);
    }
    return added;
}

bool StructureLoader::mayHaveChildren(const StructureNode* node) {
    if (IsAssemblyCode(node->text))
        return true;
    return storedSections().contains(SectionCodeOf(m_tree, node, m_session.ctx.ProductCode));
}

std::vector<StructureNode*> StructureLoader::fetchOne(StructureNode* node) {
    if (!node || node->childrenFetched || !node->children.empty() || !mayHaveChildren(node))
        return {};
    node->childrenFetched = true;
    const QString s = SectionCodeOf(m_tree, node, m_session.ctx.ProductCode);
    if (isCycle(node, s)) {
        if (!m_cycles.contains(s))
            m_cycles << s;
        return {};
    }
    std::vector<StructureNode*> added;
    for (const ChildRow& row : StoredChildren(m_session, s, m_session.ctx.ProductCode, false))
        added.push_back(addRow(node, row));
    node->image = NodeImage::AsmOpen;
    return added;
}

bool StructureLoader::isCycle(const StructureNode* node, const QString& section) {
    for (const StructureNode* p = node->parent; p; p = p->parent) {
        if (SectionCodeOf(m_tree, p, m_session.ctx.ProductCode) == section)
            return true;
    }
    return false;
}

const QSet<QString>& StructureLoader::storedSections() {
    if (!m_sections) {
        m_sections.emplace();
        QSqlQuery q = m_session.db().exec(QStringLiteral("select 结合部代号 from 产品结构入库人员信息表"));
        while (q.next())
            m_sections->insert(q.value(0).toString());
    }
    return *m_sections;
}

StructureNode* StructureLoader::addRow(StructureNode* parent, const ChildRow& row) {
    StructureTree::NewNode n;
    // A missing part record leaves the name empty; the node is shown all the same.
    n.name = NeutraliseMarkers(NodeKind::IsCatalogue(row.kind) ? CatalogueName(row.storedCode) : row.name);
    n.text = NodeTextOfStoredCode(row.storedCode, row.kind, m_session.ctx.ProductCode);
    n.kind = row.kind;
    n.quantity = NeutraliseMarkers(row.quantity);
    n.quantityValue = QuantityValue(row.quantity).value_or(0);
    n.memo = NeutraliseMarkers(row.memo);
    n.itemNumber = row.itemNumber;
    StructureNode* node = m_tree.add(parent, n);
    node->image = mayHaveChildren(node) ? NodeImage::AsmClose : NodeImage::Item;
    return node;
}

Loaded<QStringList> StoredProducts(Session& session) {
    return Load([&] {
        const QString sql =
            session.db().dialect() == Dialect::PostgreSQL
                ? QStringLiteral("select 产品代号 from (select distinct split_part(结合部代号, '-', 1) as 产品代号 "
                                 "from 产品结构入库人员信息表) t order by 产品代号 collate \"C\"")
                : QStringLiteral("select distinct case when instr(结合部代号, '-') > 0 then substr(结合部代号, 1, "
                                 "instr(结合部代号, '-') - 1) else 结合部代号 end as 产品代号 "
                                 "from 产品结构入库人员信息表 order by 产品代号");
        QStringList out;
        QSqlQuery q = session.db().exec(sql);
        while (q.next())
            out << q.value(0).toString();
        return out;
    });
}

Loaded<QStringList> StoredSections(Session& session, const QString& productCode) {
    return Load([&] {
        QStringList out;
        QSqlQuery q =
            session.db().exec(QStringLiteral("select 结合部代号 from 产品结构入库人员信息表 where 结合部代号 like ? "
                                             "escape '\\' order by ") +
                                  codeOrder(session, QStringLiteral("结合部代号")),
                              {LikeEscape(productCode) + QStringLiteral("-%")});
        while (q.next()) {
            const QString code = q.value(0).toString();
            out << code.mid(code.indexOf(QLatin1Char('-')) + 1);
        }
        return out;
    });
}

Outcome ChooseStructure(Session& session, const QString& productCode, const QString& asmCode) {
    if (productCode.isEmpty() || asmCode.isEmpty())
        return Outcome::refusal(StructureText::ChooseFirst);
    return Guarded([&] {
        session.ctx.ProductCode = productCode;
        session.ctx.AsmCode = asmCode;
        AppendLogRow(session, productCode + QLatin1Char('-') + asmCode, LogWord::BrowseStructure);
        return Outcome::success();
    });
}

} // namespace velda
