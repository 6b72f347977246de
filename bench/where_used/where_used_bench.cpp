// Where-used at size: 50 products of 10,000 stored nodes each (sections six levels deep) and a common
// bolt listed 20,000 times among them. Times the full answer for the bolt (every section up to every
// product, the totals, the borrowed uses and the archives) and for a part used nowhere, on both
// databases, best of five after one warm-up run. Prints seconds.
#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "structure/WhereUsed.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

constexpr int kProducts = 50;
constexpr int kSectionsPerProduct = 50;
constexpr int kNodesPerProduct = 10000;
constexpr int kBoltsPerSection = 8; // 50 x 50 x 8 = 20,000 uses
const QString kBolt = QStringLiteral("GB9999");

QString sectionCode(int product, int s) {
    return s == 0 ? QStringLiteral("P%1-01").arg(product)
                  : QStringLiteral("P%1-A%2").arg(product).arg(s, 3, 10, QLatin1Char('0'));
}

// Rows go in a few hundred at a time: the benchmark times the query, not the filling.
class RowBatch {
public:
    explicit RowBatch(Database& db) : m_db(db) {}
    ~RowBatch() { flush(); }
    void add(const QString& section, const QString& child, const QString& kind, int quantity) {
        m_values << section << child << kind << QString::number(quantity) << ++m_number;
        if (m_values.size() >= 5 * 400)
            flush();
    }
    void flush() {
        if (m_values.isEmpty())
            return;
        QStringList tuples;
        for (int i = 0; i < m_values.size() / 5; ++i)
            tuples << QStringLiteral("(?, ?, ?, ?, ?)");
        m_db.exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号) values ") +
                      tuples.join(QStringLiteral(", ")),
                  m_values);
        m_values.clear();
    }

private:
    Database& m_db;
    QVariantList m_values;
    int m_number = 0;
};

void fill(Database& db) {
    Transaction t(db);
    RowBatch rows(db);
    const int leaves = (kNodesPerProduct - kSectionsPerProduct) / kSectionsPerProduct;
    for (int p = 0; p < kProducts; ++p) {
        db.exec(QStringLiteral("insert into 产品档案库 (代号, 名称) values (?, ?)"),
                {QStringLiteral("P%1").arg(p), QStringLiteral("产品%1").arg(p)});
        for (int s = 0; s < kSectionsPerProduct; ++s) {
            db.exec(QStringLiteral(
                        "insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间) "
                        "values (?, ?, 'bench', 'pw', '2026/12/01')"),
                    {sectionCode(p, s), QStringLiteral("部件%1").arg(s)});
            // A binary tree of sections: six levels for fifty.
            if (s > 0)
                rows.add(sectionCode(p, (s - 1) / 2), sectionCode(p, s), QStringLiteral("装配件"), 1 + s % 3);
            for (int j = 0; j < leaves; ++j) {
                if (j < kBoltsPerSection)
                    rows.add(sectionCode(p, s), kBolt + QStringLiteral("#M%1x20#螺栓").arg(6 + j),
                             QStringLiteral("标准件"), 1 + j % 4);
                else
                    rows.add(sectionCode(p, s), QStringLiteral("P%1-S%2P%3").arg(p).arg(s).arg(j),
                             QStringLiteral("零件"), 1);
            }
        }
    }
    rows.flush();
    t.commit();
}

double best(Session& session, const QString& code, std::size_t& rows, std::size_t& products) {
    FindWhereUsed(session, code);
    double fastest = 1e9;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        const WhereUsed w = FindWhereUsed(session, code);
        fastest = std::min(fastest, t.nsecsElapsed() / 1e9);
        rows = w.rows.size();
        products = w.products.size();
    }
    return fastest;
}

void run(Backend backend) {
    const char* name = backend == Backend::SQLite ? "SQLite" : "PostgreSQL";
    TestEnvironment env(backend);
    fill(env.db());
    if (backend == Backend::PostgreSQL)
        env.db().exec(QStringLiteral("analyze 产品结构"));
    std::size_t rows = 0, products = 0, none = 0, noProducts = 0;
    const double bolt = best(*env.session, kBolt, rows, products);
    const double unused = best(*env.session, QStringLiteral("P0-NOWHERE"), none, noProducts);
    printf("%-10s  bolt: %zu rows, %zu products  %.3f s   unused part: %zu rows  %.4f s\n", name, rows, products, bolt,
           none, unused);
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    run(Backend::SQLite);
    run(Backend::PostgreSQL);
    PgCluster::shutdownAll();
    return 0;
}
