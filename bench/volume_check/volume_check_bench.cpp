// Times the check of one volume that holds COUNT files against COUNT library rows (a few missing, a
// few orphans, a few leftovers) on a loopback FTP server with the local SQLite database, log row
// included. Prints seconds and the counts found.
#include "FtpServer.h"

#include "core/Session.h"
#include "library/VolumeCheck.h"
#include "store/Database.h"
#include "store/DatabaseInit.h"
#include "transfer/TransferCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir work;
    velda::test::FtpServer ftp;
    velda::ProgramPaths paths{work.path(), work.path()};
    velda::CreateLocalDatabase(paths.localDatabase(), QDate::currentDate());
    velda::StderrFeedback fb;
    velda::SystemClock clock;
    velda::Session session(fb, clock, velda::Configuration(work.path() + QStringLiteral("/c.ini")), paths,
                           QStringLiteral("BENCH"));
    session.connect(QStringLiteral("None"));
    velda::Database& db = session.db();
    db.exec(QStringLiteral("insert into PDM存储目录 values ('V1', ?, '')"), {ftp.address()});
    auto& ctx = session.ctx;
    ctx.UserId = QStringLiteral("admin");
    ctx.UserGroups = QStringLiteral("/admin/");
    ctx.LoginGroup = QStringLiteral("admin");
    ctx.AdminPassword = ftp.password();

    // Rows 0..count-1; files for all but the last ten rows, plus ten orphans and ten leftovers, so
    // the folder holds count + 10 entries.
    const QString folder = ftp.localPath(QStringLiteral("Volume/V1"));
    QDir().mkpath(folder);
    const int missing = 10;
    {
        velda::Transaction tx(db);
        for (int i = 0; i < count; ++i) {
            const QString code = QStringLiteral("BENCH-%1").arg(i);
            const QString name = QStringLiteral("20240305") + code + QStringLiteral(".dwg");
            db.exec(QStringLiteral(
                        "insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,目录名称) "
                        "values (?,'/','/','/','/','admin','2024/3/5',?,'正常','V1')"),
                    {code, name});
            if (i < count - missing) {
                QFile f(folder + QLatin1Char('/') + name);
                f.open(QIODevice::WriteOnly);
            }
        }
        tx.commit();
    }
    for (int i = 0; i < 10; ++i) {
        QFile(folder + QStringLiteral("/orphan-%1.dwg").arg(i)).open(QIODevice::WriteOnly);
        QFile(folder + QStringLiteral("/.x%1.dwg.ab.part").arg(i)).open(QIODevice::WriteOnly);
    }

    velda::FtpClient client;
    velda::VolumeCheck check(session,
                             [&](const velda::TransferOperation& op) { return velda::WaitForTransfer(client, op); });
    // The listing alone, to tell the server's share from the client's.
    QElapsedTimer l;
    l.start();
    std::vector<velda::RemoteEntry> entries;
    const velda::TransferResult listed =
        client.List(velda::VolumeUrl(ftp.password(), ftp.address()), QStringLiteral("Volume/V1"), entries);
    const double listSeconds = double(l.elapsed()) / 1000.0;
    if (!listed) {
        fprintf(stderr, "listing failed: %s\n", qPrintable(listed.message));
        return 1;
    }

    velda::VolumeCheckResult result;
    QElapsedTimer t;
    t.start();
    const velda::Outcome o = check.Run(QStringLiteral("V1"), result);
    const double seconds = double(t.elapsed()) / 1000.0;
    if (!o.done() || !result.failed.isEmpty()) {
        fprintf(stderr, "check failed: %s %s\n", qPrintable(o.text), qPrintable(result.failed.join(u'|')));
        return 1;
    }
    printf("rows                 %d\n", result.rows);
    printf("files                %d\n", result.files);
    printf("missing/orphans/left %d/%d/%d\n", result.missing, result.orphans, result.leftovers);
    printf("listing_seconds      %.2f (one MLSD of %zu entries)\n", listSeconds, entries.size());
    printf("volume_check_seconds %.2f\n", seconds);
    printf("goal                 under 10 s: %s\n", seconds < 10.0 ? "met" : "NOT met");
    return result.missing == missing && result.orphans == 10 && result.leftovers == 10 ? 0 : 1;
}
