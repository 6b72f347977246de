// velda-cli run as a separate program against real databases and a real FTP server: exit codes,
// messages, what it changes, and that it writes the log rows the dialogs write.
#include "LibraryFixture.h"

#include "accounts/AdminRecord.h"
#include "accounts/Groups.h"
#include "accounts/LoginLock.h"
#include "accounts/Users.h"
#include "core/ActivityLog.h"
#include "core/Condition.h"
#include "core/GateText.h"
#include "items/ItemRecords.h"
#include "items/ItemSearch.h"
#include "items/RecordExport.h"
#include "library/Batch.h"
#include "library/DrawingHistory.h"
#include "library/VolumeCheck.h"
#include "library/ui/FrmDeletedDrawings.h"
#include "library/ui/FrmDrawingHistory.h"
#include "shell/Login.h"
#include "structure/WhereUsed.h"
#include "transfer/Volumes.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

namespace velda::test {
namespace {

struct CliResult {
    int code = -1;
    QString out;
    QString err;
};

class CliTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure() || IsSkipped() || !env)
            return;
        // The record of the machine the program runs on, as the administrator would have made it.
        WriteAdminPassword(env->db(), VolumeSerialHex(ReadMachineSerial()), ftp->password());
    }

    bool server() const { return env->backend == Backend::PostgreSQL; }

    CliResult cli(const QStringList& args, const QString& user = QStringLiteral("admin"),
                  const QString& group = QStringLiteral("admin"), const QString& password = QStringLiteral("admin"),
                  bool withLogin = true) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("VELDA_CONFIG"), env->session->config().filePath());
        e.insert(QStringLiteral("VELDA_DATA_DIR"), env->session->paths().dataFolder);
        e.remove(QStringLiteral("VELDA_PASSWORD"));
        if (!password.isNull())
            e.insert(QStringLiteral("VELDA_PASSWORD"), password);
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(env->dir.path());
        QStringList all;
        if (withLogin) {
            all << QStringLiteral("--user") << user << QStringLiteral("--group") << group;
            // The local file is reached through the configuration, the server through the option.
            if (server())
                all << QStringLiteral("--server") << env->address << QStringLiteral("--database") << env->pgDatabase;
        }
        all << args;
        p.start(QStringLiteral(VELDA_CLI), all);
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "velda-cli did not end: " << all.join(QLatin1Char(' ')).toStdString();
        }
        CliResult r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // ID and word of each log row of a code, in the order written.
    QStringList logOf(const QString& code) {
        QSqlQuery q = env->db().exec(QStringLiteral("select ID,方式 from PDM日志 where 代号=? order by 序号"), {code});
        QStringList out;
        while (q.next())
            out << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString();
        return out;
    }
    int logins(const QString& user) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where ID=? and 方式=?"), {user, LogWord::Login});
    }
    QString localFolder(const QString& name) {
        const QString path = env->dir.path() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }
    QByteArray storedContent(const QString& code) {
        return stored(QStringLiteral("Volume/") + column(code, QStringLiteral("目录名称")) + QLatin1Char('/') +
                      column(code, QStringLiteral("入库文件名称")));
    }
    // A drawing checked in three times, deleted, and brought back at each of its versions, byte for
    // byte: from the windows, then (where the program reaches the file server) from velda-cli.
    void threeVersionsComeBack() {
        const QString code = QStringLiteral("T/3");
        std::vector<QByteArray> contents;
        for (int k = 0; k < 3; ++k) {
            QByteArray c(70000 + k, '\0');
            for (int i = 0; i < c.size(); ++i)
                c[i] = char((i * (k + 7)) % 256); // every byte value, line ends and NUL among them
            contents.push_back(c);
            ASSERT_TRUE(checkInAsAdmin(code, c).done());
        }
        DrawingHistory history(*env->session, runner());
        std::vector<VersionRow> v;
        ASSERT_TRUE(history.Versions(code, v).done());
        ASSERT_EQ(v.size(), 3u);
        const std::vector<qint64> numbers{v[2].number, v[1].number, v[0].number}; // oldest first
        ASSERT_TRUE(library().Delete(code).done());

        FrmDeletedDrawings deleted(*env->session);
        auto* gone = deleted.findChild<QTableWidget*>(QStringLiteral("LstDeleted"));
        ASSERT_EQ(gone->rowCount(), 1);
        gone->selectRow(0);
        QTest::mouseClick(deleted.findChild<QPushButton*>(QStringLiteral("CmdRestore")), Qt::LeftButton);
        EXPECT_EQ(storedContent(code), contents[2]);

        FrmDrawingHistory window(*env->session);
        window.ShowCode(code);
        auto* list = window.findChild<QTableWidget*>(QStringLiteral("LstVersions"));
        const QString folder = localFolder(QStringLiteral("window"));
        for (int k = 0; k < 3; ++k) {
            const auto row = list->findItems(QString::number(numbers[size_t(k)]), Qt::MatchExactly);
            ASSERT_EQ(row.size(), 1);
            list->selectRow(row[0]->row());
            env->feedback.fileAnswers = {folder + QStringLiteral("/x.dwg")};
            QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("CmdFetch")), Qt::LeftButton);
            EXPECT_EQ(read(folder + QLatin1Char('/') + DrawingHistory::FetchName(code, numbers[size_t(k)])),
                      contents[size_t(k)]);
            env->feedback.questionAnswers = {true};
            QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("CmdRestore")), Qt::LeftButton);
            EXPECT_EQ(storedContent(code), contents[size_t(k)]) << "restored from the window: " << k;
        }
        if (!server())
            return; // the local database reaches no file server from velda-cli
        ASSERT_EQ(cli({QStringLiteral("delete"), code}).code, 0);
        ASSERT_EQ(cli({QStringLiteral("undelete"), code}).code, 0);
        EXPECT_EQ(storedContent(code), contents[2]);
        const QString to = localFolder(QStringLiteral("cli"));
        for (int k = 0; k < 3; ++k) {
            const QString n = QString::number(numbers[size_t(k)]);
            const CliResult r =
                cli({QStringLiteral("checkout"), code, QStringLiteral("--version"), n, QStringLiteral("--to"), to});
            ASSERT_EQ(r.code, 0) << r.err.toStdString();
            EXPECT_EQ(read(to + QLatin1Char('/') + DrawingHistory::FetchName(code, numbers[size_t(k)])),
                      contents[size_t(k)]);
            ASSERT_EQ(cli({QStringLiteral("restore"), code, n}).code, 0);
            EXPECT_EQ(storedContent(code), contents[size_t(k)]) << "restored from velda-cli: " << k;
        }
    }
    static QList<QJsonObject> jsonLines(const QString& out) {
        QList<QJsonObject> objects;
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            objects << QJsonDocument::fromJson(line.toUtf8()).object();
        return objects;
    }
};

