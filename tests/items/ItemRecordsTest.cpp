#include "TestSupport.h"

#include "core/TextRules.h"
#include "core/ui/Forms.h"
#include "items/ItemRecords.h"
#include "items/ui/FrmAddDelItemInfo.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>

using namespace velda;
using namespace velda::test;

TEST(PartKind, FirstMatchingRuleWins) {
    const std::pair<const char*, const char*> cases[] = {
        {"12-3/00", "组焊件"}, {"12-3/001", "组焊件"}, {"12-3/01", "焊接件"}, {"12/300", "焊接件"},
        {"12-300", "装配件"},  {"12-300C", "装配件"},  {"00", "装配件"},      {"00Z", "装配件"},
        {"12-301", "零件"},    {"12-300c", "零件"},    {"12-30C", "零件"},    {"0", "零件"},
        {"", "零件"},          {"100A1", "零件"},      {"A00中", "零件"},
    };
    for (const auto& [code, kind] : cases)
        EXPECT_EQ(PartKind(QString::fromUtf8(code)), QString::fromUtf8(kind)) << code;
}

TEST(PartKind, CodesBecomeCapitalsOnlyForLatinLetters) {
    EXPECT_EQ(UpperCaseCode(QStringLiteral("gb/t-12abcz")), QStringLiteral("GB/T-12ABCZ"));
    EXPECT_EQ(UpperCaseCode(QStringLiteral("轴ß-ä")), QStringLiteral("轴ß-ä"));
    EXPECT_EQ(ScaleList().size(), 15);
    EXPECT_EQ(SheetSizeList().size(), 18);
    EXPECT_EQ(SheetSizeList().indexOf(kDefaultSheetSize), 8);
    EXPECT_EQ(DateBoxText(QDate(2024, 3, 5)), QStringLiteral("2024/03/05"));
}

class ItemRecordsData : public BothDatabases {
protected:
    ItemEntry entry(const QString& code) {
        ItemEntry e;
        e.code = code;
        e.part = {QStringLiteral("轴承座"), QStringLiteral("1.5"), QStringLiteral("45")};
        e.drawing = {QStringLiteral("张三"),       QStringLiteral("李四"), QStringLiteral("王五"),
                     QStringLiteral("赵六"),       QStringLiteral("钱七"), QStringLiteral("孙八"),
                     QStringLiteral("2024/03/05"), QStringLiteral("1:2"),  QStringLiteral("BM-1"),
                     QStringLiteral("A3"),         QStringLiteral("2"),    QStringLiteral("S")};
        return e;
    }
    int rows(const char* table, const QString& code) {
        return env->count(QStringLiteral("select count(*) from %1 where 代号=?").arg(QString::fromUtf8(table)), {code});
    }
    int logRows(const QString& word) {
        return env->count(QStringLiteral("select count(*) from PDM日志 where 方式=?"), {word});
    }
};

