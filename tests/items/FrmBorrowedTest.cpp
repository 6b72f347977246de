#include "TestSupport.h"

#include "core/ActivityLog.h"
#include "core/Twips.h"
#include "items/ui/FrmAddDelItemNonLocal.h"
#include "items/ui/FrmSeekItemNonLocal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

using namespace velda;
using namespace velda::test;

class BorrowForms : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (env)
            env->actAs(QStringLiteral("alice"), QStringLiteral("/user/"), QStringLiteral("user"));
    }
    void store(const QString& part, const QString& product, const QString& section, const QString& date) {
        env->db().exec(
            QStringLiteral(
                "insert into 借用件 (名称, 借用产品, 借用结合部, 入库时间, 入库帐号) values (?, ?, ?, ?, 'admin')"),
            {part, product, section, date});
    }
    std::unique_ptr<FrmSeekItemNonLocal> tree(const QString& code) {
        env->session->ctx.BorrowedCode = code;
        auto f = std::make_unique<FrmSeekItemNonLocal>(*env->session);
        f->show();
        return f;
    }
    static QString image(QTreeWidgetItem* n) { return n->data(0, FrmSeekItemNonLocal::ImageRole).toString(); }
    static QString key(QTreeWidgetItem* n) { return n->data(0, FrmSeekItemNonLocal::KeyRole).toString(); }
    static QStringList listed(QTreeWidget* list) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(1);
        return out;
    }
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* node, const QString& text) {
        for (int i = 0; i < node->childCount(); ++i)
            if (node->child(i)->text(0) == text)
                return node->child(i);
        return nullptr;
    }
    static void clickNode(QTreeWidget* view, QTreeWidgetItem* node) {
        view->scrollToItem(node);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(node).center());
    }
};

TEST_P(BorrowForms, RecordDialogAddsWithTodayAndCapitalsAndRefusesAForeignDelete) {
    FrmAddDelItemNonLocal form(*env->session);
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("添加/删除借用信息"));
    EXPECT_EQ(child<QLineEdit>(form, "TxtDate")->text(), QStringLiteral("2024/03/05"));
    QTest::keyClicks(child<QLineEdit>(form, "TxtPartCode"), QStringLiteral("gb-12"));
    EXPECT_EQ(child<QLineEdit>(form, "TxtPartCode")->text(), QStringLiteral("GB-12"));
    QTest::keyClicks(child<QLineEdit>(form, "TxtProductCode"), QStringLiteral("P100"));
    QTest::keyClicks(child<QLineEdit>(form, "TxtAsmCode"), QStringLiteral("A"));
    QTest::mouseClick(child<QAbstractButton>(form, "CmdAct"), Qt::LeftButton);
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("添加完成！"));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 借用件 where 名称='GB-12' and 入库帐号='alice'")), 1);

    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    QTest::mouseClick(child<QAbstractButton>(form, "CmdDel"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，操作失败"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from 借用件")), 1);
}

