#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "items/Borrowed.h"

using namespace velda;
using namespace velda::test;

class BorrowData : public BothDatabases {
protected:
    void as(const QString& user) { env->actAs(user, QStringLiteral("/user/"), QStringLiteral("user")); }
    int records(const QString& owner = {}) {
        return owner.isEmpty() ? env->count(QStringLiteral("select count(*) from 借用件"))
                               : env->count(QStringLiteral("select count(*) from 借用件 where 入库帐号=?"), {owner});
    }
    int logRows(const QString& word, const QString& code) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式=? and 代号=?"), {word, code});
    }
    void store(const QString& part, const QString& product, const QString& section, const QString& date,
               const QString& owner = QStringLiteral("admin")) {
        env->db().exec(
            QStringLiteral(
                "insert into 借用件 (名称, 借用产品, 借用结合部, 入库时间, 入库帐号) values (?, ?, ?, ?, ?)"),
            {part, product, section, date, owner});
    }
};

TEST_P(BorrowData, AddingNeedsAllFourFieldsAndStoresCodesInCapitals) {
    as(QStringLiteral("alice"));
    BorrowedParts parts(*env->session);
    for (int blank = 0; blank < 4; ++blank) {
        BorrowRecord r{QStringLiteral("gb-12"), QStringLiteral("p100"), QStringLiteral("a"),
                       QStringLiteral("2024/03/05")};
        QString* fields[] = {&r.part, &r.product, &r.section, &r.date};
        fields[blank]->clear();
        const Outcome o = parts.Add(r);
        EXPECT_TRUE(o.refused());
        EXPECT_EQ(o.text, BorrowText::MissingFields);
        EXPECT_EQ(o.title, QStringLiteral("反馈信息"));
    }
    EXPECT_EQ(records(), 0);

    const Outcome added =
        parts.Add({QStringLiteral("gb-12"), QStringLiteral("p100"), QStringLiteral("a"), QStringLiteral("2024/03/05")});
    ASSERT_TRUE(added.done()) << added.text.toStdString();
    EXPECT_EQ(added.text, QStringLiteral("添加完成！"));
    EXPECT_EQ(added.icon, Icon::None);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 借用件 where 名称='GB-12' and 借用产品='P100' and "
                                        "借用结合部='A' and 入库帐号='alice' and 入库时间='2024/03/05'")),
              1);
    EXPECT_EQ(logRows(LogWord::AddBorrowed, QStringLiteral("GB-12被P100-A借用")), 1);

    // What was typed in small letters is found by the upper-cased search code.
    QStringList sections;
    ASSERT_TRUE(parts.Borrowers(QStringLiteral("GB-12"), sections).done());
    EXPECT_EQ(sections, QStringList({QStringLiteral("P100-A")}));
}

TEST_P(BorrowData, DeletingRemovesOnlyTheUsersOwnRecord) {
    BorrowedParts parts(*env->session);
    const BorrowRecord same{QStringLiteral("GB-12"), QStringLiteral("P100"), QStringLiteral("A"),
                            QStringLiteral("2024/03/05")};
    as(QStringLiteral("alice"));
    ASSERT_TRUE(parts.Add(same).done());
    as(QStringLiteral("bob"));
    ASSERT_TRUE(parts.Add(same).done());

    // carol made no such record; the administrator has no exception either.
    for (const char* who : {"carol", "admin"}) {
        as(QString::fromLatin1(who));
        const Outcome refused = parts.Delete(same);
        EXPECT_TRUE(refused.refused());
        EXPECT_EQ(refused.text, QStringLiteral("您权限不够，操作失败"));
        EXPECT_EQ(refused.icon, Icon::Stop);
    }
    EXPECT_EQ(records(), 2);

    as(QStringLiteral("alice"));
    BorrowRecord typedSmall = same;
    typedSmall.part = QStringLiteral("gb-12");
    typedSmall.date.clear(); // the date takes no part in deleting
    const Outcome deleted = parts.Delete(typedSmall);
    ASSERT_TRUE(deleted.done());
    EXPECT_EQ(deleted.text, QStringLiteral("删除完成！"));
    EXPECT_EQ(records(QStringLiteral("alice")), 0);
    EXPECT_EQ(records(QStringLiteral("bob")), 1);
    EXPECT_EQ(logRows(LogWord::DeleteBorrowed, QStringLiteral("GB-12被P100-A借用")), 1);
    EXPECT_TRUE(parts.Delete(same).refused());

    const Outcome noName = parts.Delete({QString(), QStringLiteral("P100"), QStringLiteral("A"), {}});
    EXPECT_EQ(noName.text, QStringLiteral("请先输入借用件名称"));
}

TEST_P(BorrowData, BorrowersInDatabaseOrderForTheTreeAndSortedForTheList) {
    store(QStringLiteral("GB-12"), QStringLiteral("P200"), QStringLiteral("B"), QStringLiteral("2024/02/01"));
    store(QStringLiteral("GB-12"), QStringLiteral("P100"), QStringLiteral("C"), QStringLiteral("2024/01/01"));
    store(QStringLiteral("GB-12"), QStringLiteral("P100"), QStringLiteral("A"), QStringLiteral("2024/03/01"));
    store(QStringLiteral("P100-A"), QStringLiteral("P300"), QStringLiteral("C"), QStringLiteral("2024/04/01"));
    // Stored in small letters by an older client: still part of the graph.
    store(QStringLiteral("p200-b"), QStringLiteral("p400"), QStringLiteral("d"), QStringLiteral("2024/05/01"));
    BorrowedParts parts(*env->session);

    QStringList sections;
    ASSERT_TRUE(parts.Borrowers(QStringLiteral("GB-12"), sections).done());
    EXPECT_EQ(sections.size(), 3);
    EXPECT_TRUE(sections.contains(QStringLiteral("P200-B")));

    QList<Borrower> sorted;
    ASSERT_TRUE(parts.SortedBorrowers(QStringLiteral("GB-12"), sorted).done());
    ASSERT_EQ(sorted.size(), 3);
    EXPECT_EQ(sorted[0].section, QStringLiteral("P100-A"));
    EXPECT_EQ(sorted[0].date, QStringLiteral("2024/03/01"));
    EXPECT_EQ(sorted[1].section, QStringLiteral("P100-C"));
    EXPECT_EQ(sorted[2].section, QStringLiteral("P200-B"));

    bool has = false;
    ASSERT_TRUE(parts.HasBorrowers(QStringLiteral("P100-A"), has).done());
    EXPECT_TRUE(has);
    parts.HasBorrowers(QStringLiteral("P100-C"), has);
    EXPECT_FALSE(has);
    parts.HasBorrowers(QStringLiteral("P200-B"), has);
    EXPECT_TRUE(has);

    // A code with a quote is data, not SQL.
    ASSERT_TRUE(parts.Borrowers(QStringLiteral("X-1' or '1'='1"), sections).done());
    EXPECT_TRUE(sections.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Both, BorrowData, kBothBackends, BackendName);
