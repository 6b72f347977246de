#include "TestSupport.h"

#include "PgCluster.h"
#include "store/DatabaseInit.h"

#include <QSqlQuery>

namespace velda::test {

TestEnvironment::TestEnvironment(Backend b, const QString& machineSerialHex) : backend(b) {
    if (!dir.isValid())
        throw Error(QStringLiteral("cannot create a temporary folder"));
    ProgramPaths paths;
    paths.programFolder = dir.path() + QStringLiteral("/program");
    paths.dataFolder = dir.path() + QStringLiteral("/data");
    const Configuration config(dir.path() + QStringLiteral("/config/velda.ini"));
    if (backend == Backend::SQLite) {
        address = Configuration::kLocalWord;
        CreateLocalDatabase(paths.localDatabase(), QDate(2024, 3, 5));
    } else {
        PgCluster& pg = PgCluster::instance();
        if (!pg.ok())
            throw Error(QStringLiteral("PostgreSQL test server unavailable: ") + pg.error());
        pgDatabase = pg.createDatabase();
        address = pg.address();
    }
    config.StoreServerAddress(address);
    session = std::make_unique<Session>(feedback, clock, config, paths, machineSerialHex);
    session->serverDatabaseName = pgDatabase;
    session->onEndProgram = [](int) {};
    session->connect(address);
    session->ctx.ServerAddress = address;
}

TestEnvironment::~TestEnvironment() {
    session.reset();
    if (!pgDatabase.isEmpty())
        PgCluster::instance().dropDatabase(pgDatabase);
}

std::unique_ptr<Session> TestEnvironment::otherSession(RecordingFeedback& fb, const QString& machineSerialHex) const {
    auto s = std::make_unique<Session>(fb, clock, session->config(), session->paths(), machineSerialHex);
    s->serverDatabaseName = pgDatabase;
    s->onEndProgram = [](int) {};
    s->connect(address);
    s->ctx.ServerAddress = address;
    return s;
}

void TestEnvironment::addUser(const QString& id, const QString& password, const QString& groups) {
    db().exec(QStringLiteral("insert into PDM用户 (ID, 密码, 所属组, 备注, 创建日期) values (?, ?, ?, '', '2024/3/5')"),
              {id, password, groups});
}

void TestEnvironment::addGroup(const QString& name, const QString& volume) {
    db().exec(QStringLiteral("insert into PDM组 (组名, 目录名称, 备注) values (?, ?, '')"),
              {name, volume.isEmpty() ? QVariant() : QVariant(volume)});
}

void TestEnvironment::addVolume(const QString& name, const QString& server) {
    db().exec(QStringLiteral("insert into PDM存储目录 (目录名称, 服务器IP, 备注) values (?, ?, '')"), {name, server});
}

void TestEnvironment::actAs(const QString& id, const QString& groups, const QString& loginGroup) {
    session->ctx.UserId = id;
    session->ctx.UserGroups = groups;
    session->ctx.LoginGroup = loginGroup;
}

int TestEnvironment::count(const QString& sql, const QVariantList& values) { return db().scalar(sql, values).toInt(); }

void BothDatabases::SetUp() {
    try {
        env = std::make_unique<TestEnvironment>(GetParam());
    } catch (const Error& e) {
        FAIL() << e.description().toStdString();
    }
}

int BothDatabases::rows(const QString& table, const QString& condition, const QVariantList& values) {
    QString sql = QStringLiteral("select count(*) from ") + table;
    if (!condition.isEmpty())
        sql += QStringLiteral(" where ") + condition;
    return env->count(sql, values);
}

int BothDatabases::logRows(const QString& word) {
    return rows(QStringLiteral("PDM日志"), QStringLiteral("方式=?"), {word});
}

QString BothDatabases::field(const QString& table, const QString& column, const QString& keyColumn,
                             const QVariant& key) {
    return env->db()
        .scalar(QStringLiteral("select %1 from %2 where %3=?").arg(column, table, keyColumn), {key})
        .toString();
}

QString BothDatabases::accountField(const QString& column, const QString& id) {
    return field(QStringLiteral("PDM用户"), column, QStringLiteral("ID"), id);
}

} // namespace velda::test
