#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "library/Holds.h"
#include "library/LibraryList.h"
#include "library/WorkingFolder.h"
#include "store/DatabaseInit.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

using namespace velda;
using namespace velda::test;

namespace {

class LibraryListing : public BothDatabases {};

// Drawings checked in without part records are listed with their holds, in one read.
TEST_P(LibraryListing, ListsEveryDrawingWithItsNameAndHold) {
    env->addVolume(QStringLiteral("V1"), QStringLiteral("10.0.0.1:21"));
    LibraryStore store(env->db());
    EXPECT_EQ(store.lastLogNumber(), 0);
    QList<CheckInRow> rows;
    for (const QString& code : {QStringLiteral("A-1"), QStringLiteral("B-2"), QStringLiteral("C'3")})
        rows << CheckInRow{code,
                           {},
                           {},
                           {},
                           {},
                           QStringLiteral("bob"),
                           QStringLiteral("2024/3/5"),
                           QStringLiteral("20240305") + code + QStringLiteral(".dwg"),
                           QStringLiteral("V1")};
    store.insertCheckIns(rows);
    store.markCheckedOut(QStringLiteral("B-2"), QStringLiteral("carol"), QStringLiteral("2024/3/6"));
    env->db().exec(QStringLiteral("insert into 零件信息 (代号,名称) values ('A-1','轴承座')"));
    env->db().exec(QStringLiteral("insert into PDM日志 (ID,代号,时间,方式) values ('bob','A-1','t','图纸入库')"));
    EXPECT_GT(store.lastLogNumber(), 0);

    std::vector<ListedDrawing> list = store.listing();
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.code < b.code; });
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, QStringLiteral("轴承座"));
    EXPECT_EQ(list[0].holder, QString());
    EXPECT_EQ(list[1].state, QStringLiteral("出库"));
    EXPECT_EQ(list[1].holder + list[1].since, QStringLiteral("carol2024/3/6"));
    EXPECT_EQ(list[2].code + list[2].checkInBy + list[2].checkInAt + list[2].volume,
              QStringLiteral("C'3bob2024/3/5V1"));
    EXPECT_EQ(list[2].storedName, QStringLiteral("20240305C'3.dwg"));
}

// The server announces each change of the library tables, on an older database too once connected.
TEST_P(LibraryListing, TheServerAnnouncesEveryChangeOfTheLibrary) {
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "the local file is asked for its log's last number instead";
    Database& db = env->db();
    db.exec(QStringLiteral("drop trigger 图纸库变更_入库 on PDM入库图纸信息"));
    db.exec(QStringLiteral("drop trigger 图纸库变更_出库 on PDM出库图纸信息"));
    db.exec(QStringLiteral("drop function 图纸库变更通知"));
    EXPECT_EQ(AddMissingSchema(db), 3);
    EXPECT_EQ(AddMissingSchema(db), 0);

    RecordingFeedback otherFeedback;
    std::unique_ptr<Session> other = env->otherSession(otherFeedback, QStringLiteral("B2C3D4E"));
    QSqlDriver* driver = other->db().handle().driver();
    ASSERT_TRUE(driver->subscribeToNotification(QStringLiteral("velda_library")));
    int heard = 0;
    QObject::connect(driver, &QSqlDriver::notification, [&] { ++heard; });
    LibraryStore(db).markCheckedOut(QStringLiteral("X"), QStringLiteral("bob"), QStringLiteral("2024/3/6"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard > 0; }, 2000));
}

