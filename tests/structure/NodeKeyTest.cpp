#include "Printers.h"
#include "TestSupport.h"

#include "structure/NodeKey.h"

using namespace velda;

TEST(NodeKey, KeysOfAPartAndAStandardPartUnderARoot) {
    EXPECT_EQ(BuildNodeKey(FormatNodeCounter(1), NodeKind::Part, QStringLiteral("2"), QString(),
                           UsageEntry(QStringLiteral("P1-03"), QStringLiteral("2"), 0), QStringLiteral("底座")),
              QStringLiteral("0001/K零件/C2/M/NP1-03:2件/A底座/"));
    EXPECT_EQ(BuildNodeKey(FormatNodeCounter(7), NodeKind::Standard, QStringLiteral("4"), QStringLiteral("镀锌"),
                           UsageEntry(QStringLiteral("P1-03"), QStringLiteral("4"), 5), QStringLiteral("螺栓")),
              QStringLiteral("0007/K标准件/C4/M镀锌/NP1-03:4件05/A螺栓/"));
}

TEST(NodeKey, CounterHasAtLeastFourDigits) {
    EXPECT_EQ(FormatNodeCounter(1), QStringLiteral("0001"));
    EXPECT_EQ(FormatNodeCounter(12345), QStringLiteral("12345"));
}

TEST(NodeKey, RootKeysOfTheEditorAndOfALoadedTree) {
    EXPECT_EQ(RootNodeKey(QStringLiteral("P1-03"), QStringLiteral("机座")),
              QStringLiteral("P1-030000/K装配件/C1/M /A机座/"));
    EXPECT_EQ(RootNodeKey(QString(), QStringLiteral("机座")), QStringLiteral("0000/K装配件/C1/M /A机座/"));
}

TEST(NodeKey, ParsingTakesTheFirstOccurrenceOfEachTag) {
    const auto f = ParseNodeKey(QStringLiteral("0007/K标准件/C4/M镀锌/NP1-03:4件05/NP1-200:2件07/A螺栓/"));
    EXPECT_EQ(f.kind, NodeKind::Standard);
    EXPECT_EQ(f.quantity, QStringLiteral("4"));
    EXPECT_EQ(f.memoPart, QStringLiteral("镀锌/NP1-03:4件05/NP1-200:2件07"));
    EXPECT_EQ(f.memo, QStringLiteral("镀锌"));
    EXPECT_EQ(f.name, QStringLiteral("螺栓"));
    const QString key = QStringLiteral("0007/K标准件/C4/M镀锌/NP1-03:4件05/NP1-200:2件07/A螺栓/");
    EXPECT_EQ(ItemNumberInKey(key, QStringLiteral("P1-03")), 5);
    EXPECT_EQ(ItemNumberInKey(key, QStringLiteral("P1-200")), 7);
    EXPECT_EQ(ItemNumberInKey(key, QStringLiteral("P1-9")), 0);
    // An empty memo and a root's blank memo.
    EXPECT_EQ(ParseNodeKey(QStringLiteral("0001/K零件/C2/M/NP1-03:2件/A底座/")).memo, QString());
    EXPECT_EQ(ParseNodeKey(QStringLiteral("P1-030000/K装配件/C1/M /A机座/")).name, QStringLiteral("机座"));
}

TEST(NodeKey, AssemblyCodes) {
    for (const char* yes : {"P1-200", "P1-200A", "P1-2000A", "00", "100Z"})
        EXPECT_TRUE(IsAssemblyCode(QString::fromUtf8(yes))) << yes;
    for (const char* no : {"P1-20A", "P1-200a", "P1-2001", "0", "", "P1-0A"})
        EXPECT_FALSE(IsAssemblyCode(QString::fromUtf8(no))) << no;
}

TEST(NodeKey, KindGuessedFromTheTypedCode) {
    EXPECT_EQ(GuessPartKind(QStringLiteral("P1-100/00")), NodeKind::Welded);
    EXPECT_EQ(GuessPartKind(QStringLiteral("P1-100/3")), NodeKind::Weldment);
    EXPECT_EQ(GuessPartKind(QStringLiteral("P1-200")), NodeKind::Assembly);
    EXPECT_EQ(GuessPartKind(QStringLiteral("P1-201")), NodeKind::Part);
}