TEST_P(ItemRecordsData, AddStoresBothRecordsWithKindAndLogRowAndReadsThemBack) {
    env->session->ctx.UserId = QStringLiteral("alice");
    const Outcome o = AddItemRecords(*env->session, entry(QStringLiteral("GB/T'12-300")));
    ASSERT_TRUE(o.done()) << o.text.toStdString();
    EXPECT_EQ(o.text, QStringLiteral("添加完成！"));
    EXPECT_EQ(o.icon, Icon::None);
    EXPECT_EQ(
        env->db().scalar(QStringLiteral("select 类型 from 零件信息 where 代号=?"), {QStringLiteral("GB/T'12-300")}),
        QStringLiteral("焊接件"));
    EXPECT_EQ(env->db()
                  .scalar(QStringLiteral("select 页码 from 图纸信息 where 代号=?"), {QStringLiteral("GB/T'12-300")})
                  .toString(),
              QStringLiteral("1"));
    EXPECT_EQ(
        env->count(QStringLiteral("select count(*) from PDM日志 where ID='alice' and 代号=? and 方式='添加图纸信息'"),
                   {QStringLiteral("GB/T'12-300")}),
        1);

    const ItemRecords r = LoadItemRecords(env->db(), QStringLiteral("GB/T'12-300"));
    ASSERT_TRUE(r.part && r.drawing);
    EXPECT_EQ(r.part->name, QStringLiteral("轴承座"));
    EXPECT_EQ(r.part->material, QStringLiteral("45"));
    EXPECT_EQ(r.drawing->process, QStringLiteral("孙八"));
    EXPECT_EQ(r.drawing->mark, QStringLiteral("S"));
    EXPECT_EQ(r.drawing->pages, QStringLiteral("2"));

    // Empty boxes are stored as empty text, never null; a null column reads back as empty text.
    ItemEntry bare;
    bare.code = QStringLiteral("X-1");
    bare.part.name = QStringLiteral("板");
    bare.drawing.scale = QStringLiteral("1:1");
    ASSERT_TRUE(AddItemRecords(*env->session, bare).done());
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息 where 代号='X-1' and 重量='' and 材料=''")), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 图纸信息 where 代号='X-1' and 设计='' and 图样=''")), 1);
    env->db().exec(QStringLiteral("update 图纸信息 set 设计=NULL where 代号='X-1'"));
    EXPECT_EQ(LoadItemRecords(env->db(), QStringLiteral("X-1")).drawing->design, QString());
    EXPECT_FALSE(LoadItemRecords(env->db(), QStringLiteral("NONE")).part.has_value());
}

TEST_P(ItemRecordsData, AddRefusesEmptyFieldsAndASecondAddRollsBackWhole) {
    ItemEntry e = entry(QStringLiteral("A-100"));
    ItemEntry noCode = e, noName = e, noScale = e;
    noCode.code.clear();
    noName.part.name = QLatin1String("");
    noScale.drawing.scale.clear();
    for (const ItemEntry& spoiled : {noCode, noName, noScale}) {
        const Outcome o = AddItemRecords(*env->session, spoiled);
        EXPECT_TRUE(o.refused());
        EXPECT_EQ(o.text, QStringLiteral("零件代号、名称及比例都不得为空！"));
        EXPECT_EQ(o.icon, Icon::Stop);
    }
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 零件信息")), 0);
    // Blanks are text.
    ItemEntry blanks = e;
    blanks.code = QStringLiteral("B-1");
    blanks.part.name = QStringLiteral(" ");
    EXPECT_TRUE(AddItemRecords(*env->session, blanks).done());

    ASSERT_TRUE(AddItemRecords(*env->session, e).done());
    // The part record goes in, the drawing record breaks the key: nothing of the second add stays.
    env->db().exec(QStringLiteral("delete from 零件信息 where 代号='A-100'"));
    const Outcome again = AddItemRecords(*env->session, e);
    EXPECT_TRUE(again.failed());
    EXPECT_EQ(again.icon, Icon::Stop);
    EXPECT_EQ(again.title, QStringLiteral("反馈信息"));
    EXPECT_TRUE(again.text.contains(QStringLiteral("A-100")));
    EXPECT_EQ(rows("零件信息", QStringLiteral("A-100")), 0);
    EXPECT_EQ(rows("图纸信息", QStringLiteral("A-100")), 1);
    EXPECT_EQ(logRows(QStringLiteral("添加图纸信息")), 2);
}

