// The activity-log viewer on a million log rows, in the local file and on a PostgreSQL server: a
// search by 方式 that finds 200,000 rows, listed through the dialog, against the raw SELECT of the
// same rows; and the export of those rows against sqlite3 / psql writing the same rows to a file.
// While the dialog works, a timer on the window's thread measures the longest pause of the window.
// Usage: log_bench [rows]   (default 1000000; a fifth of them carry the searched word)
#include "PgCluster.h"
#include "TestSupport.h"

#include "logview/ui/FrmLog.h"
#include "store/Database.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

using namespace velda;
using namespace velda::test;

namespace {

const QString kWord = QStringLiteral("图纸入库");
// The window stays live: no pause of its thread longer than this.
constexpr int kPauseGoalMs = 100;
const QString kCondition = QStringLiteral("方式 = '图纸入库' ");
const QString kSql = QStringLiteral("select * from PDM日志 where 方式 = '图纸入库'  order by ID");

QString fillStatement(Backend backend, int rows) {
    const QString values = QStringLiteral(
        "select 'user' || (i % 50), 'GB-' || i, '2024年03月05日09时07分03秒', "
        "case i % 5 when 0 then '图纸入库' when 1 then '图纸出库' when 2 then '用户登录' when 3 then '用户注销' "
        "else '浏览图纸信息' end ");
    if (backend == Backend::SQLite)
        return QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) with recursive s(i) as (select 1 union all "
                              "select i + 1 from s where i < %1) ")
                   .arg(rows) +
               values + QStringLiteral("from s");
    return QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) ") + values +
           QStringLiteral("from generate_series(1, %1) as g(i)").arg(rows);
}

// The longest time the window's thread did not get to its events while f ran.
struct Pauses {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer timer;
    Pauses() {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    template <typename F> double run(F&& f) {
        clock.start();
        last = 0;
        longest = 0;
        timer.start();
        QElapsedTimer t;
        t.start();
        f();
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        longest = std::max(longest, clock.elapsed() - last);
        timer.stop();
        return ms;
    }
};

double rawSelect(const ConnectionSpec& spec, int* rows) {
    Database db;
    db.open(spec);
    QElapsedTimer t;
    t.start();
    QSqlQuery q = db.exec(kSql);
    int n = 0;
    qint64 sink = 0;
    while (q.next()) {
        for (int c = 0; c < 5; ++c)
            sink += q.value(c).toString().size();
        ++n;
    }
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    *rows = n;
    return sink >= 0 ? ms : -1;
}

double tool(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

template <typename F> double best(int times, F&& f) {
    double b = 1e300;
    for (int i = 0; i < times; ++i)
        b = std::min(b, f());
    return b;
}

int bench(Backend backend, int total) {
    TestEnvironment env(backend);
    env.actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    QElapsedTimer fill;
    fill.start();
    env.db().exec(fillStatement(backend, total));
    if (backend == Backend::PostgreSQL)
        env.db().exec(QStringLiteral("analyze PDM日志"));
    const ConnectionSpec spec = env.db().spec();
    std::printf("\n== %s: %d log rows (filled in %.1f s)\n", backend == Backend::SQLite ? "SQLite" : "PostgreSQL",
                total, fill.elapsed() / 1000.0);

    int rawRows = 0;
    const double raw = best(5, [&] { return rawSelect(spec, &rawRows); });

    FrmLog form(*env.session);
    form.show();
    form.findChild<QLineEdit*>(QStringLiteral("TxtCond"))->setText(kCondition);
    auto* seek = form.findChild<QAbstractButton*>(QStringLiteral("CmdSeek"));
    Pauses pauses;
    qint64 searchPause = 0;
    const double search = best(5, [&] {
        const double ms = pauses.run([&] { seek->click(); });
        searchPause = std::max(searchPause, pauses.longest);
        return ms;
    });
    const int listed = form.model().rowCount();

    // A click on the 用户ID heading, then on the time heading again: the found rows sorted each way.
    QHeaderView* header = form.findChild<QTreeView*>(QStringLiteral("LstView"))->header();
    const auto clickHeading = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    };
    qint64 sortPause = 0;
    double sorted = 0;
    for (const int section : {1, 3}) {
        sorted = std::max(sorted, pauses.run([&] { clickHeading(section); }));
        sortPause = std::max(sortPause, pauses.longest);
    }

    const QString out = env.dir.path() + QStringLiteral("/export.log");
    auto* outAll = form.findChild<QAbstractButton*>(QStringLiteral("CmdOutAll"));
    qint64 exportPause = 0;
    const double exported = best(5, [&] {
        env.feedback.fileAnswers = {out};
        const double ms = pauses.run([&] { outAll->click(); });
        exportPause = std::max(exportPause, pauses.longest);
        return ms;
    });
    const bool exportOk = !env.feedback.boxes.isEmpty() && env.feedback.last().text == QStringLiteral("导出已完成");

    const QString toolOut = env.dir.path() + QStringLiteral("/tool.txt");
    QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
    double cli = -1;
    QString cliName;
    if (backend == Backend::SQLite) {
        cliName = QStringLiteral("sqlite3");
        cli = best(5, [&] {
            return tool(QStringLiteral("sh"),
                        {QStringLiteral("-c"), QStringLiteral("sqlite3 -separator ' ' \"$0\" \"$1\" > \"$2\""),
                         env.session->paths().localDatabase(), kSql, toolOut},
                        penv);
        });
    } else {
        cliName = QStringLiteral("psql");
        penv.insert(QStringLiteral("PGPASSWORD"), spec.password);
        cli = best(5, [&] {
            return tool(QStringLiteral("psql"),
                        {QStringLiteral("-h"), spec.host, QStringLiteral("-p"), QString::number(spec.port),
                         QStringLiteral("-U"), spec.user, QStringLiteral("-d"), spec.databaseName, QStringLiteral("-A"),
                         QStringLiteral("-t"), QStringLiteral("-F"), QStringLiteral(" "), QStringLiteral("-o"), toolOut,
                         QStringLiteral("-c"), kSql},
                        penv);
        });
    }

    std::printf("raw SELECT (QSqlQuery, all five columns read)   %8.1f ms  %d rows\n", raw, rawRows);
    std::printf(
        "search listed in FrmLog through the model       %8.1f ms  %d rows  ratio %.2f (no goal)  longest pause "
        "%lld ms (goal %d ms)\n",
        search, listed, search / raw, static_cast<long long>(searchPause), kPauseGoalMs);
    std::printf("slowest sort of the found rows by a heading     %8.1f ms  ratio %.2f (no goal)  longest pause %lld ms "
                "(goal %d ms)\n",
                sorted, sorted / raw, static_cast<long long>(sortPause), kPauseGoalMs);
    std::printf("%-7s writing the same rows to a file            %8.1f ms  (%lld bytes)\n", qPrintable(cliName), cli,
                static_cast<long long>(QFile(toolOut).size()));
    std::printf("export of all listed rows (fixed width)         %8.1f ms  (%lld bytes)  ratio %.2f to %s (no goal)  "
                "longest pause %lld ms (goal %d ms)  %s\n",
                exported, static_cast<long long>(QFile(out).size()), exported / cli, qPrintable(cliName),
                static_cast<long long>(exportPause), kPauseGoalMs, exportOk ? "ok" : "FAILED");
    const bool ok = listed == total / 5 && rawRows == listed && exportOk;
    if (!ok)
        std::printf("unexpected result: listed %d, raw %d\n", listed, rawRows);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
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