// The size is that of the version stored by the last check-in; a check-in by a client that keeps no
// versions leaves it unknown. The first page is the first codes as the list compares them.
TEST_P(LibraryListing, KnowsTheSizeOfTheCurrentFileAndReadsAFirstPage) {
    LibraryStore store(env->db());
    QList<CheckInRow> rows;
    for (const QString& code :
         {QStringLiteral("a-0"), QStringLiteral("A-1"), QStringLiteral("B-2"), QStringLiteral("C-3")})
        rows << CheckInRow{
            code, {}, {}, {}, {}, QStringLiteral("bob"), QStringLiteral("2024/3/5"), code, QStringLiteral("V1")};
    store.insertCheckIns(rows);
    const auto checkIn = [&](const char* code) {
        env->db().exec(QStringLiteral("insert into PDM日志 (ID,代号,时间,方式) values ('bob',?,'t','图纸入库')"),
                       {QString::fromLatin1(code)});
        return store.lastLogNumber();
    };
    const auto version = [&](const char* code, qint64 number, qint64 size) {
        env->db().exec(QStringLiteral("insert into 图纸版本 (代号,版本号,文件大小) values (?,?,?)"),
                       {QString::fromLatin1(code), number, size});
    };
    version("A-1", checkIn("A-1"), 4096);
    version("B-2", checkIn("B-2"), 100);
    checkIn("B-2");       // replaced by a client that keeps no versions
    version("C-3", 1, 7); // not the current file's number
    env->db().exec(QStringLiteral("insert into PDM日志 (ID,代号,时间,方式) values ('bob','C-3','t','图纸出库')"));

    QHash<QString, qint64> sizes;
    for (const ListedDrawing& d : store.listing())
        sizes.insert(d.code, d.size);
    EXPECT_EQ(sizes, (QHash<QString, qint64>{{QStringLiteral("a-0"), -1},
                                             {QStringLiteral("A-1"), 4096},
                                             {QStringLiteral("B-2"), -1},
                                             {QStringLiteral("C-3"), -1}}));
    QStringList first;
    for (const ListedDrawing& d : store.listing(2))
        first << d.code;
    first.sort();
    EXPECT_EQ(first, L({"A-1", "B-2"})) << "capitals before small letters, whatever the server's collation";
}

INSTANTIATE_TEST_SUITE_P(Db, LibraryListing, kBothBackends, BackendName);

ListedDrawing Drawing(const QString& code, const QString& name, const QString& holder, const QString& checkInAt,
                      const char* volumeName) {
    const QString volume = QString::fromLatin1(volumeName);
    return {code,
            name,
            holder.isEmpty() ? QStringLiteral("正常") : QStringLiteral("出库"),
            holder,
            holder.isEmpty() ? QString() : QStringLiteral("2024/3/1"),
            QStringLiteral("bob"),
            checkInAt,
            volume,
            code + QStringLiteral(".dwg")};
}

QStringList Shown(const LibraryListModel& m) {
    QStringList codes;
    for (int r = 0; r < m.rowCount(); ++r)
        codes << m.drawingAt(r)->code;
    return codes;
}

