// Importing an office's part list at size: 100,000 rows of the sixteen fields, read from a workbook and
// from a CSV file, dry-run against empty records, imported (each code's pair and log row in its own
// transaction), then dry-run again against the full records. The import is set beside the raw inserts
// of the same rows in one transaction, on both databases. Prints seconds and the ratio.
// Usage: import_bench [rows]
#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "core/SheetFile.h"
#include "items/RecordExport.h"
#include "items/RecordImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

QList<QStringList> Rows(int count) {
    QList<QStringList> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows << QStringList{QStringLiteral("BENCH-%1").arg(i, 6, 10, QLatin1Char('0')),
                            QStringLiteral("零件%1").arg(i),
                            QString::number(1 + i % 50) + QStringLiteral(".5"),
                            QStringLiteral("45"),
                            QStringLiteral("张三"),
                            QStringLiteral("李四"),
                            QStringLiteral("王五"),
                            QStringLiteral("赵六"),
                            QStringLiteral("钱七"),
                            QStringLiteral("孙八"),
                            QStringLiteral("2024/03/05"),
                            QStringLiteral("1:2"),
                            QStringLiteral("BM-%1").arg(i),
                            QStringLiteral("A3"),
                            QStringLiteral("1"),
                            QStringLiteral("S")};
    return rows;
}

double Seconds(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e9; }

// The same rows straight into the two tables and the log, one transaction, statements prepared once.
double RawInserts(Database& db, const QList<QStringList>& rows) {
    QElapsedTimer t;
    t.start();
    Transaction tx(db);
    QList<QVariantList> parts, drawings, log;
    for (const QStringList& r : rows) {
        parts << QVariantList{r[0], r[1], r[2], r[3], PartKind(r[0])};
        QVariantList d{r[0]};
        for (int f = FieldDesign; f < FieldKind; ++f)
            d << r[f];
        drawings << (d << QStringLiteral("1"));
        log << QVariantList{QStringLiteral("bench"), r[0], QStringLiteral("2026/12/10 04:00:00"),
                            QStringLiteral("添加图纸信息")};
    }
    db.execEach(QStringLiteral("insert into 零件信息 (代号,名称,重量,材料,类型) values (?,?,?,?,?)"), parts);
    db.execEach(QStringLiteral("insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,"
                               "幅面,页数,图样,页码) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                drawings);
    db.execEach(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"), log);
    tx.commit();
    return Seconds(t);
}

void run(Backend backend, const QString& book, const QString& csv, const QList<QStringList>& rows) {
    const char* name = backend == Backend::SQLite ? "SQLite" : "PostgreSQL";
    TestEnvironment env(backend);
    env.session->ctx.UserId = QStringLiteral("bench");
    QElapsedTimer t;
    t.start();
    const SheetTable fromBook = ReadSheetFile(book);
    const double readBook = Seconds(t);
    t.restart();
    const SheetTable table = ReadSheetFile(csv);
    const double readCsv = Seconds(t);
    if (!fromBook.ok() || !table.ok() || fromBook.rows.size() != table.rows.size()) {
        printf("%s: the files do not read alike: %s %s\n", name, qPrintable(fromBook.error), qPrintable(table.error));
        return;
    }
    t.restart();
    ImportPlan plan = PlanImport(env.db(), fromBook, MatchColumns(fromBook));
    const double dryEmpty = Seconds(t) + readBook;
    t.restart();
    const Outcome o = ApplyImport(*env.session, plan, false);
    const double import = Seconds(t);
    t.restart();
    const ImportPlan again = PlanImport(env.db(), table, MatchColumns(table));
    const double dryFull = Seconds(t) + readCsv;
    TestEnvironment raw(backend);
    const double inserts = RawInserts(raw.db(), rows);
    printf("%-10s %zu rows  read .xlsx %.2f s, .csv %.2f s  dry run (empty) %.2f s  import %.2f s  "
           "dry run (all stored, %d unchanged) %.2f s  raw inserts %.2f s  import/raw %.1f\n  %s\n",
           name, rows.size(), readBook, readCsv, dryEmpty, import, again.count(RowVerdict::Unchanged), dryFull, inserts,
           import / inserts, qPrintable(o.text));
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QList<QStringList> rows = Rows(count);
    const QStringList headers = RecordFieldNames().mid(0, FieldKind);
    const QString book = dir.filePath(QStringLiteral("list.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("list.csv"));
    if (!WriteTableFile(book, QStringLiteral("零件"), headers, rows).done() ||
        !WriteTableFile(csv, QStringLiteral("零件"), headers, rows).done()) {
        printf("cannot write the files\n");
        return 1;
    }
    run(Backend::SQLite, book, csv, rows);
    run(Backend::PostgreSQL, book, csv, rows);
    PgCluster::shutdownAll();
    return 0;
}
