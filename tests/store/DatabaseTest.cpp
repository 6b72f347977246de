#include "PgTrace.h"
#include "TestSupport.h"

#include "store/DatabaseInit.h"
#include "store/FirstColumn.h"

#include <QFile>
#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

TEST(Store, LikeEscapingKeepsWildcardsLiteral) {
    EXPECT_EQ(LikeEscape(QStringLiteral("a_b%c\\d")), QStringLiteral("a\\_b\\%c\\\\d"));
    EXPECT_EQ(MembershipPattern(QStringLiteral("admin")), QStringLiteral("%/admin/%"));
}

TEST(Store, ServerAddressesNameHostAndPort) {
    ConnectionSpec a = ConnectionSpec::server(QStringLiteral("db.office"));
    EXPECT_EQ(a.host, QStringLiteral("db.office"));
    EXPECT_EQ(a.port, 5432);
    EXPECT_EQ(a.databaseName, QStringLiteral("HD信息库"));
    EXPECT_EQ(a.user, QStringLiteral("Hodrin"));
    EXPECT_EQ(a.password, QStringLiteral("tovkan"));
    ConnectionSpec b = ConnectionSpec::server(QStringLiteral("127.0.0.1:6543"));
    EXPECT_EQ(b.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(b.port, 6543);
    ConnectionSpec c = ConnectionSpec::server(QStringLiteral("[::1]:7000"));
    EXPECT_EQ(c.host, QStringLiteral("::1"));
    EXPECT_EQ(c.port, 7000);
    // A primary and its standby: every server keeps its own port, shown as configured.
    ConnectionSpec d = ConnectionSpec::server(QStringLiteral("db1, [::1]:7000,db3:6000"));
    EXPECT_EQ(d.host, QStringLiteral("db1:5432,[::1]:7000,db3:6000"));
    EXPECT_EQ(d.port, 5432);
    EXPECT_EQ(ServerAddressText(d), QStringLiteral("db1:5432,[::1]:7000,db3:6000"));
    EXPECT_EQ(ServerAddressText(ConnectionSpec::server(QStringLiteral("db1:6000,"))), QStringLiteral("db1:6000"));
}

TEST(Store, LocalFileIsPrivateAndNeverOverwritten) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/sub/VELDA.db");
    CreateLocalDatabase(path, QDate(2024, 3, 5));
    EXPECT_EQ(QFile::permissions(path) &
                  (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_THROW(CreateLocalDatabase(path, QDate(2024, 3, 5)), Error);
    // A missing file is an error, not a new empty database.
    Database db;
    EXPECT_THROW(db.open(ConnectionSpec::localFile(dir.path() + QStringLiteral("/missing.db"))), Error);
    EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/missing.db")));
}

class Schema : public BothDatabases {};

TEST_P(Schema, HoldsTheReferenceData) {
    Database& db = env->db();
    QSqlQuery g = db.exec(QStringLiteral("select 组名 from PDM组 order by 组名"));
    QStringList groups;
    while (g.next())
        groups << g.value(0).toString();
    EXPECT_EQ(groups, (QStringList{QStringLiteral("admin"), QStringLiteral("user")}));
    QSqlQuery u = db.exec(QStringLiteral("select * from PDM用户"));
    ASSERT_TRUE(u.next());
    EXPECT_EQ(u.value(QStringLiteral("ID")).toString(), QStringLiteral("admin"));
    EXPECT_EQ(u.value(QStringLiteral("密码")).toString(), QStringLiteral("admin"));
    EXPECT_EQ(u.value(QStringLiteral("所属组")).toString(), QStringLiteral("/admin/user/"));
    EXPECT_EQ(u.value(QStringLiteral("创建日期")).toString(), QStringLiteral("2024/3/5"));
    QSqlQuery m = db.exec(QStringLiteral("select 材料名称 from 材料名称 order by 顺序号"));
    ASSERT_TRUE(m.next());
    EXPECT_EQ(m.value(0).toString(), QStringLiteral("Q235-A"));
    EXPECT_GE(env->count(QStringLiteral("select count(*) from 材料名称")), 10);
    EXPECT_THROW(InitializeDatabase(db, QDate(2024, 3, 5)), Error);
}

TEST_P(Schema, KeysRefuseDuplicatesAndTheLogNumbersItsRows) {
    Database& db = env->db();
    EXPECT_THROW(env->addUser(QStringLiteral("admin"), QStringLiteral("x"), QStringLiteral("/user/")),
                 DuplicateKeyError);
    EXPECT_THROW(env->addGroup(QStringLiteral("user")), DuplicateKeyError);
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.5"));
    EXPECT_THROW(env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.6")), DuplicateKeyError);
    for (const QString& table :
         {QStringLiteral("PDM入库图纸信息"), QStringLiteral("PDM出库图纸信息"), QStringLiteral("零件信息"),
          QStringLiteral("图纸信息"), QStringLiteral("产品档案库")}) {
        db.exec(QStringLiteral("insert into %1 (代号) values ('A-1')").arg(table));
        EXPECT_THROW(db.exec(QStringLiteral("insert into %1 (代号) values ('A-1')").arg(table)), DuplicateKeyError)
            << table.toStdString();
    }
    db.exec(QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号) values ('P-1')"));
    EXPECT_THROW(db.exec(QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号) values ('P-1')")),
                 DuplicateKeyError);
    db.exec(QStringLiteral("insert into PDM系统管理员信息 (ID, 序列号, 密码) values ('velda', 'AB', '1')"));
    db.exec(QStringLiteral("insert into PDM系统管理员信息 (ID, 序列号, 密码) values ('velda', 'CD', '1')"));
    EXPECT_THROW(
        db.exec(QStringLiteral("insert into PDM系统管理员信息 (ID, 序列号, 密码) values ('velda', 'AB', '2')")),
        DuplicateKeyError);
    // The database numbers log rows; the structure's item number defaults to 0.
    db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values ('a', '', 't', 'w')"));
    db.exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values ('a', '', 't', 'w')"));
    EXPECT_EQ(env->count(QStringLiteral("select count(distinct 序号) from PDM日志")), 2);
    // One statement run for many rows: each run's answer in turn, and a duplicate stops at its row.
    QList<qint64> numbers;
    db.execEach(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, 't', 'w') returning 序号"),
                {{QStringLiteral("b"), QStringLiteral("X-1")}, {QStringLiteral("b"), QStringLiteral("X-2")}},
                [&](QSqlQuery& q) {
                    while (q.next())
                        numbers << q.value(0).toLongLong();
                });
    ASSERT_EQ(numbers.size(), 2);
    EXPECT_LT(numbers[0], numbers[1]);
    EXPECT_THROW(db.execEach(QStringLiteral("insert into 零件信息 (代号) values (?)"),
                             {{QStringLiteral("B-1")}, {QStringLiteral("A-1")}, {QStringLiteral("C-1")}}),
                 DuplicateKeyError);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号 in ('B-1','C-1')")), 1);
    db.exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点编号) values ('P-1', 'A', 10)"));
    db.exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点编号) values ('P-1', 'B', 9)"));
    EXPECT_EQ(env->count(QStringLiteral("select 结点序号 from 产品结构 where 结点代号='A'")), 0);
    EXPECT_EQ(db.scalar(QStringLiteral("select 结点代号 from 产品结构 order by 结点编号")).toString(),
              QStringLiteral("B"));
}