TEST_P(CliTest, CheckInOutAndDeleteLikeTheDialog) {
    const QString file = drawing(QStringLiteral("A-1.dwg"), "first");
    CliResult r = cli({QStringLiteral("checkin"), QStringLiteral("A-1"), file});
    if (!server()) {
        // The local database has no file server: the menu's gate says so, and nothing is written.
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(GateText::FileServer)) << r.err.toStdString();
        EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 0);
        EXPECT_EQ(cli({QStringLiteral("checkout"), QStringLiteral("A-1")}).code, 1);
        EXPECT_EQ(cli({QStringLiteral("delete"), QStringLiteral("A-1")}).code, 1);
        EXPECT_EQ(logOf(QStringLiteral("A-1")), QStringList());
        return;
    }
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(LibraryText::CheckedIn)) << r.err.toStdString();
    EXPECT_EQ(storedContent(QStringLiteral("A-1")), QByteArray("first"));
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("正常"));

    const QString to = localFolder(QStringLiteral("out"));
    r = cli({QStringLiteral("--json"), QStringLiteral("checkout"), QStringLiteral("A-1"), QStringLiteral("--to"), to});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(read(to + QStringLiteral("/A-1.dwg")), QByteArray("first"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);
    const QList<QJsonObject> json = jsonLines(r.out);
    ASSERT_EQ(json.size(), 1) << r.out.toStdString();
    EXPECT_EQ(json[0].value(QStringLiteral("result")).toString(), QStringLiteral("done"));
    EXPECT_EQ(json[0].value(QStringLiteral("file")).toString(), to + QStringLiteral("/A-1.dwg"));

    // Deleting a drawing that is out is refused, as in the dialog.
    r = cli({QStringLiteral("delete"), QStringLiteral("A-1")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(LibraryText::DeleteWhileOut)) << r.err.toStdString();

    // The holder checks it in again; that ends his hold.
    r = cli({QStringLiteral("checkin"), QStringLiteral("A-1"), drawing(QStringLiteral("A-1.dwg"), "second")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(storedContent(QStringLiteral("A-1")), QByteArray("second"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);

    r = cli({QStringLiteral("delete"), QStringLiteral("A-1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='A-1'")), 0);
    EXPECT_EQ(volumeFiles(QStringLiteral("V1")), QStringList());

    // The same rows, in the same order, as the dialogs' operations write for another code.
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    const QString list = Acl::DefaultList(QStringLiteral("admin"), QStringLiteral("admin"));
    Acl::SetPending(env->session->ctx, list, list, list, list);
    ASSERT_TRUE(library().CheckIn(QStringLiteral("B-1"), drawing(QStringLiteral("B-1.dwg"), "x")).done());
    ASSERT_TRUE(library().CheckOut(QStringLiteral("B-1"), env->dir.path() + QStringLiteral("/B-1.dwg")).done());
    ASSERT_TRUE(library().CheckIn(QStringLiteral("B-1"), drawing(QStringLiteral("B-1.dwg"), "y")).done());
    ASSERT_TRUE(library().Delete(QStringLiteral("B-1")).done());
    EXPECT_EQ(logOf(QStringLiteral("A-1")), logOf(QStringLiteral("B-1")));
    EXPECT_EQ(logOf(QStringLiteral("A-1")).size(), 4);
    // Every run logs in once, as the login dialog does.
    EXPECT_EQ(logins(QStringLiteral("admin")), 5);
}

TEST_P(CliTest, RefusalsMissingFilesAndFailuresHaveTheirExitCodes) {
    if (!server()) {
        EXPECT_EQ(cli({QStringLiteral("checkin"), QStringLiteral("C-1"), QStringLiteral("/no/such.dwg")}).code, 1);
        return;
    }
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("C-1"), "admin's").done());

    // alice may read but not write.
    CliResult r = cli({QStringLiteral("checkin"), QStringLiteral("C-1"), drawing(QStringLiteral("C-1.dwg"), "alice's")},
                      QStringLiteral("alice"), QStringLiteral("design"), QStringLiteral("pw"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(LibraryText::NoWriteRight)) << r.err.toStdString();
    EXPECT_EQ(storedContent(QStringLiteral("C-1")), QByteArray("admin's"));
    EXPECT_EQ(logOf(QStringLiteral("C-1")), QStringList{QStringLiteral("admin|图纸入库")});

    // A file that is not there: nothing stored, nothing logged.
    r = cli({QStringLiteral("checkin"), QStringLiteral("C-2"), env->dir.path() + QStringLiteral("/missing.dwg")});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("不存在"))) << r.err.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息 where 代号='C-2'")), 0);
    EXPECT_EQ(logOf(QStringLiteral("C-2")), QStringList());

    // A code that is not in the library.
    r = cli(
        {QStringLiteral("checkout"), QStringLiteral("NOPE"), QStringLiteral("--to"), localFolder(QStringLiteral("o"))});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(LibraryText::NotInLibrary)) << r.err.toStdString();

    // The file server gone: a failure, and the row still points at its file.
    ftp->stop();
    r = cli({QStringLiteral("checkin"), QStringLiteral("C-1"), drawing(QStringLiteral("C-1.dwg"), "new")});
    EXPECT_EQ(r.code, 3) << r.err.toStdString();
    ftp->start();
    EXPECT_EQ(storedContent(QStringLiteral("C-1")), QByteArray("admin's"));
}

