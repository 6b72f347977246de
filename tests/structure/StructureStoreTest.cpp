#include "Printers.h"
#include "TestSupport.h"

#include "StructureSamples.h"
#include "core/ActivityLog.h"
#include "structure/NodeKey.h"
#include "structure/StructureEditor.h"
#include "structure/StructureStore.h"

#include <QSqlQuery>

using namespace velda;
using namespace velda::test;

namespace {

// One stored row of 产品结构, as text.
QString rowText(QSqlQuery& q) {
    QStringList parts;
    for (int i = 0; i < 7; ++i)
        parts << q.value(i).toString();
    return parts.join(QLatin1Char('|'));
}

// The shape of a loaded or built subtree: text, kind, quantity, memo, name, Tag, children.
QString shape(const StructureNode* n, int depth = 0) {
    QString out = QString(depth * 2, QLatin1Char(' ')) + n->text + QLatin1Char(' ') + n->kind + QLatin1Char(' ') +
                  n->quantity + QLatin1Char(' ') + n->memo + QLatin1Char(' ') + n->name + QLatin1Char(' ') +
                  QString::number(n->tag()) + QLatin1Char('\n');
    for (const StructureNode* c : n->children)
        out += shape(c, depth + 1);
    return out;
}

} // namespace

class StructureStore : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("bob"), QStringLiteral("/design/"), QStringLiteral("design"));
        for (const auto& [code, name] : std::vector<std::pair<const char*, const char*>>{
                 {"P1-101", "轴"}, {"P1-200", "支架"}, {"5-1", "借用座"}, {"P1-N200", "N型架"}, {"P1-210", "销"}}) {
            env->db().exec(QStringLiteral("insert into 零件信息 (代号, 名称, 类型, 材料, 重量) values (?, ?, ?, ?, ?)"),
                           {QString::fromUtf8(code), QString::fromUtf8(name), QStringLiteral("零件"),
                            QStringLiteral("45"), QStringLiteral("1.5")});
        }
    }
    Session& session() { return *env->session; }

    StructureNode* add(StructureNode* parent, const QString& code, const QString& num, const QString& name,
                       const QString& memo = {}) {
        NodeEntry e;
        e.currentKind = NodeKind::Part;
        e.partCode = code;
        e.partName = name;
        e.partNum = num;
        e.partMemo = memo;
        e.partKind = GuessPartKind(code);
        EditResult r = editor.addChild(parent, e);
        EXPECT_TRUE(r.outcome.done()) << r.outcome.text.toStdString();
        return r.node;
    }
    StructureNode* addBolt(StructureNode* parent, const QString& num, const QString& no, const QString& memo = {}) {
        const NodeEntry e = SampleBolt(num, no, memo);
        EditResult r = editor.addChild(parent, e);
        EXPECT_TRUE(r.outcome.done()) << r.outcome.text.toStdString();
        return r.node;
    }
    StructureNode* makeRoot(const QString& code = QStringLiteral("P1-03"),
                            const QString& name = QStringLiteral("机座")) {
        NodeEntry e;
        e.currentKind = NodeKind::Part;
        e.partCode = code;
        e.partName = name;
        return editor.addRoot(e).node;
    }

    // A root with a part used twice, an assembly below it, a code with a dash, a code with an N, a
    // standard part and a purchased part.
    StructureNode* buildProduct() {
        StructureNode* r = makeRoot();
        add(r, QStringLiteral("101"), QStringLiteral("2"), QStringLiteral("轴"), QStringLiteral("见图"));
        StructureNode* a = add(r, QStringLiteral("200"), QStringLiteral("1"), QStringLiteral("支架"));
        add(a, QStringLiteral("101"), QStringLiteral("3"), QStringLiteral("轴"));
        addBolt(a, QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("镀锌"));
        add(a, QStringLiteral("210"), QStringLiteral("1"), QStringLiteral("销"));
        StructureNode* borrowed = add(r, QStringLiteral("5-1"), QStringLiteral("1"), QStringLiteral("借用座"));
        add(borrowed, QStringLiteral("101"), QStringLiteral("1"), QStringLiteral("轴"));
        StructureNode* n = add(r, QStringLiteral("N200"), QStringLiteral("2"), QStringLiteral("N型架"));
        add(n, QStringLiteral("210"), QStringLiteral("6"), QStringLiteral("销"));
        NodeEntry w;
        w.currentKind = NodeKind::Purchased;
        w.wgCode = QStringLiteral("Y90L");
        w.wgSpec = QStringLiteral("1.5kW");
        w.wgName = QStringLiteral("电机");
        w.wgNum = QStringLiteral("1");
        EXPECT_TRUE(editor.addChild(r, w).outcome.done());
        return r;
    }
    QStringList rows(const QString& section) {
        QSqlQuery q =
            env->db().exec(QStringLiteral("select 结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 结点序号, 备注 "
                                          "from 产品结构 where 结合部代号=? order by 结点编号"),
                           {section});
        QStringList out;
        while (q.next())
            out << rowText(q);
        return out;
    }
    QStringList headers() {
        QSqlQuery q = env->db().exec(QStringLiteral("select 结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注 "
                                                    "from 产品结构入库人员信息表 order by 结合部代号"));
        QStringList out;
        while (q.next()) {
            QStringList parts;
            for (int i = 0; i < 6; ++i)
                parts << q.value(i).toString();
            out << parts.join(QLatin1Char('|'));
        }
        return out;
    }
    void failOnInsertOf(const QString& code) {
        if (GetParam() == Backend::SQLite) {
            env->db().exec(QStringLiteral("create trigger boom before insert on 产品结构 when new.结点代号 = '%1' "
                                          "begin select raise(abort, 'boom'); end")
                               .arg(code));
        } else {
            env->db().exec(
                QStringLiteral("create function boom() returns trigger language plpgsql as $$ begin "
                               "if new.结点代号 = '%1' then raise exception 'boom'; end if; return new; end $$")
                    .arg(code));
            env->db().exec(
                QStringLiteral("create trigger boom before insert on 产品结构 for each row execute function boom()"));
        }
    }

    // The editor works on its own context; the session's product code follows it for storing.
    void syncProduct() { session().ctx.ProductCode = m_ctx.ProductCode; }

    UserContext m_ctx;
    StructureTree tree{m_ctx.NodeCounter};
    StructureEditor editor{m_ctx, tree};
};

