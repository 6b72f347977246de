#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "core/Condition.h"
#include "logview/LogListModel.h"
#include "logview/LogView.h"

#include <QDir>
#include <QFile>

#include <clocale>
#include <string>

using namespace velda;
using namespace velda::test;

namespace {

LogRow row(qint64 seq, const QString& id, const QString& code, const QString& time, const QString& word) {
    return {seq, id, code, time, word};
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(LogList, ShowsNewestFirstUntilSortedByAnotherColumn) {
    LogListModel model;
    const QString early = QStringLiteral("2024年03月05日09时07分03秒");
    const QString late = QStringLiteral("2024年11月01日00时00分00秒");
    model.setRows({row(9, QStringLiteral("bob"), {}, late, QStringLiteral("用户登录")),
                   row(10, QStringLiteral("alice"), {}, early, QStringLiteral("用户登录")),
                   row(11, QStringLiteral("carol"), {}, late, QStringLiteral("用户注销"))});
    const auto seqs = [&model] {
        QList<qint64> out;
        for (const LogRow& r : model.rows())
            out << r.seq;
        return out;
    };
    // Rows of the same second: the one written last first.
    EXPECT_EQ(seqs(), QList<qint64>({11, 9, 10}));
    model.sort(0, Qt::AscendingOrder); // by number, not by its text: 9 before 10
    EXPECT_EQ(seqs(), QList<qint64>({9, 10, 11}));
    model.sort(1, Qt::DescendingOrder);
    EXPECT_EQ(seqs(), QList<qint64>({11, 9, 10}));
    model.setRows(model.takeRows()); // a new search keeps the user's order
    EXPECT_EQ(seqs(), QList<qint64>({11, 9, 10}));

    EXPECT_EQ(LogExportPath(QStringLiteral("/tmp/a.b/日志")), QStringLiteral("/tmp/a.b/日志.log"));
    EXPECT_EQ(LogExportPath(QStringLiteral("/tmp/日志.")), QStringLiteral("/tmp/日志.log"));
    EXPECT_EQ(LogExportPath(QStringLiteral("/tmp/日志.txt")), QStringLiteral("/tmp/日志.txt"));
}

TEST(LogExportLayout, TheLoginRowOfTwelveGivesEightyEightCharacters) {
    const QString time = QStringLiteral("2024年03月05日09时07分03秒");
    ASSERT_EQ(time.size(), 20);
    const QString line = ExportLine(row(12, QStringLiteral("alice"), QString(), time, QStringLiteral("用户登录")));
    const QString expected = QString(3, QLatin1Char(' ')) + QStringLiteral("12") + QString(5, QLatin1Char(' ')) +
                             QString(7, QLatin1Char(' ')) + QStringLiteral("alice") + QString(6, QLatin1Char(' ')) +
                             QString(22, QLatin1Char(' ')) + QString(6, QLatin1Char(' ')) + QLatin1Char(' ') + time +
                             QString(6, QLatin1Char(' ')) + QLatin1Char(' ') + QStringLiteral("用户登录");
    EXPECT_EQ(line, expected);
    EXPECT_EQ(line.size(), 88);
}

TEST(LogExportLayout, LongerValuesAreWrittenWholeAndPushTheRestOfTheLine) {
    const QString time = QStringLiteral("2024年03月05日09时07分03秒");
    const LogRow base = row(12, QStringLiteral("alice"), QStringLiteral("GB-12"), time, QStringLiteral("图纸入库"));
    const QString normal = ExportLine(base);
    ASSERT_EQ(normal.size(), 88);

    // A six-digit number shifts the whole line by one.
    LogRow wide = base;
    wide.seq = 123456;
    EXPECT_EQ(ExportLine(wide).size(), 89);
    EXPECT_TRUE(ExportLine(wide).startsWith(QStringLiteral("123456     ")));

    // 代号 of 25 characters plus its blank overflows the 22 of its field by four.
    LogRow longCode = base;
    longCode.code = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY");
    const QString pushed = ExportLine(longCode);
    EXPECT_EQ(pushed.size(), 92);
    EXPECT_TRUE(pushed.contains(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY ") + QString(6, QLatin1Char(' ')) +
                                QLatin1Char(' ') + time));
    EXPECT_TRUE(pushed.endsWith(QStringLiteral(" 图纸入库")));

    // Chinese counts one a character; a word longer than five is not cut.
    EXPECT_EQ(RightAligned(QStringLiteral("借用"), 5), QStringLiteral("   借用"));
    EXPECT_EQ(RightAligned(QStringLiteral("添加借用信息"), 5), QStringLiteral("添加借用信息"));
    EXPECT_EQ(CharacterCount(QString::fromUcs4(U"\U00020000a")), 2);
}

TEST(LogExportFile, HeadingThenOneLinePerChosenRowEndedByCrLf) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/out.log");
    const std::vector<LogRow> rows = {row(1, QStringLiteral("admin"), QString(),
                                          QStringLiteral("2024年03月05日09时07分03秒"), QStringLiteral("用户登录")),
                                      row(2, QStringLiteral("bob"), QStringLiteral("GB-1"),
                                          QStringLiteral("2024年03月05日09时08分03秒"), QStringLiteral("图纸入库")),
                                      row(3, QStringLiteral("carol"), QStringLiteral("GB-2"),
                                          QStringLiteral("2024年03月05日09时09分03秒"), QStringLiteral("图纸出库"))};
    const Outcome o = ExportLogRows(path, rows, {0, 2});
    EXPECT_TRUE(o.done());
    EXPECT_EQ(o.text, QStringLiteral("导出已完成"));
    const QByteArray expected = (QStringLiteral("日志输出\r\n") + ExportLine(rows[0]) + QStringLiteral("\r\n") +
                                 ExportLine(rows[2]) + QStringLiteral("\r\n"))
                                    .toUtf8();
    EXPECT_EQ(readFile(path), expected);

    // An existing file is replaced, not appended to.
    EXPECT_TRUE(ExportLogRows(path, rows, {1}).done());
    EXPECT_EQ(readFile(path).count("\r\n"), 2);
}

TEST(LogExportFile, ThePlainCLocaleStillKeepsTheChineseText) {
    const std::string saved = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C");
    QStringEncoder encoder = LocaleEncoder();
    EXPECT_EQ(QByteArray(encoder(QStringLiteral("日志输出"))), QStringLiteral("日志输出").toUtf8());
    setlocale(LC_CTYPE, saved.c_str());
}

TEST(LogExportFile, AFileThatCannotBeWrittenIsAFailureWithItsName) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/no/such/folder/out.log");
    const Outcome o = ExportLogRows(path, {row(1, QStringLiteral("a"), {}, {}, {})}, {0});
    EXPECT_TRUE(o.failed());
    EXPECT_TRUE(o.text.contains(path));
    EXPECT_FALSE(QFile::exists(path));
}

