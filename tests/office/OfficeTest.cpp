// The office that scripts/run.sh brings up, driven as run.sh drives it, then used through the dialogs
// as a newcomer would after the first start.
#include "TestSupport.h"

#include "accounts/AdminRecord.h"
#include "app/Forms.h"
#include "library/ui/FrmMultiOutLib.h"
#include "shell/ui/FrmLogin.h"
#include "shell/ui/FrmMain.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace velda;
using namespace velda::test;

namespace {

template <typename T> T* child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c)
        ADD_FAILURE() << "no control " << name;
    return c;
}

// Below the test run's folder when there is one, so that the run's cleanup finds the office's servers
// even if this program dies; open to the postgres account, which runs the cluster under root.
QString OfficeBase() {
    const QString run = qEnvironmentVariable("VELDA_TEST_RUN_DIR");
    return (run.isEmpty() ? QDir::tempPath() : run) + QStringLiteral("/office-XXXXXX");
}

class Office : public ::testing::Test {
protected:
    Office() { QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ExeGroup); }
    QTemporaryDir dir{OfficeBase()};
    QString config() const { return dir.path() + QStringLiteral("/velda.ini"); }
    QString data() const { return dir.path() + QStringLiteral("/data"); }

    // office.sh with this test's configuration and data folder; its output is the failure text.
    int office(const QStringList& args, QString* output = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELDA_CONFIG"), config());
        env.insert(QStringLiteral("VELDA_DATA_DIR"), data());
        env.insert(QStringLiteral("VELDA_BIN"), QStringLiteral(VELDA_BIN_DIR));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), QStringList{QStringLiteral(VELDA_OFFICE_SCRIPT)} + args);
        p.waitForFinished(180000);
        const QString out = QString::fromUtf8(p.readAll());
        if (output)
            *output = out;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // Processes whose command line names this office's folder (the FTP server) or its cluster.
    QStringList officeProcesses() {
        QStringList found;
        const QString office = data() + QStringLiteral("/office/");
        QString cluster = QFile::symLinkTarget(data() + QStringLiteral("/office/pg"));
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (!pid.toInt())
                continue;
            QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString line = QString::fromUtf8(f.readAll().replace('\0', ' '));
            if (line.contains(office) || (!cluster.isEmpty() && line.contains(cluster + QLatin1Char('/'))))
                found << line;
        }
        return found;
    }

    void TearDown() override { office({QStringLiteral("purge")}); }
};

