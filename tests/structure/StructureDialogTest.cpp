#include "Printers.h"
#include "TestSupport.h"

#include "app/Forms.h"
#include "core/ui/Forms.h"
#include "shell/ui/FrmMain.h"
#include "structure/NodeKey.h"
#include "structure/StructureStore.h"
#include "structure/ui/FrmProduct.h"
#include "structure/ui/FrmView.h"

#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

using namespace velda;
using namespace velda::test;

namespace {

QStringList items(QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// The children's texts as stored: the tree shows a label, and its tooltip the stored text.
QStringList texts(QTreeWidgetItem* item) {
    QStringList out;
    for (int i = 0; i < item->childCount(); ++i)
        out << item->child(i)->toolTip(0);
    return out;
}

} // namespace

class StructureDialogs : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        env->actAs(QStringLiteral("bob"), QStringLiteral("/design/"), QStringLiteral("design"));
        env->db().exec(
            QStringLiteral("insert into 零件信息 (代号, 名称, 类型, 材料, 重量) values "
                           "('P1-100', '轴', '零件', '45', '1.5'), ('P1-200', '支架', '装配件', 'Q235', '')"));
    }
    void click(QWidget& f, const char* button) { QTest::mouseClick(child<QPushButton>(f, button), Qt::LeftButton); }
    void type(QWidget& f, const char* box, const QString& text) {
        auto* edit = child<QLineEdit>(f, box);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // Chinese arrives through the input method as committed text.
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QCoreApplication::sendEvent(edit, &commit);
    }
    void clickTab(QWidget& f, int index) {
        auto* tabs = child<QTabBar>(f, "TabStr");
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
    }
    void clickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }
    void storeSample() {
        for (const char* code : {"P1-P1-03", "P1-200", "P12-01", "P1-01"}) {
            env->db().exec(
                QStringLiteral(
                    "insert into 产品结构入库人员信息表 (结合部代号, 结合部名称, 入库者, 入库密码, 入库时间, 备注) "
                    "values (?, '机座', 'bob', 'pw', '2024/03/05', '')"),
                {QString::fromUtf8(code)});
        }
        env->db().exec(QStringLiteral(
            "insert into 产品结构 (结合部代号, 结点代号, 结点类型, 结点数量, 结点编号, 备注, 结点序号) values "
            "('P1-P1-03', 'P1-100', '零件', '2', 0, '见图', 0), "
            "('P1-P1-03', 'P1-200', '装配件', '1', 1, '', 0), "
            "('P1-200', 'P1-100', '零件', '3', 0, '', 0), "
            "('P1-200', 'GB5782#M8x30#螺栓', '标准件', '4', 1, '镀锌', 5)"));
    }
};

