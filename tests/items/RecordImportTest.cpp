#include "TestSupport.h"

#include "core/SheetFile.h"
#include "items/ItemRecords.h"
#include "items/RecordExport.h"
#include "items/RecordImport.h"

#include <QTemporaryDir>

using namespace velda;
using namespace velda::test;

namespace {

SheetTable Csv(const QString& text) { return ReadCsv(text.toUtf8()); }

} // namespace

TEST(RecordImportColumns, HeadersMatchByNameOrVariantBelowATitleAndTheUserMayRemap) {
    const SheetTable t = Csv(QStringLiteral("零件清单,零件清单,零件清单\n"
                                            "图号 ,零件名称,材质,重量（kg）,设计者,备注,类型\n"
                                            "A-1,轴,45,1,张\n"));
    ImportMapping m = MatchColumns(t);
    EXPECT_EQ(m.headerRow, 2);
    EXPECT_EQ(m.column[FieldCode], 0);
    EXPECT_EQ(m.column[FieldName], 1);
    EXPECT_EQ(m.column[FieldMaterial], 2);
    EXPECT_EQ(m.column[FieldWeight], 3);
    EXPECT_EQ(m.column[FieldDesign], 4);
    EXPECT_EQ(m.column[FieldKind], 6);
    EXPECT_EQ(m.column[FieldScale], -1);
    EXPECT_EQ(MapColumn(m, QStringLiteral("编码"), QStringLiteral("备注")), QString());
    EXPECT_EQ(m.column[FieldCoding], 5);
    EXPECT_EQ(MapColumn(m, QStringLiteral("比例"), QStringLiteral("h")), QString());
    EXPECT_EQ(m.column[FieldScale], 7);
    EXPECT_EQ(MapColumn(m, QStringLiteral("设计"), QString()), QString());
    EXPECT_EQ(m.column[FieldDesign], -1);
    EXPECT_EQ(MapColumn(m, QStringLiteral("颜色"), QStringLiteral("A")), QStringLiteral("没有名为“颜色”的字段"));
    EXPECT_EQ(MapColumn(m, QStringLiteral("名称"), QStringLiteral("说明")), QStringLiteral("文件中没有名为“说明”的列"));
}

class RecordImportData : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        env->session->ctx.UserId = QStringLiteral("alice");
        ItemEntry e;
        e.part = {QStringLiteral("轴"), QStringLiteral("1.5"), QStringLiteral("45")};
        e.drawing = {QStringLiteral("张"),
                     {},
                     {},
                     {},
                     {},
                     {},
                     QStringLiteral("2024/03/05"),
                     QStringLiteral("1:2"),
                     {},
                     QStringLiteral("A3"),
                     QStringLiteral("1"),
                     QStringLiteral("S")};
        for (const char* code : {"OLD-1", "OLD-2"}) {
            e.code = QString::fromUtf8(code);
            ASSERT_TRUE(AddItemRecords(*env->session, e).done());
        }
    }
    ImportPlan plan(const QString& csv) {
        const SheetTable t = Csv(csv);
        return PlanImport(env->db(), t, MatchColumns(t));
    }
    static const ImportRow& at(const ImportPlan& p, int row) {
        for (const ImportRow& r : p.rows)
            if (r.row == row)
                return r;
        throw std::out_of_range("row");
    }
};

