// Stores a generated product of 10,000 nodes (depth 6, 50 sections, repeated standard and purchased
// parts) in each database, then loads it whole (Print mode) through the program's loading code and
// through the structure window, and compares with the raw SELECTs of the same rows. Prints seconds,
// ratios and the peak resident memory.
#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "structure/NodeKey.h"
#include "structure/StructureStore.h"
#include "structure/StructureTree.h"
#include "structure/ui/FrmView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

constexpr int kSections = 50;
constexpr int kNodes = 10000;
const QString kProduct = QStringLiteral("P9");

long peakKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QString sectionText(int i) { return QStringLiteral("A%1").arg(i + 1, 2, 10, QLatin1Char('0')) + QStringLiteral("00"); }

// Sections form a binary tree (depth 6); each holds its sub-sections and leaf rows up to the node count.
void buildTree(StructureTree& tree, Session& session) {
    session.ctx.ProductCode = kProduct;
    StructureNode* root = tree.addRoot(QStringLiteral("P9-01"), QStringLiteral("P9-01"), QStringLiteral("整机"),
                                       QStringLiteral("P9-P9-01"));
    std::vector<StructureNode*> sections{root};
    for (int i = 1; i < kSections; ++i) {
        StructureTree::NewNode n{sectionText(i),
                                 NodeKind::Assembly,
                                 QStringLiteral("1"),
                                 1,
                                 QString(),
                                 QStringLiteral("部件%1").arg(i),
                                 0,
                                 NodeImage::AsmClose};
        sections.push_back(tree.add(sections[(i - 1) / 2], n));
    }
    const int leavesPerSection = (kNodes - kSections) / kSections;
    for (int s = 0; s < kSections; ++s) {
        for (int j = 0; j < leavesPerSection; ++j) {
            StructureTree::NewNode n;
            n.quantity = QString::number(1 + j % 4);
            n.quantityValue = 1 + j % 4;
            if (j % 3 == 0) {
                const int b = j % 30;
                n.text = QStringLiteral("GB%1#M%2x30#螺栓").arg(5780 + b).arg(6 + b % 5);
                n.kind = NodeKind::Standard;
                n.name = QStringLiteral("螺栓");
                n.itemNumber = 1 + j % 99;
            } else if (j % 3 == 1 && j % 2 == 0) {
                const int w = j % 20;
                n.text = QStringLiteral("Y%1#%2kW#电机").arg(90 + w).arg(w + 1);
                n.kind = NodeKind::Purchased;
                n.name = QStringLiteral("电机");
            } else {
                n.text = QStringLiteral("S%1P%2").arg(s).arg(j);
                n.kind = NodeKind::Part;
                n.name = QStringLiteral("零件%1").arg(j);
                n.memo = j % 7 == 0 ? QStringLiteral("见图") : QString();
            }
            tree.add(sections[s], n);
        }
    }
}

void insertPartRecords(Session& session, const StructureTree& tree) {
    Transaction t(session.db());
    for (const auto& n : tree.nodes()) {
        if (n->isRoot() || NodeKind::IsCatalogue(n->kind))
            continue;
        session.db().exec(
            QStringLiteral("insert into 零件信息 (代号, 名称, 类型, 材料, 重量) values (?, ?, ?, '45', '1.0')"),
            {FullCode(n->text, kProduct), n->name, n->kind});
    }
    t.commit();
}

// The same rows read with the loader's statements and nothing built from them.
int rawRows(Session& session) {
    int rows = 0;
    static volatile qsizetype sink = 0;
    QStringList pending{QStringLiteral("P9-P9-01")};
    const QString sql = QStringLiteral(
        "select 产品结构.结点代号, 产品结构.结点类型, 产品结构.结点序号, 产品结构.结点数量, 产品结构.备注, "
        "零件信息.代号, 零件信息.名称 from 产品结构 left join 零件信息 on 零件信息.代号 = case when "
        "产品结构.结点代号 like '%-%' then 产品结构.结点代号 else cast(? as text) || '-' || 产品结构.结点代号 end "
        "where 产品结构.结合部代号 = ? order by 产品结构.结点编号");
    while (!pending.isEmpty()) {
        const QString s = pending.takeFirst();
        QSqlQuery q = session.db().exec(sql, {kProduct, s});
        while (q.next()) {
            ++rows;
            const QString code = q.value(0).toString();
            // Every value the tree needs, as the text or number it is used as.
            sink = sink + q.value(1).toString().size() + q.value(2).toInt() + q.value(3).toString().size() +
                   q.value(4).toString().size() + q.value(6).toString().size();
            if (IsAssemblyCode(code))
                pending << code;
        }
    }
    return rows;
}

void run(Backend backend) {
    const char* name = backend == Backend::SQLite ? "SQLite" : "PostgreSQL";
    TestEnvironment env(backend);
    Session& session = *env.session;
    session.ctx.UserId = QStringLiteral("bench");

    StructureTree built(session.ctx.NodeCounter);
    buildTree(built, session);
    insertPartRecords(session, built);
    QElapsedTimer t;
    t.start();
    const Outcome stored = CheckInStructure(session, built, QStringLiteral("pw"));
    const double checkIn = t.nsecsElapsed() / 1e9;
    if (!stored.done() || stored.icon != Icon::None) {
        fprintf(stderr, "%s: check-in failed: %s\n", name, qPrintable(stored.text));
        return;
    }

    // Warm the database's caches once, then time each way three times and keep the best.
    rawRows(session);
    double raw = 1e9, load = 1e9, window = 1e9;
    int rows = 0;
    std::size_t nodes = 0;
    for (int round = 0; round < 3; ++round) {
        t.restart();
        rows = rawRows(session);
        raw = std::min(raw, t.nsecsElapsed() / 1e9);

        StructureTree tree(session.ctx.NodeCounter);
        StructureLoader loader(session, tree, LoadMode::Print);
        t.restart();
        if (const Outcome loaded = loader.loadStored(kProduct, QStringLiteral("P9-01")); !loaded.done())
            throw Error(loaded.text);
        load = std::min(load, t.nsecsElapsed() / 1e9);
        nodes = tree.size();

        session.ctx.ProductMode = QStringLiteral("Print");
        session.ctx.ProductCode = kProduct;
        session.ctx.AsmCode = QStringLiteral("P9-01");
        t.restart();
        {
            FrmView view(session);
            window = std::min(window, t.nsecsElapsed() / 1e9);
        }
    }
    printf("%-10s  nodes %zu  rows %d  check-in %.3f s  raw selects %.3f s  loader %.3f s (%.2fx raw)  "
           "window %.3f s (%.2fx raw)\n",
           name, nodes, rows, checkIn, raw, load, load / raw, window, window / raw);
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    run(Backend::SQLite);
    run(Backend::PostgreSQL);
    printf("peak resident memory %.1f MB\n", peakKiB() / 1024.0);
    PgCluster::shutdownAll();
    return 0;
}