TEST_P(ItemRecordsData, DeleteRemovesBothRecordsOnlyAndSaysWhenThereWereNone) {
    ASSERT_TRUE(AddItemRecords(*env->session, entry(QStringLiteral("D-1"))).done());
    ASSERT_TRUE(AddItemRecords(*env->session, entry(QStringLiteral("D-2"))).done());
    env->db().exec(QStringLiteral(
        "insert into PDM入库图纸信息 (代号,状态,目录名称,入库文件名称) values ('D-1','正常','V1','x.dwg')"));

    Outcome o = DeleteItemRecords(*env->session, QStringLiteral("D-1"));
    EXPECT_TRUE(o.done());
    EXPECT_EQ(o.text, QStringLiteral("删除完成！"));
    EXPECT_EQ(o.icon, Icon::None);
    EXPECT_EQ(rows("零件信息", QStringLiteral("D-1")) + rows("图纸信息", QStringLiteral("D-1")), 0);
    EXPECT_EQ(rows("零件信息", QStringLiteral("D-2")), 1);
    EXPECT_EQ(rows("PDM入库图纸信息", QStringLiteral("D-1")), 1); // the library is not touched
    EXPECT_EQ(logRows(QStringLiteral("删除图纸信息")), 1);

    // Only a drawing record left: still deleted.
    env->db().exec(QStringLiteral("delete from 零件信息 where 代号='D-2'"));
    EXPECT_TRUE(DeleteItemRecords(*env->session, QStringLiteral("D-2")).done());
    EXPECT_EQ(rows("图纸信息", QStringLiteral("D-2")), 0);

    o = DeleteItemRecords(*env->session, QStringLiteral("D-1"));
    EXPECT_TRUE(o.refused());
    EXPECT_TRUE(o.text.contains(QStringLiteral("D-1")));
    EXPECT_EQ(logRows(QStringLiteral("删除图纸信息")), 2);

    o = DeleteItemRecords(*env->session, QString());
    EXPECT_EQ(o.text, QStringLiteral("请先输入零件代号"));
    EXPECT_EQ(o.icon, Icon::Stop);
}

TEST_P(ItemRecordsData, MaterialsComeInTheirOrder) {
    env->db().exec(QStringLiteral("delete from 材料名称"));
    env->db().exec(
        QStringLiteral("insert into 材料名称 (材料名称, 顺序号) values ('HT200', 3), ('Q235-A', 1), ('45', 2)"));
    EXPECT_EQ(MaterialList(env->db()),
              (QStringList{QStringLiteral("Q235-A"), QStringLiteral("45"), QStringLiteral("HT200")}));
}

INSTANTIATE_TEST_SUITE_P(Both, ItemRecordsData, kBothBackends, BackendName);

class ItemRecordsForm : public ItemRecordsData {
protected:
    // As the main window opens it: the button of the other function disabled.
    std::unique_ptr<FrmAddDelItemInfo> open(const char* disabled) {
        auto f = std::make_unique<FrmAddDelItemInfo>(*env->session);
        DisableControls(f.get(), {QString::fromLatin1(disabled)});
        f->show();
        QApplication::setActiveWindow(f.get());
        return f;
    }
    QLineEdit* box(QWidget& f, const char* name) { return child<QLineEdit>(f, name); }
    QComboBox* combo(QWidget& f, const char* name) { return child<QComboBox>(f, name); }
    void leaveCode(QWidget& f) {
        box(f, "TxtCode")->setFocus();
        box(f, "TxtName")->setFocus();
        QApplication::processEvents();
    }
};

