// The examples that velda-cli --help and its manual page give, run as written, one after the other, on
// the sample office that scripts/run.sh --demo makes.
#include "FtpFixture.h"

#include "accounts/AdminRecord.h"
#include "app/DemoOffice.h"
#include "app/OfficeSeed.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

using namespace velda;
using namespace velda::test;

namespace {

// The example lines of the help text: the indented lines after the heading "示例".
QStringList HelpExamples(const QString& help) {
    const qsizetype from = help.indexOf(QStringLiteral("\n示例"));
    QStringList lines;
    if (from < 0)
        return lines;
    const QStringList after = help.mid(from + 1).split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < after.size() && after[i].startsWith(QStringLiteral("  ")); ++i)
        lines << after[i].trimmed();
    return lines;
}

// The example lines of the manual page, with the roff escapes read as the reader sees them.
QStringList ManualExamples(const QString& page) {
    const qsizetype from = page.indexOf(QStringLiteral(".SH 示例"));
    const qsizetype start = page.indexOf(QStringLiteral(".nf\n"), from);
    const qsizetype end = page.indexOf(QStringLiteral(".fi\n"), start);
    if (from < 0 || start < 0 || end < 0)
        return {};
    QString text = page.mid(start + 4, end - start - 4);
    text.replace(QStringLiteral("\\-"), QStringLiteral("-")).replace(QStringLiteral("\\e"), QStringLiteral("\\"));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class CliExamples : public BothDatabasesWithFtp {};

TEST_P(CliExamples, EveryExampleRunsAsWrittenOnTheDemoOffice) {
    if (env->backend != Backend::PostgreSQL)
        GTEST_SKIP() << "the demo office is a server office: the local file has no file server";
    QProcess help;
    help.start(QStringLiteral(VELDA_CLI), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(60000));
    const QStringList examples = HelpExamples(QString::fromUtf8(help.readAllStandardOutput()));
    ASSERT_GE(examples.size(), 8);
    QFile page(QStringLiteral(VELDA_MANUAL_PAGE));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_EQ(ManualExamples(QString::fromUtf8(page.readAll())), examples);

    QString said;
    QTextStream out(&said);
    SeedOffice(*env->session, ftp->address(), ftp->password(), out);
    env->session->ctx = UserContext();
    ASSERT_TRUE(FillDemoOffice(*env->session, env->dir.path(), out).done()) << said.toStdString();
    // The record of the machine velda-cli runs on, which the tests' sessions stand in for.
    WriteAdminPassword(env->db(), VolumeSerialHex(ReadMachineSerial()), ftp->password());

    // The office's own configuration names its database; this one lives under a test name.
    const QString wrapper = QStringLiteral("velda-cli() { \"%1\" --server %2 --database %3 \"$@\"; }\n")
                                .arg(QStringLiteral(VELDA_CLI), env->address, env->pgDatabase);
    const QString work = env->dir.path() + QStringLiteral("/examples");
    QDir().mkpath(work);
    QProcess shell;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("VELDA_CONFIG"), env->session->config().filePath());
    e.insert(QStringLiteral("VELDA_DATA_DIR"), env->session->paths().dataFolder);
    shell.setProcessEnvironment(e);
    shell.setWorkingDirectory(work);
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("bash"), {QStringLiteral("-ec"), wrapper + examples.join(QLatin1Char('\n'))});
    ASSERT_TRUE(shell.waitForFinished(300000));
    const QString log = QString::fromUtf8(shell.readAll());
    EXPECT_EQ(shell.exitCode(), 0) << log.toStdString();
    // What the examples did is in the office.
    EXPECT_TRUE(QFile::exists(work + QStringLiteral("/检查.xlsx")));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID='zhao' and 所属组='/设计组/装配组/'")),
              1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM出库图纸信息 where 出库帐号='zhang'")), 0)
        << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Both, CliExamples, kBothBackends, BackendName);