TEST_F(Office, ComesUpLogsInChecksInAndOutAndGoesAwayWithTheLastProgram) {
    ASSERT_TRUE(dir.isValid());
    QString out;
    ASSERT_EQ(office({QStringLiteral("up")}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("已记录本机的FTP帐号密码"))) << out.toStdString();
    // The FTP password is handed over in a file of the user's own: no command line shows it.
    {
        QFile conf(data() + QStringLiteral("/office/office.conf"));
        ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
        const QString password = QString::fromUtf8(conf.readAll())
                                     .section(QStringLiteral("FTP_PASSWORD="), 1)
                                     .section(QLatin1Char('\n'), 0, 0);
        ASSERT_GE(password.size(), 12);
        const QStringList running = officeProcesses();
        ASSERT_FALSE(running.isEmpty());
        for (const QString& line : running)
            EXPECT_FALSE(line.contains(password)) << line.toStdString();
        const QString file = data() + QStringLiteral("/office/ftp.password");
        EXPECT_TRUE(QFile::exists(file));
        EXPECT_EQ((QFile::permissions(file) & 0x0077).toInt(), 0) << "readable by others";
    }
    // A second start reuses everything and changes nothing.
    ASSERT_EQ(office({QStringLiteral("up")}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.trimmed().isEmpty()) << out.toStdString();
    ASSERT_EQ(office({QStringLiteral("join"), QString::number(QCoreApplication::applicationPid())}), 0);

    const Configuration cfg(config());
    ASSERT_TRUE(cfg.ReadServerAddress().startsWith(QStringLiteral("127.0.0.1:")));
    RecordingFeedback feedback;
    SystemClock clock;
    // The program started by run.sh sees the same data folder as the script.
    qputenv("VELDA_DATA_DIR", data().toUtf8());
    {
        Session session(feedback, clock, cfg, ProgramPaths::detect(cfg), VolumeSerialHex(ReadMachineSerial()));
        ASSERT_EQ(session.paths().dataFolder, data());

        FrmLogin login(session);
        login.show();
        login.Form_Load();
        QSignalSpy spy(&login, &FrmLogin::loggedIn);
        child<QLineEdit>(login, "TxtUser")->setText(QStringLiteral("admin"));
        child<QLineEdit>(login, "TxtPwd")->setText(QStringLiteral("admin"));
        child<QComboBox>(login, "CboGrp")->setCurrentText(QStringLiteral("admin"));
        QTest::mouseClick(child<QPushButton>(login, "CmdAct"), Qt::LeftButton);
        ASSERT_EQ(spy.count(), 1) << (feedback.boxes.empty() ? "" : feedback.last().text.toStdString());
        EXPECT_EQ(session.ctx.VolumeName, QStringLiteral("本机"));

        FrmMain main(session, ProgramForms());
        main.show();
        EXPECT_EQ(child<QLabel>(main, "StatusServer")->text(),
                  QStringLiteral("数据库服务器：") + cfg.ReadServerAddress());
        // Both of the office's servers speak TLS: the database at once, the volume's once its first
        // connection pinned the key.
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(main, "StatusLock")->text(), QStringLiteral("数据库与文件传输均已加密"),
                                  15000);
        EXPECT_TRUE(child<QLabel>(main, "StatusLockIcon")->isVisible());
        main.RunCommand(QStringLiteral("InLibDrawing"));
        QWidget* in = main.openForm(QStringLiteral("FrmLibDrawing"));
        ASSERT_TRUE(in) << (feedback.boxes.empty() ? "" : feedback.last().text.toStdString());
        const QString drawing = dir.path() + QStringLiteral("/first.dwg");
        {
            QFile f(drawing);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("first drawing");
        }
        session.db().exec(QStringLiteral("insert into 零件信息 (代号, 名称) values ('OFFICE-1', '轴')"));
        child<QLineEdit>(*in, "TxtCode")->setText(QStringLiteral("OFFICE-1"));
        feedback.fileAnswers = {drawing};
        QTest::mouseClick(child<QLineEdit>(*in, "TxtName"), Qt::LeftButton);
        feedback.clear();
        QTest::mouseClick(child<QPushButton>(*in, "CmdInLib"), Qt::LeftButton);
        ASSERT_FALSE(feedback.boxes.empty());
        EXPECT_EQ(feedback.last().text, QStringLiteral("入库完毕！"));

        main.RunCommand(QStringLiteral("OutLibByPart"));
        auto* outForm = qobject_cast<FrmMultiOutLib*>(main.openForm(QStringLiteral("FrmMultiOutLib")));
        ASSERT_TRUE(outForm);
        child<QComboBox>(*outForm, "CboAttr")->setCurrentText(QStringLiteral("代号"));
        child<QComboBox>(*outForm, "CboSym")->setCurrentText(QStringLiteral("="));
        child<QLineEdit>(*outForm, "TxtAttr")->setText(QStringLiteral("OFFICE-1"));
        QTest::mouseClick(child<QPushButton>(*outForm, "CmdAdd"), Qt::LeftButton);
        const QString target = dir.path() + QStringLiteral("/out");
        QDir().mkpath(target);
        outForm->selectFolder(target);
        feedback.clear();
        QTest::mouseClick(child<QPushButton>(*outForm, "CmdOutLib"), Qt::LeftButton);
        ASSERT_FALSE(feedback.boxes.empty());
        EXPECT_EQ(feedback.last().text, QStringLiteral("出库完成，共需出库图纸1张，有效出库数量为：1张！"));
        QFile back(target + QStringLiteral("/OFFICE-1.dwg"));
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), QByteArray("first drawing"));
        session.disconnect();
    }
    qunsetenv("VELDA_DATA_DIR");

    // Another program still counted keeps the servers; the last one leaving stops them.
    EXPECT_FALSE(officeProcesses().isEmpty());
    QProcess other;
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted());
    const QString otherPid = QString::number(other.processId());
    ASSERT_EQ(office({QStringLiteral("join"), otherPid}), 0);
    ASSERT_EQ(office({QStringLiteral("leave"), QString::number(QCoreApplication::applicationPid())}), 0);
    EXPECT_FALSE(officeProcesses().isEmpty());
    other.kill();
    other.waitForFinished();
    ASSERT_EQ(office({QStringLiteral("leave"), otherPid}), 0);
    EXPECT_EQ(officeProcesses(), QStringList()) << "servers left running";
}

} // namespace
