// A second client for the crash tests: runs one check-in or deletion and, when it reaches the named
// step, says so on its standard output and waits to be killed (the test sends SIGKILL).
//
//   velda_crash_client --data DIR | --server HOST:PORT --database NAME
//                      --ftp HOST:PORT --password PW --date yyyy-MM-dd
//                      --op checkin|delete --code CODE [--file PATH] --step STEP

#include "accounts/Acl.h"
#include "core/Clock.h"
#include "core/Feedback.h"
#include "core/Session.h"
#include "library/DrawingLibrary.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferPool.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

class DayClock final : public velda::Clock {
public:
    explicit DayClock(QDate day) : m_day(day) {}
    QDateTime now() const override { return QDateTime(m_day, QTime::currentTime()); }

private:
    QDate m_day;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    for (const char* name : {"data", "server", "database", "ftp", "password", "date", "op", "code", "file", "step"})
        p.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    p.process(app);

    velda::StderrFeedback feedback;
    DayClock clock(QDate::fromString(p.value(QStringLiteral("date")), QStringLiteral("yyyy-MM-dd")));
    velda::ProgramPaths paths;
    paths.dataFolder = p.value(QStringLiteral("data"));
    paths.programFolder = paths.dataFolder;
    velda::Session session(feedback, clock, velda::Configuration(QStringLiteral("/dev/null")), paths,
                           QStringLiteral("C0FFEE"));
    const bool local = p.isSet(QStringLiteral("data"));
    session.serverDatabaseName = p.value(QStringLiteral("database"));
    try {
        session.connect(local ? velda::Configuration::kLocalWord : p.value(QStringLiteral("server")));
    } catch (const velda::Error& e) {
        std::fprintf(stderr, "%s\n", e.description().toUtf8().constData());
        return 2;
    }
    velda::UserContext& ctx = session.ctx;
    ctx.UserId = QStringLiteral("admin");
    ctx.LoginGroup = QStringLiteral("admin");
    ctx.UserGroups = QStringLiteral("/admin/");
    ctx.VolumeName = QStringLiteral("V1");
    ctx.VolumeServerIp = p.value(QStringLiteral("ftp"));
    ctx.AdminPassword = p.value(QStringLiteral("password"));
    const QString list = velda::Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
    velda::Acl::SetPending(ctx, list, list, list, list);

    velda::FtpClient client;
    velda::DrawingLibrary library(
        session, [&](const velda::TransferOperation& op) { return velda::WaitForTransfer(client, op); });
    const QString stopAt = p.value(QStringLiteral("step"));
    library.onStep = [&](QStringView step) {
        if (step != stopAt)
            return;
        std::printf("AT %s\n", stopAt.toUtf8().constData());
        std::fflush(stdout);
        for (;;)
            pause();
    };
    const QString code = p.value(QStringLiteral("code"));
    const velda::Outcome out = p.value(QStringLiteral("op")) == QLatin1String("delete")
                                   ? library.Delete(code)
                                   : library.CheckIn(code, p.value(QStringLiteral("file")));
    std::printf("END %s\n", out.text.toUtf8().constData());
    return out.done() ? 0 : 1;
}
