#include "ArchiveFixture.h"

#include "core/ActivityLog.h"

using namespace velda;
using namespace velda::test;

namespace {
ArchiveRecord complete(const QString& code) {
    ArchiveRecord r;
    r.code = code;
    r.name = QStringLiteral("新产品");
    r.startDate = QStringLiteral("2024/03/05");
    r.plannedDate = QStringLiteral("2025-1-9");
    r.design = QStringLiteral("张");
    r.process = QStringLiteral("王");
    r.electrical = QStringLiteral("李");
    r.indicators = QStringLiteral("行1\n行2");
    const QString list = QStringLiteral("/admin(U)/alice(U)//admin(G)/design(G)/");
    r.rights = {list, list, list, list};
    return r;
}
} // namespace

TEST(ArchiveDates, ACalendarDayInYearMonthDayOrder) {
    for (const char* ok : {"2024/03/05", "2024/3/5", "2024-02-29", "2024.12.31", " 2024/1/1 "})
        EXPECT_TRUE(IsArchiveDate(QString::fromUtf8(ok))) << ok;
    for (const char* bad :
         {"", "2023/02/29", "2024/13/01", "2024/04/31", "24/3/5", "2024/3-5", "2024年3月5日", "abc", "2024/03/05 x"})
        EXPECT_FALSE(IsArchiveDate(QString::fromUtf8(bad))) << bad;
    EXPECT_EQ(ArchiveDateText(QDate(2024, 3, 5)), QStringLiteral("2024/03/05"));
}

TEST_P(ArchiveTest, AddingChecksInOrderThenStoresTheRecordAndItsLogRow) {
    as(QStringLiteral("alice"), QStringLiteral("design"));
    Archives archives(*env->session);
    struct Case {
        std::function<void(ArchiveRecord&)> spoil;
        QString message;
    };
    const QList<Case> cases = {
        {[](ArchiveRecord& r) { r.electrical.clear(); }, ArchiveText::MissingFields},
        {[](ArchiveRecord& r) {
             r.code.clear();
             r.startDate = QStringLiteral("x");
         },
         ArchiveText::MissingFields},
        {[](ArchiveRecord& r) { r.plannedDate = QStringLiteral("2024/02/30"); }, ArchiveText::BadPlanDates},
        {[](ArchiveRecord& r) {
             r.actualDate = QStringLiteral("明天");
             r.rights.read.clear();
         },
         ArchiveText::BadActualDate},
        {[](ArchiveRecord& r) { r.rights.change.clear(); }, ArchiveText::NoRights},
    };
    for (const Case& c : cases) {
        ArchiveRecord r = complete(QStringLiteral("P9"));
        c.spoil(r);
        const Outcome o = archives.Add(r);
        EXPECT_TRUE(o.refused());
        EXPECT_EQ(o.text, c.message);
        EXPECT_EQ(o.title, QStringLiteral("信息反馈"));
        EXPECT_EQ(o.icon, Icon::Stop);
    }
    EXPECT_EQ(archiveCount(), 3);

    const Outcome added = archives.Add(complete(QStringLiteral("P9")));
    ASSERT_TRUE(added.done()) << added.text.toStdString();
    EXPECT_EQ(added.text, QStringLiteral("产品档案已顺利入库！"));
    EXPECT_EQ(added.title, QStringLiteral("信息反馈"));
    EXPECT_EQ(added.icon, Icon::None);
    EXPECT_EQ(column(QStringLiteral("P9"), QStringLiteral("实际完成时间")), QStringLiteral("<null>"));
    EXPECT_EQ(column(QStringLiteral("P9"), QStringLiteral("入库帐号")), QStringLiteral("alice"));
    EXPECT_EQ(column(QStringLiteral("P9"), QStringLiteral("主要性能指标")), QStringLiteral("行1\n行2"));
    EXPECT_EQ(column(QStringLiteral("P9"), QStringLiteral("改")),
              QStringLiteral("/admin(U)/alice(U)//admin(G)/design(G)/"));
    EXPECT_EQ(logRows(LogWord::AddArchive, QStringLiteral("P9")), 1);

    // A second record under the same code is refused by the key, with a clear word and no log row.
    const Outcome again = archives.Add(complete(QStringLiteral("P9")));
    EXPECT_TRUE(again.failed());
    EXPECT_EQ(again.text, ArchiveText::Duplicate(QStringLiteral("P9")));
    EXPECT_EQ(logRows(LogWord::AddArchive, QStringLiteral("P9")), 1);
}

