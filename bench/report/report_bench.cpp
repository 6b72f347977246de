// Makes a parts list of 2,000 rows with sub-structures and a standard-part summary of 5,000 usage rows
// from a stored product, writes each to an .xlsx workbook and paints it to a PDF through QPrinter.
// Prints seconds per step and the page counts.
#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "structure/NodeKey.h"
#include "structure/ReportModel.h"
#include "structure/ReportWorkbook.h"
#include "structure/StructureStore.h"
#include "structure/ui/ReportPainter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPrinter>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

constexpr int kAssemblies = 20;
constexpr int kPartsPerAssembly = 100; // 2,000 parts-list rows below the root
constexpr int kBoltsPerAssembly = 250; // 5,000 usage rows of 500 standard parts

void store(TestEnvironment& env) {
    Database& db = env.db();
    Transaction t(db);
    auto header = [&](const QString& code) {
        db.exec(QStringLiteral(
                    "insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注) "
                    "values (?, '部件', 'bench', 'pw', '2024/03/05', '')"),
                {code});
    };
    auto row = [&](const QString& section, const QString& code, const QString& kind, int n, int item) {
        db.exec(
            QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注, 结点序号) "
                           "values (?, ?, ?, '2', ?, '', ?)"),
            {section, code, kind, n, item});
    };
    auto part = [&](const QString& code) {
        db.exec(
            QStringLiteral("insert into 零件信息 (代号, 名称, 类型, 材料, 重量) values (?, '零件', '零件', '45', '1')"),
            {code});
    };
    header(QStringLiteral("P9-01"));
    for (int a = 0; a < kAssemblies; ++a) {
        const QString asmCode = QStringLiteral("P9-%1").arg((a + 1) * 100);
        header(asmCode);
        part(asmCode);
        row(QStringLiteral("P9-01"), asmCode, NodeKind::Assembly, a, 0);
        int n = 0;
        for (int p = 0; p < kPartsPerAssembly; ++p) {
            const QString code = QStringLiteral("P9-%1-%2").arg(a).arg(p + 1);
            part(code);
            row(asmCode, code, NodeKind::Part, n++, 0);
        }
        for (int b = 0; b < kBoltsPerAssembly; ++b) {
            const int bolt = (a * kBoltsPerAssembly + b) % 500;
            row(asmCode, QStringLiteral("GB%1#M%2#螺栓").arg(5000 + bolt).arg(6 + bolt % 8), NodeKind::Standard, n++,
                1 + b % 99);
        }
    }
    t.commit();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnvironment env(Backend::SQLite);
    Session& session = *env.session;
    session.ctx.UserId = QStringLiteral("bench");
    store(env);
    StructureTree tree(session.ctx.NodeCounter);
    StructureLoader loader(session, tree, LoadMode::Print);
    if (const Outcome loaded = loader.loadStored(QStringLiteral("P9"), QStringLiteral("01")); !loaded.done())
        throw Error(loaded.text);

    for (const QString& kind : {ReportKind::PartsList, ReportKind::Standard}) {
        QElapsedTimer t;
        t.start();
        ReportBuilder builder(session, tree, loader);
        const ReportDocument doc = builder.build(kind, tree.root(), true);
        const double model = t.nsecsElapsed() / 1e9;
        qsizetype rows = 0;
        const int dataCol = kind == ReportKind::PartsList ? 1 : 14;
        for (const ReportPage& p : doc.pages) {
            for (int r = 3; r <= (kind == ReportKind::PartsList ? 23 : 41); ++r)
                rows += p.at(r, dataCol).isEmpty() ? 0 : 1;
        }
        t.restart();
        const QString book = env.dir.path() + QStringLiteral("/") + kind + QStringLiteral(".xlsx");
        WriteReportWorkbook(doc, book);
        const double xlsx = t.nsecsElapsed() / 1e9;
        t.restart();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(env.dir.path() + QStringLiteral("/") + kind + QStringLiteral(".pdf"));
        PaintReport(doc, printer);
        const double pdf = t.nsecsElapsed() / 1e9;
        printf("%s  rows %lld  pages %zu  model %.3f s  xlsx %.3f s  pdf %.3f s\n", qPrintable(kind),
               static_cast<long long>(rows), doc.pages.size(), model, xlsx, pdf);
        fflush(stdout);
    }
    PgCluster::shutdownAll();
    return 0;
}