TEST_P(StructureStore, CheckInWritesEverySectionWithItsRows) {
    buildProduct();
    syncProduct();
    const Outcome o = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_TRUE(o.done());
    EXPECT_EQ(o.text, StructureText::CheckedIn);
    EXPECT_EQ(o.icon, Icon::None);
    EXPECT_EQ(headers(), (QStringList{QStringLiteral("5-1|借用座|bob|pw|2024/03/05|"),
                                      QStringLiteral("P1-200|支架|bob|pw|2024/03/05|"),
                                      QStringLiteral("P1-N200|N型架|bob|pw|2024/03/05|"),
                                      QStringLiteral("P1-P1-03|机座|bob|pw|2024/03/05|")}));
    EXPECT_EQ(
        rows(QStringLiteral("P1-P1-03")),
        (QStringList{QStringLiteral("P1-P1-03|P1-101|零件|2|0|0|见图"), QStringLiteral("P1-P1-03|P1-200|装配件|1|1|0|"),
                     QStringLiteral("P1-P1-03|5-1|零件|1|2|0|"), QStringLiteral("P1-P1-03|P1-N200|装配件|2|3|0|"),
                     QStringLiteral("P1-P1-03|Y90L#1.5kW#电机|外购件|1|4|0|")}));
    // The standard part keeps its item number and its memo without the usage entries.
    EXPECT_EQ(rows(QStringLiteral("P1-200")), (QStringList{QStringLiteral("P1-200|P1-101|零件|3|0|0|"),
                                                           QStringLiteral("P1-200|GB5782#M8x30#螺栓|标准件|4|1|5|镀锌"),
                                                           QStringLiteral("P1-200|P1-210|零件|1|2|0|")}));
    EXPECT_EQ(rows(QStringLiteral("5-1")), QStringList{QStringLiteral("5-1|P1-101|零件|1|0|0|")});
    EXPECT_EQ(rows(QStringLiteral("P1-N200")), QStringList{QStringLiteral("P1-N200|P1-210|零件|6|0|0|")});
}

