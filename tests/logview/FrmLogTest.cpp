#include "TestSupport.h"

#include "logview/ui/FrmLog.h"

#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

using namespace velda;
using namespace velda::test;

class FrmLogForm : public BothDatabases {
protected:
    void SetUp() override {
        BothDatabases::SetUp();
        if (!env)
            return;
        // Listed newest first: carol, alice, bob, the reverse of neither the order written nor the IDs.
        add(QStringLiteral("bob"), QString(), QStringLiteral("用户登录"), QStringLiteral("2024年03月05日09时07分03秒"));
        add(QStringLiteral("carol"), QString(), QStringLiteral("用户登录"),
            QStringLiteral("2024年03月07日08时00分00秒"));
        add(QStringLiteral("alice"), QString(), QStringLiteral("用户登录"),
            QStringLiteral("2024年03月06日10时00分00秒"));
        add(QStringLiteral("bob"), QStringLiteral("GB-1"), QStringLiteral("图纸入库"));
        env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
        form = std::make_unique<FrmLog>(*env->session);
        form->show();
    }
    void TearDown() override {
        form.reset();
        BothDatabases::TearDown();
    }
    void add(const QString& id, const QString& code, const QString& word,
             const QString& time = QStringLiteral("2024年03月05日09时07分03秒")) {
        env->db().exec(QStringLiteral("insert into PDM日志 (ID, 代号, 时间, 方式) values (?, ?, ?, ?)"),
                       {id, code, time, word});
    }
    QStringList shownIds() {
        QStringList ids;
        for (int r = 0; r < list()->model()->rowCount(); ++r)
            ids << cell(r, 1);
        return ids;
    }
    void click(const char* name) { QTest::mouseClick(child<QAbstractButton>(*form, name), Qt::LeftButton); }
    void setCondition(const QString& text) { child<QLineEdit>(*form, "TxtCond")->setText(text); }
    QTreeView* list() { return child<QTreeView>(*form, "LstView"); }
    QString cell(int row, int column) { return list()->model()->index(row, column).data().toString(); }
    void select(std::initializer_list<int> rows) {
        for (int r : rows)
            list()->selectionModel()->select(list()->model()->index(r, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString count() { return child<QLabel>(*form, "LblNum")->text(); }
    int logins() { return env->count(QStringLiteral("select count(*) from PDM日志 where 方式='用户登录'")); }

    std::unique_ptr<FrmLog> form;
};

TEST_P(FrmLogForm, LoadsThePanelAndListsASearchWithItsCount) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("日志管理"));
    EXPECT_EQ(child<QWidget>(*form, "Frame1")->property("title").toString(), QStringLiteral("检索条件"));
    for (const char* name : {"CmdSeek", "CmdDel", "CmdDelAll", "CmdOut", "CmdOutAll", "CmdCancel", "CboAttr", "CboSym",
                             "TxtAttr", "CmdAdd", "OptAnd", "OptOr", "OptNot", "CmdClear", "Label2"})
        child<QWidget>(*form, name);
    const QStringList headers = {QStringLiteral("序号"), QStringLiteral("用户ID"), QStringLiteral("零件代号"),
                                 QStringLiteral("时间"), QStringLiteral("方式")};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(list()->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
    EXPECT_EQ(list()->header()->sectionSize(0), list()->width() / 5);

    setCondition(QStringLiteral("方式 = '用户登录' "));
    click("CmdSeek");
    EXPECT_TRUE(env->feedback.boxes.isEmpty());
    ASSERT_EQ(list()->model()->rowCount(), 3);
    EXPECT_EQ(cell(0, 1), QStringLiteral("carol"));
    EXPECT_EQ(cell(2, 4), QStringLiteral("用户登录"));
    EXPECT_EQ(count(), QStringLiteral("共3条记录"));
    EXPECT_FALSE(list()->selectionModel()->hasSelection());

    setCondition(QStringLiteral("方式 = '图纸删除' "));
    click("CmdSeek");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("库中不存在符合查询条件的记录"));
    EXPECT_EQ(env->feedback.last().icon, Icon::Stop);
    EXPECT_EQ(list()->model()->rowCount(), 0);
}

TEST_P(FrmLogForm, DeletingSelectedRowsRefreshesTheListEvenWithTheConditionCleared) {
    setCondition(QStringLiteral("方式 = '用户登录' "));
    click("CmdSeek");
    select({0, 2});
    const QString kept = cell(1, 1);
    click("CmdClear");
    click("CmdDel");
    EXPECT_TRUE(env->feedback.boxes.isEmpty()) << env->feedback.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(logins(), 1);
    ASSERT_EQ(list()->model()->rowCount(), 1);
    EXPECT_EQ(cell(0, 1), kept);
    EXPECT_EQ(count(), QStringLiteral("共1条记录"));
    EXPECT_EQ(env->count(QStringLiteral(
                  "select count(*) from PDM日志 where 方式='删除日志记录' and 代号='共2条' and ID='admin'")),
              1);
}

TEST_P(FrmLogForm, DeletingAllListedRowsAsksWithTheCountFirst) {
    click("CmdDelAll");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选中欲删除的日志"));
    env->feedback.clear();

    setCondition(QStringLiteral("方式 = '用户登录' "));
    click("CmdSeek");
    env->feedback.questionAnswers = {false};
    click("CmdDelAll");
    ASSERT_EQ(env->feedback.questions.size(), 1);
    EXPECT_EQ(env->feedback.questions[0].text, QStringLiteral("确实要删除列出的3条日志吗？"));
    EXPECT_EQ(env->feedback.questions[0].title, QStringLiteral("反馈信息"));
    EXPECT_EQ(logins(), 3);
    EXPECT_EQ(list()->model()->rowCount(), 3);
    EXPECT_TRUE(env->feedback.boxes.isEmpty());

    env->feedback.questionAnswers = {true};
    click("CmdDelAll");
    EXPECT_EQ(logins(), 0);
    EXPECT_EQ(env->count(QStringLiteral("select count(*) from PDM日志 where 方式='图纸入库'")), 1);
    EXPECT_EQ(list()->model()->rowCount(), 0);
    EXPECT_EQ(count(), QStringLiteral("共0条记录"));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("删除完毕"));
    EXPECT_EQ(env->feedback.last().icon, Icon::None);
}