TEST_P(StructureDialogs, BuildingAStructureNodeByNodeAndCheckingItIn) {
    env->session->ctx.ProductMode = QStringLiteral("Add");
    FrmView f(*env->session);
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("产品树型结构"));
    EXPECT_EQ(child<QGroupBox>(f, "FmAct")->title(), QStringLiteral("节点操作"));
    EXPECT_EQ(child<QGroupBox>(f, "FmLib")->title(), QStringLiteral("入库操作"));
    EXPECT_EQ(child<QPushButton>(f, "CmdAddPrevious")->text(), QStringLiteral("插入节点（在前）"));
    EXPECT_FALSE(child<QPushButton>(f, "CmdRptNode")->isEnabled());
    EXPECT_EQ(child<QLineEdit>(f, "TxtPartNum")->text(), QStringLiteral("1"));
    EXPECT_EQ(items(child<QComboBox>(f, "CboPartKind")), NodeKind::All());
    EXPECT_EQ(child<QTreeWidget>(f, "LstView")->headerItem()->text(6), QStringLiteral("备注"));

    // The tabs show one panel at a time.
    clickTab(f, 1);
    EXPECT_EQ(f.CurrentKind(), NodeKind::Standard);
    EXPECT_TRUE(child<QGroupBox>(f, "FmBJInfo")->isVisible());
    EXPECT_FALSE(child<QGroupBox>(f, "FmPartInfo")->isVisible());
    click(f, "CmdAddSon");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先添加根节点"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("反馈信息"));
    clickTab(f, 0);
    EXPECT_TRUE(child<QGroupBox>(f, "FmPartInfo")->isVisible());

    type(f, "TxtPartCode", QStringLiteral("P1-03"));
    type(f, "TxtPartName", QStringLiteral("机座"));
    EXPECT_EQ(env->feedback.last().text, StructureText::PartMissing);
    click(f, "CmdAddRoot");
    EXPECT_FALSE(child<QPushButton>(f, "CmdAddRoot")->isEnabled());
    auto* tree = child<QTreeWidget>(f, "TView");
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("P1-03 机座"));

    // Leaving the code box guesses the kind and finds the name.
    type(f, "TxtPartCode", QStringLiteral("200"));
    child<QLineEdit>(f, "TxtPartNum")->setFocus();
    EXPECT_EQ(child<QComboBox>(f, "CboPartKind")->currentText(), NodeKind::Assembly);
    EXPECT_EQ(child<QLineEdit>(f, "TxtPartName")->text(), QStringLiteral("支架"));
    clickItem(tree, root);
    click(f, "CmdAddSon");
    ASSERT_EQ(texts(root), QStringList{QStringLiteral("200")});
    clickTab(f, 1);
    type(f, "TxtBJCode", QStringLiteral("GB5782"));
    type(f, "TxtBJKind", QStringLiteral("M8x30"));
    type(f, "TxtBJName", QStringLiteral("螺栓"));
    type(f, "TxtBJNo", QStringLiteral("5"));
    clickItem(tree, root->child(0));
    click(f, "CmdAddSon");
    ASSERT_EQ(texts(root->child(0)), QStringList{QStringLiteral("GB5782#M8x30#螺栓")});
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("200 支架"));
    EXPECT_EQ(root->child(0)->child(0)->text(0), QStringLiteral("GB5782 螺栓 M8x30"));
    EXPECT_EQ(f.nodeOf(root->child(0)->child(0))->key(), QStringLiteral("0002/K标准件/C1/M/N200:1件05/A螺栓/"));
    clickTab(f, 0);
    type(f, "TxtPartCode", QStringLiteral("100"));
    type(f, "TxtPartName", QStringLiteral("轴"));
    clickItem(tree, root->child(0));
    click(f, "CmdAddPrevious");
    EXPECT_EQ(texts(root), (QStringList{QStringLiteral("100"), QStringLiteral("200")}));
    // Delete, then check in without and with a password.
    clickItem(tree, root->child(0));
    click(f, "CmdDelNode");
    EXPECT_EQ(texts(root), QStringList{QStringLiteral("200")});
    const qsizetype boxes = env->feedback.boxes.size();
    click(f, "CmdInLib");
    EXPECT_EQ(env->feedback.last().text, StructureText::PasswordFirst);
    type(f, "TxtPwd", QStringLiteral("pw"));
    click(f, "CmdInLib");
    EXPECT_EQ(env->feedback.boxes.size(), boxes + 2);
    EXPECT_EQ(env->feedback.last().text, StructureText::CheckedIn);
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 产品结构 where 结合部代号='P1-P1-03'")), 1);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 产品结构 where 结合部代号='P1-200' and 结点序号=5")), 1);
}

