#include "Printers.h"
#include "TestSupport.h"

#include "StructureSamples.h"
#include "core/UserContext.h"
#include "structure/NodeKey.h"
#include "structure/StructureEditor.h"

using namespace velda;

namespace {

class Editing : public ::testing::Test {
protected:
    UserContext ctx;
    StructureTree tree{ctx.NodeCounter};
    StructureEditor editor{ctx, tree};

    StructureNode* root(const QString& code = QStringLiteral("P1-03"), const QString& name = QStringLiteral("机座")) {
        NodeEntry e;
        e.currentKind = NodeKind::Part;
        e.partCode = code;
        e.partName = name;
        EditResult r = editor.addRoot(e);
        EXPECT_TRUE(r.outcome.done()) << r.outcome.text.toStdString();
        return r.node;
    }
    static NodeEntry part(const QString& code, const QString& num, const QString& name = QStringLiteral("零件"),
                          const QString& memo = {}) {
        NodeEntry e;
        e.currentKind = NodeKind::Part;
        e.partCode = code;
        e.partName = name;
        e.partNum = num;
        e.partMemo = memo;
        e.partKind = NodeKind::Part;
        return e;
    }
    StructureNode* add(StructureNode* parent, const NodeEntry& e) {
        EditResult r = editor.addChild(parent, e);
        EXPECT_TRUE(r.outcome.done()) << r.outcome.text.toStdString();
        return r.node;
    }
};

} // namespace

TEST_F(Editing, RootFromTheEditorHasTheSectionLeadAndTagOne) {
    StructureNode* r = root();
    EXPECT_EQ(r->key(), QStringLiteral("P1-030000/K装配件/C1/M /A机座/"));
    EXPECT_EQ(r->tag(), 1);
    EXPECT_EQ(ctx.ProductCode, QStringLiteral("P1"));
    EXPECT_EQ(ctx.AsmCode, QStringLiteral("03"));
    EXPECT_EQ(tree.rootSection(), QStringLiteral("P1-P1-03"));
    EXPECT_EQ(ctx.NodeCounter, 0);
}

TEST_F(Editing, TheFirstPartAndASeventhStandardPartGetTheirKeys) {
    StructureNode* r = root();
    StructureNode* base = add(r, part(QStringLiteral("P1-100"), QStringLiteral("2"), QStringLiteral("底座")));
    EXPECT_EQ(base->key(), QStringLiteral("0001/K零件/C2/M/NP1-03:2件/A底座/"));
    EXPECT_EQ(base->tag(), 2);
    ctx.NodeCounter = 6;
    StructureNode* b = add(r, test::SampleBolt(QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("镀锌")));
    EXPECT_EQ(b->text, QStringLiteral("GB5782#M8x30#螺栓"));
    EXPECT_EQ(b->key(), QStringLiteral("0007/K标准件/C4/M镀锌/NP1-03:4件05/A螺栓/"));
    EXPECT_EQ(b->image, NodeImage::Item);
    EXPECT_EQ(r->image, NodeImage::AsmOpen);
}

TEST_F(Editing, SameTextMergeTotalsAndListsEveryUse) {
    StructureNode* r = root();
    StructureNode* asmb = add(r, part(QStringLiteral("P1-200"), QStringLiteral("1"), QStringLiteral("支架")));
    EXPECT_EQ(asmb->image, NodeImage::AsmClose);
    StructureNode* first = add(r, part(QStringLiteral("P1-100"), QStringLiteral("2"), QStringLiteral("轴")));
    StructureNode* second = add(asmb, part(QStringLiteral("P1-100"), QStringLiteral("3"), QStringLiteral("轴")));
    EXPECT_EQ(first->tag(), 5);
    EXPECT_EQ(second->tag(), 5);
    EXPECT_EQ(ParseNodeKey(first->key()).memoPart, QStringLiteral("/NP1-03:2件/NP1-200:3件"));
    EXPECT_EQ(ParseNodeKey(second->key()).memoPart, QStringLiteral("/NP1-03:2件/NP1-200:3件"));
    // The merged node keeps one name.
    EXPECT_EQ(ParseNodeKey(second->key()).name, QStringLiteral("轴"));
    EXPECT_EQ(second->key(), QStringLiteral("0003/K零件/C3/M/NP1-03:2件/NP1-200:3件/A轴/"));
    // A third use, directly through the merge: every node of the text takes it.
    const MergeResult m = tree.merge(QStringLiteral("P1-100"), 4, 0, QStringLiteral("P1-300"));
    EXPECT_EQ(m.total, 9);
    EXPECT_EQ(m.usage, QStringLiteral("/NP1-03:2件/NP1-200:3件/NP1-300:4件"));
    EXPECT_EQ(first->tag(), 9);
    EXPECT_EQ(tree.merge(QStringLiteral("P1-999"), 4, 0, QStringLiteral("P1-03")).usage, QString());
}

