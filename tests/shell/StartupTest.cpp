#include "TestSupport.h"

#include "core/ProgramPaths.h"
#include "shell/ui/FrmLogin.h"
#include "shell/ui/FrmSQLServer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

using namespace velda;
using namespace velda::test;

namespace {

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv final {
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)) {
        m_old = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

TEST(LocalDatabase, AMissingFileIsReportedWithWhereAndHowNeverCreated) {
    QTemporaryDir dir;
    RecordingFeedback feedback;
    FixedClock clock;
    ProgramPaths paths{dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/data")};
    Session session(feedback, clock, Configuration(dir.path() + QStringLiteral("/velda.ini")), paths,
                    QStringLiteral("A1B2C3D"));
    try {
        session.connect(Configuration::kLocalWord);
        FAIL() << "connected to a database that does not exist";
    } catch (const Error& e) {
        EXPECT_TRUE(e.description().contains(paths.localDatabase())) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(QStringLiteral("velda-initdb --local"))) << e.description().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(paths.localDatabase()));
    EXPECT_FALSE(session.hasConnection());
}

TEST(DataFolder, IsChosenOnceAndKeptWhateverTheProgramFolderBecomes) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/program");
    QDir().mkpath(program);
    const Configuration config(dir.path() + QStringLiteral("/config/velda.ini"));
    ScopedEnv programDir("VELDA_PROGRAM_DIR", program.toLocal8Bit());
    ScopedEnv dataDir("VELDA_DATA_DIR", QByteArray());

    // A writable program folder without a library does not attract the data.
    const ProgramPaths first = ProgramPaths::detect(config);
    EXPECT_NE(first.dataFolder, program);
    EXPECT_TRUE(first.dataFolder.endsWith(QStringLiteral("/VELDA"))) << first.dataFolder.toStdString();
    EXPECT_EQ(config.ReadDataFolder(), first.dataFolder);
    EXPECT_TRUE(QFileInfo(first.dataFolder).isDir());

    // Later the program folder gets a database file and becomes read-only: the library stays put.
    QFile(program + QStringLiteral("/VELDA.db")).open(QIODevice::WriteOnly);
    EXPECT_EQ(ProgramPaths::detect(config).dataFolder, first.dataFolder);
    QFile(program).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ProgramPaths::detect(config).dataFolder, first.dataFolder);
    QFile(program).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A one-run override is not remembered.
    {
        ScopedEnv once("VELDA_DATA_DIR", (dir.path() + QStringLiteral("/elsewhere")).toLocal8Bit());
        EXPECT_EQ(ProgramPaths::detect(config).dataFolder, dir.path() + QStringLiteral("/elsewhere"));
    }
    EXPECT_EQ(config.ReadDataFolder(), first.dataFolder);
    QStandardPaths::setTestModeEnabled(false);
}

TEST(DataFolder, AnOfficeThatKeptItsLibraryBesideTheProgramKeepsItThere) {
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/program");
    QDir().mkpath(program);
    QFile(program + QStringLiteral("/VELDA.db")).open(QIODevice::WriteOnly);
    const Configuration config(dir.path() + QStringLiteral("/velda.ini"));
    ScopedEnv programDir("VELDA_PROGRAM_DIR", program.toLocal8Bit());
    ScopedEnv dataDir("VELDA_DATA_DIR", QByteArray());
    EXPECT_EQ(ProgramPaths::detect(config).dataFolder, QDir::cleanPath(program));
    EXPECT_EQ(config.ReadDataFolder(), QDir::cleanPath(program));
}

TEST(ServerAddress, FailureTextLeadsInChineseWithServerAndPort) {
    EXPECT_EQ(ServerAddressText(ConnectionSpec::server(QStringLiteral("db.office"))), QStringLiteral("db.office:5432"));
    EXPECT_EQ(ServerAddressText(ConnectionSpec::server(QStringLiteral("[::1]:6543"))), QStringLiteral("[::1]:6543"));
    Database db;
    try {
        db.open(ConnectionSpec::server(QStringLiteral("127.0.0.1:1")));
        FAIL() << "a closed port accepted the connection";
    } catch (const Error& e) {
        const QString text = e.description();
        EXPECT_TRUE(text.startsWith(QStringLiteral("无法连接数据库服务器127.0.0.1:1上的数据库HD信息库。")))
            << text.toStdString();
        // The driver's own words follow on their own line, for the administrator.
        EXPECT_TRUE(text.contains(QStringLiteral("\n驱动程序报告："))) << text.toStdString();
    }
}

