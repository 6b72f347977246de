#include "LibraryFixture.h"

#include "library/Holds.h"

#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {

class HoldsTest : public LibraryTest {
protected:
    // A-1 in the library, checked out by bob; his copy on his disk.
    void bobHoldsA1() {
        ASSERT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "aaa").done());
        loginAs(QStringLiteral("bob"), QStringLiteral("design"));
        bobCopy = env->dir.path() + QStringLiteral("/local/bob-A-1.dwg");
        ASSERT_TRUE(library().CheckOut(QStringLiteral("A-1"), bobCopy).done());
        ASSERT_EQ(checkouts(QStringLiteral("A-1")), 1);
    }
    HeldDrawing shownHold(const QString& code) {
        for (const HeldDrawing& h : ListHolds(env->db(), env->clock.today()))
            if (h.code == code)
                return h;
        ADD_FAILURE() << "no hold of " << code.toStdString();
        return {};
    }
    struct LogRow {
        QString user, code;
    };
    std::vector<LogRow> releaseRows() {
        std::vector<LogRow> rows;
        QSqlQuery q = env->db().exec(QStringLiteral("select ID, 代号 from PDM日志 where 方式=? order by 序号"),
                                     {HoldText::LogRelease});
        while (q.next())
            rows.push_back({q.value(0).toString(), q.value(1).toString()});
        return rows;
    }
    void expectReleased(const QString& by) {
        EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);
        EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("正常"));
        const auto rows = releaseRows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].user, by);
        EXPECT_EQ(rows[0].code, QStringLiteral("A-1（出库人：bob）"));
        EXPECT_EQ(read(bobCopy), QByteArray("aaa")); // the holder's copy is his
    }
    void expectStillHeld() {
        EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);
        EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("状态")), QStringLiteral("出库"));
        EXPECT_TRUE(releaseRows().empty());
    }

    QString bobCopy;
};

TEST_P(HoldsTest, TheListShowsHolderDateDaysAndVolumeAndFiltersByHolder) {
    bobHoldsA1();
    ASSERT_TRUE(checkInAsAdmin(QStringLiteral("B-2"), "bbb").done());
    ASSERT_TRUE(library().CheckOut(QStringLiteral("B-2"), env->dir.path() + QStringLiteral("/local/b.dwg")).done());
    env->db().exec(QStringLiteral("update PDM出库图纸信息 set 出库时间='2024/2/28' where 代号='B-2'"));
    const auto all = ListHolds(env->db(), QDate(2024, 3, 5));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].code, QStringLiteral("A-1"));
    EXPECT_EQ(all[0].holder, QStringLiteral("bob"));
    EXPECT_EQ(all[0].since, QStringLiteral("2024/3/5"));
    EXPECT_EQ(all[0].days, 0);
    EXPECT_EQ(all[0].volume, QStringLiteral("V1"));
    EXPECT_EQ(all[1].holder, QStringLiteral("admin"));
    EXPECT_EQ(all[1].days, 6); // across the leap day
    const auto bobs = ListHolds(env->db(), QDate(2024, 3, 5), QStringLiteral("bob"));
    ASSERT_EQ(bobs.size(), 1u);
    EXPECT_EQ(bobs[0].code, QStringLiteral("A-1"));
    EXPECT_EQ(Holders(env->db()), (QStringList{QStringLiteral("admin"), QStringLiteral("bob")}));
}

TEST_P(HoldsTest, TheHolderReleasesHisOwnHoldWithoutAQuestion) {
    bobHoldsA1();
    Holds holds(*env->session);
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    const Holds::Check c = holds.Prepare(shown);
    ASSERT_TRUE(c.refusal.done()) << c.refusal.text.toStdString();
    EXPECT_TRUE(c.question.isEmpty());
    const Outcome o = holds.Release(shown);
    ASSERT_TRUE(o.done()) << o.text.toStdString();
    EXPECT_EQ(o.text, QStringLiteral("图纸<A-1>的出库已撤销！"));
    expectReleased(QStringLiteral("bob"));
    // Released means another writer may check it in now.
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    EXPECT_TRUE(checkInAsAdmin(QStringLiteral("A-1"), "new").done());
}

TEST_P(HoldsTest, AnAdministratorReleasesAnotherUsersHoldAfterAQuestionNamingHolderAndDate) {
    bobHoldsA1();
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    // Even with every right list withdrawn from him.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 写='/' where 代号='A-1'"));
    Holds holds(*env->session);
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    const Holds::Check c = holds.Prepare(shown);
    ASSERT_TRUE(c.refusal.done());
    EXPECT_EQ(
        c.question,
        QStringLiteral("图纸<A-1>由bob在2024/3/5出库，撤销后其他有“写”权限的用户即可将其入库。确定撤销该出库吗？"));
    ASSERT_TRUE(holds.Release(shown).done());
    expectReleased(QStringLiteral("admin"));
}