TEST_P(StructureDialogs, ThePickerListsEachProductsOwnSectionsAndOpensTheStructure) {
    storeSample();
    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("ReadPSEFromLib"));
    QWidget* picker = main.openForm(QStringLiteral("FrmProduct"));
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->windowTitle(), QStringLiteral("产品结合部代号"));
    auto* products = child<QComboBox>(*picker, "CboProductCode");
    auto* sections = child<QComboBox>(*picker, "CboAsmCode");
    EXPECT_EQ(items(products), (QStringList{QStringLiteral("P1"), QStringLiteral("P12")}));
    EXPECT_EQ(items(sections), (QStringList{QStringLiteral("01"), QStringLiteral("200"), QStringLiteral("P1-03")}));
    products->setCurrentIndex(1);
    EXPECT_EQ(items(sections), QStringList{QStringLiteral("01")});
    products->setCurrentIndex(0);
    sections->setCurrentIndex(2);
    click(*picker, "CmdOK");
    QCoreApplication::processEvents();
    EXPECT_TRUE(env->feedback.boxes.isEmpty()) << env->feedback.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 代号='P1-P1-03' and 方式='浏览产品结构'")),
              1);
    auto* view = qobject_cast<FrmView*>(main.openForm(QStringLiteral("FrmView")));
    ASSERT_TRUE(view);
    EXPECT_FALSE(main.openForm(QStringLiteral("FrmProduct")));
    EXPECT_FALSE(child<QPushButton>(*view, "CmdAddRoot")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*view, "CmdRptNode")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(*view, "CmdAddSon")->isEnabled());
    auto* tree = child<QTreeWidget>(*view, "TView");
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->toolTip(0), QStringLiteral("P1-P1-03"));
    EXPECT_EQ(texts(root), (QStringList{QStringLiteral("100"), QStringLiteral("200")}));
    EXPECT_EQ(root->child(1)->childCount(), 0);
    auto* list = child<QTreeWidget>(*view, "LstView");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("轴"));
    EXPECT_EQ(list->topLevelItem(0)->text(3), QStringLiteral("45"));
    // At the size the window opens with, the child list shows at least eight rows.
    EXPECT_GE(list->viewport()->height(), 8 * list->sizeHintForRow(0));
    // A click fetches the assembly's children and lists them with their part data.
    clickItem(tree, root->child(1));
    EXPECT_EQ(texts(root->child(1)), (QStringList{QStringLiteral("100"), QStringLiteral("GB5782#M8x30#螺栓")}));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(2), NodeKind::Standard);
    EXPECT_EQ(list->topLevelItem(1)->text(6), QStringLiteral("镀锌"));
    // The part tab the window opens with is the kind added, without a click on it; a memo that could
    // not be stored as typed is refused there.
    EXPECT_TRUE(child<QGroupBox>(*view, "FmPartInfo")->isVisible());
    type(*view, "TxtPartCode", QStringLiteral("100"));
    type(*view, "TxtPartName", QStringLiteral("轴"));
    type(*view, "TxtPartNum", QStringLiteral("2"));
    type(*view, "TxtPartMemo", QStringLiteral("见图") + QChar(0xD800));
    clickItem(tree, root);
    const qsizetype boxes = env->feedback.boxes.size();
    click(*view, "CmdAddSon");
    ASSERT_EQ(env->feedback.boxes.size(), boxes + 1);
    EXPECT_EQ(env->feedback.last().text, EditorText::UnstorableText);
    type(*view, "TxtPartMemo", QStringLiteral("见图"));
    click(*view, "CmdAddSon");
    EXPECT_EQ(env->feedback.boxes.size(), boxes + 1) << env->feedback.last().text.toStdString();
    EXPECT_EQ(texts(root), (QStringList{QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("100")}));
}

TEST_P(StructureDialogs, PrintModeLoadsTheWholeTreeWithEditingDisabled) {
    storeSample();
    env->session->ctx.ProductMode = QStringLiteral("Print");
    env->session->ctx.ProductCode = QStringLiteral("P1");
    env->session->ctx.AsmCode = QStringLiteral("P1-03");
    FrmView f(*env->session);
    f.show();
    auto* tree = child<QTreeWidget>(f, "TView");
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(texts(root->child(1)), (QStringList{QStringLiteral("100"), QStringLiteral("GB5782#M8x30#螺栓")}));
    for (const char* name : {"TabStr", "CmdInLib", "CmdAddRoot", "CmdAddSon", "CmdAddPrevious", "CmdDelNode"})
        EXPECT_FALSE(child<QWidget>(f, name)->isEnabled()) << name;
    EXPECT_TRUE(child<QPushButton>(f, "CmdRptNode")->isEnabled());
    // Collapsing only changes the image.
    tree->collapseItem(root->child(1));
    EXPECT_EQ(f.nodeOf(root->child(1))->image, NodeImage::AsmClose);
    EXPECT_EQ(root->child(1)->childCount(), 2);
}