TEST_P(StructureStore, AStoredTreeLoadsBackTheSameInPrintMode) {
    StructureNode* built = buildProduct();
    syncProduct();
    ASSERT_TRUE(CheckInStructure(session(), tree, QStringLiteral("pw")).done());
    QString expected = shape(built);
    // A loaded root is known by its section code.
    expected.replace(0, expected.indexOf(QLatin1Char(' ')), QStringLiteral("P1-P1-03"));

    session().ctx.ProductCode = QStringLiteral("P1");
    StructureTree loaded(session().ctx.NodeCounter);
    StructureLoader loader(session(), loaded, LoadMode::Print);
    ASSERT_TRUE(loader.loadStored(QStringLiteral("P1"), QStringLiteral("P1-03")).done());
    EXPECT_EQ(shape(loaded.root()), expected);
    EXPECT_TRUE(loader.cycles().isEmpty());
    EXPECT_EQ(loaded.root()->key(), QStringLiteral("0000/K装配件/C1/M /A机座/"));
    EXPECT_EQ(loaded.root()->image, NodeImage::AsmOpen);
    // Merged keys of the loaded tree carry every use, in load order.
    const auto shafts = loaded.withText(QStringLiteral("101"));
    ASSERT_EQ(shafts.size(), 3u);
    EXPECT_EQ(ParseNodeKey(shafts.front()->key()).memoPart, QStringLiteral("见图/NP1-P1-03:2件/N200:3件/N5-1:1件"));
    // The borrowed 5-1 and the N200 sections are non-assembly codes found through their stored sections.
    const auto borrowed = loaded.withText(QStringLiteral("5-1"));
    ASSERT_EQ(borrowed.size(), 1u);
    EXPECT_EQ(borrowed.front()->image, NodeImage::AsmOpen);
    // A second check-in of the loaded tree rewrites the same sections and adds none.
    const QStringList before = headers();
    ASSERT_TRUE(CheckInStructure(session(), loaded, QStringLiteral("pw")).done());
    EXPECT_EQ(headers(), before);
    EXPECT_EQ(rows(QStringLiteral("P1-200")).size(), 3);
}

TEST_P(StructureStore, ViewModeLoadsOneLevelAndAClickFetchesTheNext) {
    buildProduct();
    syncProduct();
    ASSERT_TRUE(CheckInStructure(session(), tree, QStringLiteral("pw")).done());
    StructureTree loaded(session().ctx.NodeCounter);
    StructureLoader loader(session(), loaded, LoadMode::View);
    ASSERT_TRUE(loader.loadStored(QStringLiteral("P1"), QStringLiteral("P1-03")).done());
    StructureNode* root = loaded.root();
    ASSERT_EQ(root->children.size(), 5u);
    StructureNode* shaft = root->children[0];
    StructureNode* asmb = root->children[1];
    EXPECT_EQ(shaft->text, QStringLiteral("101"));
    EXPECT_EQ(shaft->image, NodeImage::Item);
    EXPECT_EQ(shaft->name, QStringLiteral("轴"));
    EXPECT_EQ(asmb->text, QStringLiteral("200"));
    EXPECT_EQ(asmb->image, NodeImage::AsmClose);
    EXPECT_TRUE(asmb->children.empty());
    EXPECT_EQ(root->children[4]->name, QStringLiteral("电机"));
    const auto added = loader.fetchChildren(asmb);
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(asmb->image, NodeImage::AsmOpen);
    EXPECT_EQ(added[1]->text, QStringLiteral("GB5782#M8x30#螺栓"));
    EXPECT_EQ(added[1]->itemNumber, 5);
    // Fetched once: a second click adds nothing.
    EXPECT_TRUE(loader.fetchChildren(asmb).empty());
    EXPECT_TRUE(loader.fetchChildren(shaft).empty());
}