TEST_P(ArchiveTest, ReadableCodesFollowTheUserAndTheLoginGroupOnly) {
    Archives archives(*env->session);
    QStringList codes;
    as(QStringLiteral("alice"), QStringLiteral("user"));
    ASSERT_TRUE(archives.ReadableCodes(codes).done());
    EXPECT_EQ(codes, QStringList({QStringLiteral("A1")}));
    as(QStringLiteral("bob"), QStringLiteral("design"));
    archives.ReadableCodes(codes);
    EXPECT_EQ(codes, QStringList({QStringLiteral("A1"), QStringLiteral("A2")}));
    // Member of design, but logged in with another group.
    env->actAs(QStringLiteral("bob"), QStringLiteral("/design/user/"), QStringLiteral("user"));
    archives.ReadableCodes(codes);
    EXPECT_TRUE(codes.isEmpty());
}

TEST_P(ArchiveTest, NamesWithWildcardCharactersMatchOnlyThemselves) {
    Archives archives(*env->session);
    QStringList codes;
    as(QStringLiteral("%"), QStringLiteral("_"));
    ASSERT_TRUE(archives.ReadableCodes(codes).done());
    EXPECT_TRUE(codes.isEmpty());
    as(QStringLiteral("al_ce"), QStringLiteral("desig%"));
    archives.ReadableCodes(codes);
    EXPECT_TRUE(codes.isEmpty());
    EXPECT_TRUE(archives.Delete(QStringLiteral("A2")).refused());
    ArchiveRecord edit = complete(QStringLiteral("A1"));
    EXPECT_TRUE(archives.Edit(edit).refused());

    // The name really is % and is named in a list: it is granted like any other.
    store(QStringLiteral("A4"), QStringLiteral("/%(U)/"), QStringLiteral("/%(U)/"), QStringLiteral("/%(U)/"),
          QStringLiteral("/%(U)/"));
    as(QStringLiteral("%"), QStringLiteral("_"));
    archives.ReadableCodes(codes);
    EXPECT_EQ(codes, QStringList({QStringLiteral("A4")}));
    EXPECT_TRUE(archives.Delete(QStringLiteral("A4")).done());
}

TEST_P(ArchiveTest, OpeningReadsTheRecordAndLogsIt) {
    as(QStringLiteral("alice"), QStringLiteral("design"));
    Archives archives(*env->session);
    std::optional<ArchiveRecord> r;
    ASSERT_TRUE(archives.Open(QStringLiteral("A2"), r).done());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->name, QStringLiteral("产品A2"));
    EXPECT_EQ(r->actualDate, QStringLiteral("2024/06/30"));
    EXPECT_EQ(r->rights, (ArchiveRights{QStringLiteral("/design(G)/"), QStringLiteral("/design(G)/"),
                                        QStringLiteral("/bob(U)/"), QStringLiteral("/design(G)/")}));
    const ArchiveAccess access = archives.AccessTo(*r);
    EXPECT_TRUE(access.write);
    EXPECT_TRUE(access.change);
    EXPECT_FALSE(access.del);
    EXPECT_EQ(logRows(LogWord::BrowseArchive, QStringLiteral("A2")), 1);

    ASSERT_TRUE(archives.Open(QStringLiteral("NONE"), r).done());
    EXPECT_FALSE(r);
    EXPECT_EQ(logRows(LogWord::BrowseArchive, QStringLiteral("NONE")), 0);
}