TEST_P(StructureDialogs, TheMenuCommandsOpenTheOneStructureWindowInTheirModes) {
    storeSample();
    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("AddPSE"));
    QWidget* added = main.openForm(QStringLiteral("FrmView"));
    ASSERT_TRUE(added);
    EXPECT_TRUE(child<QPushButton>(*added, "CmdAddRoot")->isEnabled());
    EXPECT_EQ(child<QTreeWidget>(*added, "TView")->topLevelItemCount(), 0);
    CloseForm(added);
    QCoreApplication::processEvents();

    main.RunCommand(QStringLiteral("RptPSE"));
    QWidget* picker = main.openForm(QStringLiteral("FrmProduct"));
    ASSERT_TRUE(picker);
    child<QComboBox>(*picker, "CboAsmCode")->setCurrentText(QStringLiteral("P1-03"));
    click(*picker, "CmdOK");
    QCoreApplication::processEvents();
    QWidget* printed = main.openForm(QStringLiteral("FrmView"));
    ASSERT_TRUE(printed);
    EXPECT_TRUE(child<QPushButton>(*printed, "CmdRptNode")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*printed, "CmdAddSon")->isEnabled());
    // The window is brought forward, not loaded again, by a second command.
    main.RunCommand(QStringLiteral("AddPSE"));
    EXPECT_EQ(main.openForm(QStringLiteral("FrmView")), printed);
    EXPECT_EQ(child<QTreeWidget>(*printed, "TView")->topLevelItem(0)->childCount(), 2);
}

TEST_P(StructureDialogs, CancelAsksBeforeATreeNoCheckInStoredIsLost) {
    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("AddPSE"));
    QWidget* f = main.openForm(QStringLiteral("FrmView"));
    ASSERT_TRUE(f);
    type(*f, "TxtPartCode", QStringLiteral("P1-03"));
    type(*f, "TxtPartName", QStringLiteral("机座"));
    click(*f, "CmdAddRoot");
    // Answered no: the window and its tree stay.
    click(*f, "CmdCancel");
    QCoreApplication::processEvents();
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_EQ(env->feedback.questions.last().text, EditorText::DiscardUnsaved);
    ASSERT_EQ(main.openForm(QStringLiteral("FrmView")), f);
    EXPECT_EQ(child<QTreeWidget>(*f, "TView")->topLevelItemCount(), 1);
    // Once checked in, nothing is lost and the window closes without a question.
    type(*f, "TxtPwd", QStringLiteral("pw"));
    click(*f, "CmdInLib");
    click(*f, "CmdCancel");
    QCoreApplication::processEvents();
    EXPECT_EQ(env->feedback.questions.size(), 1);
    EXPECT_FALSE(main.openForm(QStringLiteral("FrmView")));
    // A new edit asks again, and yes lets the window go.
    main.RunCommand(QStringLiteral("AddPSE"));
    f = main.openForm(QStringLiteral("FrmView"));
    type(*f, "TxtPartCode", QStringLiteral("P1-04"));
    type(*f, "TxtPartName", QStringLiteral("机架"));
    click(*f, "CmdAddRoot");
    env->feedback.questionAnswers.push_back(true);
    click(*f, "CmdCancel");
    QCoreApplication::processEvents();
    EXPECT_EQ(env->feedback.questions.size(), 2);
    EXPECT_FALSE(main.openForm(QStringLiteral("FrmView")));
}

TEST_P(StructureDialogs, ConfirmingAnEmptyPickerIsRefused) {
    FrmProduct picker(*env->session);
    picker.show();
    EXPECT_EQ(child<QComboBox>(picker, "CboProductCode")->count(), 0);
    click(picker, "CmdOK");
    EXPECT_EQ(env->feedback.last().text, StructureText::ChooseFirst);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志")), 0);
}

INSTANTIATE_TEST_SUITE_P(Both, StructureDialogs, kBothBackends, BackendName);
