#include "Printers.h"
#include "TestSupport.h"

#include "WorkbookReader.h"
#include "accounts/Acl.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "library/ChangeImpact.h"
#include "structure/NodeKey.h"
#include "structure/WhereUsed.h"
#include "structure/ui/FrmView.h"
#include "structure/ui/FrmWhereUsed.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <tuple>

using namespace velda;
using namespace velda::test;

namespace {
const QString kBolt = QStringLiteral("GB5782#M10x40#螺栓");
}

class WhereUsedData : public BothDatabases {
protected:
    void row(const QString& section, const QString& child, const QString& quantity,
             const QString& kind = NodeKind::Assembly) {
        env->db().exec(QStringLiteral("insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注) "
                                      "values (?, ?, ?, ?, ?, ?)"),
                       {section, child, kind, quantity, ++m_rowNumber, QString()});
    }
    void header(const QString& section, const QString& name) {
        env->db().exec(
            QStringLiteral("insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, "
                           "入库时间, 备注) values (?, ?, ?, ?, ?, ?)"),
            {section, name, QStringLiteral("bob"), QStringLiteral("pw"), QStringLiteral("2026/12/01"), QString()});
    }
    // product: total, as the products' table gives them.
    static QStringList totals(const WhereUsed& w) {
        QStringList out;
        for (const ProductUse& p : w.products)
            out << p.product + QLatin1Char(':') + (p.overflow ? QStringLiteral("*") : QString::number(p.total));
        return out;
    }
    static QStringList sectionsOf(const WhereUsed& w) {
        QStringList out;
        for (const UseRow& r : w.rows)
            out << QString::number(r.level) + QLatin1Char(' ') + r.section;
        return out;
    }
    WhereUsed find(const QString& code, int depth = 0) { return FindWhereUsed(*env->session, code, depth); }

    // A bolt in two sections of P1 (under its top section twice and thrice) and in one section of P2;
    // a decoy whose code only starts with the bolt's.
    void twoProducts() {
        header(QStringLiteral("P1-01"), QStringLiteral("整机"));
        header(QStringLiteral("P1-A100"), QStringLiteral("部件A"));
        row(QStringLiteral("P1-01"), QStringLiteral("P1-A100"), QStringLiteral("2"));
        row(QStringLiteral("P1-01"), QStringLiteral("P1-B100"), QStringLiteral("3"));
        row(QStringLiteral("P1-A100"), kBolt, QStringLiteral("4"), NodeKind::Standard);
        row(QStringLiteral("P1-B100"), kBolt, QStringLiteral("2"), NodeKind::Standard);
        row(QStringLiteral("P2-01"), QStringLiteral("GB5782#M12x50#螺栓"), QStringLiteral("5"), NodeKind::Standard);
        row(QStringLiteral("P2-01"), QStringLiteral("GB57821#M10#垫"), QStringLiteral("7"), NodeKind::Standard);
        const UserContext& ctx = env->session->ctx;
        // P2's archive is someone else's: its read list does not name this user.
        for (const auto& [code, name, readers] :
             {std::tuple{QStringLiteral("P1"), QStringLiteral("起重机"), Acl::DefaultList(ctx.UserId, ctx.LoginGroup)},
              std::tuple{QStringLiteral("P2"), QStringLiteral("秘密"), QStringLiteral("/zz(U)/")}})
            env->db().exec(QStringLiteral("insert into 产品档案库 (代号, 名称, 主任设计, 读) values (?, ?, ?, ?)"),
                           {code, name, QStringLiteral("王"), readers});
    }

private:
    int m_rowNumber = 0;
};

