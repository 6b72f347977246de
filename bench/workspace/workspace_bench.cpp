// The library list of the main window on 100,000 drawings with part records, in the local file and on
// a PostgreSQL server: the first paint after login, a filter keystroke, sorting by each column, the
// program's memory with the list loaded, and how soon another client's check-in shows.
// Usage: workspace_bench [drawings]   (default 100000; one in ten is checked out)
#include "PgCluster.h"
#include "TestSupport.h"

#include "library/LibraryStore.h"
#include "shell/ui/LibraryWorkspace.h"
#include "store/Database.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

QString series(Backend backend, int n, const QString& select, const QString& table) {
    if (backend == Backend::SQLite)
        return QStringLiteral("insert into %1 with recursive s(i) as (select 1 union all select i + 1 from s where "
                              "i < %2) %3 from s")
            .arg(table)
            .arg(n)
            .arg(select);
    return QStringLiteral("insert into %1 %2 from generate_series(1, %3) as g(i)").arg(table, select).arg(n);
}

double memoryMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

double ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

int bench(Backend backend, int total) {
    TestEnvironment env(backend);
    env.actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    env.addVolume(QStringLiteral("V1"), QStringLiteral("127.0.0.1:21"));
    QElapsedTimer fill;
    fill.start();
    env.db().exec(
        series(backend, total,
               QStringLiteral("select 'GB/T-' || i, '/admin(U)/', '/admin(U)/', '/admin(U)/', '/admin(U)/', "
                              "'user' || (i % 50), '2024/3/' || (1 + i % 28), '20240305GB-T-' || i || '.dwg', "
                              "case when i % 10 = 0 then '出库' else '正常' end, 'V1'"),
               QStringLiteral("PDM入库图纸信息")));
    env.db().exec(series(backend, total / 10,
                         QStringLiteral("select 'GB/T-' || (i * 10), 'user' || (i % 50), '2024/3/6'"),
                         QStringLiteral("PDM出库图纸信息")));
    env.db().exec(series(backend, total, QStringLiteral("select 'GB/T-' || i, '零件' || i, '标准件', 'Q235', '1.5'"),
                         QStringLiteral("零件信息")));
    if (backend == Backend::PostgreSQL)
        env.db().exec(QStringLiteral("analyze"));
    std::printf("\n== %s: %d drawings with part records (filled in %.1f s)\n",
                backend == Backend::SQLite ? "SQLite" : "PostgreSQL", total, fill.elapsed() / 1000.0);
    const double before = memoryMb();
    QElapsedTimer read;
    read.start();
    const size_t listed = LibraryStore(env.db()).listing().size();
    const double readMs = ms(read);
    double modelMs = 0;
    {
        std::vector<ListedDrawing> rows = LibraryStore(env.db()).listing();
        LibraryListModel bare;
        read.start();
        bare.setRows(std::move(rows));
        modelMs = ms(read);
    }

    LibraryWorkspace workspace(*env.session, [](const QString&) { return nullptr; });
    workspace.resize(1280, 760);
    QElapsedTimer t;
    t.start();
    workspace.Reload();
    workspace.show();
    workspace.view()->viewport()->repaint();
    const double firstPaint = ms(t);
    const int loaded = workspace.model()->rowCount();
    const double loadedMb = memoryMb();

    // Typing "5783" one key at a time; each key's filter and repaint.
    auto* filter = workspace.findChild<QLineEdit*>(QStringLiteral("TxtQuickFilter"));
    double slowestKey = 0;
    for (const QChar c : QStringLiteral("5783")) {
        t.start();
        QTest::keyClick(filter, c.toLatin1());
        workspace.view()->viewport()->repaint();
        slowestKey = std::max(slowestKey, ms(t));
    }
    const int filtered = workspace.model()->rowCount();
    filter->clear();

    double slowestSort = 0;
    for (int column = 0; column < LibraryListModel::ColumnCount; ++column) {
        t.start();
        workspace.view()->sortByColumn(column, column % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        workspace.view()->viewport()->repaint();
        slowestSort = std::max(slowestSort, ms(t));
    }

    // Another client checks a drawing in; the list's own timer finds it.
    RecordingFeedback otherFeedback;
    std::unique_ptr<Session> other = env.otherSession(otherFeedback, QStringLiteral("B2C3D4E"));
    workspace.view()->sortByColumn(LibraryListModel::Code, Qt::AscendingOrder);
    t.start();
    LibraryStore(other->db())
        .insertCheckIn({QStringLiteral("NEW-1"),
                        {},
                        {},
                        {},
                        {},
                        QStringLiteral("bob"),
                        QStringLiteral("2024/3/7"),
                        QStringLiteral("NEW-1.dwg"),
                        QStringLiteral("V1")});
    other->db().exec(QStringLiteral("insert into PDM日志 (ID,代号,时间,方式) values ('bob','NEW-1','t','图纸入库')"));
    const bool seen = QTest::qWaitFor([&] { return workspace.model()->rowOf(QStringLiteral("NEW-1")) >= 0; }, 5000);
    const double live = ms(t);

    std::printf("of which the read of the rows alone            %8.1f ms  %zu rows\n", readMs, listed);
    std::printf("of which the model's filling (days, keys)      %8.1f ms\n", modelMs);
    std::printf("first paint of the list (read, model, paint)   %8.1f ms  %d rows   (limit 300)\n", firstPaint, loaded);
    std::printf("slowest filter keystroke with repaint          %8.1f ms  %d rows left (limit 50)\n", slowestKey,
                filtered);
    std::printf("slowest sort by a column with repaint          %8.1f ms  (limit 300)\n", slowestSort);
    std::printf("memory of the program with the list loaded     %8.1f MB  (%.1f MB before the list; limit 150)\n",
                loadedMb, before);
    std::printf("another client's check-in shown after          %8.1f ms  %s (limit 2000)\n", live,
                seen ? "ok" : "NOT SEEN");
    return loaded == total && seen ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    int rc = 0;
    try {
        rc |= bench(Backend::SQLite, total);
        rc |= bench(Backend::PostgreSQL, total);
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        rc = 1;
    }
    PgCluster::shutdownAll();
    return rc;
}