TEST_P(HoldsTest, OtherUsersAndUsersWithoutWriteRightAreRefused) {
    bobHoldsA1();
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    // alice reads only.
    loginAs(QStringLiteral("alice"), QStringLiteral("design"));
    Holds holds(*env->session);
    EXPECT_EQ(holds.Prepare(shown).refusal.text, LibraryText::NoRight);
    EXPECT_EQ(holds.Release(shown).text, LibraryText::NoRight);
    // carol may write but does not hold it.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 写='/admin(U)/bob(U)/carol(U)/' where 代号='A-1'"));
    loginAs(QStringLiteral("carol"), QStringLiteral("design"));
    const Outcome carol = holds.Release(shown);
    EXPECT_TRUE(carol.refused());
    EXPECT_EQ(carol.text, QStringLiteral("图纸<A-1>由bob出库，只有出库人本人或admin组的用户才能撤销！"));
    // bob himself, once his write right is withdrawn.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 写='/admin(U)/' where 代号='A-1'"));
    loginAs(QStringLiteral("bob"), QStringLiteral("design"));
    EXPECT_EQ(holds.Release(shown).text, LibraryText::NoRight);
    expectStillHeld();
}

TEST_P(HoldsTest, AHoldEndedByACheckInOrTakenAgainIsRefused) {
    bobHoldsA1();
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    Acl::SetPending(env->session->ctx, QStringLiteral("/bob(U)/"), QStringLiteral("/admin(U)/bob(U)/"),
                    QStringLiteral("/bob(U)/"), QStringLiteral("/bob(U)/"));
    ASSERT_TRUE(library().CheckIn(QStringLiteral("A-1"), drawing(QStringLiteral("a2.dwg"), "a2")).done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    Holds holds(*env->session);
    const Outcome afterCheckIn = holds.Release(shown);
    EXPECT_TRUE(afterCheckIn.refused());
    EXPECT_EQ(afterCheckIn.text, QStringLiteral("图纸<A-1>已不在出库状态（已重新入库或出库已被撤销），无法撤销出库！"));
    EXPECT_TRUE(releaseRows().empty());

    // Taken again by someone else since the list was read: not the hold the administrator chose.
    ASSERT_TRUE(library().CheckOut(QStringLiteral("A-1"), env->dir.path() + QStringLiteral("/local/x.dwg")).done());
    const Outcome changed = holds.Release(shown);
    EXPECT_TRUE(changed.refused());
    EXPECT_EQ(changed.text, QStringLiteral("图纸<A-1>现已被admin在2024/3/5出库，与列表所示不同，请刷新后再操作！"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 1);
}

// The same holder on the same day: only the check-out tells the listed hold from the new one.
TEST_P(HoldsTest, AStaleEntryDoesNotEndTheHoldersNewerHoldOfTheSameDay) {
    bobHoldsA1();
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    Acl::SetPending(env->session->ctx, QStringLiteral("/bob(U)/"), QStringLiteral("/admin(U)/bob(U)/"),
                    QStringLiteral("/bob(U)/"), QStringLiteral("/bob(U)/"));
    ASSERT_TRUE(library().CheckIn(QStringLiteral("A-1"), drawing(QStringLiteral("a2.dwg"), "a2")).done());
    ASSERT_TRUE(library().CheckOut(QStringLiteral("A-1"), bobCopy).done());
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"));
    const Outcome stale = Holds(*env->session).Release(shown);
    EXPECT_TRUE(stale.refused()) << stale.text.toStdString();
    EXPECT_EQ(stale.text, QStringLiteral("图纸<A-1>现已被bob在2024/3/5出库，与列表所示不同，请刷新后再操作！"));
    expectStillHeld();
    // The fresh entry is the hold itself.
    ASSERT_TRUE(Holds(*env->session).Release(shownHold(QStringLiteral("A-1"))).done());
}

TEST_P(HoldsTest, TwoReleasesRacingLeaveOneSuccess) {
    bobHoldsA1();
    const HeldDrawing shown = shownHold(QStringLiteral("A-1"));
    RecordingFeedback otherFeedback;
    auto other = env->otherSession(otherFeedback, QStringLiteral("BEEF"));
    loginAs(QStringLiteral("admin"), QStringLiteral("admin"), other.get());
    Holds mine(*env->session);
    Outcome theirs;
    // The other client releases between this one's check and its locked pass.
    mine.onStep = [&](QStringView step) {
        if (step == u"checked")
            theirs = Holds(*other).Release(shown);
    };
    const Outcome o = mine.Release(shown);
    EXPECT_TRUE(theirs.done()) << theirs.text.toStdString();
    EXPECT_TRUE(o.refused()) << o.text.toStdString();
    const auto rows = releaseRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].user, QStringLiteral("admin"));
    EXPECT_EQ(checkouts(QStringLiteral("A-1")), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, HoldsTest, kBothBackends, BackendName);

} // namespace