TEST_P(Schema, TransactionsStandOrFallTogether) {
    Database& db = env->db();
    {
        Transaction tx(db);
        env->addGroup(QStringLiteral("design"));
        // no commit: rolled back
    }
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM组 where 组名='design'")), 0);
    try {
        Transaction tx(db);
        env->addGroup(QStringLiteral("design"));
        env->addGroup(QStringLiteral("admin"));
        tx.commit();
    } catch (const DuplicateKeyError&) {
    }
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM组 where 组名='design'")), 0);
}

TEST_P(Schema, LikeIsCaseSensitiveOnBothAndEscapesWork) {
    env->addUser(QStringLiteral("u1"), QStringLiteral("p"), QStringLiteral("/axb/"));
    const QString sql = QStringLiteral("select count(*) from PDM用户 where 所属组 like ? escape '\\'");
    EXPECT_EQ(env->count(sql, {MembershipPattern(QStringLiteral("a_b"))}), 0);
    EXPECT_EQ(env->count(sql, {MembershipPattern(QStringLiteral("axb"))}), 1);
    EXPECT_EQ(env->count(sql, {MembershipPattern(QStringLiteral("AXB"))}), 0);
    EXPECT_EQ(env->count(sql, {MembershipPattern(QStringLiteral("%"))}), 0);
}

TEST_P(Schema, FirstColumnTextsReadEveryRowInOrder) {
    Database& db = env->db();
    db.exec(QStringLiteral("insert into 零件信息 (代号, 名称) values ('B-2', '轴')"));
    db.exec(QStringLiteral("insert into 零件信息 (代号) values ('A-1')"));
    EXPECT_EQ(FirstColumnTexts(db, QStringLiteral("select 名称 from 零件信息 order by 代号 desc")),
              (QStringList{QStringLiteral("轴"), QString()}));
    EXPECT_TRUE(FirstColumnTexts(db, QStringLiteral("select 代号 from 零件信息 where 代号 = 'C'")).isEmpty());
    EXPECT_THROW(FirstColumnTexts(db, QStringLiteral("select 无此列 from 零件信息")), Error);
}

INSTANTIATE_TEST_SUITE_P(Db, Schema, kBothBackends, BackendName);