TEST_P(WhereUsedData, QuantitiesMultiplyUpToEachProductWithNamesArchivesAndBorrowedUses) {
    twoProducts();
    env->db().exec(QStringLiteral("insert into 借用件 (名称, 借用产品, 借用结合部, 入库时间, 入库帐号) values "
                                  "(?, ?, ?, ?, ?)"),
                   {QStringLiteral("gb5782"), QStringLiteral("P3"), QStringLiteral("200"), QStringLiteral("2026/11/30"),
                    QStringLiteral("ann")});
    // By the code part: every size of the bolt, not the decoy.
    const WhereUsed w = find(QStringLiteral("GB5782"));
    EXPECT_EQ(totals(w), (QStringList{QStringLiteral("P1:14"), QStringLiteral("P2:5")}));
    EXPECT_EQ(sectionsOf(w),
              (QStringList{QStringLiteral("1 P1-A100"), QStringLiteral("1 P1-B100"), QStringLiteral("1 P2-01"),
                           QStringLiteral("2 P1-01"), QStringLiteral("2 P1-01")}));
    ASSERT_TRUE(w.section(QStringLiteral("P1-A100")));
    EXPECT_EQ(w.section(QStringLiteral("P1-A100"))->name, QStringLiteral("部件A"));
    EXPECT_EQ(w.section(QStringLiteral("P1-A100"))->checkedInBy, QStringLiteral("bob"));
    EXPECT_EQ(w.section(QStringLiteral("P1-A100"))->checkedInAt, QStringLiteral("2026/12/01"));
    ASSERT_EQ(w.products.size(), 2u);
    EXPECT_TRUE(w.products[0].hasArchive);
    EXPECT_EQ(w.products[0].archiveName, QStringLiteral("起重机"));
    EXPECT_FALSE(w.products[1].hasArchive);
    ASSERT_EQ(w.borrowed.size(), 1u);
    EXPECT_EQ(w.borrowed[0].product + QLatin1Char('-') + w.borrowed[0].section, QStringLiteral("P3-200"));
    EXPECT_EQ(WhereUsedBorrowRows(w).front().at(3), QStringLiteral("ann"));

    // The whole code#spec#name is one size only; a section is found as a part of its parent.
    EXPECT_EQ(totals(find(kBolt)), (QStringList{QStringLiteral("P1:14")}));
    EXPECT_EQ(totals(find(QStringLiteral("P1-A100"))), (QStringList{QStringLiteral("P1:2")}));
    // The depth asked for stops the walk; a path not followed to its top adds to no product.
    const WhereUsed one = find(QStringLiteral("GB5782"), 1);
    EXPECT_EQ(totals(one), (QStringList{QStringLiteral("P2:5")}));
    EXPECT_EQ(one.rows.size(), 3u);
    EXPECT_TRUE(one.rows[0].cutByDepth);
    EXPECT_TRUE(find(QStringLiteral("GB578")).empty());
}

TEST_P(WhereUsedData, CyclesAreCutAndNamedAndDeepChainsAnswered) {
    row(QStringLiteral("P5-100"), QStringLiteral("P5-200"), QStringLiteral("1"));
    row(QStringLiteral("P5-200"), QStringLiteral("P5-100"), QStringLiteral("1"));
    row(QStringLiteral("P5-200"), QStringLiteral("X-1"), QStringLiteral("3"), NodeKind::Part);
    row(QStringLiteral("P6-100"), QStringLiteral("P6-100"), QStringLiteral("1"));
    row(QStringLiteral("P6-100"), QStringLiteral("X-1"), QStringLiteral("1"), NodeKind::Part);
    row(QStringLiteral("P6-100"), QString(), QStringLiteral("1"), NodeKind::Part); // no code at all
    const WhereUsed w = find(QStringLiteral("X-1"));
    EXPECT_EQ(w.cycles, (QStringList{QStringLiteral("P5-200"), QStringLiteral("P6-100")}));
    EXPECT_TRUE(w.products.empty());
    // The section that names itself, asked about directly.
    EXPECT_EQ(find(QStringLiteral("P6-100")).cycles, QStringList{QStringLiteral("P6-100")});

    // A chain of 60 levels, each holding two of the one below.
    QString below = QStringLiteral("Y-1");
    for (int i = 0; i < 60; ++i) {
        const QString section = QStringLiteral("C-%1").arg(i);
        row(section, below, QStringLiteral("2"));
        below = section;
    }
    const WhereUsed deep = find(QStringLiteral("Y-1"));
    EXPECT_TRUE(deep.cycles.isEmpty());
    EXPECT_EQ(deep.rows.size(), 60u);
    EXPECT_EQ(deep.rows.back().level, 60);
    // 2^60 fits; two more levels would not, and say so rather than wrap.
    EXPECT_EQ(totals(deep), QStringList{QStringLiteral("C:") + QString::number(qint64(1) << 60)});
    row(QStringLiteral("C-60"), below, QStringLiteral("16"));
    EXPECT_EQ(totals(find(QStringLiteral("Y-1"))), QStringList{QStringLiteral("C:*")});
}

TEST_P(WhereUsedData, PatternAndQuoteCharactersMatchOnlyThemselves) {
    const QStringList codes{QStringLiteral("A%"),  QStringLiteral("A_1"), QStringLiteral("A#1"),
                            QStringLiteral("A'1"), QStringLiteral("A/1"), QStringLiteral("A\"1")};
    for (const QString& c : codes)
        row(QStringLiteral("S-") + c, c, QStringLiteral("1"), NodeKind::Part);
    for (const QString& other : {QStringLiteral("AB"), QStringLiteral("AX1"), QStringLiteral("A#1#x"),
                                 QStringLiteral("A/10"), QStringLiteral("AB#x#y")})
        row(QStringLiteral("S-other"), other, QStringLiteral("1"), NodeKind::Part);
    for (const QString& c : codes) {
        const WhereUsed w = find(c);
        EXPECT_EQ(sectionsOf(w), QStringList{QStringLiteral("1 S-") + c}) << c.toStdString();
    }
    EXPECT_TRUE(find(QString()).empty());
}