TEST(NodeKey, StoredCodesAreShownWithoutTheProduct) {
    const QString p1 = QStringLiteral("P1");
    EXPECT_EQ(NodeTextOfStoredCode(QStringLiteral("P1-100"), NodeKind::Part, p1), QStringLiteral("100"));
    EXPECT_EQ(NodeTextOfStoredCode(QStringLiteral("P1-A-P1-5"), NodeKind::Part, p1), QStringLiteral("A-5"));
    // A catalogue code is its own text, so it comes back as it was stored.
    EXPECT_EQ(NodeTextOfStoredCode(QStringLiteral("GB-P1-5#M8#螺栓"), NodeKind::Standard, p1),
              QStringLiteral("GB-P1-5#M8#螺栓"));
    EXPECT_EQ(CatalogueName(QStringLiteral("GB5782#M8x30#六角螺栓")), QStringLiteral("六角螺栓"));
}

TEST(NodeKey, TheTreeLabelsCodesWithTheirNames) {
    const QString bearing = QStringLiteral("深沟球轴承");
    EXPECT_EQ(NodeLabel(QStringLiteral("6208#40x80x18#深沟球轴承"), bearing),
              QStringLiteral("6208 深沟球轴承 40x80x18"));
    EXPECT_EQ(NodeLabel(QStringLiteral("6208##深沟球轴承"), bearing), QStringLiteral("6208 深沟球轴承"));
    EXPECT_EQ(NodeLabel(QStringLiteral("200"), QStringLiteral("支架")), QStringLiteral("200 支架"));
    EXPECT_EQ(NodeLabel(QStringLiteral("200"), QString()), QStringLiteral("200"));
}

TEST(NodeKey, SectionCodesStoreAndLoadUnderOneCode) {
    const QString p1 = QStringLiteral("P1");
    // Where the two old rules agreed the stored form is unchanged.
    EXPECT_EQ(FullCode(QStringLiteral("100"), p1), QStringLiteral("P1-100"));
    EXPECT_EQ(FullCode(QStringLiteral("N5-1"), p1), QStringLiteral("N5-1"));
    // 5-1 is stored where it is looked for when loading.
    EXPECT_EQ(FullCode(QStringLiteral("5-1"), p1), QStringLiteral("5-1"));
    // An ordinary code with an N is no longer taken for a full code.
    EXPECT_EQ(FullCode(QStringLiteral("N200"), p1), QStringLiteral("P1-N200"));
    // The shown text of a stored code gives back the same code.
    for (const char* t : {"100", "N5-1", "5-1", "N200", "200A"}) {
        const QString text = QString::fromUtf8(t);
        EXPECT_EQ(NodeTextOfStoredCode(FullCode(text, p1), NodeKind::Part, p1), text) << t;
    }
    // A root typed in the editor keeps the stored form the picker reads back.
    EXPECT_EQ(EditorRootSection(QStringLiteral("P1-03"), p1), QStringLiteral("P1-P1-03"));
    EXPECT_EQ(EditorRootSection(QStringLiteral("N1-03"), QStringLiteral("N1")), QStringLiteral("N1-03"));
}

TEST(NodeKey, MarkersThatWouldBreakAKeyAreFound) {
    EXPECT_EQ(KeyMarkerIn(QStringLiteral("见图/A3")), QStringLiteral("/A"));
    EXPECT_EQ(KeyMarkerIn(QStringLiteral("x/Ny")), QStringLiteral("/N"));
    EXPECT_FALSE(KeyMarkerIn(QStringLiteral("见图 A/B")).has_value());
    const QString neutral = NeutraliseMarkers(QStringLiteral("a/Nb/Ac"));
    EXPECT_FALSE(KeyMarkerIn(neutral).has_value());
    EXPECT_EQ(neutral, QStringLiteral("a／Nb／Ac"));
}

TEST(NodeKey, QuantitiesAreWholeNumbersBeyondSixteenBits) {
    EXPECT_EQ(QuantityValue(QStringLiteral("4")), 4);
    EXPECT_EQ(QuantityValue(QStringLiteral("2.6")), 3);
    EXPECT_EQ(QuantityValue(QStringLiteral("40000")), 40000);
    EXPECT_FALSE(QuantityValue(QStringLiteral("四")).has_value());
    EXPECT_FALSE(QuantityValue(QString()).has_value());
}