TEST_P(FrmLogForm, ExportsTheSelectedRowsInListOrderAndIgnoresACancelledDialog) {
    click("CmdOut");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("请先选中欲导出的日志项"));
    click("CmdOutAll");
    EXPECT_EQ(env->feedback.boxes.size(), 2);
    env->feedback.clear();

    setCondition(QStringLiteral("方式 = '用户登录' "));
    click("CmdSeek");
    select({2, 0});
    click("CmdOut"); // the save dialog is cancelled: nothing happens
    EXPECT_TRUE(env->feedback.boxes.isEmpty());

    const QString path = env->dir.path() + QStringLiteral("/two.log");
    env->feedback.fileAnswers = {path};
    click("CmdOut");
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("导出已完成"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 4); // heading, two rows, and the end of the last line
    EXPECT_EQ(lines[0], QStringLiteral("日志输出"));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("carol")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("bob")));
    EXPECT_EQ(lines[1].size(), 88);
}

TEST_P(FrmLogForm, ListsNewestFirstUntilAHeadingIsClickedAndExportsInThatOrder) {
    setCondition(QStringLiteral("方式 = '用户登录' "));
    click("CmdSeek");
    EXPECT_EQ(shownIds(), QStringList({QStringLiteral("carol"), QStringLiteral("alice"), QStringLiteral("bob")}));
    // The time shows whole; the other columns keep their fifth of the width.
    QHeaderView* header = list()->header();
    EXPECT_GT(header->sectionSize(3), list()->fontMetrics().horizontalAdvance(cell(0, 3)));
    EXPECT_GT(header->sectionSize(3), list()->width() / 5);
    EXPECT_EQ(header->sectionSize(1), list()->width() / 5);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QStringList byId = {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")};
    if (header->sortIndicatorOrder() == Qt::DescendingOrder)
        std::reverse(byId.begin(), byId.end());
    EXPECT_EQ(shownIds(), byId);
    click("CmdSeek"); // the user's choice holds for the next search
    EXPECT_EQ(shownIds(), byId);

    // A name without an extension gets the log file's.
    env->feedback.fileAnswers = {env->dir.path() + QStringLiteral("/all")};
    click("CmdOutAll");
    QFile f(env->dir.path() + QStringLiteral("/all.log"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 5);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(lines[i + 1].contains(byId[i])) << lines[i + 1].toStdString();
}

// A heading clicked on a long list is sorted by a worker: the window goes on serving its events.
TEST_P(FrmLogForm, SortsALongListWhileTheWindowStaysLive) {
    std::vector<LogRow> rows(100000);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = {qint64(i), QStringLiteral("user%1").arg(i * 7919 % 100000), {}, QStringLiteral("t"), {}};
    form->model().setRows(std::move(rows));
    int served = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++served; });
    tick.start(0);
    QHeaderView* header = list()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    const int during = served;
    tick.stop();
    EXPECT_GT(during, 0);
    const bool up = header->sortIndicatorOrder() == Qt::AscendingOrder;
    EXPECT_EQ(cell(0, 1), up ? QStringLiteral("user0") : QStringLiteral("user99999"));
    EXPECT_EQ(cell(1, 1), up ? QStringLiteral("user1") : QStringLiteral("user99998"));
    EXPECT_TRUE(header->sectionsClickable());
}

TEST_P(FrmLogForm, DeletingAllStandsApartFromTheExportButtons) {
    const auto* delAll = child<QWidget>(*form, "CmdDelAll");
    const auto* out = child<QWidget>(*form, "CmdOut");
    const auto* outAll = child<QWidget>(*form, "CmdOutAll");
    const int exportGap = outAll->x() - out->geometry().right();
    EXPECT_GT(out->x() - delAll->geometry().right(), 3 * exportGap);
}

INSTANTIATE_TEST_SUITE_P(Both, FrmLogForm, kBothBackends, BackendName);

#include "app/Forms.h"
#include "shell/ui/FrmMain.h"

class LogFromTheMenu : public BothDatabases {};

TEST_P(LogFromTheMenu, OnlyAdministratorsOpenTheViewer) {
    env->actAs(QStringLiteral("bob"), QStringLiteral("/user/"), QStringLiteral("user"));
    FrmMain main(*env->session, ProgramForms());
    main.show();
    main.RunCommand(QStringLiteral("Log"));
    EXPECT_FALSE(main.openForm(QStringLiteral("FrmLog")));
    ASSERT_EQ(env->feedback.boxes.size(), 1);
    EXPECT_EQ(env->feedback.last().text, QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作"));

    env->actAs(QStringLiteral("admin"), QStringLiteral("/admin/"), QStringLiteral("admin"));
    main.RunCommand(QStringLiteral("Log"));
    QWidget* form = main.openForm(QStringLiteral("FrmLog"));
    ASSERT_TRUE(form);
    EXPECT_TRUE(qobject_cast<FrmLog*>(form));
    EXPECT_EQ(env->feedback.boxes.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Both, LogFromTheMenu, kBothBackends, BackendName);