// Before a used drawing changes: only codes in the library whose parts a stored structure uses, named
// with their products, and nothing once the office turns the question off.
TEST_P(WhereUsedData, TheImpactQuestionNamesTheProductsOfUsedDrawingsInTheLibrary) {
    twoProducts();
    AnswerLibraryImpactQuestions();
    Session& s = *env->session;
    const QStringList codes{QStringLiteral("GB5782"), QStringLiteral("P1-A100"), QStringLiteral("FREE-1")};
    EXPECT_EQ(ImpactQuestion(s, codes, ChangeKind::CheckIn), QString()) << "none is in the library yet";
    for (const QString& code : codes)
        env->db().exec(QStringLiteral("insert into PDM入库图纸信息 (代号) values (?)"), {code});
    const QString asked = ImpactQuestion(s, codes, ChangeKind::Delete);
    EXPECT_TRUE(asked.contains(QStringLiteral("图纸<GB5782>：P1、P2\n图纸<P1-A100>：P1\n删除图纸"))) << asked.toStdString();
    EXPECT_FALSE(asked.contains(QStringLiteral("FREE-1")));
    OfficeSettings(env->db()).setFlag(ImpactText::Setting, false);
    EXPECT_EQ(ImpactQuestion(s, codes, ChangeKind::CheckIn), QString());
    // An administrator turns it back on where the answer shows; others do not see the switch.
    EXPECT_FALSE(FrmWhereUsed(s).findChild<QCheckBox*>(QStringLiteral("ChkAskBeforeChange")));
    s.ctx.UserGroups = QStringLiteral("/admin/");
    FrmWhereUsed window(s);
    auto* ask = window.findChild<QCheckBox*>(QStringLiteral("ChkAskBeforeChange"));
    ASSERT_TRUE(ask);
    EXPECT_FALSE(ask->isChecked());
    ask->setChecked(true);
    EXPECT_TRUE(OfficeSettings(env->db()).flag(ImpactText::Setting, false));
}

// The window and its export show the answer of the query, row for row.
TEST_P(WhereUsedData, TheWindowAndItsExportShowTheSameAnswer) {
    twoProducts();
    const WhereUsed expected = find(QStringLiteral("GB5782"));
    FrmWhereUsed window(*env->session);
    window.ShowCode(QStringLiteral("GB5782"));
    auto* products = window.findChild<QTreeWidget*>(QStringLiteral("LstProduct"));
    ASSERT_EQ(products->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        QStringList shown;
        for (int c = 0; c < products->columnCount(); ++c)
            shown << products->topLevelItem(i)->text(c);
        EXPECT_EQ(shown, WhereUsedProductRows(expected)[std::size_t(i)]);
    }
    // From the part up: its three sections, and P1-A100 opens onto P1-01 with 2 x 4 bolts.
    QTreeWidgetItem* part = window.findChild<QTreeWidget*>(QStringLiteral("TreeUse"))->topLevelItem(0);
    ASSERT_EQ(part->childCount(), 3);
    QTreeWidgetItem* a100 = part->child(0);
    EXPECT_EQ(a100->text(0), QStringLiteral("P1-A100"));
    a100->setExpanded(true);
    ASSERT_EQ(a100->childCount(), 1);
    EXPECT_EQ(a100->child(0)->text(0) + QLatin1Char(' ') + a100->child(0)->text(3), QStringLiteral("P1-01 8"));

    const QString path = env->dir.filePath(QStringLiteral("使用位置.xlsx"));
    env->feedback.fileAnswers.push_back(path);
    window.findChild<QPushButton*>(QStringLiteral("CmdExport"))->click();
    const WorkbookReader book(path);
    ASSERT_TRUE(book.ok()) << book.error().toStdString();
    EXPECT_EQ(book.sheetNames(), (QStringList{WhereUsedText::Title, QStringLiteral("产品"), QStringLiteral("借用件")}));
    const std::vector<QStringList> rows = WhereUsedUseRows(expected);
    ASSERT_EQ(book.lastRow(), int(rows.size()) + 1);
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < rows[std::size_t(r)].size(); ++c)
            EXPECT_EQ(book.cell(r + 2, c + 1), rows[std::size_t(r)][c]) << r << "," << c;
}

// The structure window's node menu asks about the node's stored code; without a main window the
// 使用位置 window stands on its own.
TEST_P(WhereUsedData, TheStructureWindowsNodeMenuOpensIt) {
    twoProducts();
    Session& s = *env->session;
    s.ctx.ProductMode = QStringLiteral("View");
    s.ctx.ProductCode = QStringLiteral("P1");
    s.ctx.AsmCode = QStringLiteral("01");
    FrmView view(s);
    auto* tree = view.findChild<QTreeWidget*>(QStringLiteral("TView"));
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    view.findChild<QAction*>(QStringLiteral("MnuWhereUsed"))->trigger();
    FrmWhereUsed* opened = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<FrmWhereUsed*>(w))
            opened = f;
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->findChild<QLineEdit*>(QStringLiteral("TxtCode"))->text(), QStringLiteral("P1-A100"));
    EXPECT_EQ(totals(opened->answer()), QStringList{QStringLiteral("P1:2")});
    opened->close();
}

INSTANTIATE_TEST_SUITE_P(Db, WhereUsedData, kBothBackends, BackendName);
