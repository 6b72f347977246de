// Importing an office's part list at size: 100,000 rows of the sixteen fields, read from a workbook and
// from a CSV file, dry-run against empty records, imported (each code's pair and log row in its own
// transaction), then dry-run again against the full records. The import is set beside the raw inserts
// of the same rows in one transaction. Prints seconds of the clock and, in brackets, of this process's
// processor time (the server's own is not in it), and the ratio. A dry run is the file read and planned.
// Usage: import_bench [rows] [sqlite|postgresql]
#include "PgCluster.h"
#include "TestSupport.h"

#include "core/Session.h"
#include "core/SheetFile.h"
#include "items/RecordExport.h"
#include "items/RecordImport.h"
#include "store/ManyRows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include <sys/resource.h>

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

double ProcessorSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The clock's seconds and this process's processor seconds of one piece of work.
struct Took {
    double wall = 0, cpu = 0;
};
template <typename F> Took Time(F&& work) {
    QElapsedTimer t;
    t.start();
    const double cpu = ProcessorSeconds();
    work();
    return {Seconds(t), ProcessorSeconds() - cpu};
}
Took operator+(Took a, Took b) { return {a.wall + b.wall, a.cpu + b.cpu}; }

// The same rows straight into the two tables and the log in one transaction, the store's fastest way:
// many rows a statement on the server, one statement prepared once on the local file.
void RawInserts(Database& db, const QList<QStringList>& rows) {
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
    InsertRows(db, QStringLiteral("零件信息"), QStringLiteral("代号 名称 重量 材料 类型").split(QLatin1Char(' ')),
               parts);
    InsertRows(db, QStringLiteral("图纸信息"),
               QStringLiteral("代号 设计 校对 主管设计 审定 标准审查 工艺审查 日期 比例 编码 幅面 页数 图样 页码")
                   .split(QLatin1Char(' ')),
               drawings);
    InsertRows(db, QStringLiteral("PDM日志"), QStringLiteral("ID 代号 时间 方式").split(QLatin1Char(' ')), log);
    tx.commit();
}

void run(Backend backend, const QString& book, const QString& csv, const QList<QStringList>& rows) {
    const char* name = backend == Backend::SQLite ? "SQLite" : "PostgreSQL";
    TestEnvironment env(backend);
    env.session->ctx.UserId = QStringLiteral("bench");
    SheetTable fromBook, table;
    const Took readBook = Time([&] { fromBook = ReadSheetFile(book); });
    const Took readCsv = Time([&] { table = ReadSheetFile(csv); });
    if (!fromBook.ok() || !table.ok() || fromBook.rows.size() != table.rows.size()) {
        printf("%s: the files do not read alike: %s %s\n", name, qPrintable(fromBook.error), qPrintable(table.error));
        return;
    }
    ImportPlan plan, again;
    const Took planEmpty = Time([&] { plan = PlanImport(env.db(), fromBook, MatchColumns(fromBook)); });
    Outcome o;
    const Took import = Time([&] { o = ApplyImport(*env.session, plan, false); });
    const Took planFull = Time([&] { again = PlanImport(env.db(), table, MatchColumns(table)); });
    TestEnvironment raw(backend);
    const Took inserts = Time([&] { RawInserts(raw.db(), rows); });
    const auto show = [](const char* what, Took t) { printf("  %-40s %6.2f s (%5.2f s)\n", what, t.wall, t.cpu); };
    printf("%s, %lld rows\n", name, qlonglong(rows.size()));
    show("read .xlsx", readBook);
    show("read .csv", readCsv);
    show("plan against empty records", planEmpty);
    show("dry run .xlsx, empty records (goal 5 s)", readBook + planEmpty);
    show("plan against stored records", planFull);
    printf("  %-40s %6.2f s (%5.2f s)  %d unchanged\n", "dry run .csv, stored records (goal 5 s)",
           (readCsv + planFull).wall, (readCsv + planFull).cpu, again.count(RowVerdict::Unchanged));
    show("import (goal 30 s)", import);
    show("raw inserts, one transaction", inserts);
    printf("  import/raw %.1f\n  %s\n", import.wall / inserts.wall, qPrintable(o.text));
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
    const QByteArray only = argc > 2 ? QByteArray(argv[2]).toLower() : QByteArray();
    if (only.isEmpty() || only == "sqlite")
        run(Backend::SQLite, book, csv, rows);
    if (only.isEmpty() || only == "postgresql")
        run(Backend::PostgreSQL, book, csv, rows);
    PgCluster::shutdownAll();
    return 0;
}