TEST_P(ItemRecordsForm, OpensWithItsListsAndAddsWhatIsTyped) {
    auto f = open("CmdDel");
    EXPECT_EQ(f->windowTitle(), QStringLiteral("添加/删除零件信息"));
    EXPECT_EQ(combo(*f, "CboBL")->count(), 15);
    EXPECT_EQ(combo(*f, "CboBL")->currentText(), QStringLiteral("1:1"));
    EXPECT_EQ(combo(*f, "CboSize")->currentText(), QStringLiteral("A3"));
    EXPECT_EQ(combo(*f, "CboTotal")->currentText(), QStringLiteral("1"));
    EXPECT_EQ(combo(*f, "CboSym")->currentText(), QStringLiteral("S"));
    EXPECT_EQ(combo(*f, "CboMat")->itemText(0), QStringLiteral("Q235-A"));
    EXPECT_EQ(combo(*f, "CboMat")->currentIndex(), 0);
    for (const char* c : {"CboMat", "CboBL", "CboSize", "CboTotal", "CboSym"})
        EXPECT_TRUE(combo(*f, c)->isEditable()) << c;
    EXPECT_EQ(box(*f, "TxtDate")->text(), QStringLiteral("2024/03/05"));
    EXPECT_FALSE(child<QPushButton>(*f, "CmdDel")->isEnabled());

    // Typed and pasted letters both arrive as capitals.
    QTest::keyClicks(box(*f, "TxtCode"), QStringLiteral("ab-"));
    box(*f, "TxtCode")->insert(QStringLiteral("300c"));
    EXPECT_EQ(box(*f, "TxtCode")->text(), QStringLiteral("AB-300C"));
    // No code longer than the library takes, yet blanks are kept as typed.
    box(*f, "TxtCode")->clear();
    QTest::keyClicks(box(*f, "TxtCode"), QStringLiteral(" ") + QString(kMaxCodeBytes + 5, u'X'));
    EXPECT_EQ(box(*f, "TxtCode")->text(), QStringLiteral(" ") + QString(kMaxCodeBytes - 1, u'X'));
    box(*f, "TxtCode")->setText(QStringLiteral("AB-300C"));
    leaveCode(*f); // as the user moves on to the name
    box(*f, "TxtName")->setText(QStringLiteral("支架"));
    combo(*f, "CboBL")->setEditText(QStringLiteral("1:7"));
    QTest::mouseClick(child<QPushButton>(*f, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("添加完成！"));
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 类型 from 零件信息 where 代号='AB-300C'")),
              QStringLiteral("装配件"));
    EXPECT_EQ(env->db().scalar(QStringLiteral("select 比例 from 图纸信息 where 代号='AB-300C'")),
              QStringLiteral("1:7"));
    EXPECT_EQ(box(*f, "TxtName")->text(), QStringLiteral("支架")); // the dialog keeps its fields

    box(*f, "TxtName")->clear();
    QTest::mouseClick(child<QPushButton>(*f, "CmdAct"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("零件代号、名称及比例都不得为空！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
}

TEST_P(ItemRecordsForm, LeavingTheCodeLoadsItsRecordsAndDeletingClearsTheLists) {
    ASSERT_TRUE(AddItemRecords(*env->session, entry(QStringLiteral("K-1"))).done());
    auto add = open("CmdDel");
    box(*add, "TxtDesign")->setText(QStringLiteral("旧值"));
    box(*add, "TxtCode")->setText(QStringLiteral("NONE"));
    leaveCode(*add);
    EXPECT_EQ(box(*add, "TxtDesign")->text(), QString()); // emptied, no record to show
    // Another window taking the focus is no leaving of the box.
    box(*add, "TxtDesign")->setText(QStringLiteral("typed"));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(box(*add, "TxtCode"), &away);
    EXPECT_EQ(box(*add, "TxtDesign")->text(), QStringLiteral("typed"));
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box(*add, "TxtCode"), &tab);
    EXPECT_EQ(box(*add, "TxtDesign")->text(), QString());
    EXPECT_EQ(combo(*add, "CboBL")->currentText(), QStringLiteral("1:1")); // adding keeps the lists
    box(*add, "TxtCode")->setText(QStringLiteral("K-1"));
    leaveCode(*add);
    EXPECT_EQ(box(*add, "TxtName")->text(), QStringLiteral("轴承座"));
    EXPECT_EQ(combo(*add, "CboMat")->currentText(), QStringLiteral("45"));
    EXPECT_EQ(box(*add, "TxtGY")->text(), QStringLiteral("孙八"));
    EXPECT_EQ(combo(*add, "CboBL")->currentText(), QStringLiteral("1:2"));
    EXPECT_EQ(combo(*add, "CboTotal")->currentText(), QStringLiteral("2"));
    add.reset();

    auto del = open("CmdAct");
    box(*del, "TxtCode")->setText(QStringLiteral("NONE"));
    leaveCode(*del);
    for (const char* c : {"CboSize", "CboTotal", "CboSym", "CboMat", "CboBL"})
        EXPECT_EQ(combo(*del, c)->currentText(), QString()) << c;
    EXPECT_EQ(box(*del, "TxtDate")->text(), QString());

    box(*del, "TxtCode")->setText(QStringLiteral("K-1"));
    QTest::mouseClick(child<QPushButton>(*del, "CmdDel"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完成！"));
    EXPECT_EQ(rows("零件信息", QStringLiteral("K-1")), 0);
    QTest::mouseClick(child<QPushButton>(*del, "CmdDel"), Qt::LeftButton);
    EXPECT_TRUE(env->feedback.last().text.contains(QStringLiteral("未删除任何记录")));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
}

INSTANTIATE_TEST_SUITE_P(Both, ItemRecordsForm, kBothBackends, BackendName);