TEST_P(BorrowForms, TreeLoadsLevelByLevelAndForgetsACollapsedLevel) {
    store(QStringLiteral("GB-12"), QStringLiteral("P200"), QStringLiteral("B"), QStringLiteral("2024/02/01"));
    store(QStringLiteral("GB-12"), QStringLiteral("P100"), QStringLiteral("A"), QStringLiteral("2024/03/01"));
    store(QStringLiteral("P100-A"), QStringLiteral("P300"), QStringLiteral("C"), QStringLiteral("2024/04/01"));
    auto form = tree(QStringLiteral("GB-12"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("查询借用信息"));
    auto* view = child<QTreeWidget>(*form, "TView");
    auto* list = child<QTreeWidget>(*form, "LstView");
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("结合部代号"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("借用时间"));
    ASSERT_EQ(view->topLevelItemCount(), 1);
    QTreeWidgetItem* root = view->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("GB-12"));
    EXPECT_EQ(key(root), QStringLiteral("GB-12"));
    EXPECT_EQ(image(root), QStringLiteral("AsmOpen"));
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 2);
    QTreeWidgetItem* a = childNamed(root, QStringLiteral("P100-A"));
    QTreeWidgetItem* b = childNamed(root, QStringLiteral("P200-B"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(image(a), QStringLiteral("AsmClose"));
    EXPECT_EQ(image(b), QStringLiteral("Item"));
    EXPECT_EQ(QStringList({key(root->child(0)), key(root->child(1))}),
              QStringList({QStringLiteral("Key1"), QStringLiteral("Key2")}));
    EXPECT_EQ(listed(list), QStringList({QStringLiteral("P100-A|2024/03/01"), QStringLiteral("P200-B|2024/02/01")}));
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='浏览借用信息' and 代号='GB-12'")), 1);

    clickNode(view, a);
    ASSERT_EQ(a->childCount(), 1);
    EXPECT_EQ(a->child(0)->text(0), QStringLiteral("P300-C"));
    EXPECT_EQ(key(a->child(0)), QStringLiteral("Key3"));
    EXPECT_EQ(image(a), QStringLiteral("AsmOpen"));
    EXPECT_EQ(listed(list), QStringList({QStringLiteral("P300-C|2024/04/01")}));

    a->setExpanded(false);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(image(a), QStringLiteral("AsmClose"));
    clickNode(view, a);
    ASSERT_EQ(a->childCount(), 1);
    EXPECT_EQ(key(a->child(0)), QStringLiteral("Key4"));

    clickNode(view, b); // no borrowers: nothing added, an empty list
    EXPECT_EQ(b->childCount(), 0);
    EXPECT_TRUE(listed(list).isEmpty());
}

TEST_P(BorrowForms, ACycleGrowsOneLevelPerClickAndAnUnknownCodeShowsTheRootAlone) {
    store(QStringLiteral("X-1"), QStringLiteral("X"), QStringLiteral("2"), QStringLiteral("2024/01/01"));
    store(QStringLiteral("X-2"), QStringLiteral("X"), QStringLiteral("1"), QStringLiteral("2024/01/02"));
    auto form = tree(QStringLiteral("X-1"));
    auto* view = child<QTreeWidget>(*form, "TView");
    QTreeWidgetItem* node = view->topLevelItem(0);
    for (int level = 0; level < 4; ++level) {
        ASSERT_EQ(node->childCount(), 1);
        node = node->child(0);
        EXPECT_EQ(node->text(0), level % 2 == 0 ? QStringLiteral("X-2") : QStringLiteral("X-1"));
        clickNode(view, node);
    }
    form.reset();

    form = tree(QStringLiteral("NO-SUCH"));
    view = child<QTreeWidget>(*form, "TView");
    EXPECT_EQ(view->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(image(view->topLevelItem(0)), QStringLiteral("AsmOpen"));
    EXPECT_EQ(child<QTreeWidget>(*form, "LstView")->topLevelItemCount(), 0);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='浏览借用信息' and 代号='NO-SUCH'")),
              1);
}

TEST_P(BorrowForms, TreeAndListShareTheWindowTwoToThree) {
    auto form = tree(QStringLiteral("GB-12"));
    const double dpi = form->logicalDpiX();
    form->resize(TwipsToPixels(10360, dpi), TwipsToPixels(6360, dpi));
    auto* view = child<QTreeWidget>(*form, "TView");
    auto* list = child<QTreeWidget>(*form, "LstView");
    EXPECT_EQ(view->geometry(), QRect(TwipsToPixels(150, dpi), TwipsToPixels(180, dpi), TwipsToPixels(4000, dpi),
                                      TwipsToPixels(6000, dpi)));
    EXPECT_EQ(list->geometry().left(), TwipsToPixels(4210, dpi));
    EXPECT_EQ(list->width(), TwipsToPixels(6000, dpi));
    EXPECT_EQ(list->header()->sectionSize(0), list->width() / 2);
}

INSTANTIATE_TEST_SUITE_P(Both, BorrowForms, kBothBackends, BackendName);

#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

#include <QMdiSubWindow>

TEST_P(BorrowForms, MenuCommandsOpenTheRecordDialogAndTheTreeSizedToTheMainWindow) {
    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("AddNonLocalItem"));
    QWidget* record = main.openForm(QStringLiteral("FrmAddDelItemNonLocal"));
    ASSERT_TRUE(record);
    EXPECT_TRUE(child<QWidget>(*record, "CmdAct")->isEnabled());
    EXPECT_FALSE(child<QWidget>(*record, "CmdDel")->isEnabled());
    main.RunCommand(QStringLiteral("DelNonLocalItem"));
    EXPECT_FALSE(child<QWidget>(*record, "CmdAct")->isEnabled());

    store(QStringLiteral("GB-12"), QStringLiteral("P100"), QStringLiteral("A"), QStringLiteral("2024/03/01"));
    env->feedback.inputAnswers = {QStringLiteral("gb-12")};
    main.RunCommand(QStringLiteral("SeekItemNonLocal"));
    QApplication::processEvents();
    QWidget* tree = main.openForm(QStringLiteral("FrmSeekItemNonLocal"));
    ASSERT_TRUE(tree);
    EXPECT_EQ(child<QTreeWidget>(*tree, "TView")->topLevelItem(0)->text(0), QStringLiteral("GB-12"));
    EXPECT_EQ(child<QTreeWidget>(*tree, "TView")->topLevelItem(0)->childCount(), 1);
    const double dpi = main.logicalDpiX();
    QWidget* frame = tree->parentWidget();
    EXPECT_EQ(frame->pos(), QPoint(0, 0));
    EXPECT_EQ(frame->width(), TwipsToPixels(PixelsToTwips(main.width(), dpi) - 200, dpi));
    EXPECT_EQ(frame->height(), TwipsToPixels(PixelsToTwips(main.height(), dpi) - 900, dpi));
}