class LogData : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        add(QStringLiteral("bob"), QStringLiteral("GB-1"), QStringLiteral("图纸入库"));
        add(QStringLiteral("alice"), QString(), QStringLiteral("用户登录"));
        add(QStringLiteral("bob"), QString(), QStringLiteral("用户登录"));
        add(QStringLiteral("alice"), QStringLiteral("GB-2"), QStringLiteral("图纸出库"));
        add(QStringLiteral("carol"), QVariant(), QStringLiteral("用户登录")); // a null 代号
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    }
    void add(const QString& id, const QVariant& code, const QString& word) {
        env->db().exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
                       {id, code.isNull() ? QVariant(QMetaType(QMetaType::QString)) : code,
                        QStringLiteral("2024年03月05日09时07分03秒"), word});
    }
    LogFetch search(const QString& condition) {
        const LogSearch s = PrepareLogSearch(env->db(), condition);
        EXPECT_TRUE(s.verdict.done()) << s.verdict.text.toStdString();
        return FetchLogRows(env->db().spec(), s.sql);
    }
    int logCount() { return env->count(QStringLiteral("select count(*) from PDM日志")); }
};

TEST_P(LogData, SearchListsTheMatchingRowsByUserOnItsOwnConnection) {
    const LogFetch found =
        search(ComposeClause(QStringLiteral("方式"), QStringLiteral("="), QStringLiteral("用户登录")));
    ASSERT_TRUE(found.error.isEmpty()) << found.error.toStdString();
    ASSERT_EQ(found.rows.size(), 3u);
    EXPECT_EQ(found.rows[0].id, QStringLiteral("alice"));
    EXPECT_EQ(found.rows[1].id, QStringLiteral("bob"));
    EXPECT_EQ(found.rows[2].id, QStringLiteral("carol"));
    EXPECT_EQ(found.rows[2].code, QString()); // null shows as the empty text
    EXPECT_EQ(found.rows[0].time, QStringLiteral("2024年03月05日09时07分03秒"));
    EXPECT_GT(found.rows[0].seq, 0);

    LogListModel model;
    model.setRows(found.rows);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("零件代号"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString::number(found.rows[1].seq));
    EXPECT_EQ(model.data(model.index(1, 4)).toString(), QStringLiteral("用户登录"));
}