TEST_P(StructureStore, AnotherPasswordKeepsThatSectionAndItsSubSectionsWhole) {
    StructureNode* r = buildProduct();
    syncProduct();
    ASSERT_TRUE(CheckInStructure(session(), tree, QStringLiteral("pw")).done());
    // Someone else owns the assembly 200 under another password; bob stored N200 under another one.
    env->db().exec(QStringLiteral("update 产品结构入库人员信息表 set 入库密码='other', 入库者='carol' "
                                  "where 结合部代号='P1-200'"));
    env->db().exec(QStringLiteral("update 产品结构入库人员信息表 set 入库密码='old' where 结合部代号='P1-N200'"));
    const QStringList before200 = rows(QStringLiteral("P1-200"));
    StructureNode* a = r->children[1];
    add(a, QStringLiteral("220"), QStringLiteral("1"), QStringLiteral("新件"));
    add(r, QStringLiteral("230"), QStringLiteral("1"), QStringLiteral("新件"));
    env->clock.set(QDateTime(QDate(2024, 4, 1), QTime(8, 0)));
    const Outcome o = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_TRUE(o.done());
    EXPECT_EQ(o.icon, Icon::Stop);
    EXPECT_EQ(o.text, StructureText::PasswordMismatch.arg(QStringLiteral("P1-200")) +
                          StructureText::AlsoOwnPasswordMismatch.arg(QStringLiteral("P1-N200")));
    EXPECT_EQ(rows(QStringLiteral("P1-200")), before200);
    EXPECT_TRUE(headers().contains(QStringLiteral("P1-200|支架|carol|other|2024/03/05|")));
    // The root's own section is rewritten.
    EXPECT_EQ(rows(QStringLiteral("P1-P1-03")).size(), 6);
    EXPECT_TRUE(headers().contains(QStringLiteral("P1-P1-03|机座|bob|pw|2024/04/01|")));

    // Left alone only by bob's own other passwords, nobody else is blamed.
    env->db().exec(QStringLiteral("update 产品结构入库人员信息表 set 入库者='bob' where 结合部代号='P1-200'"));
    const Outcome own = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_EQ(own.text, StructureText::OwnPasswordMismatch.arg(QStringLiteral("P1-200、P1-N200")));

    // With the root's section under another password nothing at all is written, and the answer says so.
    env->db().exec(QStringLiteral("update 产品结构入库人员信息表 set 入库密码='other' where 结合部代号='P1-P1-03'"));
    env->db().exec(QStringLiteral("delete from 产品结构 where 结合部代号='5-1'"));
    const QStringList all = headers();
    const Outcome refused = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_TRUE(refused.refused());
    EXPECT_EQ(refused.text, StructureText::NothingCheckedIn.arg(QStringLiteral("P1-P1-03")));
    EXPECT_FALSE(refused.text.contains(QStringLiteral("他人")));
    EXPECT_EQ(headers(), all);
    EXPECT_TRUE(rows(QStringLiteral("5-1")).isEmpty());
}

TEST_P(StructureStore, AFailureMidwayLeavesTheOldSectionWhole) {
    StructureNode* r = buildProduct();
    syncProduct();
    ASSERT_TRUE(CheckInStructure(session(), tree, QStringLiteral("pw")).done());
    const QStringList oldRoot = rows(QStringLiteral("P1-P1-03"));
    const QStringList oldHeaders = headers();
    failOnInsertOf(QStringLiteral("P1-BOOM"));
    // The failing row comes after rows that were already rewritten.
    add(r, QStringLiteral("BOOM"), QStringLiteral("1"), QStringLiteral("坏件"));
    env->clock.set(QDateTime(QDate(2024, 4, 1), QTime(8, 0)));
    const Outcome o = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_TRUE(o.failed());
    EXPECT_TRUE(o.text.contains(QStringLiteral("boom"))) << o.text.toStdString();
    EXPECT_EQ(rows(QStringLiteral("P1-P1-03")), oldRoot);
    EXPECT_EQ(headers(), oldHeaders);
}

