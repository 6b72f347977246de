#include "ArchiveFixture.h"

#include "archives/ui/FrmArchives.h"
#include "core/ActivityLog.h"
#include "core/Twips.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

using namespace velda;
using namespace velda::test;

class FrmArchivesForm : public ArchiveTest {
protected:
    void TearDown() override {
        form.reset();
        ArchiveTest::TearDown();
    }
    // Opens the dialog as the menu command does: the mode word, then the buttons it disables.
    void open(const QString& mode, QStringList disabled) {
        env->session->ctx.ArchiveMode = mode;
        form = std::make_unique<FrmArchives>(*env->session);
        for (const QString& name : disabled)
            form->findChild<QWidget*>(name)->setEnabled(false);
        form->show();
    }
    void click(const char* name) { QTest::mouseClick(child<QAbstractButton>(*form, name), Qt::LeftButton); }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(*form, name); }
    bool enabled(const char* name) { return child<QWidget>(*form, name)->isEnabled(); }
    QComboBox* codes() { return child<QComboBox>(*form, "CboCode"); }
    void choose(int index) {
        codes()->setCurrentIndex(index);
        emit codes()->activated(index);
    }

    std::unique_ptr<FrmArchives> form;
};

TEST_P(FrmArchivesForm, AddModeOffersTodayAndTheDefaultListsAndAdds) {
    as(QStringLiteral("alice"), QStringLiteral("design"));
    open(QStringLiteral("Add"), {QStringLiteral("CmdEdit"), QStringLiteral("CmdDel")});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("产品档案管理"));
    // The three multi-line boxes share the given height instead of stretching the form.
    EXPECT_EQ(form->height(), TwipsToPixels(6060, form->logicalDpiY()));
    EXPECT_TRUE(edit("TxtCode")->isVisible());
    EXPECT_FALSE(codes()->isVisible());
    EXPECT_EQ(edit("TxtLXDate")->text(), QStringLiteral("2024/03/05"));
    const QString list = QStringLiteral("/admin(U)/alice(U)//admin(G)/design(G)/");
    EXPECT_EQ(form->rights(), (ArchiveRights{list, list, list, list}));
    EXPECT_EQ(env->session->ctx.PendingChange, list);

    click("CmdAdd");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, ArchiveText::MissingFields);
    EXPECT_EQ(env->feedback.last().title, QStringLiteral("信息反馈"));

    edit("TxtCode")->setText(QStringLiteral("P7"));
    edit("TxtName")->setText(QStringLiteral("七号"));
    edit("TxtYJDate")->setText(QStringLiteral("2025/01/01"));
    for (const char* name : {"TxtDesign", "TxtProcess", "TxtElec"})
        edit(name)->setText(QStringLiteral("某"));
    child<QPlainTextEdit>(*form, "TxtTD")->setPlainText(QStringLiteral("特点"));
    click("CmdAdd");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("产品档案已顺利入库！"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
    EXPECT_EQ(column(QStringLiteral("P7"), QStringLiteral("主要技术特点")), QStringLiteral("特点"));
    EXPECT_EQ(column(QStringLiteral("P7"), QStringLiteral("写")), list);
}

TEST_P(FrmArchivesForm, EditModeShowsEachRecordWithItsOwnRightsAndItsButtons) {
    as(QStringLiteral("alice"), QStringLiteral("design"));
    env->session->ctx.PendingRead = QStringLiteral("/stale(U)/");
    open(QStringLiteral("Edit"), {QStringLiteral("CmdAdd"), QStringLiteral("CmdDel")});
    EXPECT_FALSE(edit("TxtCode")->isVisible());
    ASSERT_EQ(codes()->count(), 2);
    EXPECT_EQ(codes()->currentText(), QStringLiteral("A1"));
    EXPECT_EQ(edit("TxtName")->text(), QStringLiteral("产品A1"));
    EXPECT_FALSE(enabled("TxtName"));
    EXPECT_FALSE(enabled("TxtLXDate"));
    const QPalette name = edit("TxtName")->palette();
    EXPECT_EQ(name.color(QPalette::Disabled, QPalette::Text), name.color(QPalette::Active, QPalette::Text))
        << "a fixed name stays legible";
    EXPECT_FALSE(enabled("TxtYJDate"));
    EXPECT_TRUE(enabled("TxtSJDate"));
    EXPECT_TRUE(enabled("CmdEdit"));
    EXPECT_FALSE(enabled("CmdACS"));
    EXPECT_FALSE(enabled("CmdAdd"));
    EXPECT_EQ(form->rights().read, QStringLiteral("/alice(U)/design(G)/"));
    EXPECT_EQ(env->session->ctx.PendingRead, QStringLiteral("/alice(U)/design(G)/"));
    EXPECT_EQ(logRows(LogWord::BrowseArchive, QStringLiteral("A1")), 1);

    // Editing the record shown at load keeps its stored rights.
    edit("TxtDesign")->setText(QStringLiteral("新"));
    click("CmdEdit");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("产品档案已编辑入库"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("主任设计")), QStringLiteral("新"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("读")), QStringLiteral("/alice(U)/design(G)/"));
    EXPECT_EQ(column(QStringLiteral("A1"), QStringLiteral("写")), QStringLiteral("/alice(U)/"));

    choose(1);
    EXPECT_EQ(edit("TxtName")->text(), QStringLiteral("产品A2"));
    EXPECT_TRUE(enabled("CmdACS"));
    EXPECT_EQ(form->rights().del, QStringLiteral("/bob(U)/"));
    EXPECT_EQ(logRows(LogWord::BrowseArchive, QStringLiteral("A2")), 1);
}