// Start-up with an address that no longer works: the message, then the server dialog with that
// address to correct, and the login goes on.
class StartUp : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->session->onEndProgram = [this](int code) { ended.push_back(code); };
        env->session->disconnect();
        env->session->config().StoreServerAddress(QStringLiteral("127.0.0.1:1"));
    }
    std::unique_ptr<FrmLogin> open() {
        auto f = std::make_unique<FrmLogin>(*env->session);
        f->show();
        QApplication::setActiveWindow(f.get());
        f->Form_Load();
        return f;
    }
    std::vector<int> ended;
};

TEST_P(StartUp, AWrongStoredAddressIsShownThenOfferedForCorrection) {
    QString offered;
    int boxesBefore = -1;
    QTimer::singleShot(0, [&] {
        auto* server = qobject_cast<FrmSQLServer*>(QApplication::activeModalWidget());
        ASSERT_TRUE(server);
        boxesBefore = static_cast<int>(env->feedback.boxes.size());
        offered = child<QLineEdit>(*server, "TxtIP")->text();
        child<QLineEdit>(*server, "TxtIP")->setText(env->address);
        QTest::mouseClick(child<QPushButton>(*server, "CmdOK"), Qt::LeftButton);
    });
    auto f = open();
    EXPECT_EQ(boxesBefore, 1) << "the error comes first";
    ASSERT_GE(env->feedback.boxes.size(), 1);
    const auto& box = env->feedback.boxes.front();
    EXPECT_TRUE(box.text.contains(QStringLiteral("127.0.0.1:1"))) << box.text.toStdString();
    EXPECT_EQ(box.icon, Icon::Stop);
    EXPECT_EQ(box.title, QStringLiteral("反馈信息"));
    EXPECT_EQ(offered, QStringLiteral("127.0.0.1:1"));
    EXPECT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->session->config().ReadServerAddress(), env->address);
    EXPECT_GE(child<QComboBox>(*f, "CboGrp")->count(), 2);
    EXPECT_TRUE(ended.empty());
}

TEST_P(StartUp, ClosingTheOfferLeavesTheLoginWithoutGroupsAndTheAddressAsItWas) {
    bool offered = false;
    QTimer::singleShot(0, [&] {
        auto* server = qobject_cast<FrmSQLServer*>(QApplication::activeModalWidget());
        ASSERT_TRUE(server);
        offered = true;
        server->reject();
    });
    auto f = open();
    EXPECT_TRUE(offered);
    EXPECT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(child<QComboBox>(*f, "CboGrp")->count(), 0);
    EXPECT_TRUE(f->isVisible());
    EXPECT_TRUE(ended.empty());
    EXPECT_EQ(env->session->config().ReadServerAddress(), QStringLiteral("127.0.0.1:1"));
}

INSTANTIATE_TEST_SUITE_P(Db, StartUp, kBothBackends, BackendName);

// The local library gone (moved, deleted): start-up says where it looked and how to make one, and
// leaves the folder as it was instead of starting an empty library.
TEST(StartUpLocal, AMissingLocalDatabaseIsReportedNotReplaced) {
    TestEnvironment env(Backend::SQLite);
    std::vector<int> ended;
    env.session->onEndProgram = [&](int code) { ended.push_back(code); };
    env.session->disconnect();
    const QString file = env.session->paths().localDatabase();
    ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(".moved")));
    QFile::remove(file + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-shm"));
    QString offered;
    QTimer::singleShot(0, [&] {
        auto* server = qobject_cast<FrmSQLServer*>(QApplication::activeModalWidget());
        ASSERT_TRUE(server);
        offered = child<QLineEdit>(*server, "TxtIP")->text();
        server->reject();
    });
    FrmLogin f(*env.session);
    f.show();
    QApplication::setActiveWindow(&f);
    f.Form_Load();
    ASSERT_EQ(env.feedback.boxes.size(), 1);
    EXPECT_EQ(env.feedback.last().text, MissingLocalDatabaseText(file));
    EXPECT_EQ(env.feedback.last().icon, Icon::Stop);
    EXPECT_EQ(offered, QStringLiteral("None"));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(child<QComboBox>(f, "CboGrp")->count(), 0);
    EXPECT_TRUE(ended.empty());
}