TEST_P(CliTest, LoginAndUsageFaults) {
    CliResult r =
        cli({QStringLiteral("holds")}, QStringLiteral("admin"), QStringLiteral("admin"), QStringLiteral("bad"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(kLoginRefused)) << r.err.toStdString();
    // A group the account is not a member of.
    EXPECT_EQ(
        cli({QStringLiteral("holds")}, QStringLiteral("alice"), QStringLiteral("team"), QStringLiteral("pw")).code, 1);

    EXPECT_EQ(cli({}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("frobnicate")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("checkin"), QStringLiteral("ONLY-CODE")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("find")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("holds"), QStringLiteral("--bogus")}).code, 2);
    r = cli({QStringLiteral("--password"), QStringLiteral("admin"), QStringLiteral("holds")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("VELDA_PASSWORD"))) << r.err.toStdString();
    // No password anywhere.
    r = cli({QStringLiteral("holds")}, QStringLiteral("admin"), QStringLiteral("admin"), QString());
    EXPECT_EQ(r.code, 2);
    // The password from a file, its line end not part of it.
    const QString pwFile = env->dir.path() + QStringLiteral("/pw.txt");
    {
        QFile f(pwFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("admin\n");
    }
    r = cli({QStringLiteral("--password-file"), pwFile, QStringLiteral("holds")}, QStringLiteral("admin"),
            QStringLiteral("admin"), QString());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(logins(QStringLiteral("admin")), 1);
    // A password is one short line: a file without a line end is refused, not read to its end (the
    // long file comes first, so that a reader without a bound fails there and never meets /dev/zero).
    const QString longFile = env->dir.path() + QStringLiteral("/long.txt");
    {
        QFile f(longFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'a'));
    }
    for (const QString& file : {longFile, QStringLiteral("/dev/zero")}) {
        r = cli({QStringLiteral("--password-file"), file, QStringLiteral("holds")}, QStringLiteral("admin"),
                QStringLiteral("admin"), QString());
        ASSERT_EQ(r.code, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("密码文件%1的第一行超过4096字节").arg(file))) << r.err.toStdString();
    }

    // Help in Chinese, without logging in.
    r = cli({QStringLiteral("--help")}, {}, {}, {}, false);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("示例"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("checkout --where")));

    // No server where one is named: a failure, not a refusal.
    r = cli({QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(UnusedLoopbackPort()),
             QStringLiteral("--user"), QStringLiteral("admin"), QStringLiteral("--group"), QStringLiteral("admin"),
             QStringLiteral("holds")},
            {}, {}, QStringLiteral("admin"), false);
    EXPECT_EQ(r.code, 3) << r.err.toStdString();
}