TEST_P(FrmArchivesForm, DeleteModeRemovesTheEntryAndShowsTheNext) {
    as(QStringLiteral("bob"), QStringLiteral("design"));
    open(QStringLiteral("Del"), {QStringLiteral("CmdAdd"), QStringLiteral("CmdEdit"), QStringLiteral("CmdACS")});
    ASSERT_EQ(codes()->count(), 2);
    EXPECT_FALSE(enabled("CmdDel")); // A1: bob may read but not delete
    choose(1);
    EXPECT_TRUE(enabled("CmdDel"));
    click("CmdDel");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕"));
    EXPECT_EQ(archiveCount(), 2);
    ASSERT_EQ(codes()->count(), 1);
    EXPECT_EQ(codes()->currentText(), QStringLiteral("A1"));
    EXPECT_EQ(edit("TxtName")->text(), QStringLiteral("产品A1"));
    EXPECT_EQ(logRows(LogWord::BrowseArchive, QStringLiteral("A1")), 2);
}

TEST_P(FrmArchivesForm, AUserWhoReadsNothingGetsAnEmptyListAndTheRightMessages) {
    as(QStringLiteral("dave"), QStringLiteral("user"));
    open(QStringLiteral("Edit"), {QStringLiteral("CmdAdd"), QStringLiteral("CmdDel")});
    EXPECT_EQ(codes()->count(), 0);
    EXPECT_TRUE(edit("TxtName")->text().isEmpty());
    click("CmdEdit");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，操作失败"));
    child<QWidget>(*form, "CmdDel")->setEnabled(true);
    click("CmdDel");
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选择产品代号"));
    EXPECT_EQ(archiveCount(), 3);
}

INSTANTIATE_TEST_SUITE_P(Both, FrmArchivesForm, kBothBackends, BackendName);

#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

#include <QMdiSubWindow>

class ArchivesFromTheMenu : public ArchiveTest {
protected:
    void TearDown() override {
        main.reset();
        ArchiveTest::TearDown();
    }
    QWidget* openThrough(const char* item) {
        if (!main) {
            main = std::make_unique<FrmMain>(*env->session, ProgramForms());
            main->show();
        }
        main->RunCommand(QString::fromLatin1(item));
        return main->openForm(QStringLiteral("FrmArchives"));
    }
    std::unique_ptr<FrmMain> main;
};

TEST_P(ArchivesFromTheMenu, CommandsPrepareTheOneDialogAndTheRightsEditorReturnsToIt) {
    env->addGroup(QStringLiteral("design"));
    env->addUser(QStringLiteral("bob"), QStringLiteral("pw"), QStringLiteral("/design/"));
    as(QStringLiteral("carol"), QStringLiteral("design"));
    QWidget* form = openThrough("SeekArchives");
    ASSERT_TRUE(form);
    EXPECT_EQ(env->session->ctx.ArchiveMode, QStringLiteral("Edit"));
    EXPECT_FALSE(child<QWidget>(*form, "CmdAdd")->isEnabled());
    EXPECT_FALSE(child<QWidget>(*form, "CmdDel")->isEnabled());
    auto* codes = child<QComboBox>(*form, "CboCode");
    ASSERT_EQ(codes->count(), 2);
    codes->setCurrentIndex(1);
    emit codes->activated(1);
    ASSERT_TRUE(child<QWidget>(*form, "CmdACS")->isEnabled());

    QTest::mouseClick(child<QAbstractButton>(*form, "CmdACS"), Qt::LeftButton);
    QWidget* editor = main->findChild<QWidget*>(QStringLiteral("FrmACS"));
    ASSERT_TRUE(editor);
    QTest::mouseClick(child<QAbstractButton>(*editor, "CmdAct"), Qt::LeftButton);
    // Another dialog empties the pending lists meanwhile; the archive keeps what its editor returned.
    env->session->ctx.PendingRead.clear();
    QTest::mouseClick(child<QAbstractButton>(*form, "CmdEdit"), Qt::LeftButton);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("产品档案已编辑入库"));
    EXPECT_EQ(column(QStringLiteral("A2"), QStringLiteral("读")), QStringLiteral("/design(G)/"));
    EXPECT_EQ(column(QStringLiteral("A2"), QStringLiteral("删")), QStringLiteral("/bob(U)/"));

    // A second archive command brings the same dialog forward, disables more and loads nothing again.
    const int browsed = env->count(QStringLiteral("select count(*) from PDM日志 where 方式='浏览产品文档'"));
    EXPECT_EQ(openThrough("DelArchives"), form);
    EXPECT_EQ(env->session->ctx.ArchiveMode, QStringLiteral("Del"));
    EXPECT_FALSE(child<QWidget>(*form, "CmdEdit")->isEnabled());
    EXPECT_FALSE(child<QWidget>(*form, "CmdACS")->isEnabled());
    EXPECT_EQ(codes->count(), 2);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='浏览产品文档'")), browsed);
    EXPECT_EQ(form->parentWidget()->pos(), QPoint(0, 0));
}

INSTANTIATE_TEST_SUITE_P(Both, ArchivesFromTheMenu, kBothBackends, BackendName);
