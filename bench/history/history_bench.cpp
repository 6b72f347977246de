// What keeping versions costs a replacing batch check-in: two sets of N drawings of KB kilobytes are
// checked in once, then replaced again and again, alternately one set without keeping versions (the
// old file overwritten, as a client that keeps none does) and the other with, on a loopback FTP server
// and the SQLite or PostgreSQL database. Each set is always replaced the same way, as in an office
// whose clients all keep versions or none do: replacing a version stored by a client that keeps none
// first describes it, which an office that keeps versions pays once, not at every check-in. Prints each run's seconds, the medians and their ratio, then the time the history window
// and the deleted list take at size, their queries alone and the windows opened on them.
#include "FtpServer.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include "accounts/Acl.h"
#include "core/Session.h"
#include "library/Batch.h"
#include "library/DrawingHistory.h"
#include "library/Versions.h"
#include "library/ui/FrmDeletedDrawings.h"
#include "library/ui/FrmDrawingHistory.h"
#include "store/Database.h"
#include "store/ManyRows.h"
#include "transfer/TransferPool.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    struct StopCluster {
        ~StopCluster() { velda::test::PgCluster::shutdownAll(); }
    } stopCluster;
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        fprintf(stderr, "usage: history_bench sqlite|postgresql N [KB] [RUNS]\n");
        return 2;
    }
    const bool pg = args[1] == QStringLiteral("postgresql");
    const int n = args[2].toInt();
    const int kb = args.size() > 3 ? args[3].toInt() : 200;
    const int runs = args.size() > 4 ? args[4].toInt() : 3;

    velda::test::FtpServer ftp;
    velda::test::TestEnvironment env(pg ? velda::test::Backend::PostgreSQL : velda::test::Backend::SQLite);
    velda::Session& session = *env.session;
    env.addVolume(QStringLiteral("V1"), ftp.address());
    session.db().exec(QStringLiteral("update PDM组 set 目录名称='V1' where 组名='admin'"));
    QDir().mkpath(ftp.localPath(QStringLiteral("Volume/V1")));
    auto& ctx = session.ctx;
    ctx.UserId = QStringLiteral("admin");
    ctx.UserGroups = QStringLiteral("/admin/");
    ctx.LoginGroup = QStringLiteral("admin");
    ctx.VolumeName = QStringLiteral("V1");
    ctx.VolumeServerIp = ftp.address();
    ctx.AdminPassword = ftp.password();
    const QString list = velda::Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
    velda::Acl::SetPending(ctx, list, list, list, list);

    const QString source = env.dir.path() + QStringLiteral("/set");
    QDir().mkpath(source);
    QStringList files[2]; // replaced without keeping versions, and with
    QByteArray content(kb * 1024, 'x');
    for (int keep = 0; keep < 2; ++keep)
        for (int i = 0; i < n; ++i) {
            const QString path = source + QStringLiteral("/BENCH-%1-%2.dwg").arg(keep ? u'K' : u'O').arg(i);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            content[0] = char(i);
            f.write(content);
            files[keep] << path;
        }
    velda::FtpClient client(session.ftpOptions);
    velda::TransferRunner run = [&](const velda::TransferOperation& op) { return velda::WaitForTransfer(client, op); };
    // Seconds this thread spent in each phase, summed over the runs, for each way: where the time goes.
    std::map<std::string, double> phases[2];
    auto batch = [&](bool keep) {
        velda::BatchLibrary b(session, run);
        b.keepVersions = keep;
        b.onPhase = [&](const char* phase, double seconds) { phases[keep][phase] += seconds; };
        QElapsedTimer t;
        t.start();
        const velda::BatchResult r = b.CheckIn(files[keep]);
        if (r.outcome.failed() || r.progress.rejected) {
            fprintf(stderr, "check-in failed: %s\n", qPrintable(r.outcome.text));
            exit(1);
        }
        return t.elapsed() / 1000.0;
    };
    batch(true); // every drawing in the library once
    batch(false);
    phases[0].clear();
    phases[1].clear();
    std::vector<double> without, with;
    for (int k = 0; k < runs; ++k) {
        // Alternating, so that a server or disk warming up favours neither.
        const bool first = k % 2 == 0;
        const double a = batch(!first), b = batch(first);
        (first ? without : with).push_back(a);
        (first ? with : without).push_back(b);
        printf("run %d: without %.2f s, with %.2f s\n", k + 1, first ? a : b, first ? b : a);
    }
    const char* db = pg ? "postgresql" : "sqlite";
    printf("%s replace_%dx%dKB_without_history_s %.2f\n", db, n, kb, Median(without));
    printf("%s replace_%dx%dKB_with_history_s %.2f\n", db, n, kb, Median(with));
    printf("%s history_ratio %.3f\n", db, Median(with) / Median(without));
    for (const auto& [phase, seconds] : phases[1])
        printf("%s phase_%s_s without %.2f with %.2f\n", db, phase.c_str(), phases[0][phase], seconds);

    // The history window's query for a drawing with 1,000 versions, the deleted list with 10,000.
    QList<QVariantList> rows;
    for (int i = 1; i <= 1000; ++i)
        rows << QVariantList{QStringLiteral("MANY"),
                             i + 1000000,
                             QStringLiteral("admin"),
                             QStringLiteral("t"),
                             1,
                             QString(),
                             QStringLiteral("V1"),
                             QStringLiteral("x.dwg"),
                             QString(),
                             QVariant(),
                             QVariant()};
    for (int i = 0; i < 10000; ++i)
        rows << QVariantList{QStringLiteral("GONE-%1").arg(i),
                             i + 2000000,
                             QStringLiteral("admin"),
                             QStringLiteral("t"),
                             1,
                             QString(),
                             QStringLiteral("V1"),
                             QStringLiteral("y.dwg"),
                             QString(),
                             QStringLiteral("admin"),
                             QStringLiteral("2024年03月05日")};
    velda::InsertRows(session.db(), QStringLiteral("图纸版本"),
                      {QStringLiteral("代号"), QStringLiteral("版本号"), QStringLiteral("入库帐号"),
                       QStringLiteral("入库时间"), QStringLiteral("文件大小"), QStringLiteral("摘要"),
                       QStringLiteral("目录名称"), QStringLiteral("入库文件名称"), QStringLiteral("说明"),
                       QStringLiteral("删除帐号"), QStringLiteral("删除时间")},
                      rows);
    // Each the median of five: the query alone, then the window opened on it and shown.
    velda::DrawingHistory history(session, run);
    auto ms = [](const std::function<void()>& f) {
        std::vector<double> v;
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer t;
            t.start();
            f();
            v.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        return Median(v);
    };
    std::vector<velda::VersionRow> versions;
    std::vector<velda::DeletedDrawing> deleted;
    printf("%s history_query_1000_versions_ms %.1f\n", db,
           ms([&] { history.Versions(QStringLiteral("MANY"), versions); }));
    printf("%s history_window_1000_versions_ms %.1f\n", db, ms([&] {
               velda::FrmDrawingHistory w(session);
               w.ShowCode(QStringLiteral("MANY"));
               w.show();
               QApplication::processEvents();
           }));
    printf("%s deleted_query_10000_ms %.1f\n", db, ms([&] { history.Deleted(deleted); }));
    printf("%s deleted_window_%zu_ms %.1f\n", db, deleted.size(), ms([&] {
               velda::FrmDeletedDrawings w(session);
               w.show();
               QApplication::processEvents();
           }));
    return 0;
}
