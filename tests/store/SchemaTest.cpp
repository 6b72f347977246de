#include "TestSupport.h"

#include "store/Schema.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <map>

using namespace velda;
using namespace velda::test;

namespace {

// Every table with its columns, both as the program spells them, read from the database itself.
std::map<QString, QStringList> Described(const Database& db) {
    std::map<QString, QStringList> out;
    for (const QString& table : DatabaseTables(db))
        out[table] = DatabaseColumns(db, table);
    return out;
}

} // namespace

TEST(SchemaSpelling, GivesBackTheProgramsNamesFromFoldedOnes) {
    EXPECT_EQ(SchemaSpelling(QStringLiteral("pdm日志")), QStringLiteral("PDM日志"));
    EXPECT_EQ(SchemaSpelling(QStringLiteral("id")), QStringLiteral("ID"));
    EXPECT_EQ(SchemaSpelling(QStringLiteral("服务器ip")), QStringLiteral("服务器IP"));
    EXPECT_EQ(SchemaSpelling(QStringLiteral("代号")), QStringLiteral("代号"));
    EXPECT_EQ(SchemaSpelling(QStringLiteral("unknown")), QStringLiteral("unknown"));
}

// The two DDL files are kept by hand; once applied, both databases must hold the same tables with the
// same columns in the same order, since the dialogs show columns in the database's order.
TEST(SchemaAlike, BothDatabasesHaveTheSameTablesWithTheSameColumnsInTheSameOrder) {
    std::unique_ptr<TestEnvironment> local;
    std::unique_ptr<TestEnvironment> server;
    try {
        local = std::make_unique<TestEnvironment>(Backend::SQLite);
        server = std::make_unique<TestEnvironment>(Backend::PostgreSQL);
    } catch (const Error& e) {
        FAIL() << e.description().toStdString();
    }
    const auto onLocal = Described(local->db());
    const auto onServer = Described(server->db());
    ASSERT_FALSE(onLocal.empty());
    QStringList localTables;
    QStringList serverTables;
    for (const auto& [table, columns] : onLocal)
        localTables << table;
    for (const auto& [table, columns] : onServer)
        serverTables << table;
    EXPECT_EQ(localTables, serverTables);
    for (const auto& [table, columns] : onLocal) {
        const auto other = onServer.find(table);
        if (other == onServer.end())
            continue; // reported above
        EXPECT_FALSE(columns.isEmpty()) << table.toStdString();
        EXPECT_EQ(columns, other->second) << table.toStdString();
    }
}

// SQLite keeps names as the statements spell them; the spelling must recover each of them from the
// lower-case form PostgreSQL gives back, or the server's dialogs would show other names.
TEST(SchemaAlike, EveryNameOfTheSchemaIsRecoveredFromItsFoldedForm) {
    TestEnvironment local(Backend::SQLite);
    QSqlQuery tables = local.db().exec(QStringLiteral(
        "select name from sqlite_master where type = 'table' and name not like 'sqlite\\_%' escape '\\'"));
    int seen = 0;
    while (tables.next()) {
        const QString table = tables.value(0).toString();
        EXPECT_EQ(SchemaSpelling(table.toLower()), table);
        const QSqlRecord record =
            local.db().exec(QStringLiteral("select * from ") + table + QStringLiteral(" where 1 = 0")).record();
        for (int i = 0; i < record.count(); ++i) {
            EXPECT_EQ(SchemaSpelling(record.fieldName(i).toLower()), record.fieldName(i)) << table.toStdString();
            ++seen;
        }
    }
    EXPECT_GT(seen, 40);
}

class SchemaColumns : public BothDatabases {};

TEST_P(SchemaColumns, ComeInTheDatabasesOrderAndOnlyForAPlainTableName) {
    EXPECT_EQ(DatabaseColumns(env->db(), QStringLiteral("PDM存储目录")),
              (QStringList{QStringLiteral("目录名称"), QStringLiteral("服务器IP"), QStringLiteral("备注")}));
    EXPECT_TRUE(DatabaseTables(env->db()).contains(QStringLiteral("PDM系统管理员信息")));
    EXPECT_THROW(DatabaseColumns(env->db(), QStringLiteral("PDM组 where 1=1; drop table PDM用户")), Error);
    EXPECT_THROW(DatabaseColumns(env->db(), QString()), Error);
}

INSTANTIATE_TEST_SUITE_P(Db, SchemaColumns, kBothBackends, BackendName);