TEST_P(RecordImportData, DryRunSaysWhatEachRowWouldDoAndWritesNothing) {
    const QString tooLong(201, QLatin1Char('X'));
    const ImportPlan p = plan(QStringLiteral("代号,名称,重量,材料,设计,日期,比例,类型\n"
                                             "old-1,轴,1.5,45,张,2024/03/05,1:2,零件\n"    // 2 unchanged
                                             "OLD-2,轴,2.5,45,李,2024/03/05,1:2,\n"        // 3 changed
                                             "new-300,座,,Q345,王,2025/01/02,1:5,装配件\n" // 4 new
                                             ",垫,,45,,,1:1,\n"                            // 5 empty code
                                             "N-2,垫,,铝,,,1:1,\n"                         // 6 unknown material
                                             "N-3,垫,,45,,,1:1,标准件\n"                   // 7 unknown kind
                                             "N-4,垫,,45,,,1:1,装配件\n"                   // 8 kind against code
                                             "NEW-300,座,,,,,1:1,\n"                       // 9 duplicate
                                             "N-5,,,,,,1:1,\n"                             // 10 no name
                                             "N-6,\"a\x01\",,,,,1:1,\n") +                 // 11 control character
                              tooLong +
                              QStringLiteral(",垫,,,,,1:1,\n")); // 12 code too long
    EXPECT_EQ(at(p, 2).verdict, RowVerdict::Unchanged);
    const ImportRow& changed = at(p, 3);
    ASSERT_EQ(changed.verdict, RowVerdict::Changed);
    ASSERT_EQ(changed.changes.size(), 2u);
    EXPECT_EQ(changed.changes[0].field, FieldWeight);
    EXPECT_EQ(changed.changes[0].before, QStringLiteral("1.5"));
    EXPECT_EQ(changed.changes[0].after, QStringLiteral("2.5"));
    EXPECT_EQ(changed.changes[1].field, FieldDesign);
    const ImportRow& added = at(p, 4);
    EXPECT_EQ(added.verdict, RowVerdict::New);
    EXPECT_EQ(added.code, QStringLiteral("NEW-300"));
    // What the file lacks, a new record takes from the dialog's offer.
    EXPECT_EQ(added.next.drawing.sheetSize, QStringLiteral("A3"));
    EXPECT_EQ(added.next.drawing.mark, QStringLiteral("S"));
    const std::pair<int, QString> refused[] = {
        {5, QStringLiteral("代号为空")},
        {6, QStringLiteral("材料“铝”不在材料表中")},
        {7, QStringLiteral("类型“标准件”不是组焊件、焊接件、装配件或零件")},
        {8, QStringLiteral("类型“装配件”与代号不符，按代号应为零件")},
        {9, QStringLiteral("与第4行的代号重复")},
        {10, QStringLiteral("名称为空")},
        {11, QStringLiteral("第11行第B列含有无法保存的字符（控制字符或不成对的代理项）")},
        {12, QStringLiteral("代号超过200字节")},
    };
    for (const auto& [row, reason] : refused) {
        EXPECT_EQ(at(p, row).verdict, RowVerdict::Refused) << row;
        EXPECT_EQ(at(p, row).reason, reason) << row;
    }
    EXPECT_EQ(ImportReportRows(p)[1], (QStringList{QStringLiteral("3"), QStringLiteral("OLD-2"), QStringLiteral("修改"),
                                                   QStringLiteral("重量：1.5→2.5；设计：张→李")}));
    EXPECT_EQ(rows(QStringLiteral("零件信息")), 2);
}