TEST_F(Editing, StandardPartUsesCarryTheirItemNumbers) {
    StructureNode* r = root();
    StructureNode* a = add(r, part(QStringLiteral("P1-200"), QStringLiteral("1")));
    add(r, test::SampleBolt(QStringLiteral("4"), QStringLiteral("5")));
    StructureNode* b2 = add(a, test::SampleBolt(QStringLiteral("2"), QStringLiteral("7")));
    EXPECT_EQ(b2->tag(), 6);
    EXPECT_EQ(ItemNumberInKey(b2->key(), QStringLiteral("P1-03")), 5);
    EXPECT_EQ(ItemNumberInKey(b2->key(), QStringLiteral("P1-200")), 7);
}

TEST_F(Editing, TotalsPastSixteenBits) {
    StructureNode* r = root();
    StructureNode* a = add(r, part(QStringLiteral("P1-100"), QStringLiteral("30000")));
    add(r, part(QStringLiteral("P1-100"), QStringLiteral("30000")));
    EXPECT_EQ(a->tag(), 60000);
}

TEST_F(Editing, DeletingANodeTakesItsUsesOutOfTheOthers) {
    StructureNode* r = root();
    StructureNode* asmb = add(r, part(QStringLiteral("P1-200"), QStringLiteral("1")));
    StructureNode* first = add(r, part(QStringLiteral("P1-100"), QStringLiteral("2")));
    add(asmb, part(QStringLiteral("P1-100"), QStringLiteral("3")));
    add(asmb, test::SampleBolt(QStringLiteral("4"), QStringLiteral("1")));
    StructureNode* rootBolt = add(r, test::SampleBolt(QStringLiteral("2"), QStringLiteral("2")));
    ASSERT_EQ(first->tag(), 5);
    ASSERT_TRUE(editor.remove(asmb).done());
    EXPECT_EQ(first->tag(), 2);
    EXPECT_EQ(ParseNodeKey(first->key()).memoPart, QStringLiteral("/NP1-03:2件"));
    EXPECT_EQ(rootBolt->tag(), 2);
    EXPECT_EQ(ParseNodeKey(rootBolt->key()).memoPart, QStringLiteral("/NP1-03:2件02"));
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(r->children.size(), 2u);
}

TEST_F(Editing, InsertBeforePlacesASiblingAndCountsUnderTheParent) {
    StructureNode* r = root();
    StructureNode* a = add(r, part(QStringLiteral("P1-100"), QStringLiteral("1")));
    NodeEntry e = part(QStringLiteral("P1-101"), QStringLiteral("2"));
    EditResult before = editor.addBefore(a, e);
    ASSERT_TRUE(before.outcome.done());
    ASSERT_EQ(r->children.size(), 2u);
    EXPECT_EQ(r->children.front(), before.node);
    EXPECT_EQ(ParseNodeKey(before.node->key()).memoPart, QStringLiteral("/NP1-03:2件"));
    // Without a quantity nothing is added and the counter does not move.
    const long counter = ctx.NodeCounter;
    e.partNum.clear();
    EXPECT_EQ(editor.addBefore(a, e).outcome.text, EditorText::QuantityNotNumber);
    EXPECT_EQ(editor.addBefore(r, part(QStringLiteral("P1-7"), QStringLiteral("1"))).outcome.text,
              EditorText::NothingBeforeRoot);
    EXPECT_EQ(ctx.NodeCounter, counter);
    EXPECT_EQ(r->children.size(), 2u);
}

