// Times a batch check-in and a batch check-out of many drawings against a real FTP server on
// loopback with the SQLite or the PostgreSQL database, all database and log rows included, and,
// given a large file, a single check-in and check-out of it. Prints seconds, the slowest files and
// the peak memory of the process, then keeps the server up for the script's lftp runs.
#include "FtpServer.h"
#include "PgCluster.h"
#include "TestSupport.h"

#include "accounts/Acl.h"
#include "core/Session.h"
#include "library/Batch.h"
#include "store/DatabaseInit.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// The process's peak resident memory so far, in KB.
long peakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
// CPU seconds the process has used so far, user and system together.
double cpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}
// CPU seconds another process has used so far (the FTP server), or -1.
double cpuSecondsOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which ends with the last ')'.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}
long currentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The gaps between successive files, slowest first.
void printSlowest(const char* what, const std::vector<qint64>& at, const QStringList& names) {
    std::vector<std::pair<qint64, int>> gaps;
    for (size_t i = 0; i < at.size(); ++i)
        gaps.push_back({at[i] - (i ? at[i - 1] : 0), int(i)});
    std::sort(gaps.begin(), gaps.end(), [](auto a, auto b) { return a.first > b.first; });
    for (size_t k = 0; k < std::min<size_t>(5, gaps.size()); ++k)
        printf("slowest_%s_file_ms %lld %s\n", what, gaps[k].first,
               qPrintable(QFileInfo(names[gaps[k].second]).fileName()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The run's own PostgreSQL server is stopped and its folder removed on every way out.
    struct StopCluster {
        ~StopCluster() { velda::test::PgCluster::shutdownAll(); }
    } stopCluster;
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        fprintf(stderr, "usage: batch_bench SOURCE_FOLDER FTP_INFO sqlite|postgresql [LARGE_FILE] [CONNECTIONS]\n");
        return 2;
    }
    const QString source = args[1];
    const bool pg = args[3] == QStringLiteral("postgresql");
    const QString large = args.size() > 4 ? args[4] : QString();
    // BENCH_FTP="ADDRESS ROOT PID" names a server the script started (another make of FTP server);
    // without it the run starts its own loopback server.
    const QStringList external = qEnvironmentVariable("BENCH_FTP").split(u' ', Qt::SkipEmptyParts);
    std::optional<velda::test::FtpServer> own;
    if (external.size() != 3)
        own.emplace();
    struct Server {
        QString address, password, root;
        qint64 pid = 0;
    };
    const Server ftp = own ? Server{own->address(), own->password(), own->rootPath(), own->processId()}
                           : Server{external[0], QStringLiteral("bench"), external[1], external[2].toLongLong()};
    QFile portFile(args[2]);
    portFile.open(QIODevice::WriteOnly);
    QTextStream(&portFile) << ftp.address << "\n" << ftp.password << "\n" << ftp.root << "\n" << ftp.pid << "\n";
    portFile.close();

    velda::test::TestEnvironment env(pg ? velda::test::Backend::PostgreSQL : velda::test::Backend::SQLite);
    velda::Session& session = *env.session;
    if (args.size() > 5)
        session.ftpOptions.connectionsPerServer = args[5].toInt();
    env.addVolume(QStringLiteral("V1"), ftp.address);
    session.db().exec(QStringLiteral("update PDM组 set 目录名称='V1' where 组名='admin'"));
    // The volume's folder belongs to the account the server writes as, which owns the root.
    const QFileInfo root(ftp.root);
    for (const char* folder : {"Volume", "Volume/V1"}) {
        const QString path = ftp.root + u'/' + QLatin1String(folder);
        QDir().mkpath(path);
        if (chown(QFile::encodeName(path).constData(), root.ownerId(), root.groupId()) != 0)
            perror("chown");
    }
    auto& ctx = session.ctx;
    ctx.UserId = QStringLiteral("admin");
    ctx.UserGroups = QStringLiteral("/admin/");
    ctx.LoginGroup = QStringLiteral("admin");
    ctx.VolumeName = QStringLiteral("V1");
    ctx.VolumeServerIp = ftp.address;
    ctx.AdminPassword = ftp.password;

    velda::FtpClient client(session.ftpOptions);
    velda::TransferRunner run = [&](const velda::TransferOperation& op) { return velda::WaitForTransfer(client, op); };
    QStringList files;
    velda::FindAllFile(source, true, files);
    const long startKb = currentKb();

    // Where the batch's own thread spends its time, phase by phase (the transfers overlap the rows).
    std::map<std::string, double> inPhases, outPhases;
    QElapsedTimer t;
    t.start();
    const double cpuBeforeIn = cpuSeconds();
    const double serverBeforeIn = cpuSecondsOf(ftp.pid);
    std::vector<qint64> inAt;
    // BENCH_GROUP tries another group size than the batch's own choice.
    const int groupFiles = qEnvironmentVariableIntValue("BENCH_GROUP");
    velda::BatchLibrary in(session, run);
    in.groupFiles = groupFiles;
    in.onPhase = [&](const char* phase, double seconds) { inPhases[phase] += seconds; };
    const velda::BatchResult r1 = in.CheckIn(files, [&](int, const velda::BatchProgress&) {
        inAt.push_back(t.elapsed());
        return true;
    });
    const double inSeconds = t.elapsed() / 1000.0;
    const double inCpu = cpuSeconds() - cpuBeforeIn;
    const double inServerCpu = cpuSecondsOf(ftp.pid) - serverBeforeIn;
    if (r1.outcome.failed() || r1.progress.rejected) {
        fprintf(stderr, "check-in failed: %s\n", qPrintable(r1.outcome.text));
        return 1;
    }
    // A profiler can be attached to the FTP server between the two batches: with BENCH_PAUSE set,
    // the check-out waits for FTP_INFO.go once FTP_INFO.in is there.
    if (qEnvironmentVariableIsSet("BENCH_PAUSE")) {
        QFile paused(args[2] + QStringLiteral(".in"));
        paused.open(QIODevice::WriteOnly);
        paused.close();
        while (!QFile::exists(args[2] + QStringLiteral(".go")))
            QThread::msleep(50);
    }
    QStringList codes;
    for (const QString& f : files)
        codes << velda::DrawingCodeFromPath(f);
    const QString out = env.dir.path() + QStringLiteral("/out");
    QDir().mkpath(out);
    t.restart();
    const double cpuBeforeOut = cpuSeconds();
    const double serverBeforeOut = cpuSecondsOf(ftp.pid);
    std::vector<qint64> outAt;
    velda::BatchLibrary outBatch(session, run);
    outBatch.groupFiles = groupFiles;
    outBatch.onPhase = [&](const char* phase, double seconds) { outPhases[phase] += seconds; };
    const velda::BatchResult r2 = outBatch.CheckOut(codes, out, [&](int, const velda::BatchProgress&) {
        outAt.push_back(t.elapsed());
        return true;
    });
    const double outSeconds = t.elapsed() / 1000.0;
    const double outCpu = cpuSeconds() - cpuBeforeOut;
    const double outServerCpu = cpuSecondsOf(ftp.pid) - serverBeforeOut;
    if (r2.outcome.failed() || r2.progress.rejected) {
        fprintf(stderr, "check-out failed: %s\n", qPrintable(r2.outcome.text));
        return 1;
    }
    const int logRows = session.db().scalar(QStringLiteral("select count(*) from PDM日志")).toInt();
    printSlowest("checkin", inAt, files);
    printSlowest("checkout", outAt, files);
    printf("velda_checkin_seconds %.3f\nvelda_checkout_seconds %.3f\nlog_rows %d\n", inSeconds, outSeconds, logRows);
    printf("velda_checkin_cpu_seconds %.3f\nvelda_checkout_cpu_seconds %.3f\n", inCpu, outCpu);
    printf("velda_checkin_server_cpu_seconds %.3f\nvelda_checkout_server_cpu_seconds %.3f\n", inServerCpu, outServerCpu);
    printf("batch_peak_mb %.1f\n", peakKb() / 1024.0);
    for (const auto& [phase, seconds] : inPhases)
        printf("phase_checkin_%s_seconds %.3f\n", phase.c_str(), seconds);
    for (const auto& [phase, seconds] : outPhases)
        printf("phase_checkout_%s_seconds %.3f\n", phase.c_str(), seconds);
    fflush(stdout);

    if (!large.isEmpty()) {
        velda::DrawingLibrary single(session, run);
        const QString list = velda::Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
        velda::Acl::SetPending(ctx, list, list, list, list);
        const long before = peakKb();
        // The batches' writing reaches the disk first: a large file's times are mostly the disk's, and
        // lftp's put, run later, starts with it written too.
        ::sync();
        t.restart();
        const velda::Outcome in = single.CheckIn(QStringLiteral("LARGE"), large);
        const double bigIn = t.elapsed() / 1000.0;
        t.restart();
        const velda::Outcome got = single.CheckOut(QStringLiteral("LARGE"), out + QStringLiteral("/LARGE.dwg"));
        const double bigOut = t.elapsed() / 1000.0;
        if (!in.done() || !got.done()) {
            fprintf(stderr, "large file failed: %s %s\n", qPrintable(in.text), qPrintable(got.text));
            return 1;
        }
        printf("large_checkin_seconds %.3f\nlarge_checkout_seconds %.3f\n", bigIn, bigOut);
        printf("large_peak_growth_mb %.1f\n", (peakKb() - std::max(before, startKb)) / 1024.0);
        fflush(stdout);
    }

    // Keep the server up for the lftp comparison the script runs next.
    QFile ready(args[2] + QStringLiteral(".done"));
    ready.open(QIODevice::WriteOnly);
    ready.close();
    while (!QFile::exists(args[2] + QStringLiteral(".finish")))
        QThread::msleep(100);

    // The thousands of files of this run are moved aside for the script to delete at its end: ext4
    // looks over recently freed inodes on every file it creates, so deleting them now would slow down
    // the next run's first few seconds, which are ours, and not lftp's.
    const QString keep = qEnvironmentVariable("BENCH_KEEP_DIR");
    if (!keep.isEmpty()) {
        const QString into = QDir(keep).filePath(QFileInfo(args[2]).fileName());
        QDir().mkpath(into);
        QDir().rename(out, into + QStringLiteral("/out"));
        const QDir root(ftp.root);
        for (const QString& name : root.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QDir().rename(root.filePath(name), into + QStringLiteral("/ftp-") + name);
    }
    return 0;
}
