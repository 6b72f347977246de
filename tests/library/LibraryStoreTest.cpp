#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "library/LibraryStore.h"

#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {

class LibraryStoreTest : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1:21"));
        env->addVolume(QStringLiteral("V2"), QStringLiteral("10.0.0.2:21"));
    }
    static CheckInRow row(const QString& code, const QString& volume, const QString& storedName,
                          const QString& account = QStringLiteral("bob")) {
        return {code,
                QStringLiteral("/r/"),
                QStringLiteral("/w/"),
                QStringLiteral("/d/"),
                QStringLiteral("/c/"),
                account,
                QStringLiteral("2024/3/5"),
                storedName,
                volume};
    }
    QString column(const QString& code, const QString& col) {
        return field(QStringLiteral("PDM入库图纸信息"), col, QStringLiteral("代号"), code);
    }
    int holdRows(const QString& condition = {}, const QVariantList& values = {}) {
        return rows(QStringLiteral("PDM出库图纸信息"), condition, values);
    }
    LibraryStore store() { return LibraryStore(env->db()); }
};

TEST_P(LibraryStoreTest, WritesAndReadsCheckInRowsOneAndManyAtATime) {
    LibraryStore s = store();
    EXPECT_TRUE(s.isEmpty());
    s.insertCheckIn(row(QStringLiteral("A-1"), QStringLiteral("V1"), QStringLiteral("a1.dwg")));
    EXPECT_FALSE(s.isEmpty());
    rows::StoredDrawing a = s.readDrawing(QStringLiteral("A-1"));
    ASSERT_TRUE(a.exists);
    EXPECT_EQ(a.read + a.write + a.del + a.change, QStringLiteral("/r//w//d//c/"));
    EXPECT_EQ(a.state, QStringLiteral("正常"));
    EXPECT_EQ(a.remotePath(), RemotePath(QStringLiteral("V1"), QStringLiteral("a1.dwg")));
    EXPECT_TRUE(a.volumeKnown);
    EXPECT_EQ(a.server, QStringLiteral("10.0.0.1:21"));
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("入库帐号")), QStringLiteral("bob"));
    EXPECT_FALSE(s.readDrawing(QStringLiteral("NONE")).exists);

    // A replacement writes every field and puts the row back to 正常.
    env->db().exec(QStringLiteral("update PDM入库图纸信息 set 状态='出库'"));
    CheckInRow again =
        row(QStringLiteral("A-1"), QStringLiteral("GONE"), QStringLiteral("a1-new.dwg"), QStringLiteral("carol"));
    again.read = QStringLiteral("/all/");
    s.replaceCheckIn(again);
    a = s.readDrawing(QStringLiteral("A-1"));
    EXPECT_EQ(a.read, QStringLiteral("/all/"));
    EXPECT_EQ(a.state, QStringLiteral("正常"));
    EXPECT_EQ(a.fileName, QStringLiteral("a1-new.dwg"));
    EXPECT_FALSE(a.volumeKnown); // its volume is not in PDM存储目录
    EXPECT_EQ(column(QStringLiteral("A-1"), QStringLiteral("入库帐号")), QStringLiteral("carol"));

    // Many rows cross the slices of both databases.
    QList<CheckInRow> many;
    QStringList codes;
    for (int i = 0; i < 501; ++i) {
        codes << QStringLiteral("M-%1").arg(i);
        many << row(codes.back(), QStringLiteral("V2"), QStringLiteral("m%1.dwg").arg(i));
    }
    s.insertCheckIns(many);
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息"), QStringLiteral("状态='正常' and 目录名称='V2'")), 501);
    many[7].storedName = QStringLiteral("a1-new.dwg"); // a second row naming one file
    many[7].volume = QStringLiteral("GONE");
    many[9].write = QStringLiteral("/nobody/");
    s.replaceCheckIns({many[7], many[9]});
    const QHash<QString, rows::StoredDrawing> read = s.readDrawings(codes + QStringList{QStringLiteral("NONE")});
    EXPECT_EQ(read.size(), 501);
    EXPECT_EQ(read.value(QStringLiteral("M-500")).server, QStringLiteral("10.0.0.2:21"));
    EXPECT_EQ(read.value(QStringLiteral("M-9")).write, QStringLiteral("/nobody/"));
    EXPECT_FALSE(read.value(QStringLiteral("M-7")).volumeKnown);

    // Which rows name a stored file.
    EXPECT_EQ(s.otherCodeOfFile(QStringLiteral("A-1"), QStringLiteral("GONE"), QStringLiteral("a1-new.dwg")),
              QStringLiteral("M-7"));
    EXPECT_EQ(s.otherCodeOfFile(QStringLiteral("M-8"), QStringLiteral("V2"), QStringLiteral("m8.dwg")), QString());
    QHash<QString, QStringList> named =
        s.codesOfFiles(QStringLiteral("GONE"), {QStringLiteral("a1-new.dwg"), QStringLiteral("none.dwg")});
    ASSERT_EQ(named.size(), 1);
    QStringList both = named.value(QStringLiteral("a1-new.dwg"));
    both.sort();
    EXPECT_EQ(both, (QStringList{QStringLiteral("A-1"), QStringLiteral("M-7")}));
    const QHash<QString, QString> files = s.filesOn(QStringLiteral("V2"));
    EXPECT_EQ(files.size(), 500);
    EXPECT_EQ(files.value(QStringLiteral("m42.dwg")), QStringLiteral("M-42"));

    s.deleteDrawing(QStringLiteral("A-1"));
    EXPECT_FALSE(s.readDrawing(QStringLiteral("A-1")).exists);
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息")), 501);
}