TEST_P(ArchiveTest, EditingNeedsTheWriteRightAndRedefinesRightsOnlyWithTheChangeRight) {
    Archives archives(*env->session);
    as(QStringLiteral("bob"), QStringLiteral("user"));
    std::optional<ArchiveRecord> r;
    archives.Open(QStringLiteral("A1"), r);
    ASSERT_TRUE(r);
    const Outcome refused = archives.Edit(*r);
    EXPECT_TRUE(refused.refused());
    EXPECT_EQ(refused.text, QStringLiteral("您权限不够，操作失败"));
    EXPECT_EQ(refused.title, QStringLiteral("信息反馈"));

    // alice writes A1 but may not redefine its rights: what she passes is not stored.
    as(QStringLiteral("alice"), QStringLiteral("user"));
    ArchiveRecord changed = *r;
    changed.name = QStringLiteral("改名");
    changed.startDate = QStringLiteral("1999/01/01");
    changed.actualDate.clear();
    changed.design = QStringLiteral("新设计");
    changed.memo = QString();
    changed.rights = {QStringLiteral("/"), QStringLiteral("/"), QStringLiteral("/"), QStringLiteral("/")};
    const Outcome edited = archives.Edit(changed);
    ASSERT_TRUE(edited.done()) << edited.text.toStdString();
    EXPECT_EQ(edited.text, QStringLiteral("产品档案已编辑入库"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("主任设计")), QStringLiteral("新设计"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("备注")), QString());
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("名称")), QStringLiteral("产品A1"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("立项时间")), QStringLiteral("2024/01/02"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("实际完成时间")), QStringLiteral("2024/06/30"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("读")), QStringLiteral("/alice(U)/design(G)/"));
    EXPECT_EQ(logRows(LogWord::EditArchive, QStringLiteral("A1")), 1);

    // The design group may redefine A2's rights.
    as(QStringLiteral("carol"), QStringLiteral("design"));
    archives.Open(QStringLiteral("A2"), r);
    r->actualDate = QStringLiteral("2025/2/3");
    r->rights.del = QStringLiteral("/carol(U)/");
    ASSERT_TRUE(archives.Edit(*r).done());
    EXPECT_EQ(column(QStringLiteral("A2"), QStringLiteral("删")), QStringLiteral("/carol(U)/"));
    EXPECT_EQ(column(QStringLiteral("A2"), QStringLiteral("实际完成时间")), QStringLiteral("2025/2/3"));

    r->actualDate = QStringLiteral("2025/2/30");
    EXPECT_EQ(archives.Edit(*r).text, ArchiveText::BadActualDate);
    EXPECT_EQ(column(QStringLiteral("A2"), QStringLiteral("实际完成时间")), QStringLiteral("2025/2/3"));
}

TEST_P(ArchiveTest, DeletingNeedsTheDeleteRight) {
    Archives archives(*env->session);
    as(QStringLiteral("alice"), QStringLiteral("design"));
    const Outcome none = archives.Delete(QString());
    EXPECT_TRUE(none.refused());
    EXPECT_EQ(none.text, QStringLiteral("请先选择产品代号"));
    EXPECT_EQ(none.title, QStringLiteral("反馈信息"));
    const Outcome refused = archives.Delete(QStringLiteral("A2"));
    EXPECT_EQ(refused.text, QStringLiteral("您权限不够，操作失败"));
    EXPECT_EQ(refused.title, QStringLiteral("信息反馈"));
    EXPECT_EQ(archiveCount(), 3);

    as(QStringLiteral("bob"), QStringLiteral("user"));
    const Outcome deleted = archives.Delete(QStringLiteral("A2"));
    EXPECT_TRUE(deleted.done());
    EXPECT_EQ(deleted.text, QStringLiteral("删除完毕"));
    EXPECT_EQ(deleted.title, QStringLiteral("反馈信息"));
    EXPECT_EQ(archiveCount(), 2);
    EXPECT_EQ(logRows(LogWord::DeleteArchive, QStringLiteral("A2")), 1);
    EXPECT_TRUE(archives.Delete(QStringLiteral("A2")).refused());
}

TEST_P(ArchiveTest, ALostConnectionIsReportedAsItselfNotAsMissingRights) {
    Archives archives(*env->session);
    as(QStringLiteral("admin"), QStringLiteral("admin"));
    env->session->disconnect();
    std::optional<ArchiveRecord> r;
    const Outcome o = archives.Open(QStringLiteral("A3"), r);
    EXPECT_TRUE(o.failed());
    EXPECT_NE(o.text, ArchiveText::Refused);
    EXPECT_FALSE(o.text.isEmpty());
    EXPECT_TRUE(archives.Delete(QStringLiteral("A3")).failed());
}

INSTANTIATE_TEST_SUITE_P(Both, ArchiveTest, kBothBackends, BackendName);