TEST_P(StructureStore, RefusalsOfCheckIn) {
    EXPECT_EQ(CheckInStructure(session(), tree, QString()).text, StructureText::PasswordFirst);
    EXPECT_EQ(CheckInStructure(session(), tree, QStringLiteral("pw")).text, StructureText::RootFirst);
    // A tree of only its root writes nothing and still reports success.
    makeRoot();
    syncProduct();
    const Outcome o = CheckInStructure(session(), tree, QStringLiteral("pw"));
    EXPECT_EQ(o.text, StructureText::CheckedIn);
    EXPECT_TRUE(headers().isEmpty());
    // Texts the editor would have refused are refused before any statement, not by the server midway.
    StructureNode* shaft = add(tree.root(), QStringLiteral("101"), QStringLiteral("2"), QStringLiteral("轴"));
    shaft->memo = QStringLiteral("见") + QChar(0) + QStringLiteral("图");
    EXPECT_EQ(CheckInStructure(session(), tree, QStringLiteral("pw")).text, StructureText::Unstorable);
    shaft->memo.clear();
    EXPECT_EQ(CheckInStructure(session(), tree, QStringLiteral("p") + QChar(0xDC00)).text, StructureText::Unstorable);
    EXPECT_TRUE(headers().isEmpty());
}

TEST_P(StructureStore, LoadingShowsMissingPartsAndStopsAtMissingHeaders) {
    env->db().exec(
        QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注) "
                       "values ('P1-03', '机座', 'bob', 'pw', '2024/03/05', '')"));
    env->db().exec(
        QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注) values "
                       "('P1-03', 'P1-999', '零件', '2', 0, '见/A图'), "
                       "('P1-03', 'GB93', '标准件', '1', 1, ''), "
                       "('P1-03', 'P1-100', '零件', 'x', 2, '')"));
    session().ctx.ProductCode = QStringLiteral("P1");
    StructureLoader loader(session(), tree, LoadMode::View);
    ASSERT_TRUE(loader.loadStored(QStringLiteral("P1"), QStringLiteral("03")).done());
    ASSERT_EQ(tree.root()->children.size(), 3u);
    const StructureNode* missing = tree.root()->children[0];
    EXPECT_EQ(missing->text, QStringLiteral("999"));
    EXPECT_EQ(missing->name, QString());
    // Another client's memo with a tag in it still gives a key with one reading.
    EXPECT_EQ(ParseNodeKey(missing->key()).memo, QStringLiteral("见／A图"));
    EXPECT_EQ(tree.root()->children[1]->name, QStringLiteral("GB93"));
    EXPECT_EQ(tree.root()->children[2]->tag(), 0);

    StructureTree other(session().ctx.NodeCounter);
    StructureLoader none(session(), other, LoadMode::View);
    const Outcome loaded = none.loadStored(QStringLiteral("P1"), QStringLiteral("77"));
    EXPECT_TRUE(loaded.failed()) << "loaded a section without a header";
    EXPECT_EQ(loaded.text, StructureText::NoSection.arg(QStringLiteral("P1-77")));
    EXPECT_TRUE(other.empty());
}

TEST_P(StructureStore, PrintModeShowsACycleOnceAndSaysSo) {
    auto header = [&](const char* code) {
        env->db().exec(
            QStringLiteral(
                "insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注) "
                "values (?, 'x', 'bob', 'pw', '2024/03/05', '')"),
            {QString::fromUtf8(code)});
    };
    auto row = [&](const char* section, const char* code, int n) {
        env->db().exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注) "
                                      "values (?, ?, '装配件', '1', ?, '')"),
                       {QString::fromUtf8(section), QString::fromUtf8(code), n});
    };
    header("P1-03");
    header("P1-100");
    header("P1-200");
    row("P1-03", "P1-100", 0);
    row("P1-100", "P1-200", 0);
    row("P1-200", "P1-100", 0); // 100 contains 200 contains 100
    row("P1-200", "P1-300", 1);
    session().ctx.ProductCode = QStringLiteral("P1");
    StructureLoader loader(session(), tree, LoadMode::Print);
    ASSERT_TRUE(loader.loadStored(QStringLiteral("P1"), QStringLiteral("03")).done());
    EXPECT_EQ(tree.size(), 5u);
    EXPECT_EQ(loader.cycles(), QStringList{QStringLiteral("P1-100")});
}