TEST_F(Editing, RefusalsChangeNothing) {
    EXPECT_EQ(editor.addChild(nullptr, part(QStringLiteral("P1-1"), QStringLiteral("1"))).outcome.text,
              EditorText::RootFirst);
    EXPECT_EQ(editor.remove(nullptr).text, EditorText::DeleteEmpty);
    NodeEntry e = part(QStringLiteral("P1-03"), {}, QStringLiteral("机座"));
    e.currentKind = NodeKind::Standard;
    EXPECT_EQ(editor.addRoot(e).outcome.text, EditorText::RootKindWrong);
    e.currentKind = NodeKind::Part;
    e.partName.clear();
    EXPECT_EQ(editor.addRoot(e).outcome.text, EditorText::RootInputWrong);
    EXPECT_EQ(editor.addRoot(part(QStringLiteral("P103"), {}, QStringLiteral("机座"))).outcome.text,
              EditorText::RootCodeForm);
    EXPECT_TRUE(tree.empty());

    StructureNode* r = root();
    EXPECT_EQ(editor.addChild(nullptr, part(QStringLiteral("P1-1"), QStringLiteral("1"))).outcome.text,
              EditorText::SelectParent);
    EXPECT_EQ(editor.remove(nullptr).text, EditorText::SelectToDelete);
    EXPECT_EQ(editor.addChild(r, part(QStringLiteral("P1-1"), {})).outcome.text, EditorText::PartInputWrong);
    EXPECT_EQ(editor.addChild(r, part(QStringLiteral("P1-1"), QStringLiteral("两"))).outcome.text,
              EditorText::QuantityNotNumber);
    NodeEntry b = test::SampleBolt(QStringLiteral("4"), {});
    EXPECT_EQ(editor.addChild(r, b).outcome.text, EditorText::StandardInputWrong);
    b.bjNo = QStringLiteral("123");
    EXPECT_EQ(editor.addChild(r, b).outcome.text, EditorText::ItemNumberWrong);
    NodeEntry w;
    w.currentKind = NodeKind::Purchased;
    w.wgCode = QStringLiteral("Y90");
    w.wgSpec = QStringLiteral("1.5kW");
    EXPECT_EQ(editor.addChild(r, w).outcome.text, EditorText::PurchasedInputWrong);
    NodeEntry none = part(QStringLiteral("P1-1"), QStringLiteral("1"));
    none.currentKind.clear();
    EXPECT_EQ(editor.addChild(r, none).outcome.text, EditorText::KindNotChosen);
    EXPECT_EQ(ctx.NodeCounter, 0);
    EXPECT_TRUE(r->children.empty());
}

TEST_F(Editing, TextsThatWouldBreakTheKeyAreRefused) {
    StructureNode* r = root();
    const Outcome memo = editor
                             .addChild(r, part(QStringLiteral("P1-1"), QStringLiteral("1"), QStringLiteral("轴"),
                                               QStringLiteral("见/A3")))
                             .outcome;
    EXPECT_TRUE(memo.refused());
    EXPECT_TRUE(memo.text.contains(QStringLiteral("/A")));
    EXPECT_TRUE(editor.addChild(r, part(QStringLiteral("P1-1"), QStringLiteral("1"), QStringLiteral("轴/N2")))
                    .outcome.refused());
    NodeEntry b = test::SampleBolt(QStringLiteral("1"), QStringLiteral("1"));
    b.bjSpec = QStringLiteral("M8#30");
    EXPECT_TRUE(editor.addChild(r, b).outcome.refused());
    // NUL and half a surrogate pair could not be stored as typed; a whole pair can.
    b = test::SampleBolt(QStringLiteral("1"), QStringLiteral("1"));
    b.bjMemo = QStringLiteral("镀") + QChar(0) + QStringLiteral("锌");
    EXPECT_EQ(editor.addChild(r, b).outcome.text, EditorText::UnstorableText);
    EXPECT_EQ(
        editor.addChild(r, part(QStringLiteral("P1-1"), QStringLiteral("1"), QStringLiteral("轴") + QChar(0xD800)))
            .outcome.text,
        EditorText::UnstorableText);
    EXPECT_TRUE(r->children.empty());
    EXPECT_TRUE(editor
                    .addChild(r, part(QStringLiteral("P1-1"), QStringLiteral("1"), QStringLiteral("轴"),
                                      QString::fromUtf8("\xF0\xA0\x80\x80")))
                    .outcome.done());
}

TEST_F(Editing, DeletingTheRootLetsANewRootBeAdded) {
    StructureNode* r = root();
    add(r, part(QStringLiteral("P1-1"), QStringLiteral("1")));
    ASSERT_TRUE(editor.remove(r).done());
    EXPECT_TRUE(tree.empty());
    EXPECT_FALSE(editor.hasRoot());
    StructureNode* again = root(QStringLiteral("P2-05"), QStringLiteral("新机座"));
    EXPECT_EQ(again->key(), QStringLiteral("P2-050000/K装配件/C1/M /A新机座/"));
}

TEST_F(Editing, EditsAreUnsavedUntilACheckInWhileTheTreeHasNodes) {
    EXPECT_FALSE(editor.hasUnsavedNodes());
    StructureNode* r = root();
    EXPECT_TRUE(editor.hasUnsavedNodes());
    editor.markCheckedIn();
    EXPECT_FALSE(editor.hasUnsavedNodes());
    // A refused command changes nothing, so nothing is left to lose.
    EXPECT_FALSE(editor.addChild(r, part(QString(), QStringLiteral("1"))).outcome.done());
    EXPECT_FALSE(editor.hasUnsavedNodes());
    StructureNode* p = add(r, part(QStringLiteral("P1-1"), QStringLiteral("1")));
    editor.markCheckedIn();
    ASSERT_TRUE(editor.remove(p).done());
    EXPECT_TRUE(editor.hasUnsavedNodes());
    ASSERT_TRUE(editor.remove(r).done());
    EXPECT_FALSE(editor.hasUnsavedNodes());
}
