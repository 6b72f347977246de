#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "core/Configuration.h"

#include <QSettings>
#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

TEST(LogTime, IsFixedWidthYearToSecond) {
    EXPECT_EQ(LogTimeText(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3))), QStringLiteral("2024年03月05日09时07分03秒"));
    EXPECT_EQ(LogTimeText(QDateTime(QDate(2024, 12, 31), QTime(0, 0, 0))),
              QStringLiteral("2024年12月31日00时00分00秒"));
    EXPECT_EQ(LogTimeText(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3))).size(), 20);
    EXPECT_LT(LogTimeText(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59))),
              LogTimeText(QDateTime(QDate(2024, 3, 6), QTime(0, 0, 0))));
}

TEST(LogWords, ComposedWordsAndCodes) {
    EXPECT_EQ(LogWord::ReportOutput(QStringLiteral("零件明细")), QStringLiteral("输出零件明细表"));
    EXPECT_EQ(LogWord::ReportOutput(QStringLiteral("外购件汇总")), QStringLiteral("输出外购件汇总表"));
    EXPECT_EQ(LogWord::BorrowedLogCode(QStringLiteral("轴"), QStringLiteral("P1"), QStringLiteral("03")),
              QStringLiteral("轴被P1-03借用"));
}

TEST(Configuration, ReadsTheStoredAddressUnderTheOfficeKey) {
    QTemporaryDir dir;
    const Configuration config(dir.path() + QStringLiteral("/velda.ini"));
    EXPECT_TRUE(config.ReadServerAddress().isEmpty());
    ASSERT_TRUE(config.StoreServerAddress(QStringLiteral("None")));
    EXPECT_EQ(config.ReadServerAddress(), QStringLiteral("None"));
    QSettings raw(config.filePath(), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("SoftWare/Quorel工作室/VELDA信息/Default")).toString(),
              QStringLiteral("系统设置"));
    EXPECT_EQ(raw.value(QStringLiteral("SoftWare/Quorel工作室/VELDA信息/数据库服务器IP地址")).toString(),
              QStringLiteral("None"));
    // 49 bytes still fit the office's buffer; 50 do not (a Chinese character takes two).
    config.StoreServerAddress(QString(49, QLatin1Char('a')));
    EXPECT_EQ(config.ReadServerAddress().size(), 49);
    config.StoreServerAddress(QString(44, QLatin1Char('a')) + QStringLiteral("服务器"));
    EXPECT_TRUE(config.ReadServerAddress().isEmpty());
}

class Log : public BothDatabases {};

TEST_P(Log, AppendsOneNumberedRowForTheUser) {
    env->actAs(QStringLiteral("alice"), QStringLiteral("/user/"), QStringLiteral("user"));
    AppendLogRow(*env->session, QString(), LogWord::Login);
    env->clock.set(QDateTime(QDate(2024, 3, 5), QTime(0, 0, 1)));
    AppendLogRow(*env->session, QStringLiteral("GB/T-12"), LogWord::CheckIn);
    QSqlQuery q = env->db().exec(QStringLiteral("select 序号, ID, 代号, 时间, 方式 from PDM日志 order by 序号"));
    ASSERT_TRUE(q.next());
    const int first = q.value(0).toInt();
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("alice"));
    EXPECT_EQ(q.value(2).toString(), QString());
    EXPECT_EQ(q.value(3).toString(), QStringLiteral("2024年03月05日09时07分03秒"));
    EXPECT_EQ(q.value(4).toString(), QStringLiteral("用户登录"));
    ASSERT_TRUE(q.next());
    EXPECT_GT(q.value(0).toInt(), first);
    EXPECT_EQ(q.value(2).toString(), QStringLiteral("GB/T-12"));
    EXPECT_EQ(q.value(3).toString(), QStringLiteral("2024年03月05日00时00分01秒"));
    EXPECT_FALSE(q.next());
}

// A command's rows go for the user it started with, whoever the session's user is now.
TEST_P(Log, AppendsACommandsRowsForItsUserNumberedInOrder) {
    env->actAs(QStringLiteral("alice"), QStringLiteral("/user/"), QStringLiteral("user"));
    Session& s = *env->session;
    AppendLogRow(s, env->db(), QStringLiteral("bob"), QStringLiteral("A-1"), LogWord::CheckOut);
    const qint64 one =
        AppendNumberedLogRow(s, env->db(), QStringLiteral("bob"), QStringLiteral("A-2"), LogWord::CheckIn);
    QStringList codes;
    for (int i = 0; i < 600; ++i) // more rows than one statement to the server takes
        codes << QStringLiteral("B-%1").arg(i);
    const QHash<QString, qint64> numbers = AppendLogRows(s, env->db(), QStringLiteral("bob"), codes, LogWord::CheckIn);
    ASSERT_EQ(numbers.size(), 600);
    EXPECT_GT(numbers.value(QStringLiteral("B-0")), one);
    EXPECT_GT(numbers.value(QStringLiteral("B-599")), numbers.value(QStringLiteral("B-598")));
    // Reserved numbers lie past every row, and no later row takes them.
    const std::vector<qint64> reserved = ReserveLogNumbers(env->db(), 2);
    ASSERT_EQ(reserved.size(), 2u);
    EXPECT_GT(reserved[0], numbers.value(QStringLiteral("B-599")));
    EXPECT_EQ(reserved[1], reserved[0] + 1);
    const qint64 after =
        AppendNumberedLogRow(s, env->db(), QStringLiteral("bob"), QStringLiteral("D-1"), LogWord::CheckOut);
    EXPECT_GT(after, reserved[1]);
    AppendLogRows(s, env->db(), QStringLiteral("bob"), {QStringLiteral("C-1"), QStringLiteral("C-2")}, reserved,
                  LogWord::CheckIn);

    QSqlQuery q = env->db().exec(QStringLiteral("select 序号, 代号 from PDM日志 where ID='bob' and 时间=? and 方式=? "
                                                "order by 序号"),
                                 {QStringLiteral("2024年03月05日09时07分03秒"), LogWord::CheckIn});
    QStringList seen;
    qint64 last = 0;
    while (q.next()) {
        seen << q.value(1).toString();
        last = q.value(0).toLongLong();
    }
    EXPECT_EQ(seen.size(), 603);
    EXPECT_EQ(seen.front(), QStringLiteral("A-2"));
    EXPECT_EQ(seen.back(), QStringLiteral("C-2"));
    EXPECT_EQ(last, reserved[1]);
    EXPECT_EQ(logRows(LogWord::CheckOut), 2);
    EXPECT_EQ(rows(QStringLiteral("PDM日志"), QStringLiteral("ID='alice'")), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, Log, kBothBackends, BackendName);