TEST_P(StructureStore, ChildListShowsThePartDataOfEachChild) {
    buildProduct();
    syncProduct();
    ASSERT_TRUE(CheckInStructure(session(), tree, QStringLiteral("pw")).done());
    const auto list = ChildList(session(), QStringLiteral("P1-200"), QStringLiteral("P1")).value;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].code, QStringLiteral("101"));
    EXPECT_EQ(list[0].name, QStringLiteral("轴"));
    EXPECT_EQ(list[0].kind, QStringLiteral("零件"));
    EXPECT_EQ(list[0].material, QStringLiteral("45"));
    EXPECT_EQ(list[0].weight, QStringLiteral("1.5"));
    EXPECT_EQ(list[0].quantity, QStringLiteral("3"));
    EXPECT_EQ(list[1].code, QStringLiteral("GB5782#M8x30#螺栓"));
    EXPECT_EQ(list[1].kind, NodeKind::Standard);
    EXPECT_EQ(list[1].name, QString());
    EXPECT_EQ(list[1].memo, QStringLiteral("镀锌"));
    EXPECT_EQ(LookUpPartName(session(), QStringLiteral("101"), QStringLiteral("P1")).value, QStringLiteral("轴"));
    EXPECT_EQ(LookUpPartName(session(), QStringLiteral("5-1"), QStringLiteral("P1")).value, QStringLiteral("借用座"));
    EXPECT_FALSE(LookUpPartName(session(), QStringLiteral("102"), QStringLiteral("P1")).value.has_value());
}

TEST_P(StructureStore, PickerListsProductsAndOnlyTheChosenProductsSections) {
    for (const char* code : {"P1-02", "P12-01", "P1-01", "A_1-05", "A%1-06", "AB1-07"}) {
        env->db().exec(QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号, 结合部名称) values (?, 'x')"),
                       {QString::fromUtf8(code)});
    }
    EXPECT_EQ(StoredProducts(session()).value,
              (QStringList{QStringLiteral("A%1"), QStringLiteral("AB1"), QStringLiteral("A_1"), QStringLiteral("P1"),
                           QStringLiteral("P12")}));
    EXPECT_EQ(StoredSections(session(), QStringLiteral("P1")).value,
              (QStringList{QStringLiteral("01"), QStringLiteral("02")}));
    EXPECT_EQ(StoredSections(session(), QStringLiteral("P12")).value, QStringList{QStringLiteral("01")});
    EXPECT_EQ(StoredSections(session(), QStringLiteral("A_1")).value, QStringList{QStringLiteral("05")});
    EXPECT_TRUE(StoredSections(session(), QStringLiteral("P")).value.isEmpty());
}

TEST_P(StructureStore, ChoosingAStructureWritesOneLogRow) {
    EXPECT_EQ(ChooseStructure(session(), QString(), QString()).text, StructureText::ChooseFirst);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志")), 0);
    ASSERT_TRUE(ChooseStructure(session(), QStringLiteral("P1"), QStringLiteral("03")).done());
    EXPECT_EQ(session().ctx.ProductCode, QStringLiteral("P1"));
    EXPECT_EQ(session().ctx.AsmCode, QStringLiteral("03"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where ID='bob' and 代号='P1-03' and 方式=?"),
                         {LogWord::BrowseStructure}),
              1);
}

INSTANTIATE_TEST_SUITE_P(Both, StructureStore, kBothBackends, BackendName);