TEST_P(LibraryStoreTest, TakesListsAndEndsHolds) {
    LibraryStore s = store();
    QList<CheckInRow> drawings;
    for (const QString& code : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")})
        drawings << row(code, QStringLiteral("V1"), code + QStringLiteral(".dwg"));
    s.insertCheckIns(drawings);

    // bob's check-out of A is logged; carol's holds were written without a log row.
    s.markCheckedOut(QStringLiteral("A"), QStringLiteral("bob"), QStringLiteral("2024/3/5"));
    const qint64 logged =
        AppendNumberedLogRow(*env->session, env->db(), QStringLiteral("bob"), QStringLiteral("A"), LogWord::CheckOut);
    s.markAllCheckedOut({QStringLiteral("C"), QStringLiteral("B")}, QStringLiteral("carol"),
                        QStringLiteral("2024/3/1"));
    EXPECT_EQ(rows(QStringLiteral("PDM入库图纸信息"), QStringLiteral("状态='出库'")), 3);
    EXPECT_EQ(s.readDrawing(QStringLiteral("D")).state, QStringLiteral("正常"));

    const rows::Holder a = s.holderOf(QStringLiteral("A"));
    EXPECT_TRUE(a.exists);
    EXPECT_EQ(a.account + a.when, QStringLiteral("bob2024/3/5"));
    EXPECT_EQ(a.checkOut, logged);
    EXPECT_EQ(s.holderOf(QStringLiteral("B")).checkOut, 0);
    EXPECT_FALSE(s.holderOf(QStringLiteral("D")).exists);
    const QHash<QString, rows::Holder> held =
        s.holdersOf({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("D")});
    EXPECT_EQ(held.size(), 2);
    EXPECT_EQ(held.value(QStringLiteral("A")).checkOut, logged);
    EXPECT_EQ(held.value(QStringLiteral("B")).account, QStringLiteral("carol"));

    auto codesOf = [](const std::vector<HoldRow>& list) {
        QStringList codes;
        for (const HoldRow& h : list)
            codes << h.code + QLatin1Char(':') + h.volume;
        return codes;
    };
    EXPECT_EQ(codesOf(s.holds()),
              (QStringList{QStringLiteral("A:V1"), QStringLiteral("B:V1"), QStringLiteral("C:V1")}));
    EXPECT_EQ(codesOf(s.holds(QStringLiteral("carol"))), (QStringList{QStringLiteral("B:V1"), QStringLiteral("C:V1")}));
    s.deleteDrawing(QStringLiteral("C")); // a hold whose drawing is gone still lists, without a volume
    EXPECT_EQ(codesOf(s.holds({}, LibraryStore::HoldOrder::BySince)),
              (QStringList{QStringLiteral("B:V1"), QStringLiteral("C:"), QStringLiteral("A:V1")}));
    EXPECT_EQ(s.holders(), (QStringList{QStringLiteral("bob"), QStringLiteral("carol")}));

    // Only the hold named exactly ends, and the row goes back to 正常.
    EXPECT_FALSE(s.releaseHold(QStringLiteral("A"), QStringLiteral("bob"), QStringLiteral("2024/3/4")));
    EXPECT_EQ(s.readDrawing(QStringLiteral("A")).state, QStringLiteral("出库"));
    EXPECT_TRUE(s.releaseHold(QStringLiteral("A"), QStringLiteral("bob"), QStringLiteral("2024/3/5")));
    EXPECT_EQ(s.readDrawing(QStringLiteral("A")).state, QStringLiteral("正常"));
    EXPECT_EQ(holdRows(QStringLiteral("代号='A'")), 0);

    // A check-in ends only its own user's hold.
    s.dropHold(QStringLiteral("B"), QStringLiteral("bob"));
    EXPECT_EQ(holdRows(), 2);
    s.dropHolds(QStringLiteral("bob"), {QStringLiteral("B"), QStringLiteral("C")});
    EXPECT_EQ(holdRows(), 2);
    s.dropHold(QStringLiteral("B"), QStringLiteral("carol"));
    s.dropHolds(QStringLiteral("carol"), {QStringLiteral("C"), QStringLiteral("D")});
    EXPECT_EQ(holdRows(), 0);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Db, LibraryStoreTest, kBothBackends, BackendName);
