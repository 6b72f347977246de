// Times a batch check-in and a batch check-out of many drawings against a real FTP server on
// loopback with the local SQLite database, all database and log rows included. Prints seconds.
#include "FtpServer.h"

#include "accounts/AdminRecord.h"
#include "library/Acl.h"
#include "library/Batch.h"
#include "core/Session.h"
#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        fprintf(stderr, "usage: batch_bench SOURCE_FOLDER FTP_ROOT_OUT COUNT\n");
        return 2;
    }
    const QString source = args[1];
    QTemporaryDir work;
    velda::test::FtpServer ftp;
    QFile portFile(args[2]);
    portFile.open(QIODevice::WriteOnly);
    QTextStream(&portFile) << ftp.address() << "\n" << ftp.password() << "\n" << ftp.rootPath() << "\n";
    portFile.close();

    velda::ProgramPaths paths{work.path(), work.path()};
    velda::CreateLocalDatabase(paths.localDatabase(), QDate::currentDate());
    velda::StderrFeedback fb;
    velda::SystemClock clock;
    velda::Session session(fb, clock, velda::Configuration(work.path() + QStringLiteral("/c.ini")), paths,
                           QStringLiteral("BENCH"));
    session.connect(QStringLiteral("None"));
    session.db().exec(QStringLiteral("insert into PDM存储目录 values ('V1', ?, '')"), {ftp.address()});
    session.db().exec(QStringLiteral("update PDM组 set 目录名称='V1' where 组名='admin'"));
    QDir().mkpath(ftp.localPath(QStringLiteral("Volume/V1")));
    auto& ctx = session.ctx;
    ctx.UserId = QStringLiteral("admin");
    ctx.UserGroups = QStringLiteral("/admin/");
    ctx.LoginGroup = QStringLiteral("admin");
    ctx.VolumeName = QStringLiteral("V1");
    ctx.VolumeServerIp = ftp.address();
    ctx.AdminPassword = ftp.password();

    velda::FtpClient client;
    velda::TransferRunner run = [&](const velda::TransferOperation& op) { return velda::WaitForTransfer(client, op); };
    QStringList files;
    velda::FindAllFile(source, true, files);

    QElapsedTimer t;
    t.start();
    velda::BatchLibrary in(session, run);
    qint64 last = 0, worst = 0;
    int worstAt = -1;
    const velda::BatchResult r1 = in.CheckIn(files, [&](int i, const velda::BatchProgress&) {
        const qint64 now = t.elapsed();
        if (now - last > worst) {
            worst = now - last;
            worstAt = i;
        }
        last = now;
        return true;
    });
    const double inSeconds = t.elapsed() / 1000.0;
    if (r1.failed || r1.progress.rejected) {
        fprintf(stderr, "check-in failed: %s\n", qPrintable(r1.message));
        return 1;
    }
    QStringList codes;
    for (const QString& f : files)
        codes << velda::DrawingCodeFromPath(f);
    const QString out = work.path() + QStringLiteral("/out");
    QDir().mkpath(out);
    t.restart();
    velda::BatchLibrary outBatch(session, run);
    const velda::BatchResult r2 = outBatch.CheckOut(codes, out);
    const double outSeconds = t.elapsed() / 1000.0;
    if (r2.failed || r2.progress.rejected) {
        fprintf(stderr, "check-out failed: %s\n", qPrintable(r2.message));
        return 1;
    }
    const int logRows = session.db().scalar(QStringLiteral("select count(*) from PDM日志")).toInt();
    printf("slowest_checkin_file_ms %lld at %d\n", worst, worstAt);
    printf("velda_checkin_seconds %.3f\nvelda_checkout_seconds %.3f\nlog_rows %d\n", inSeconds, outSeconds, logRows);
    fflush(stdout);
    // Keep the server up for the lftp comparison the script runs next.
    QFile ready(args[2] + QStringLiteral(".done"));
    ready.open(QIODevice::WriteOnly);
    ready.close();
    while (!QFile::exists(args[2] + QStringLiteral(".finish")))
        QThread::msleep(100);
    return 0;
}
