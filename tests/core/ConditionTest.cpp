#include "TestSupport.h"

#include "core/Condition.h"

using namespace velda;
using namespace velda::test;

namespace {
const QString kCode = QStringLiteral("代号");
const QString kName = QStringLiteral("名称");
const QString kContains = QStringLiteral("包含");
const QStringList kLogColumns = {QStringLiteral("序号"), QStringLiteral("ID"), kCode, QStringLiteral("时间"),
                                 QStringLiteral("方式")};
} // namespace

TEST(ConditionClause, EveryFormOfClause) {
    EXPECT_EQ(ComposeClause(kName, kContains, QStringLiteral("轴")), QStringLiteral("名称 like  '%轴%' escape '\\' "));
    EXPECT_EQ(ComposeClause(kName, kContains, QStringLiteral("a_b%'\\")),
              QStringLiteral("名称 like  '%a\\_b\\%''\\\\%' escape '\\' "));
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral("="), QStringLiteral("O'Ring")), QStringLiteral("代号 = 'O''Ring' "));
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral("="), QStringLiteral("   ")), QStringLiteral("代号 is NULL "));
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral("="), QStringLiteral(" A B ")), QStringLiteral("代号 = ' A B ' "));
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral(">"), QString()), QStringLiteral("代号 > '' "));
    // Only the exact words get the special forms; a typed word is a plain comparison.
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral("<>"), QString()), QStringLiteral("代号 <> '' "));
    EXPECT_EQ(ComposeClause(kCode, QStringLiteral(" = "), QString()), QStringLiteral("代号  =  '' "));
}

TEST(ConditionCheck, OnlyAPlainConditionOnTheTablePasses) {
    const QStringList good = {
        ComposeClause(kCode, kContains, QStringLiteral("a'b_%;--/*")) + QStringLiteral("And Not ") +
            ComposeClause(QStringLiteral("ID"), QStringLiteral("="), QString()),
        QStringLiteral("id='a' AND (序号>=10 or 序号 < -2.5) and 代号 is not null Or 序号<>+3"),
        QStringLiteral("代号 not like 'A!%' escape '!'"),
        // Faults that endanger nothing are left for the database to report.
        QStringLiteral("代号 = 'A' 代号 = 'B' And ("),
    };
    for (const QString& text : good)
        EXPECT_FALSE(CheckConditionText(text, kLogColumns).has_value()) << text.toStdString();

    const std::vector<std::pair<QString, QString>> bad = {
        {QStringLiteral("代号 = 'A' ; delete from PDM用户"), QStringLiteral("; delete from PDM用户")},
        {QStringLiteral("代号 = 'A' -- rest"), QStringLiteral("-- rest")},
        {QStringLiteral("代号 = 'A' /* x */"), QStringLiteral("/* x */")},
        {QStringLiteral("代号 in (select ID from PDM用户)"), QStringLiteral("in(")},
        {QStringLiteral("代号 = (select ID from PDM用户)"), QStringLiteral("select")},
        {QStringLiteral("密码 = 'x'"), QStringLiteral("密码")},
        {QStringLiteral("代号 = 'it''s"), QStringLiteral("'it''s（单引号不成对）")},
        {QStringLiteral("\"代号\" = 'A'"), QStringLiteral("\"代号\" = 'A'")},
        {QStringLiteral("lower(代号) = 'a'"), QStringLiteral("lower(")},
        {QStringLiteral("代号 (1)"), QStringLiteral("代号(")},
        {QStringLiteral("代号 = 'a' || 'b'"), QStringLiteral("|| 'b'")},
        {QStringLiteral("PDM用户.ID = 'a'"), QStringLiteral("PDM用户")},
        {QStringLiteral("序号 = 0x10"), QStringLiteral("0x10")},
        {QStringLiteral("代号 = 'a' escape '\\'"), QStringLiteral("escape（只能用在like的匹配值之后）")},
        {QStringLiteral("代号　= 'a'"), QStringLiteral("　= 'a'")},
    };
    for (const auto& [text, detail] : bad) {
        const auto verdict = CheckConditionText(text, kLogColumns);
        ASSERT_TRUE(verdict.has_value()) << text.toStdString();
        EXPECT_EQ(*verdict, QStringLiteral("查询条件中含有不允许的内容：") + detail);
    }
}

class ConditionSearch : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        for (const auto& [code, name] : std::vector<std::pair<const char*, const char*>>{
                 {"C3", "O'Ring"}, {"A1", "a_b"}, {"B2", "axb"}, {"D4", "100%"}, {"E5", "1000"}, {"F6", "C:\\x"}})
            env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称, 类型) values (?, ?, '零件')"),
                           {QString::fromUtf8(code), QString::fromUtf8(name)});
    }
    std::optional<FoundRows> search(const QString& text, const ConditionConfig& config) {
        started = false;
        env->feedback.clear();
        FoundRows found;
        // Shown as the dialogs show it, so the box is the one the user sees.
        if (!ShowOutcome(env->feedback,
                         RunConditionSearch(*env->session, config, text, found, [this] { started = true; })))
            return std::nullopt;
        return found;
    }
    QStringList parts(const QString& text) {
        QStringList out;
        if (const auto found = search(text, ConditionConfig::itemSearch(QStringLiteral("ByPart"))))
            for (int i = 0; i < found->count(); ++i)
                out << found->text(i, kCode);
        return out;
    }
    void expectBox(const QString& text, Icon icon, const QString& title) {
        ASSERT_EQ(env->feedback.boxes.size(), 1);
        EXPECT_EQ(env->feedback.last().text, text);
        EXPECT_EQ(env->feedback.last().icon, icon);
        EXPECT_EQ(env->feedback.last().title, title);
    }
    bool started = false;
};