TEST_P(LogData, SearchRefusesEmptyAndForeignConditionsAndReportsDatabaseErrors) {
    const LogSearch empty = PrepareLogSearch(env->db(), QString());
    EXPECT_TRUE(empty.verdict.refused());
    EXPECT_EQ(empty.verdict.text, QStringLiteral("请先输入查询条件！"));
    EXPECT_EQ(empty.verdict.icon, Icon::None);
    EXPECT_EQ(empty.verdict.title, kTitleProgram);

    const LogSearch foreign = PrepareLogSearch(env->db(), QStringLiteral("1=1; delete from PDM日志 "));
    EXPECT_TRUE(foreign.verdict.refused());
    EXPECT_EQ(logCount(), 5);

    // A condition the database rejects comes back as its description, not as an empty result.
    const LogSearch bad = PrepareLogSearch(env->db(), QStringLiteral("方式 = = '用户登录' "));
    ASSERT_TRUE(bad.verdict.done());
    const LogFetch failed = FetchLogRows(env->db().spec(), bad.sql);
    EXPECT_FALSE(failed.error.isEmpty());
    EXPECT_TRUE(failed.rows.empty());
}

TEST_P(LogData, DeletionRemovesExactlyTheListedRowsAndLeavesItsOwnRow) {
    const LogFetch logins = search(QStringLiteral("方式 = '用户登录' "));
    ASSERT_EQ(logins.rows.size(), 3u);
    std::vector<qint64> seqs;
    for (const LogRow& r : logins.rows)
        seqs.push_back(r.seq);
    env->clock.set(QDateTime(QDate(2024, 4, 1), QTime(0, 5, 9)));
    qsizetype deleted = -1;
    int betweens = 0;
    EXPECT_TRUE(DeleteLogRows(*env->session, seqs, &deleted, [&] { ++betweens; }).done());
    EXPECT_EQ(deleted, 3);
    EXPECT_GE(betweens, 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='用户登录'")), 0);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式 in ('图纸入库','图纸出库')")), 2);

    // Who deleted how many, and when.
    const LogFetch trace = search(QStringLiteral("方式 = '删除日志记录' "));
    ASSERT_EQ(trace.rows.size(), 1u);
    EXPECT_EQ(trace.rows[0].id, QStringLiteral("admin"));
    EXPECT_EQ(trace.rows[0].code, QStringLiteral("共3条"));
    EXPECT_EQ(trace.rows[0].time, QStringLiteral("2024年04月01日00时05分09秒"));

    // Rows another client deleted meanwhile are not counted as deleted here.
    const qint64 kept = search(QStringLiteral("方式 = '图纸入库' ")).rows.at(0).seq;
    EXPECT_TRUE(DeleteLogRows(*env->session, {kept, seqs[0]}, &deleted).done());
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(
        env->count(QStringLiteral("select count(*) from PDM日志 where 代号='共1条' and 方式=?"), {LogWord::DeleteLog}),
        1);
}

TEST_P(LogData, ManyRowsGoInBatchesInOneTransaction) {
    for (int i = 0; i < 1200; ++i)
        add(QStringLiteral("dave"), QStringLiteral("X-%1").arg(i), QStringLiteral("图纸出库"));
    const LogFetch many = search(QStringLiteral("ID = 'dave' "));
    ASSERT_EQ(many.rows.size(), 1200u);
    std::vector<qint64> seqs;
    for (const LogRow& r : many.rows)
        seqs.push_back(r.seq);
    int batches = 0;
    qsizetype deleted = 0;
    EXPECT_TRUE(DeleteLogRows(*env->session, seqs, &deleted, [&] { ++batches; }).done());
    EXPECT_EQ(deleted, 1200);
    EXPECT_EQ(batches, 3);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where ID='dave'")), 0);
}

TEST_P(LogData, AFailedDeletionChangesNothing) {
    const LogFetch all = search(QStringLiteral("ID is NULL Or ID is not NULL "));
    ASSERT_EQ(all.rows.size(), 5u);
    std::vector<qint64> seqs;
    for (const LogRow& r : all.rows)
        seqs.push_back(r.seq);
    // The deletion's own row cannot be written: everything stays as it was.
    env->session->ctx.UserId = QString();
    env->db().exec(env->backend == Backend::SQLite
                       ? QStringLiteral("create trigger no_trace before insert on PDM日志 begin select raise(abort, "
                                        "'no trace'); end")
                       : QStringLiteral("alter table PDM日志 add constraint no_trace check (方式 <> '删除日志记录')"));
    const Outcome o = DeleteLogRows(*env->session, seqs);
    EXPECT_TRUE(o.failed());
    EXPECT_EQ(logCount(), 5);
}

INSTANTIATE_TEST_SUITE_P(Both, LogData, kBothBackends, BackendName);