// The filter is plain text on code and name; scopes and sorting go with it, and the user's selection
// follows its drawings through all of them and through new rows.
TEST(LibraryListModel, FiltersScopesSortsAndKeepsTheSelection) {
    LibraryListModel m;
    m.setViewer(QStringLiteral("carol"), QDate(2024, 3, 10));
    m.setRows({Drawing(QStringLiteral("GB/T-5783"), QStringLiteral("螺栓"), {}, QStringLiteral("2024/1/2"), "V1"),
               Drawing(QStringLiteral("A%_1"), QStringLiteral("支架"), QStringLiteral("carol"),
                       QStringLiteral("2024/3/9"), "V2"),
               Drawing(QStringLiteral("gb-77"), QString(), QStringLiteral("dave"), QStringLiteral("2024/2/28"), "V1")});
    EXPECT_EQ(Shown(m), L({"A%_1", "GB/T-5783", "gb-77"}));
    m.setFilter(QStringLiteral("GB"));
    EXPECT_EQ(Shown(m), L({"GB/T-5783", "gb-77"}));
    m.setFilter(QStringLiteral("gb-")); // typed on: among the rows left
    EXPECT_EQ(Shown(m), L({"gb-77"}));
    m.setFilter(QStringLiteral("gb"));
    EXPECT_EQ(Shown(m), L({"GB/T-5783", "gb-77"})) << "a key taken back shows the rest again";
    m.setFilter(QStringLiteral("%_")); // no wildcard: the characters themselves
    EXPECT_EQ(Shown(m), L({"A%_1"}));
    m.setFilter(QStringLiteral("螺"));
    EXPECT_EQ(Shown(m), L({"GB/T-5783"}));
    m.setFilter({});
    m.setScope(LibraryListModel::Scope::MineOut);
    EXPECT_EQ(Shown(m), L({"A%_1"}));
    m.setScope(LibraryListModel::Scope::Out);
    EXPECT_EQ(Shown(m), L({"A%_1", "gb-77"}));
    m.setScope(LibraryListModel::Scope::Recent);
    EXPECT_EQ(Shown(m), L({"A%_1"}));
    m.setScope(LibraryListModel::Scope::Volume, QStringLiteral("V1"));
    EXPECT_EQ(Shown(m), L({"GB/T-5783", "gb-77"}));
    EXPECT_EQ(m.volumes(), L({"V1", "V2"}));
    m.setScope(LibraryListModel::Scope::All);

    QItemSelectionModel selection(&m);
    const QModelIndex chosen = m.index(m.rowOf(QStringLiteral("gb-77")), 0);
    selection.setCurrentIndex(chosen, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m.sort(LibraryListModel::CheckInAt, Qt::DescendingOrder);
    EXPECT_EQ(Shown(m), L({"A%_1", "gb-77", "GB/T-5783"}));
    EXPECT_EQ(selection.currentIndex().row(), 1) << "the current row moved with its drawing";
    m.setFilter(QStringLiteral("7"));
    EXPECT_EQ(selection.currentIndex().row(), 0);
    m.setFilter({});

    // Another client's rows: one gone, one new; the selected drawing stays selected where it went.
    m.setRows({Drawing(QStringLiteral("gb-77"), QString(), {}, QStringLiteral("2024/2/28"), "V1"),
               Drawing(QStringLiteral("NEW"), QString(), {}, QStringLiteral("2024/3/10"), "V1"),
               Drawing(QStringLiteral("A%_1"), QStringLiteral("支架"), {}, QStringLiteral("2024/3/9"), "V2")});
    EXPECT_EQ(Shown(m), L({"NEW", "A%_1", "gb-77"}));
    ASSERT_EQ(selection.selectedRows().size(), 1);
    EXPECT_EQ(selection.selectedRows().first().row(), 2);
    EXPECT_EQ(m.data(m.index(2, LibraryListModel::State)).toString(), QStringLiteral("正常"));
}

// Every column sorts by its value (dates as dates, sizes as numbers, unknown first), ties by code in
// either direction.
TEST(LibraryListModel, SortsEachColumnByValueThenByCode) {
    const auto sized = [](const char* code, const char* name, const char* date, qint64 size) {
        ListedDrawing d =
            Drawing(QString::fromLatin1(code), QString::fromUtf8(name), {}, QString::fromLatin1(date), "V1");
        d.size = size;
        return d;
    };
    LibraryListModel m;
    m.setRows({sized("D", "轴", "2024/3/10", 2048), sized("B", "轴", "2024/3/9", -1),
               sized("C", "座", "2024/3/9", 2048), sized("A", "盖", "2023/12/31", 5)});
    m.sort(LibraryListModel::Size);
    EXPECT_EQ(Shown(m), L({"B", "A", "C", "D"}));
    m.sort(LibraryListModel::Size, Qt::DescendingOrder);
    EXPECT_EQ(Shown(m), L({"C", "D", "A", "B"}));
    m.sort(LibraryListModel::CheckInAt);
    EXPECT_EQ(Shown(m), L({"A", "B", "C", "D"}));
    m.sort(LibraryListModel::Name, Qt::DescendingOrder);
    EXPECT_EQ(Shown(m), L({"B", "D", "A", "C"})) << "轴 > 盖 > 座 by code unit";
    m.sort(LibraryListModel::Code, Qt::DescendingOrder);
    EXPECT_EQ(Shown(m), L({"D", "C", "B", "A"}));
    EXPECT_EQ(m.data(m.index(0, LibraryListModel::Size)).toString(), QStringLiteral("2 KB"));
    EXPECT_EQ(m.data(m.index(2, LibraryListModel::Size)).toString(), QString());
    EXPECT_EQ(ListedSizeText(0) + ListedSizeText(1) + ListedSizeText(1025), QStringLiteral("0 KB1 KB2 KB"));
}

// Rows another client changed come in place: one changed, one gone, one new, each where the order
// puts it, the selection with its drawing; many at once are ordered as well.
TEST(LibraryListModel, TakesChangedRowsInPlace) {
    LibraryListModel m;
    m.setRows({Drawing(QStringLiteral("A"), QStringLiteral("盖"), {}, QStringLiteral("2024/3/1"), "V1"),
               Drawing(QStringLiteral("B"), QStringLiteral("座"), {}, QStringLiteral("2024/3/1"), "V1"),
               Drawing(QStringLiteral("C"), QStringLiteral("轴"), {}, QStringLiteral("2024/3/1"), "V1")});
    m.sort(LibraryListModel::Name);
    QItemSelectionModel selection(&m);
    selection.setCurrentIndex(m.index(m.rowOf(QStringLiteral("B")), 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ListedDrawing d = Drawing(QStringLiteral("D"), QStringLiteral("板"), {}, QStringLiteral("2024/3/9"), "V9");
    d.size = 10;
    m.update(L({"B", "C", "D"}), {Drawing(QStringLiteral("B"), QStringLiteral("轴承"), QStringLiteral("carol"),
                                          QStringLiteral("2024/3/9"), "V1"),
                                  d});
    EXPECT_EQ(Shown(m), L({"D", "A", "B"})) << "板 < 盖 < 轴承 by code unit";
    EXPECT_EQ(selection.currentIndex().row(), 2);
    EXPECT_EQ(m.data(m.index(2, LibraryListModel::Holder)).toString(), QStringLiteral("carol"));
    EXPECT_EQ(m.totalCount(), 3);
    EXPECT_EQ(m.volumes(), L({"V1", "V9"}));
    m.sort(LibraryListModel::Size, Qt::DescendingOrder);
    EXPECT_EQ(Shown(m), L({"D", "A", "B"}));

    QStringList many;
    std::vector<ListedDrawing> rows;
    for (int i = 19; i >= 0; --i) {
        many << QStringLiteral("M-%1").arg(i, 2, 10, QLatin1Char('0'));
        rows.push_back(Drawing(many.last(), {}, {}, QStringLiteral("2024/3/1"), "V1"));
    }
    m.update(many + L({"A"}), rows);
    m.sort(LibraryListModel::Code);
    EXPECT_EQ(Shown(m).mid(0, 3), L({"B", "D", "M-00"}));
    EXPECT_EQ(Shown(m).last(), QStringLiteral("M-19"));
    m.sort(LibraryListModel::Name);
    EXPECT_EQ(Shown(m).mid(19), L({"M-19", "D", "B"}));
}

// The log rows a list follows: which name a drawing, which change nothing it shows, which may change
// any; a number skipped is asked for until its row comes, or until it is long past.
TEST(LogFollower, NamesTheChangedDrawingsAndWaitsForNumbersWrittenLate) {
    const auto row = [](qint64 n, const QString& code, const QString& word) { return LoggedRow{n, code, word}; };
    LogFollower f;
    f.restart(10, {row(8, {}, LogWord::Login), row(10, {}, LogWord::Login)}, 0);
    EXPECT_EQ(f.readFrom(), 1) << "1 to 7 and 9 may yet be written";
    f.restart(10,
              {row(1, {}, LogWord::Login), row(2, {}, LogWord::Login), row(3, {}, LogWord::Login),
               row(4, {}, LogWord::Login), row(5, {}, LogWord::Login), row(6, {}, LogWord::Login),
               row(7, {}, LogWord::Login), row(8, {}, LogWord::Login), row(10, {}, LogWord::Login)},
              0);
    EXPECT_EQ(f.readFrom(), 9);

    ListChanges c = f.take({row(10, {}, LogWord::Login), row(11, QStringLiteral("K-1"), LogWord::CheckIn),
                            row(13, QStringLiteral("K-2"), LogWord::CheckOut),
                            row(14, QStringLiteral("K-2"), LogWord::ReportOutput(QStringLiteral("零件明细")))},
                           100);
    EXPECT_FALSE(c.whole);
    EXPECT_EQ(c.codes, L({"K-1", "K-2"}));
    EXPECT_EQ(f.awaited(), 2u);
    EXPECT_EQ(f.readFrom(), 9);

    c = f.take({row(9, QStringLiteral("K-3"), LogWord::DeleteDrawing),
                row(12, HoldText::LogCode(QStringLiteral("K-4"), QStringLiteral("bob")), HoldText::LogRelease),
                row(15, QStringLiteral("K-5"), LogWord::AddItemInfo)},
               200);
    EXPECT_FALSE(c.whole);
    EXPECT_EQ(c.codes, L({"K-3", "K-4", "K-5"}));
    EXPECT_EQ(f.readFrom(), 16);

    c = f.take({row(18, QStringLiteral("共3条"), LogWord::DeleteLog)}, 300);
    EXPECT_TRUE(c.whole) << "a row of a kind that may change any drawing";
    EXPECT_EQ(f.readFrom(), 16);
    EXPECT_EQ(f.take({}, 300 + LogFollower::kWaitMs).codes, QStringList());
    EXPECT_EQ(f.readFrom(), 16);
    f.take({}, 301 + LogFollower::kWaitMs);
    EXPECT_EQ(f.readFrom(), 19) << "16 and 17 let go";
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// What the working folder holds: unchanged, edited (same size, other content), older than the
// library's, put there by hand, and an edited copy the user has checked in since.
TEST(WorkingFolder, TellsEachCopyFromTheLibrarysVersion) {
    QTemporaryDir dir;
    const WorkingFolder folder(dir.path() + QStringLiteral("/工作区"));
    EXPECT_EQ(folder.prepare(), QString());
    const QString same = *folder.fileFor(QStringLiteral("GB/T-1"));
    EXPECT_TRUE(same.endsWith(QStringLiteral("/GB-T-1.dwg")));
    const QString edited = *folder.fileFor(QStringLiteral("E"));
    const QString older = *folder.fileFor(QStringLiteral("O"));
    const QString mine = *folder.fileFor(QStringLiteral("M"));
    for (const QString& f : {same, edited, older, mine})
        Write(f, "abc");
    for (const QString& code :
         {QStringLiteral("GB/T-1"), QStringLiteral("E"), QStringLiteral("O"), QStringLiteral("M")})
        folder.record(code, *folder.fileFor(code), 5);
    QThread::msleep(20); // a later modification time
    Write(edited, "abd");
    Write(mine, "abcd");
    Write(folder.path() + QStringLiteral("/HAND.dwg"), "x");
    const auto library = [](const QStringList&) {
        return QHash<QString, qint64>{{QStringLiteral("GB/T-1"), 5},
                                      {QStringLiteral("E"), 5},
                                      {QStringLiteral("O"), 6},
                                      {QStringLiteral("M"), 7}};
    };
    const auto mineOnly = [](const QString& code) { return code == QLatin1String("M"); };
    QHash<QString, LocalCopy> copies = folder.copies(library, mineOnly);
    EXPECT_EQ(copies.value(QStringLiteral("GB/T-1")), LocalCopy::Same);
    EXPECT_EQ(copies.value(QStringLiteral("E")), LocalCopy::Changed);
    EXPECT_EQ(copies.value(QStringLiteral("O")), LocalCopy::Older);
    EXPECT_EQ(copies.value(QStringLiteral("M")), LocalCopy::Same);
    EXPECT_EQ(copies.value(QStringLiteral("HAND")), LocalCopy::Unrecorded);
    EXPECT_FALSE(copies.contains(QStringLiteral("X")));
    // Recorded as the version checked in: unchanged from then on, whoever asks.
    EXPECT_EQ(folder.copies(library).value(QStringLiteral("M")), LocalCopy::Same);

    const WorkingFolder unusable(QStringLiteral("/proc/velda"));
    EXPECT_EQ(unusable.prepare(), WorkingFolderText::CannotUse(QStringLiteral("/proc/velda")));
}

} // namespace