TEST_P(ConditionSearch, ColumnsAndRowsComeInOrderSpelledAsTheSchemaSpellsThem) {
    EXPECT_EQ(TableColumns(env->db(), QStringLiteral("PDM日志")), kLogColumns);
    EXPECT_EQ(TableColumns(env->db(), QStringLiteral("PDM存储目录")),
              (QStringList{QStringLiteral("目录名称"), QStringLiteral("服务器IP"), QStringLiteral("备注")}));
    EXPECT_THROW(TableColumns(env->db(), QStringLiteral("零件信息; drop table PDM用户")), Error);

    EXPECT_EQ(parts(QStringLiteral("类型 = '零件' ")), QStringLiteral("A1 B2 C3 D4 E5 F6").split(QLatin1Char(' ')));
    EXPECT_TRUE(started);
    for (const char* id : {"zoe", "amy", "kim"})
        env->db().exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, '', 't', '用户登录')"),
                       {QString::fromLatin1(id)});
    const auto log = search(QStringLiteral("方式 = '用户登录' And 序号 > '0' "), ConditionConfig::activityLog());
    ASSERT_TRUE(log);
    EXPECT_EQ(log->columns, kLogColumns);
    EXPECT_EQ(log->text(0, QStringLiteral("ID")) + log->text(1, QStringLiteral("id")) +
                  log->text(2, QStringLiteral("ID")),
              QStringLiteral("amykimzoe"));
}

TEST_P(ConditionSearch, ValuesAreMatchedAsTypedTextNotAsSqlOrWildcards) {
    EXPECT_EQ(parts(ComposeClause(kName, QStringLiteral("="), QStringLiteral("O'Ring"))),
              QStringList{QStringLiteral("C3")});
    EXPECT_EQ(parts(ComposeClause(kName, kContains, QStringLiteral("a_b"))), QStringList{QStringLiteral("A1")});
    EXPECT_EQ(parts(ComposeClause(kName, kContains, QStringLiteral("0%"))), QStringList{QStringLiteral("D4")});
    EXPECT_EQ(parts(ComposeClause(kName, kContains, QStringLiteral(":\\"))), QStringList{QStringLiteral("F6")});
    EXPECT_EQ(parts(ComposeClause(kName, kContains, QString())).size(), 6);
    // like is case-sensitive on both databases.
    EXPECT_TRUE(parts(ComposeClause(kName, kContains, QStringLiteral("A_B"))).isEmpty());
}

TEST_P(ConditionSearch, EmptyTextNoRowsAndRejectedTextAreReported) {
    EXPECT_FALSE(search(QString(), ConditionConfig::itemSearch(QStringLiteral("ByPart"))));
    EXPECT_FALSE(started);
    expectBox(QStringLiteral("请先输入查询条件！"), Icon::None, kTitleProgram);

    EXPECT_FALSE(search(QStringLiteral("代号 is NULL "), ConditionConfig::itemSearch(QStringLiteral("ByPart"))));
    expectBox(QStringLiteral("库中不存在符合查询条件的记录"), Icon::Stop, QStringLiteral("反馈信息"));
    EXPECT_FALSE(search(QStringLiteral("代号 = 'Z' "), ConditionConfig::batchCheckOut(QStringLiteral("ByDrawing"))));
    expectBox(QStringLiteral("库中不存在符合查询条件的记录"), Icon::None, kTitleProgram);

    // Two clauses without a joining word: the database's own words, once the search has started.
    EXPECT_TRUE(parts(QStringLiteral("代号 = 'A1' 代号 = 'B2' ")).isEmpty());
    EXPECT_TRUE(started);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_TRUE(env->feedback.last().text.startsWith(QStringLiteral("数据库操作失败：")));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
}

TEST_P(ConditionSearch, UnsafeTextIsRefusedAndNothingRuns) {
    for (const QString& text :
         {QStringLiteral("代号 = 'A1' ; delete from PDM用户"), QStringLiteral("代号 = 'A1'; delete from PDM用户; --"),
          QStringLiteral("代号 = 'A1' -- "), QStringLiteral("代号 in (select ID from PDM用户)"),
          QStringLiteral("代号 = 'A1' or exists (select 1 from PDM用户 where 密码 like 'a%')"),
          QStringLiteral("密码 = 'admin'"), QStringLiteral("代号 = 'A1"), QStringLiteral("upper(代号) = 'A1'")}) {
        EXPECT_TRUE(parts(text).isEmpty());
        EXPECT_FALSE(started) << text.toStdString();
        ASSERT_EQ(env->feedback.boxes.size(), 1);
        EXPECT_TRUE(env->feedback.last().text.startsWith(QStringLiteral("查询条件中含有不允许的内容：")));
        EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
        EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    }
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM用户 where ID = 'admin'")), 1);

    // The columns are those of the table searched now: 名称 belongs to 零件信息, not to 图纸信息.
    EXPECT_FALSE(search(QStringLiteral("名称 = 'axb' "), ConditionConfig::itemSearch(QStringLiteral("ByDrawing"))));
    expectBox(QStringLiteral("查询条件中含有不允许的内容：名称"), Icon::Stop, QStringLiteral("反馈信息"));
    EXPECT_EQ(parts(QStringLiteral("名称 = 'axb' ")), QStringList{QStringLiteral("B2")});
}

INSTANTIATE_TEST_SUITE_P(Db, ConditionSearch, kBothBackends, BackendName);