TEST_P(Schema, ADatabaseOfAnOlderVersionGetsTheTablesAndIndexesItLacks) {
    env->db().exec(QStringLiteral("drop index PDM日志_代号"));
    env->db().exec(QStringLiteral("drop index PDM日志_代号_方式"));
    env->db().exec(QStringLiteral("drop index PDM入库图纸信息_文件"));
    env->db().exec(QStringLiteral("drop index 产品结构_结点代号"));
    env->db().exec(QStringLiteral("drop table 系统设置"));
    EXPECT_EQ(AddMissingSchema(env->db()), 5);
    EXPECT_EQ(AddMissingSchema(env->db()), 0);
    const QString catalogue = env->backend == Backend::SQLite
                                  ? QStringLiteral("select count(*) from sqlite_master where type='index' and name=?")
                                  : QStringLiteral("select count(*) from pg_indexes where indexname=?");
    const QString folded =
        env->backend == Backend::SQLite ? QStringLiteral("PDM日志_代号") : QStringLiteral("pdm日志_代号");
    EXPECT_EQ(env->count(catalogue, {folded}), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 系统设置")), 0);

    // Every connect asks: a complete schema costs one look at the catalogue.
    const QStringList sent = StatementsSent(env->db(), [&] { EXPECT_EQ(AddMissingSchema(env->db()), 0); });
    if (env->backend == Backend::PostgreSQL) {
        EXPECT_EQ(sent.size(), 1) << sent.join(u'\n').toStdString();
    }
}

// Values go to the server apart from the statement's text: quotes, backslashes, question marks and
// comment marks in them stay data, a number finds its place in a text column, and a NUL is refused.
TEST_P(Schema, ValuesAreDataWhateverTheyHold) {
    Database& db = env->db();
    const QString code = QStringLiteral("O'Brien\\?--");
    const QString name = QStringLiteral("a?b'');drop table 零件信息;--\\'");
    db.exec(QStringLiteral("insert into 零件信息 (代号, 名称, 材料) values (?, ?, ?)"), {code, name, QVariant()});
    db.exec(QStringLiteral("insert into 零件信息 (代号, 名称) values (?, ?)"), {42, true});
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号=? and 名称<>'?''' and 材料 is null"),
                         {code}),
              1);
    QSqlQuery q = db.exec(QStringLiteral("select 名称 from 零件信息 where 代号=?"), {code});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), name);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号=?"), {QStringLiteral("42")}), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号 like ? escape '\\'"),
                         {LikeEscape(QStringLiteral("O'Brien\\")) + QLatin1Char('%')}),
              1);
    if (env->backend == Backend::PostgreSQL) {
        EXPECT_THROW(db.exec(QStringLiteral("select count(*) from 零件信息 where 代号=?"), {QStringLiteral("N\u0000UL")}),
                     Error);
        EXPECT_THROW(db.exec(QStringLiteral("select ?, ?"), {1}), Error);
    }
}

// What each statement costs a branch office: one round trip with its values; a change on a quiet
// connection is prepared on the server first; reads sent ahead together cost one round trip and are
// each answered once. The server's types come back as the callers read them.
TEST_P(Schema, AStatementIsOneRoundTripAndTypesComeBackWhole) {
    if (env->backend != Backend::PostgreSQL)
        GTEST_SKIP() << "the server's protocol";
    Database& db = env->db();
    db.reopen();
    const QString insert = QStringLiteral("insert into 零件信息 (代号, 名称) values (?, ?)");
    const QString count = QStringLiteral("select count(*) from 零件信息 where 代号=?");
    const QString name = QStringLiteral("select 名称 from 零件信息 where 代号=?");
    const QStringList sent = StatementsSent(db, [&] {
        db.exec(insert, {QStringLiteral("P1"), QStringLiteral("一")}); // prepare, run
        db.exec(insert, {QStringLiteral("P2"), QStringLiteral("二")}); // run
        {
            const ReadAhead ahead(db, {{count, {QStringLiteral("P1")}}, {name, {QStringLiteral("P2")}}}); // both
            EXPECT_EQ(db.scalar(name, {QStringLiteral("P2")}).toString(), QStringLiteral("二"));
            EXPECT_EQ(db.scalar(count, {QStringLiteral("P1")}).toInt(), 1);
            EXPECT_EQ(db.scalar(count, {QStringLiteral("P1")}).toInt(), 1); // asked again
        }
        Transaction tx(db); // begin, insert, commit
        db.exec(insert, {QStringLiteral("P3"), QStringLiteral("三")});
        tx.commit();
    });
    EXPECT_EQ(sent.size(), 8) << sent.join(u'\n').toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号 like 'P_'")), 3);

    QSqlQuery q = db.exec(QStringLiteral("select 7::smallint, 8000000000::bigint, true, '2026-12-10'::date, null::text, "
                                         "'\\x00ff'::bytea, 1.5::float8, 2.50::numeric, ?::bytea as 名称"),
                          {QByteArray("\0\xff", 2)});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0), QVariant(7));
    EXPECT_EQ(q.value(1), QVariant(qlonglong(8000000000)));
    EXPECT_EQ(q.value(2), QVariant(true));
    EXPECT_EQ(q.value(3), QVariant(QDate(2026, 12, 10)));
    EXPECT_TRUE(q.isNull(4));
    EXPECT_EQ(q.value(4).metaType().id(), QMetaType::QString);
    EXPECT_EQ(q.value(5).toByteArray(), QByteArray("\0\xff", 2));
    EXPECT_EQ(q.value(6), QVariant(1.5));
    EXPECT_EQ(q.value(7), QVariant(QStringLiteral("2.50")));
    EXPECT_EQ(q.value(QStringLiteral("名称")).toByteArray(), QByteArray("\0\xff", 2));
}