TEST_P(CliTest, FindShowAndBadConditions) {
    ItemEntry entry;
    entry.code = QStringLiteral("GB-01");
    entry.part = {QStringLiteral("轴"), QStringLiteral("1.5"), QStringLiteral("45")};
    entry.drawing.design = QStringLiteral("王");
    entry.drawing.scale = QStringLiteral("1:1");
    ASSERT_TRUE(AddItemRecords(*env->session, entry).done());
    entry.code = QStringLiteral("GB-02");
    entry.drawing.design = QStringLiteral("李");
    ASSERT_TRUE(AddItemRecords(*env->session, entry).done());

    CliResult r = cli({QStringLiteral("find"), QStringLiteral("--where"), QStringLiteral("设计 = '王' ")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("GB-01\n"));
    r = cli({QStringLiteral("--json"), QStringLiteral("find"), QStringLiteral("--by-part"), QStringLiteral("--where"),
             QStringLiteral("代号 like 'GB%' ")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QJsonObject> found = jsonLines(r.out);
    ASSERT_EQ(found.size(), 2) << r.out.toStdString();
    EXPECT_EQ(found[0].value(QStringLiteral("code")).toString(), QStringLiteral("GB-01"));
    EXPECT_EQ(found[1].value(QStringLiteral("code")).toString(), QStringLiteral("GB-02"));

    // Something that is not a plain condition never reaches the database.
    r = cli({QStringLiteral("find"), QStringLiteral("--where"), QStringLiteral("1=1; delete from 零件信息")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(ConditionText::Refused)) << r.err.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息")), 2);
    r = cli({QStringLiteral("find"), QStringLiteral("--where"), QStringLiteral("密码 = 'admin'")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("find"), QStringLiteral("--where"), QString()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(ConditionText::EmptyCondition)) << r.err.toStdString();
    r = cli({QStringLiteral("find"), QStringLiteral("--where"), QStringLiteral("设计 = '赵' ")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(ConditionText::NoRows)) << r.err.toStdString();

    r = cli({QStringLiteral("--json"), QStringLiteral("show"), QStringLiteral("GB-01")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QJsonObject> shown = jsonLines(r.out);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].value(QStringLiteral("名称")).toString(), QStringLiteral("轴"));
    EXPECT_EQ(shown[0].value(QStringLiteral("设计")).toString(), QStringLiteral("王"));
    EXPECT_EQ(shown[0].value(QStringLiteral("library")).toString(), SeekText::NotInLibrary);
    // The detail view's log row.
    EXPECT_EQ(logOf(QStringLiteral("GB-01")),
              (QStringList{QStringLiteral("admin|添加图纸信息"), QStringLiteral("admin|浏览图纸信息")}));

    // The batch check-out's condition is checked the same way.
    r = cli({QStringLiteral("checkout"), QStringLiteral("--where"), QStringLiteral("代号 = 'GB-01' or 1=1 --"),
             QStringLiteral("--to"), localFolder(QStringLiteral("batch"))});
    EXPECT_EQ(r.code, 1);
    if (server()) {
        EXPECT_TRUE(r.err.contains(ConditionText::Refused)) << r.err.toStdString();
    }
    EXPECT_TRUE(QDir(localFolder(QStringLiteral("batch"))).isEmpty());
}

TEST_P(CliTest, BatchCheckInAndOut) {
    const QString folder = localFolder(QStringLiteral("project"));
    for (const char* name : {"P-1.dwg", "P-2.DWG", "sub/P-3.dwg"}) {
        const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(name));
    }
    CliResult r = cli({QStringLiteral("--json"), QStringLiteral("checkin"), QStringLiteral("--folder"), folder});
    if (!server()) {
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(GateText::FileServer));
        return;
    }
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QList<QJsonObject> json = jsonLines(r.out);
    ASSERT_EQ(json.size(), 1);
    EXPECT_EQ(json[0].value(QStringLiteral("processed")).toInt(), 2);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM入库图纸信息")), 2);

    r = cli({QStringLiteral("checkin"), QStringLiteral("--folder"), folder, QStringLiteral("--recursive")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(storedContent(QStringLiteral("P-3")), QByteArray("sub/P-3.dwg"));
    EXPECT_EQ(logOf(QStringLiteral("P-1")),
              (QStringList{QStringLiteral("admin|图纸入库"), QStringLiteral("admin|图纸入库")}));

    // A batch check-out by condition over the drawing records.
    ItemEntry entry;
    entry.part.name = QStringLiteral("件");
    entry.drawing.scale = QStringLiteral("1:1");
    for (const char* code : {"P-1", "P-3"}) {
        entry.code = QString::fromLatin1(code);
        ASSERT_TRUE(AddItemRecords(*env->session, entry).done());
    }
    const QString to = localFolder(QStringLiteral("fetched"));
    r = cli({QStringLiteral("checkout"), QStringLiteral("--where"), QStringLiteral("代号 like 'P%' "),
             QStringLiteral("--to"), to},
            QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw"));
    // bob holds no rights on admin's drawings: both refused, nothing written, no hold taken.
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_EQ(checkouts(QStringLiteral("P-1")), 0);
    r = cli({QStringLiteral("checkout"), QStringLiteral("--where"), QStringLiteral("代号 like 'P%' "),
             QStringLiteral("--to"), to});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(read(to + QStringLiteral("/P-1.dwg")), QByteArray("P-1.dwg"));
    EXPECT_EQ(read(to + QStringLiteral("/P-3.dwg")), QByteArray("sub/P-3.dwg"));
    EXPECT_FALSE(QFileInfo::exists(to + QStringLiteral("/P-2.dwg")));

    r = cli({QStringLiteral("--json"), QStringLiteral("holds")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    json = jsonLines(r.out);
    ASSERT_EQ(json.size(), 2) << r.out.toStdString();
    EXPECT_EQ(json[0].value(QStringLiteral("holder")).toString(), QStringLiteral("admin"));
}

TEST_P(CliTest, HistoryFetchRestoreDeletedAndUndelete) {
    const QString code = QStringLiteral("V-1");
    CliResult r = cli({QStringLiteral("checkin"), code, drawing(QStringLiteral("v1.dwg"), "one"),
                       QStringLiteral("--comment"), QStringLiteral("第一版")});
    if (!server()) {
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(GateText::FileServer));
        return;
    }
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({QStringLiteral("checkin"), code, drawing(QStringLiteral("v2.dwg"), "two"), QStringLiteral("--comment"),
             QString(2001, QLatin1Char('x'))});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("最多2000个字"))) << r.err.toStdString();
    ASSERT_EQ(cli({QStringLiteral("checkin"), code, drawing(QStringLiteral("v2.dwg"), "two")}).code, 0);

    r = cli({QStringLiteral("--json"), QStringLiteral("history"), code});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QJsonObject> versions = jsonLines(r.out);
    ASSERT_EQ(versions.size(), 2);
    const qint64 first = versions[1].value(QStringLiteral("version")).toInteger();
    EXPECT_GT(versions[0].value(QStringLiteral("version")).toInteger(), first);
    EXPECT_EQ(versions[1].value(QStringLiteral("comment")).toString(), QStringLiteral("第一版"));
    EXPECT_EQ(versions[1].value(QStringLiteral("user")).toString(), QStringLiteral("admin"));
    EXPECT_EQ(versions[1].value(QStringLiteral("size")).toInt(), 3);
    EXPECT_EQ(versions[1].value(QStringLiteral("sha256")).toString(),
              QString::fromLatin1(QCryptographicHash::hash("one", QCryptographicHash::Sha256).toHex()));
    EXPECT_FALSE(versions[1].value(QStringLiteral("time")).toString().isEmpty());

    const QString to = localFolder(QStringLiteral("versions"));
    r = cli({QStringLiteral("checkout"), code, QStringLiteral("--version"), QString::number(first),
             QStringLiteral("--to"), to});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(read(to + QStringLiteral("/V-1-v%1.dwg").arg(first)), QByteArray("one"));
    EXPECT_EQ(checkouts(code), 0);

    ASSERT_EQ(cli({QStringLiteral("restore"), code, QString::number(first)}).code, 0);
    EXPECT_EQ(storedContent(code), QByteArray("one"));
    ASSERT_EQ(cli({QStringLiteral("delete"), code}).code, 0);
    r = cli({QStringLiteral("--json"), QStringLiteral("deleted")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_EQ(jsonLines(r.out).size(), 1);
    EXPECT_EQ(jsonLines(r.out)[0].value(QStringLiteral("code")).toString(), code);
    EXPECT_EQ(
        cli({QStringLiteral("deleted")}, QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw")).code,
        1);
    ASSERT_EQ(cli({QStringLiteral("undelete"), code}).code, 0);
    EXPECT_EQ(storedContent(code), QByteArray("one"));
    EXPECT_EQ(cli({QStringLiteral("undelete"), code}).code, 1);
    EXPECT_EQ(cli({QStringLiteral("restore"), code, QStringLiteral("x")}).code, 2);

    EXPECT_EQ(cli({QStringLiteral("keep-versions"), QStringLiteral("3")}, QStringLiteral("bob"),
                  QStringLiteral("design"), QStringLiteral("pw"))
                  .code,
              1);
    ASSERT_EQ(cli({QStringLiteral("keep-versions"), QStringLiteral("3")}).code, 0);
    r = cli({QStringLiteral("--json"), QStringLiteral("keep-versions")});
    EXPECT_EQ(jsonLines(r.out).value(0).value(QStringLiteral("keepVersions")).toInt(), 3) << r.out.toStdString();
}

TEST_P(CliTest, LogIsForAdministrators) {
    CliResult r = cli({QStringLiteral("log"), QStringLiteral("--where"), QStringLiteral("方式 = '用户登录' ")},
                      QStringLiteral("alice"), QStringLiteral("design"), QStringLiteral("pw"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(GateText::Administrator)) << r.err.toStdString();

    r = cli(
        {QStringLiteral("--json"), QStringLiteral("log"), QStringLiteral("--where"), QStringLiteral("ID = 'alice' ")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QJsonObject> rows = jsonLines(r.out);
    ASSERT_EQ(rows.size(), 1) << r.out.toStdString();
    EXPECT_EQ(rows[0].value(QStringLiteral("word")).toString(), LogWord::Login);

    r = cli({QStringLiteral("log"), QStringLiteral("--where"), QStringLiteral("序号 > 0; drop table PDM日志")});
    EXPECT_EQ(r.code, 1);
    EXPECT_GT(env->count(QStringLiteral("select count(*) from PDM日志")), 0);
}

TEST_P(CliTest, VolumeCheckListsFindingsAndCaresOnlyWhenAsked) {
    if (!server()) {
        EXPECT_EQ(cli({QStringLiteral("volume-check")}).code, 1);
        return;
    }
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "aaa").done());
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("B-2"), "bbb").done());
    const QString v1 = QStringLiteral("Volume/V1/");
    ASSERT_TRUE(QFile::remove(ftp->localPath(v1 + column(QStringLiteral("B-2"), QStringLiteral("入库文件名称")))));
    auto put = [&](const QString& name, qint64 ageSeconds) {
        QFile f(ftp->localPath(v1 + name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.flush();
        ASSERT_TRUE(
            f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    };
    const QString orphan = QStringLiteral("20200101X-9.dwg");
    const QString oldPart = QStringLiteral(".20200101C-3.dwg.1a2b.part");
    put(orphan, 86400);
    put(oldPart, 7200);

    // Administrators only, and a volume that is not there is refused.
    EXPECT_EQ(
        cli({QStringLiteral("volume-check")}, QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw"))
            .code,
        1);
    CliResult r = cli({QStringLiteral("volume-check"), QStringLiteral("V9")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("V9"))) << r.err.toStdString();

    // Listing alone changes nothing on the server.
    r = cli({QStringLiteral("--json"), QStringLiteral("volume-check"), QStringLiteral("V1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList kinds;
    for (const QJsonObject& o : jsonLines(r.out))
        kinds << o.value(QStringLiteral("kind")).toString() + QLatin1Char('|') +
                     o.value(QStringLiteral("code")).toString() + QLatin1Char('|') +
                     o.value(QStringLiteral("file")).toString();
    EXPECT_EQ(kinds.size(), 3) << kinds.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(kinds.filter(QStringLiteral("|B-2|")).size() == 1);
    EXPECT_TRUE(kinds.filter(orphan).size() == 1);
    EXPECT_TRUE(kinds.filter(oldPart).size() == 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("缺失文件1个"))) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(ftp->localPath(v1 + orphan)));
    EXPECT_TRUE(QFile::exists(ftp->localPath(v1 + oldPart)));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式=?"), {VolumeCheckText::LogCheck}), 1);

    // The flags are the confirmation: the leftover goes, the orphan moves, the drawings stay.
    const QString exported = env->dir.path() + QStringLiteral("/check.txt");
    r = cli({QStringLiteral("volume-check"), QStringLiteral("--clean"), QStringLiteral("--move-orphans"),
             QStringLiteral("--export"), exported});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 3) << r.out.toStdString();
    EXPECT_TRUE(read(exported).contains(orphan.toUtf8()));
    EXPECT_FALSE(QFile::exists(ftp->localPath(v1 + oldPart)));
    EXPECT_FALSE(QFile::exists(ftp->localPath(v1 + orphan)));
    EXPECT_TRUE(QFile::exists(ftp->localPath(v1 + VolumeCheckText::OrphanFolder + QLatin1Char('/') + orphan)));
    EXPECT_EQ(storedContent(QStringLiteral("A-1")), QByteArray("aaa"));

    // A volume whose server is gone: the check of the others still ends, with the failure's code.
    env->addVolume(QStringLiteral("V3"), QStringLiteral("127.0.0.1:1"));
    r = cli({QStringLiteral("volume-check")});
    EXPECT_EQ(r.code, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("V3"))) << r.err.toStdString();
}

TEST_P(CliTest, AdministrationSetsUpAnOffice) {
    // Not for ordinary users.
    CliResult r = cli({QStringLiteral("group"), QStringLiteral("add"), QStringLiteral("shop"), QStringLiteral("V1")},
                      QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(GateText::Administrator)) << r.err.toStdString();

    r = cli({QStringLiteral("group"), QStringLiteral("add"), QStringLiteral("shop"), QStringLiteral("V9")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("group"), QStringLiteral("add"), QStringLiteral("shop"), QStringLiteral("V1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(GroupVolumeName(*env->session, QStringLiteral("shop")), QStringLiteral("V1"));
    r = cli({QStringLiteral("group"), QStringLiteral("add"), QStringLiteral("shop"), QStringLiteral("V1")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("group"), QStringLiteral("set-volume"), QStringLiteral("shop"), QStringLiteral("V2")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(GroupVolumeName(*env->session, QStringLiteral("shop")), QStringLiteral("V2"));
    EXPECT_EQ(logOf(QStringLiteral("shop")), QStringList{QStringLiteral("admin|更改组存储目录")});

    const QString pw = env->dir.path() + QStringLiteral("/li.txt");
    {
        QFile f(pw);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("li-secret\r\n");
    }
    r = cli({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("li"), QStringLiteral("--password-file"), pw,
             QStringLiteral("--groups"), QStringLiteral("shop,user")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const auto account = LoadAccount(*env->session, QStringLiteral("li"));
    ASSERT_TRUE(account.has_value());
    EXPECT_EQ(account->password, QStringLiteral("li-secret"));
    // In the order the group list offers them, as the dialog hands them over.
    EXPECT_EQ(account->groups, QStringLiteral("/user/shop/"));
    r = cli({QStringLiteral("holds")}, QStringLiteral("li"), QStringLiteral("shop"), QStringLiteral("li-secret"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("li"), QStringLiteral("--password-file"), pw,
             QStringLiteral("--groups"), QStringLiteral("shop")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("wu"), QStringLiteral("--password-file"), pw,
             QStringLiteral("--groups"), QStringLiteral("nosuch")});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(LoadAccount(*env->session, QStringLiteral("wu")).has_value());
    r = cli({QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("admin")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("li")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(LoadAccount(*env->session, QStringLiteral("li")).has_value());

    const QString ftpPw = env->dir.path() + QStringLiteral("/ftp.txt");
    {
        QFile f(ftpPw);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ftp->password().toUtf8() + "\n");
    }
    const QString serial = VolumeSerialHex(ReadMachineSerial());
    env->db().exec(QStringLiteral("delete from PDM系统管理员信息"));
    r = cli({QStringLiteral("volume"), QStringLiteral("add"), QStringLiteral("V3"), ftp->address()});
    if (!server()) {
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(GateText::FileServer)) << r.err.toStdString();
        EXPECT_EQ(cli({QStringLiteral("admin-record"), QStringLiteral("--password-file"), ftpPw}).code, 1);
        return;
    }
    // No record on this machine yet: the volume commands need it.
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(GateText::AdminRecord)) << r.err.toStdString();
    r = cli({QStringLiteral("admin-record"), QStringLiteral("--password-file"), ftpPw});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(ReadAdminPassword(env->db(), serial), ftp->password());

    r = cli({QStringLiteral("volume"), QStringLiteral("add"), QStringLiteral("V3"), ftp->address()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(ftp->localPath(QStringLiteral("Volume/V3"))).isDir());
    r = cli({QStringLiteral("volume"), QStringLiteral("add"), QStringLiteral("V3"), ftp->address()});
    EXPECT_EQ(r.code, 1);
    // V2 still serves the group shop.
    r = cli({QStringLiteral("volume"), QStringLiteral("remove"), QStringLiteral("V2")});
    EXPECT_EQ(r.code, 1);
    r = cli({QStringLiteral("volume"), QStringLiteral("remove"), QStringLiteral("V3")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(ftp->localPath(QStringLiteral("Volume/V3"))));
    EXPECT_FALSE(FindVolume(env->db(), QStringLiteral("V3")).has_value());

    // The volume's encryption: a word the tool does not know, a server without TLS for "require".
    const QStringList v4{QStringLiteral("volume"), QStringLiteral("add"), QStringLiteral("V4"), ftp->address(),
                         QStringLiteral("--tls")};
    EXPECT_EQ(cli(v4 + QStringList{QStringLiteral("maybe")}).code, 2);
    r = cli(v4 + QStringList{QStringLiteral("require")});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("不提供加密连接"))) << r.err.toStdString();
    EXPECT_FALSE(FindVolume(env->db(), QStringLiteral("V4")).has_value());
    r = cli(v4 + QStringList{QStringLiteral("off")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(ReadVolumeTls(env->db(), QStringLiteral("V4")).mode, FtpTlsMode::Off);
}

// A locked name is unlocked by an administrator only; the cli's own login counts like the dialog's.
TEST_P(CliTest, UserUnlockEndsALockOut) {
    env->clock.set(QDateTime::currentDateTime()); // the tool keeps the wall's time
    for (int i = 0; i < 4; ++i)
        Login(*env->session, QStringLiteral("bob"), QStringLiteral("x"), QStringLiteral("design"));
    CliResult r = cli({QStringLiteral("holds")}, QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("x"));
    EXPECT_EQ(r.code, 1);
    ASSERT_TRUE(LoginLockedUntil(*env->session, QStringLiteral("bob")));
    r = cli({QStringLiteral("user"), QStringLiteral("unlock"), QStringLiteral("bob")}, QStringLiteral("carol"),
            QStringLiteral("design"), QStringLiteral("pw"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(GateText::Administrator)) << r.err.toStdString();
    r = cli({QStringLiteral("user"), QStringLiteral("unlock"), QStringLiteral("bob")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(LoginLockedUntil(*env->session, QStringLiteral("bob")));
    EXPECT_EQ(
        cli({QStringLiteral("holds")}, QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw")).code, 0);
}

// where-used prints the answer of the query that the 使用位置 window shows.
TEST_P(CliTest, WhereUsedPrintsTheQuerysAnswer) {
    int number = 0;
    for (const auto& [section, child, quantity] : std::vector<std::tuple<QString, QString, QString>>{
             {QStringLiteral("P1-01"), QStringLiteral("P1-A100"), QStringLiteral("2")},
             {QStringLiteral("P1-A100"), QStringLiteral("GB5782#M10#螺栓"), QStringLiteral("4")},
             {QStringLiteral("P5-100"), QStringLiteral("P5-200"), QStringLiteral("1")},
             {QStringLiteral("P5-200"), QStringLiteral("P5-100"), QStringLiteral("1")},
             {QStringLiteral("P5-200"), QStringLiteral("GB5782#M10#螺栓"), QStringLiteral("1")}})
        env->db().exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点数量, 结点编号) values (?, ?, ?, ?)"),
                       {section, child, quantity, ++number});
    CliResult r = cli({QStringLiteral("--json"), QStringLiteral("where-used"), QStringLiteral("GB5782")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QJsonObject> json = jsonLines(r.out);
    ASSERT_EQ(json.size(), 1);
    EXPECT_EQ(json[0], WhereUsedJson(FindWhereUsed(*env->session, QStringLiteral("GB5782"))));
    EXPECT_EQ(json[0].value(QStringLiteral("products")).toArray().size(), 1);
    EXPECT_TRUE(r.err.contains(WhereUsedText::Cycle.arg(QStringLiteral("P5-200")))) << r.err.toStdString();
    r = cli({QStringLiteral("where-used"), QStringLiteral("GB5782"), QStringLiteral("--depth"), QStringLiteral("1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, WhereUsedPlainText(FindWhereUsed(*env->session, QStringLiteral("GB5782"), 1)));
    EXPECT_EQ(cli({QStringLiteral("where-used")}).code, 2);
}

// A script does not replace or delete a used drawing unseen: the question is the refusal until --yes.
TEST_P(CliTest, ChangingAUsedDrawingNeedsYes) {
    if (!server())
        GTEST_SKIP() << "the local file has no file server";
    ASSERT_EQ(cli({QStringLiteral("checkin"), QStringLiteral("U-1"), drawing(QStringLiteral("U-1.dwg"), "one")}).code, 0);
    env->db().exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点数量, 结点编号) values ('P7-01', 'U-1', '1', 1)"));
    const QString second = drawing(QStringLiteral("U-1.dwg"), "two");
    CliResult r = cli({QStringLiteral("checkin"), QStringLiteral("U-1"), second});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("图纸<U-1>：P7"))) << r.err.toStdString();
    EXPECT_EQ(cli({QStringLiteral("delete"), QStringLiteral("U-1")}).code, 1);
    EXPECT_EQ(storedContent(QStringLiteral("U-1")), QByteArray("one"));
    EXPECT_EQ(cli({QStringLiteral("checkin"), QStringLiteral("U-1"), second, QStringLiteral("--yes")}).code, 0);
    EXPECT_EQ(storedContent(QStringLiteral("U-1")), QByteArray("two"));
    EXPECT_EQ(cli({QStringLiteral("delete"), QStringLiteral("U-1"), QStringLiteral("--yes")}).code, 0);
}

// The office's round trip: its records exported, edited, saved by LibreOffice as a workbook (numbers
// and dates become numbers), and imported back: the dry run shows just the edits, --update applies them.
TEST_P(CliTest, ImportShowsAndAppliesTheEditsOfALibreOfficeWorkbook) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        GTEST_SKIP() << "soffice is not installed";
    env->session->ctx.UserId = QStringLiteral("admin");
    for (const char* code : {"K-1", "K-2", "K-300"}) {
        ItemEntry e;
        e.code = QString::fromUtf8(code);
        e.part = {QStringLiteral("轴承座"), QStringLiteral("1.5"), QStringLiteral("45")};
        e.drawing = {QStringLiteral("张三"),
                     {},
                     {},
                     {},
                     {},
                     {},
                     QStringLiteral("2024/03/05"),
                     QStringLiteral("1:2"),
                     {},
                     QStringLiteral("A3"),
                     QStringLiteral("2"),
                     QStringLiteral("S")};
        ASSERT_TRUE(AddItemRecords(*env->session, e).done());
    }
    const QString csv = env->dir.path() + QStringLiteral("/records.csv");
    ASSERT_TRUE(ExportItemRecords(env->db(), csv).done());
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(f.readAll());
    f.close();
    text.replace(QStringLiteral("K-2,轴承座,1.5"), QStringLiteral("K-2,轴承盖,2.25"));
    text.replace(QStringLiteral("K-300,轴承座,1.5,45,张三"), QStringLiteral("K-300,轴承座,1.5,45,李四"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
    f.close();
    // Weight and date as LibreOffice reads them; the scale and the rest kept as text, as an office's list has them.
    const QString columns = QStringLiteral("1/2/2/2/3/1/4/2/5/2/6/2/7/2/8/2/9/2/10/2/11/1/12/2/13/2/14/2/15/1/16/2");
    const QString outDir = env->dir.path() + QStringLiteral("/lo");
    QProcess lo;
    lo.start(soffice,
             {QStringLiteral("-env:UserInstallation=file://") + env->dir.path() + QStringLiteral("/lo-profile"),
              QStringLiteral("--headless"), QStringLiteral("--infilter=CSV:44,34,76,1,") + columns,
              QStringLiteral("--convert-to"), QStringLiteral("xlsx"), QStringLiteral("--outdir"), outDir, csv});
    ASSERT_TRUE(lo.waitForFinished(180000));
    const QString book = outDir + QStringLiteral("/records.xlsx");
    ASSERT_TRUE(QFile::exists(book)) << lo.readAllStandardError().toStdString();

    CliResult r = cli({QStringLiteral("--json"), QStringLiteral("import"), book, QStringLiteral("--dry-run")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList seen;
    for (const QJsonObject& o : jsonLines(r.out)) {
        QStringList changes;
        for (const QJsonValue& c : o.value(QStringLiteral("changes")).toArray())
            changes << c[QStringLiteral("field")].toString() + QLatin1Char(':') +
                           c[QStringLiteral("before")].toString() + QLatin1Char('>') +
                           c[QStringLiteral("after")].toString();
        seen << o.value(QStringLiteral("code")).toString() + QLatin1Char(' ') +
                    o.value(QStringLiteral("verdict")).toString() + QLatin1Char(' ') + changes.join(QLatin1Char(','));
    }
    EXPECT_EQ(seen, (QStringList{QStringLiteral("K-1 unchanged "),
                                 QStringLiteral("K-2 changed 名称:轴承座>轴承盖,重量:1.5>2.25"),
                                 QStringLiteral("K-300 changed 设计:张三>李四")}));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 名称='轴承盖'")), 0);

    r = cli({QStringLiteral("import"), book});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("2条有变化但未选择更新已有记录"))) << r.err.toStdString();
    r = cli({QStringLiteral("import"), book, QStringLiteral("--update")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 名称='轴承盖' and 重量='2.25'")), 1);
    EXPECT_EQ(logOf(QStringLiteral("K-300")),
              (QStringList{QStringLiteral("admin|添加图纸信息"), QStringLiteral("admin|添加图纸信息")}));
    EXPECT_EQ(cli({QStringLiteral("import"), book, QStringLiteral("--map"), QStringLiteral("颜色=A")}).code, 2);
    EXPECT_EQ(
        cli({QStringLiteral("import"), book}, QStringLiteral("bob"), QStringLiteral("design"), QStringLiteral("pw"))
            .code,
        1);
}

TEST_P(CliTest, ThreeVersionsOfADeletedDrawingComeBackByteForByte) { threeVersionsComeBack(); }

// The same on vsftpd, which lists and renames as the C servers offices run do.
class CliOnVsftpd : public CliTest {
protected:
    CliOnVsftpd() { ftpServer.vsftpd = true; }
};

TEST_P(CliOnVsftpd, ThreeVersionsOfADeletedDrawingComeBackByteForByte) { threeVersionsComeBack(); }

INSTANTIATE_TEST_SUITE_P(Both, CliTest, kBothBackends, BackendName);
INSTANTIATE_TEST_SUITE_P(Both, CliOnVsftpd, kBothBackends, BackendName);

} // namespace
} // namespace velda::test