TEST_P(RecordImportData, LongFileFindsItsStoredRecordsAndItsDryRunStops) {
    // Enough codes that the stored records are read whole instead of asked for a slice at a time.
    QString csv = QStringLiteral("代号,名称,重量,材料,设计,日期,比例\n"
                                 "old-1,轴,1.5,45,张,2024/03/05,1:2\nOLD-2,轴,9,45,张,2024/03/05,1:2\n");
    for (int i = 0; i < 2500; ++i)
        csv += QStringLiteral("L-%1,件,,,,,1:1\n").arg(i);
    const ImportPlan p = plan(csv);
    EXPECT_FALSE(p.stopped);
    EXPECT_EQ(at(p, 2).verdict, RowVerdict::Unchanged);
    ASSERT_EQ(at(p, 3).verdict, RowVerdict::Changed);
    EXPECT_EQ(at(p, 3).changes.size(), 1u);
    EXPECT_EQ(p.count(RowVerdict::New), 2500);

    const SheetTable t = Csv(csv);
    int asked = 0;
    const ImportPlan stopped = PlanImport(env->db(), t, MatchColumns(t), [&](int, int) { return ++asked < 2; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(asked, 2);
}

TEST_P(RecordImportData, ImportAddsNewRecordsChangesOnlyWhenAskedAndStopsBetweenRecords) {
    const QString csv = QStringLiteral("代号,名称,比例\nold-1,新轴,1:2\nN-1,甲,1:1\nN-200,乙,1:1\nN-3,丙,1:1\n");
    ImportPlan p = plan(csv);
    // Stopped after the second record: two are in, with their log rows; the third is not.
    Outcome o = ApplyImport(*env->session, p, false, [](int finished, int) { return finished < 2; });
    EXPECT_TRUE(o.done());
    EXPECT_TRUE(o.text.startsWith(QStringLiteral("导入已停止：已完成2条，其余1条未导入"))) << o.text.toStdString();
    EXPECT_EQ(at(p, 2).result, RowResult::Skipped);
    EXPECT_EQ(at(p, 5).result, RowResult::NotReached);
    EXPECT_EQ(
        field(QStringLiteral("零件信息"), QStringLiteral("类型"), QStringLiteral("代号"), QStringLiteral("N-200")),
        QStringLiteral("装配件"));
    EXPECT_EQ(field(QStringLiteral("图纸信息"), QStringLiteral("页码"), QStringLiteral("代号"), QStringLiteral("N-1")),
              QStringLiteral("1"));
    EXPECT_EQ(rows(QStringLiteral("零件信息"), QStringLiteral("代号='N-3'")), 0);
    EXPECT_EQ(logRows(QStringLiteral("添加图纸信息")), 4);

    p = plan(csv);
    EXPECT_EQ(p.count(RowVerdict::New), 1);
    o = ApplyImport(*env->session, p, true);
    EXPECT_EQ(o.text, QStringLiteral("导入完成：新增1条，修改1条，不变2条"));
    EXPECT_EQ(
        field(QStringLiteral("零件信息"), QStringLiteral("名称"), QStringLiteral("代号"), QStringLiteral("OLD-1")),
        QStringLiteral("新轴"));
    EXPECT_EQ(rows(QStringLiteral("PDM日志"), QStringLiteral("代号='OLD-1' and 方式='添加图纸信息' and ID='alice'")),
              2);

    // A record deleted since the dry run is not put back, and the import says so.
    p = plan(QStringLiteral("代号,名称\nOLD-2,改\n"));
    ASSERT_TRUE(DeleteItemRecords(*env->session, QStringLiteral("OLD-2")).done());
    o = ApplyImport(*env->session, p, true);
    EXPECT_TRUE(o.failed());
    EXPECT_EQ(at(p, 2).result, RowResult::Failed);
    EXPECT_EQ(rows(QStringLiteral("零件信息"), QStringLiteral("代号='OLD-2'")), 0);
}

TEST_P(RecordImportData, ExportedRecordsImportBackUnchangedFromWorkbookAndCsv) {
    ItemEntry e;
    e.code = QStringLiteral("001");
    e.part = {QStringLiteral("环,\"甲\"\n乙"), QStringLiteral("0.10"), QString()};
    e.drawing.scale = QStringLiteral("1:1");
    ASSERT_TRUE(AddItemRecords(*env->session, e).done());
    QTemporaryDir dir;
    for (const char* name : {"r.xlsx", "r.csv"}) {
        const QString path = dir.filePath(QString::fromUtf8(name));
        ASSERT_TRUE(ExportItemRecords(env->db(), path).done());
        const SheetTable t = ReadSheetFile(path);
        ASSERT_TRUE(t.ok()) << t.error.toStdString();
        const ImportMapping m = MatchColumns(t);
        EXPECT_EQ(std::count(m.column.begin(), m.column.end(), -1), 1) << name; // only the kind
        const ImportPlan p = PlanImport(env->db(), t, m);
        EXPECT_EQ(p.count(RowVerdict::Unchanged), 3) << name;
        EXPECT_EQ(p.rows.size(), 3u) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Both, RecordImportData, kBothBackends, BackendName);
