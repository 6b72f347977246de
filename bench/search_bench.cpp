// Times the item search window's search over 100,000 part and 100,000 drawing records on both
// databases (condition text composed as the panel composes it, the check, the query, the result
// list's model filled) against the same SELECT run by the sqlite3 and psql command-line clients,
// and the list's scrolling once it holds every line. Prints seconds and ratios.
#include "PgCluster.h"

#include "core/Condition.h"
#include "core/Session.h"
#include "items/ItemSearch.h"
#include "items/ui/FrmSeekItemInfo.h"
#include "store/DatabaseInit.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace velda;

namespace {

constexpr int kRuns = 9;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// 零件信息 and 图纸信息 with `count` codes each, made by the database itself.
void fill(Database& db, int count) {
    const bool pg = db.dialect() == Dialect::PostgreSQL;
    const QString series =
        pg ? QStringLiteral("select generate_series(1, ?) as i")
           : QStringLiteral("with recursive s(i) as (select 1 union all select i + 1 from s where i < ?) "
                            "select i from s");
    const QString code = pg ? QStringLiteral("'P-' || lpad(cast(i as text), 6, '0')")
                            : QStringLiteral("'P-' || substr('000000' || i, -6, 6)");
    const QString name = QStringLiteral("case i % 7 when 0 then '轴' when 1 then '轴套' when 2 then '端盖' when 3 then "
                                        "'支架' when 4 then '齿轮' when 5 then '垫圈' else '底座' end");
    Transaction tx(db);
    db.exec(QStringLiteral("insert into 零件信息 (代号,名称,类型,材料,重量) select %1, %2, '零件', 'Q235-A', "
                           "cast(i % 50 as text) from (%3) t")
                .arg(code, name, series),
            {count});
    db.exec(
        QStringLiteral(
            "insert into 图纸信息 (代号,设计,校对,主管设计,审定,标准审查,工艺审查,日期,比例,编码,幅面,页数,图样,页码) "
            "select %1, '张三', '李四', '王五', '赵六', '钱七', '孙八', '2024/03/05', '1:1', "
            "'BM' || cast(i as text), 'A3', '1', 'S', '1' from (%2) t")
            .arg(code, series),
        {count});
    tx.commit();
}

struct Case {
    const char* label;
    QString mode;
    QString condition;
};

// The window's search as the user runs it: the condition text in TxtCond, a click on 查询.
double windowSearch(FrmSeekItemInfo& form, const QString& condition, int* lines, double* paint) {
    form.findChild<QLineEdit*>(QStringLiteral("TxtCond"))->setText(condition);
    auto* seek = form.findChild<QPushButton*>(QStringLiteral("CmdSeek"));
    QElapsedTimer t;
    t.start();
    seek->click(); // the check, the query and the model filled; painting follows below
    const double s = t.nsecsElapsed() / 1e9;
    t.start();
    QApplication::processEvents();
    *paint = t.nsecsElapsed() / 1e9;
    *lines = form.findChild<QListView*>(QStringLiteral("LstResult"))->model()->rowCount();
    return s;
}

double clientRun(const QString& program, const QStringList& args, const QProcessEnvironment& env, int* lines) {
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForStarted();
    QByteArray out;
    while (p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(1000);
        out += p.readAllStandardOutput();
    }
    out += p.readAllStandardOutput();
    const double s = t.nsecsElapsed() / 1e9;
    if (p.exitCode() != 0)
        fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    *lines = static_cast<int>(out.count('\n'));
    return s;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 100000;
    QTemporaryDir work;
    StderrFeedback feedback;
    SystemClock clock;
    ProgramPaths paths{work.path(), work.path()};
    CreateLocalDatabase(paths.localDatabase(), QDate::currentDate());

    const QList<Case> cases = {
        {"all parts      ", QStringLiteral("ByPart"),
         ComposeClause(QStringLiteral("代号"), QStringLiteral("包含"), QStringLiteral("P-"))},
        {"all drawings   ", QStringLiteral("ByDrawing"),
         ComposeClause(QStringLiteral("代号"), QStringLiteral(">"), QStringLiteral("P"))},
        {"parts named 轴 ", QStringLiteral("ByPart"),
         ComposeClause(QStringLiteral("名称"), QStringLiteral("="), QStringLiteral("轴"))},
    };

    for (const char* dialect : {"sqlite", "postgresql"}) {
        const bool pg = QLatin1String(dialect) == QLatin1String("postgresql");
        Session session(feedback, clock, Configuration(work.path() + QStringLiteral("/c.ini")), paths,
                        QStringLiteral("BENCH"));
        QString address = QStringLiteral("None");
        if (pg) {
            test::PgCluster& cluster = test::PgCluster::instance();
            if (!cluster.ok()) {
                fprintf(stderr, "PostgreSQL unavailable: %s\n", qPrintable(cluster.error()));
                return 1;
            }
            session.serverDatabaseName = cluster.createDatabase();
            address = cluster.address();
        }
        session.connect(address);
        session.ctx.UserId = QStringLiteral("admin");
        QElapsedTimer gen;
        gen.start();
        fill(session.db(), count);
        printf("%s: %d part and %d drawing records made in %.1f s\n", dialect, count, count, gen.nsecsElapsed() / 1e9);
        session.db().exec(QStringLiteral("analyze 零件信息"));
        session.db().exec(QStringLiteral("analyze 图纸信息"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), session.specFor(address).password);
        for (const Case& c : cases) {
            session.ctx.SeekMode = c.mode;
            FrmSeekItemInfo form(session);
            form.show();
            const ConditionConfig config = ConditionConfig::itemSearch(c.mode);
            // The window's statement, and the whole rows for comparison.
            const QString sql = ItemSearchStatement(config, c.condition);
            const QString wide = config.selectPrefix + c.condition + config.orderSuffix;
            auto client = [&](const QString& statement, int* lines) {
                if (!pg)
                    return clientRun(QStringLiteral("sqlite3"), {paths.localDatabase(), statement}, env, lines);
                const ConnectionSpec spec = session.specFor(address);
                return clientRun(QStringLiteral("psql"),
                                 {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"),
                                  QStringLiteral("-h"), spec.host, QStringLiteral("-p"), QString::number(spec.port),
                                  QStringLiteral("-U"), spec.user, QStringLiteral("-d"), session.serverDatabaseName,
                                  QStringLiteral("-c"), statement},
                                 env, lines);
            };
            std::vector<double> ours, paints, theirs, theirsWide;
            int ourLines = 0, theirLines = 0, wideLines = 0;
            for (int r = 0; r < kRuns; ++r) {
                double paint = 0;
                ours.push_back(windowSearch(form, c.condition, &ourLines, &paint));
                paints.push_back(paint);
                theirs.push_back(client(sql, &theirLines));
                theirsWide.push_back(client(wide, &wideLines));
            }
            const double a = median(ours), b = median(theirs), w = median(theirsWide);
            const char* tool = pg ? "psql   " : "sqlite3";
            printf("%s %s: window %.3f s (%d lines), %s same select %.3f s (%d lines), ratio %.2f (goal 1.00);"
                   " %s select * %.3f s (%d lines), ratio %.2f (no goal)\n",
                   dialect, c.label, a, ourLines, tool, b, theirLines, a / b, tool, w, wideLines, a / w);

            // The list once it holds every line: a jump to the end and a repaint.
            auto* list = form.findChild<QListView*>(QStringLiteral("LstResult"));
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < 20; ++i) {
                list->verticalScrollBar()->setValue(i % 2 ? 0 : list->verticalScrollBar()->maximum());
                list->viewport()->repaint();
            }
            printf("%s %s: window painted after the search in %.1f ms (no goal); 20 jumps across %d lines with "
                   "repaint %.1f ms each (no goal)\n",
                   dialect, c.label, median(paints) * 1e3, ourLines, t.nsecsElapsed() / 1e6 / 20);
        }
        session.disconnect();
    }
    if (feedback.messages)
        fprintf(stderr, "%d message boxes were shown\n", feedback.messages);
    test::PgCluster::shutdownAll();
    return feedback.messages ? 1 : 0;
}
